/*
 * tiff.h --
 *
 *	TIFF and GeoTIFF: the directory reader, the probe and open of one
 *	volume, the strip/tile block reader used by the line access, the
 *	volume seek, the single-strip writer and the `tiff` command.
 */
#ifndef VELK_TIFF_H
#define VELK_TIFF_H

#include <tcl.h>

struct ImageInfo;
struct RAMImage;

int imgTiff(int fd, ImageInfo *info, int volume, void **state);
int tiffSeek(RAMImage *r, int volume);
/* Reads the strip or tile row holding *row; sets *row to its first row
 * and *count to its rows; returns count * block bytes, pixel-interleaved,
 * to be freed with free(); null on a read failure. */
unsigned char *getTiffBlock(RAMImage *r, int *row, int *count);
void tiffDestroy(RAMImage *r);
/* Rows of one strip, or of one tile row, of the current volume; 0 when
 * unknown.  The line cache is sized in whole blocks. */
int tiffBlockRows(const RAMImage *r);
/* 1 when the current volume's rows lie uncompressed and contiguous from
 * dataOffset (one pixel-interleaved strip, as Velk writes them), so that
 * lines may be written back at dataOffset + y * block; 0 for strips,
 * tiles, planes or PackBits, which that would damage. */
int tiffRowsWritable(const RAMImage *r);
int initTiffHead(int fd, int create, ImageInfo *info);
int initTiff(int fd, int create, ImageInfo *info, int columns, int rows,
             int bands, int pixel, const unsigned char (*colours)[3]);
int updateTiffIndices(int fd, ImageInfo *info, void *state);

int Tiff_Init(Tcl_Interp *interp);
/* Frees the tag-name table when it exists (exit handler). */
void tiffFreeTagNames(void);

#endif
