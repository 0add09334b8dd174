/*
 * dicom.cpp --
 *
 *	DICOM files.  Not built yet: the probe recognises nothing.
 */
#include "formats/dicom.h"
#include "core/ramimg.h"

int imgDicom(int, ImageInfo *, void **) { return 0; }
Tcl_HashTable *getDicomHashTable(int, long *) { return nullptr; }
void deleteDicomHashTable(Tcl_HashTable *) {}
int Dicom_Init(Tcl_Interp *) { return 0; }
void dicomFreeDictionary(void) {}
