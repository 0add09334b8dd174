/*
 * fft.cpp --
 *
 *	FFT image files.  Not built yet: the probe recognises nothing.
 */
#include "formats/fft.h"
#include "core/hist.h"
#include "core/ramimg.h"

int imgFFT(int, ImageInfo *) { return 0; }
void getFFTHist(int, Hist *) {}
int OpenNEWFFTFile(const char *, unsigned char *) { return -1; }
int OpenOLDFFTFile(const char *, unsigned char *) { return -1; }
void PutFFTHead(unsigned char *, int) {}
float *GetFFTFileBlock(const unsigned char *, int, float *, int, int) { return nullptr; }
float *GetFFTFileSeg(const unsigned char *, int, float *, int, int) { return nullptr; }
void PutFFTFileBlock(unsigned char *, int, const float *, int, int, int) {}
void PutFFTFileSeg(unsigned char *, int, const float *, int, int, int) {}
void statFFT(unsigned char *, int, const float *) {}
