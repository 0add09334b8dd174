/*
 * fftCore.h --
 *
 *	The radix-2 complex transform of the Fourier module and of `calc
 *	makefft`: the sine/cosine table, the single transform, and the row
 *	and column forms over blocks of complex values (float pairs, real
 *	then imaginary) with the half-length shift that puts the zero
 *	frequency in the middle.  Sign +1 is the forward transform (kernel
 *	exp(+i 2 pi k j / n)), -1 the inverse, which divides by n.
 */
#ifndef VELK_FFTCORE_H
#define VELK_FFTCORE_H

#include <vector>

/* Entry k (1 .. n) of cosines and sines (n + 1 doubles each) becomes the
 * cosine and sine of sign * 2 pi / k. */
void bldtbl(int n, int sign, double *cosines, double *sines);

/* In-place transform of n complex values (n a power of two): bit-reversed
 * reordering, then butterflies of spans 1, 2, 4, ...  The twiddle of a
 * span m starts at 1 and is multiplied, in double precision, by table
 * entry 2m after each position; butterflies are computed in single
 * precision with the twiddle rounded to float.  The reference form: the
 * block routines below give bit-identical values. */
void fftrans(int n, float *data, int sign, const double *cosines,
             const double *sines);

/* The tables of one transform length and direction, built once per pass:
 * the bldtbl table, every span's twiddles and the bit-reversal order. */
struct FFTTables {
    int n = 0;                  /* transform length, a power of two */
    int sign = 0;               /* +1 forward, -1 inverse */
    std::vector<double> cosines, sines;   /* bldtbl, entries 0 .. n */
    std::vector<float> wr, wi;  /* span m's twiddles at m - 1 .. 2m - 2 */
    std::vector<int> reversed;  /* bit-reversed index of each position */
};

void fftTablesBuild(FFTTables *t, int n, int sign);

/* Transforms `rows` consecutive rows of n complex values.  Forward: each
 * row is transformed and stored shifted (index k holds transform index
 * (k + n/2) mod n); inverse: the shift is undone, then the row is
 * transformed.  Runs on the row threads. */
void ffte(float *data, const FFTTables &t, int rows, int n, int sign);

/* Transforms the columns of a block `width` complex values wide and n rows
 * high.  Forward: a column is read from the bottom row up, transformed
 * and stored top-down with the half-length shift; inverse: the shift is
 * undone, the column transformed and stored bottom-up.  Runs on the row
 * threads. */
void fftl(float *data, const FFTTables &t, int n, int width, int sign);

/* The smallest power of two not below n (n >= 1). */
int fftSize(int n);

#endif
