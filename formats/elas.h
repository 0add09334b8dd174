/*
 * elas.h --
 *
 *	ELAS image files: 8-bit band-interleaved images behind a 1024-byte
 *	header; read only.
 */
#ifndef VELK_ELAS_H
#define VELK_ELAS_H

struct ImageInfo;

int imgElas(int fd, ImageInfo *info);

#endif
