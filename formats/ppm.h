/*
 * ppm.h --
 *
 *	Binary portable pixmaps ("P6") and graymaps ("P5"): probe and header
 *	writer.
 */
#ifndef VELK_PPM_H
#define VELK_PPM_H

struct ImageInfo;

int imgPPM(int fd, ImageInfo *info);
int initPPMHead(int fd, ImageInfo *info);

#endif
