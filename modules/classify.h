/*
 * classify.h --
 *
 *	Supervised classification (`rimage classify`): every pixel of a
 *	window goes to the class of a "STATFTUR" file that a decision rule
 *	picks (minimum Euclidean or city-block distance, minimum Mahalanobis
 *	distance with the covariance determinant, Bayes maximum likelihood
 *	with priors from the image), or to the unknown class K when it is
 *	too far from every class.
 */
#ifndef VELK_CLASSIFY_H
#define VELK_CLASSIFY_H

#include <vector>

#include "modules/feature.h"

struct RAMImage;

/* Module entry: 2 usage printed, 1 success, 0 failure. */
int classifyAp(const char *command, int argc, const char **argv);

/* Decision rules. */
enum { CLASSIFY_EUCLIDEAN = 1, CLASSIFY_PARALLELPIPE = 2,
       CLASSIFY_MAHALANOBIS = 3, CLASSIFY_BAYES = 4 };

/* The class model of one run. */
struct Clusters {
    int rule;
    int nclasses;               /* K; the unknown class is K */
    int nb;                     /* used bands */
    float threshold;            /* squared -tshd */
    std::vector<float> means;   /* K x nb */
    std::vector<float> vars;    /* K x nb, rules 1 and 2 */
    std::vector<float> inverse; /* K x nb x nb row-major, rules 3 and 4 */
    std::vector<float> pairs;   /* K x nb(nb+1)/2: inverse(i,i), and
                                 * inverse(i,j) + inverse(j,i) for j < i */
    std::vector<float> lnDet;   /* K, rules 3 and 4 */
    std::vector<float> logPrior;/* K, rule 4 */
    std::vector<long> counts;   /* K: pixels accepted */
};

/* Builds the model of `rule` from the items of a statistics record for
 * the used bands at feature positions featurePos[0..nb-1].
 * Results: the model, or null after messages. */
Clusters *createClusters_new(Feature *record, int rule, int nb,
                             const int *featurePos, float threshold);
void freeClusters(Clusters *model);

/* Classifies n pixels given band by band (x[j * n + p] is band j of pixel
 * p) under `rule`, writing class numbers and counting accepted pixels in
 * counts (K entries). */
void classifyPixels(const Clusters *model, int rule, const float *x, int n,
                    float *classes, long *counts);

/* Colours the palette of an output image from class means (K x nb over
 * the used bands `bands` of `input`), as the classifier does: the first
 * three bands as red, green and blue (8-bit inputs directly, others
 * stretched over mean +- 2.5 deviations), black from entry K on; then
 * rewrites the file's palette and tells the clients. */
void classColourPalette(RAMImage *out, RAMImage *input, const int *bands,
                        int nb, const float *means, int K);

/* The rules for one pixel vector (nb floats); each counts an accepted
 * pixel in the model. */
int euclidean(const float *x, Clusters *model);
int parallelpipe(const float *x, Clusters *model);
int mahalanobis(const float *x, Clusters *model);
int bayes(const float *x, Clusters *model);

#endif
