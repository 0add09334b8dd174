/*
 * egv.h --
 *
 *	Eigen analysis (`rimage egv`, `calc egv`): the leading eigenvalues
 *	and eigenvectors of the covariance (or correlation) matrix of one
 *	statistics item, by power iteration with deflation, written as an
 *	"EIGENID" feature file.
 */
#ifndef VELK_EGV_H
#define VELK_EGV_H

#include "modules/feature.h"

/* Module entry: 2 usage printed, 1 success, 0 failure. */
int egvAp(const char *command, int argc, const char **argv);

/* The output record for k eigenvectors of item `item`, its private area
 * filled (normalisation flag, each band's variance and mean) except the
 * source text.  Results: the record, or null after a message. */
Feature *egvInit(Feature *stat, int item, int normalise, int k);
/* All k eigenpairs of item `item` (normalised to correlations first when
 * asked; this changes the statistics record).  Results: the new record,
 * or null after a message. */
Feature *egvCalc(int k, Feature *stat, int normalise, int item,
                 float tolerance, int iterations);
/* One eigenpair of the packed symmetric matrix (doubles, nb bands): the
 * unit eigenvector into vector; the matrix is deflated by it.
 * Results: the eigenvalue. */
double calcEV(double *packed, double *vector, int nb, double tolerance,
              int iterations);

#endif
