/*
 * gconv.h --
 *
 *	The convolution module (`rimage gconv`): a window of an image filtered
 *	with a kernel from a small text (full "2D" weights, a separable "1Ds"
 *	pair of vectors, the "dynamic" local stretch or the "median"), band by
 *	band into an output window.  The row arithmetic is exported for the
 *	tests.
 */
#ifndef VELK_GCONV_H
#define VELK_GCONV_H

/* Module entry: command name for messages, words after the subcommand.
 * Results: 2 usage printed, 1 success, 0 failure. */
int gconvAp(const char *command, int argc, const char **argv);

enum { KERNEL_2D, KERNEL_1DS, KERNEL_DYNAMIC, KERNEL_MEDIAN };

#define GCONV_MAX_WEIGHTS 512

/* A parsed kernel. */
struct ConvKernel {
    int type;               /* KERNEL_2D ... */
    int nx, ny;             /* columns and rows of the window */
    int count;              /* weights: nx * ny (2D), nx + ny (1Ds), 0 */
    float weights[GCONV_MAX_WEIGHTS]; /* 2D row by row; 1Ds the row vector,
                                       * then the column vector */
};

/* Reads kernel text: the type word, nx, ny, then the weights, separated
 * by blanks, newlines, commas or semicolons.
 * Results: 0, or -1 after the message of the fault and "Error in parsing
 * conv kernel." on standard error. */
int parseConvKernel(const char *text, ConvKernel *kernel);

/* Divides the weights by their sum (each vector of a 1Ds kernel by its
 * own; a sum of 0 leaves them) when normalise is set, then adds 1 to the
 * centre weight (of each vector) when feedback is set. */
void gconvWeights(ConvKernel *kernel, int normalise, int feedback);

/* The row arithmetic.  A padded row holds count + nx - 1 values: the
 * window's row with nx/2 values before it and the rest after it;
 * `rows` are the ny padded rows around the output row, top first. */

/* 2D: out[c] = sum over i, j of w(i, j) rows[i][c + j], in single
 * precision, in the order of the weights. */
void gconv2DRow(const ConvKernel *kernel, const float *const *rows,
                int count, float *out);
/* dynamic: the centre value x stretched by 2.5 (x - m) / sqrt(v) with m
 * and v the window's mean and variance (x itself when v <= 0). */
void gconvDynamicRow(const ConvKernel *kernel, const float *const *rows,
                     int count, float *out);
/* median: the value of rank nx*ny/2 (from 0) of the window. */
void gconvMedianRow(const ConvKernel *kernel, const float *const *rows,
                    int count, float *out);
/* 1Ds row pass: out[c] = sum over j < nx of w[j] in[c + j] in double
 * precision (in padded, nx = 1 copies). */
void rowConv(const float *weights, int nx, const float *in, int count,
             float *out);
/* 1Ds column pass: out[c] = sum over i < ny of w[i] rows[i][c], where the
 * rows are row-filtered (count values each). */
void colConv(const float *weights, int ny, const float *const *rows,
             int count, float *out);

#endif
