/*
 * dicom.h --
 *
 *	Uncompressed implicit-VR little-endian DICOM images: the element table
 *	(the record's private data), the probe and the `dicom` command.
 */
#ifndef VELK_DICOM_H
#define VELK_DICOM_H

#include <tcl.h>

struct ImageInfo;

int imgDicom(int fd, ImageInfo *info, void **privateOut);
Tcl_HashTable *getDicomHashTable(int fd, long *dataOffset);
void deleteDicomHashTable(Tcl_HashTable *table);

int Dicom_Init(Tcl_Interp *interp);
/* Frees the element-name dictionary when it exists (exit handler). */
void dicomFreeDictionary(void);

#endif
