/*
 * gif.h --
 *
 *	GIF87a and GIF89a reading: probe, frame decoding into the record's
 *	canvas (the line cache), frames as volumes.  Writing is not supported.
 */
#ifndef VELK_GIF_H
#define VELK_GIF_H

struct ImageInfo;
struct RAMImage;

int imgGif(int fd, ImageInfo *info);
int readGIF(RAMImage *r);
int gifSeek(RAMImage *r, int volume);
int rewindGIF(RAMImage *r);
int writeGIF(RAMImage *r);
/* The delay of the last frame read, in milliseconds (0 before any). */
int gifFrameDelay(const RAMImage *r);

#endif
