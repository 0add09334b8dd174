/*
 * dicom.h --
 *
 *	Uncompressed implicit-VR little-endian DICOM images: the element table
 *	(the record's private data), the probe and the `dicom` command with
 *	its dictionary of element names.
 */
#ifndef VELK_DICOM_H
#define VELK_DICOM_H

#include <tcl.h>

#include <cstdint>

struct ImageInfo;

/* One data element of the table.  Entries of a sequence (its items, their
 * elements and the delimiters) hang behind the entry read before them
 * through `next`, in file order. */
struct DicomEntry {
    uint16_t group;
    uint16_t element;
    uint32_t length;        /* value length as written in the file */
    uint32_t size;          /* value bytes held: the low 16 bits of length,
                             * 0 for 0xFFFF and for the pixel data */
    DicomEntry *next;       /* next element of the chain, null at its end */
    unsigned char value[1]; /* size bytes, then a zero byte */
};

/* Key of a tag in the element table and the dictionary. */
#define DICOM_KEY(group, element) \
    (((uint32_t)(group) << 16) | (uint32_t)(element))

int imgDicom(int fd, ImageInfo *info, void **privateOut);
Tcl_HashTable *getDicomHashTable(int fd, long *dataOffset);
DicomEntry *getDicomEntry(Tcl_HashTable *table, int group, int element);
void putToDicomHashTable(Tcl_HashTable *table, int group, int element,
                         DicomEntry *entry);
void deleteDicomHashTable(Tcl_HashTable *table);

/* Value representations: codes numbered 0..26. */
const char *dicomVR(int n);
int dicomID(const char *code);

int Dicom_Init(Tcl_Interp *interp);
/* Frees the element-name dictionary when it exists (exit handler). */
void dicomFreeDictionary(void);

#endif
