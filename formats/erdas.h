/*
 * erdas.h --
 *
 *	ERDAS 7.3 ("HEADER"), 7.4 ("HEAD74") and 7.4 band-sequential
 *	("E74BSQ") image files: probe, header writer and the direct-access
 *	routines that read ERDAS files without the raster store.
 */
#ifndef VELK_ERDAS_H
#define VELK_ERDAS_H

struct ImageInfo;

#define ERDAS_HEADER_SIZE 128

int imgErdas(int fd, ImageInfo *info);
int initErdasHead(int fd, int create, ImageInfo *info);

int OpenOLDERDAS(const char *path, unsigned char *header);
long GetErdasLine(const unsigned char *header, int fd, int band, int row,
                  unsigned char *buffer);
int nBitsErdas(const unsigned char *header);
int pixelType(const unsigned char *header);
void hdrv(unsigned char *header);

#endif
