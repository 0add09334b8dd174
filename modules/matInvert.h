/*
 * matInvert.h --
 *
 *	In-place inversion of small matrices of doubles by Gauss-Jordan
 *	elimination with pivots from the diagonal, for covariance matrices
 *	of the statistics, classification and eigen modules.
 */
#ifndef VELK_MATINVERT_H
#define VELK_MATINVERT_H

/* Inverts the row-major n x n matrix in place.
 * Results: the determinant, 0 (after a message) when a pivot vanishes;
 * the matrix is then left part-way. */
double dgb(double *matrix, int n);

/* Inverts a packed symmetric lower triangle (row by row) through dgb;
 * the inverse replaces it unless the determinant is negative.
 * Results: the determinant (use the inverse only when it is positive). */
double dgt(double *packed, int n);

#endif
