/*
 * fft.h --
 *
 *	The package's FFT image files ("FFT IMAGE FILE"): probe, header
 *	statistics, the histogram shortcut and the block access routines of
 *	the Fourier module.
 */
#ifndef VELK_FFT_H
#define VELK_FFT_H

struct ImageInfo;
struct Hist;

#define FFT_HEADER_SIZE 1024

/* Offsets of the header fields (host byte order): 64 characters of the
 * source name, int32 band, P, Q, source rows and columns, FFT type, then
 * the statistics as doubles. */
enum {
    FFT_SOURCE = 16, FFT_BAND = 80, FFT_P = 84, FFT_Q = 88, FFT_ROWS = 92,
    FFT_COLUMNS = 96, FFT_TYPE = 100, FFT_N = 104, FFT_MAX_RE = 112,
    FFT_MIN_RE = 120, FFT_MAX_IM = 128, FFT_MIN_IM = 136, FFT_MEAN_RE = 144,
    FFT_MEAN_IM = 152, FFT_MEAN_RE2 = 160, FFT_MEAN_IM2 = 168
};

int imgFFT(int fd, ImageInfo *info);
void getFFTHist(int fd, Hist *histograms);

/* Fills a fresh header: the text, the source (first 64 characters), band,
 * P x Q transform size, source geometry and FFT type; no statistics yet. */
void fftInitHead(unsigned char *header, const char *source, int band, int P,
                 int Q, int rows, int columns, int type);

int OpenNEWFFTFile(const char *path, unsigned char *header);
int OpenOLDFFTFile(const char *path, unsigned char *header);
void PutFFTHead(unsigned char *header, int fd);
float *GetFFTFileBlock(const unsigned char *header, int fd, float *buffer,
                       int firstRow, int count);
float *GetFFTFileSeg(const unsigned char *header, int fd, float *buffer,
                     int firstColumn, int count);
void PutFFTFileBlock(unsigned char *header, int fd, const float *buffer,
                     int firstRow, int count, int statistics);
void PutFFTFileSeg(unsigned char *header, int fd, const float *buffer,
                   int firstColumn, int count, int statistics);
void statFFT(unsigned char *header, int count, const float *values);
/* As `rows` statFFT calls of count values each, in turn (values: rows x
 * count complex values); the sums are taken on the row threads. */
void statFFTRows(unsigned char *header, int rows, int count,
                 const float *values);

#endif
