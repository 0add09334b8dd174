/*
 * matInvert.cpp --
 *
 *	Gauss-Jordan inversion in place, taking each pivot from the diagonal
 *	of the rows not yet used (the largest in magnitude).  Covariance
 *	matrices are symmetric and, when invertible, positive definite, so
 *	diagonal pivots suffice and the product of the pivots is the
 *	determinant.  Relies on the package's standard error only.
 */
#include "modules/matInvert.h"

#include <cmath>
#include <vector>

#include "core/stdstream.h"

/*
 * dgb --
 *	Inverts a full matrix in place.
 * Results:
 *	The determinant; 0 when a pivot is not above 1e-38 in magnitude.
 */
double dgb(double *a, int n)
{
    std::vector<char> used((size_t)(n > 0 ? n : 0), 0);
    double det = 1.0;
    for (int step = 0; step < n; step++) {
        int k = -1;
        for (int i = 0; i < n; i++)
            if (!used[i] && (k < 0 || std::fabs(a[i * n + i])
                                          > std::fabs(a[k * n + k])))
                k = i;
        used[k] = 1;
        double pivot = a[k * n + k];
        if (!(std::fabs(pivot) > 1e-38)) {
            stderrPrintf("Error in dgb - zero value of a main element: %d\n",
                         n);
            return 0.0;
        }
        double *row = a + (size_t)k * n;
        for (int c = 0; c < n; c++)
            if (c != k)
                row[c] /= pivot;
        for (int r = 0; r < n; r++) {
            if (r == k)
                continue;
            double *other = a + (size_t)r * n;
            double f = other[k];
            if (f == 0.0)
                continue;
            for (int c = 0; c < n; c++)
                if (c != k)
                    other[c] -= f * row[c];
        }
        for (int r = 0; r < n; r++)
            if (r != k)
                a[r * n + k] /= -pivot;
        row[k] = 1.0 / pivot;
        det *= pivot;
    }
    return det;
}

/*
 * dgt --
 *	Inverts a packed symmetric matrix through dgb.
 * Results:
 *	The determinant.
 */
double dgt(double *packed, int n)
{
    std::vector<double> full((size_t)n * n);
    for (int i = 0, p = 0; i < n; i++)
        for (int j = 0; j <= i; j++, p++)
            full[(size_t)i * n + j] = full[(size_t)j * n + i] = packed[p];
    double det = dgb(full.data(), n);
    if (det >= 0.0)
        for (int i = 0, p = 0; i < n; i++)
            for (int j = 0; j <= i; j++, p++)
                packed[p] = full[(size_t)i * n + j];
    return det;
}
