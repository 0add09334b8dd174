/*
 * feature.h --
 *
 *	Feature files: the binary container of statistics ("STATFTUR"),
 *	eigen vectors ("EIGENID") and clusters ("ISOFEATU").  A record in
 *	memory is one malloc'ed block identical to the file's bytes, host
 *	byte order:
 *
 *	Offset     Size          Field
 *	0          8             magic
 *	8          4             total size in bytes
 *	12         4             offset of the first item
 *	16         4             size of one item
 *	20         4             number of items
 *	24         4             number of bands nb
 *	28         4*nb          band list (0-based source bands)
 *	28+4*nb    p             private area of the kind (may be empty)
 *	offset     count*size    the items
 *
 *	Operations that resize a record return the new block, which
 *	replaces the old one.  Also the statistics and eigen-vector items
 *	and their printers.
 */
#ifndef VELK_FEATURE_H
#define VELK_FEATURE_H

#include <cstdint>

/* The fixed head of a feature record; the band list follows it. */
struct Feature {
    char magic[8];
    int32_t size;           /* total bytes: offset + count * itemSize */
    int32_t offset;         /* first item, from the record's start */
    int32_t itemSize;
    int32_t count;          /* items */
    int32_t nbands;         /* entries of the band list */
};

#define FEATURE_HEAD_SIZE 28
#define STAT_MAGIC "STATFTUR"
#define EIGEN_MAGIC "EIGENID"   /* with its zero byte: 8 bytes */
#define ISO_MAGIC "ISOFEATU"

/* Kinds as getFeatureInfo(record, 5) reports them. */
enum { FEATURE_UNKNOWN = 0, FEATURE_STAT = 1, FEATURE_EIGEN = 2,
       FEATURE_ISO = 3 };

/* Bytes of the statistics private area: source text, then a note. */
#define STAT_PRIVATE_SIZE 192
#define STAT_SOURCE_SIZE 64

/* Record operations. */
Feature *newFeature(const char *magic, const int *bands, int nb,
                    int itemSize, int count, const void *privateData,
                    int privateSize);
void freeFeature(Feature *record);
/* magic null: any of the three kinds. */
Feature *getFeatures(const char *path, const char *magic);
int putFeatures(const char *path, const Feature *record);
Feature *addFeature(Feature *record, const void *item);
Feature *cutFeature(Feature *record, int n);
Feature *delFeatureItem(Feature *record, int i);
unsigned char *getFeatureItem(Feature *record, int i);
long getFeatureInfo(const Feature *record, int selector);
int getFeatureBand(const Feature *record, int i);
unsigned char *getFeaturePrivate(Feature *record);
/* Size of the private area (0 when empty). */
int getFeaturePrivateSize(const Feature *record);
void setFeaturePrivate(Feature *record, const void *data, int length);
void printFeatureBands(const Feature *record);

/* A statistics item: this head, then nb means and the packed lower
 * triangle of the covariance (floats). */
struct StatItem {
    char name[32];          /* compared without regard to letter case */
    char note[32];          /* ctime() of the last update */
    int32_t nPixels;
    int32_t id;             /* the item's index in the file */
};

int statSize(int nb);
int covIndex(int i, int j);
StatItem *getStat(Feature *record, int i);
int getStatID(Feature *record, const char *name);
float *getStatMean(Feature *record, int i);
float *getStatCov(Feature *record, int i);
void normStat(Feature *record, int i);
int invertStatItem(Feature *record, int i, double *determinant);

void printMean(const float *means, int nb);
void printStd(const float *cov, int nb);
void printCov(const float *cov, int nb, int correlation);
void printStatItem(Feature *record, int i, int flags);
void printStatPrivate(Feature *record);
void printStatBands(const Feature *record);

/* An eigen-vector item: this head, then nb vector components. */
struct EVItem {
    int32_t id;             /* 0-based component number */
    float value;            /* eigenvalue */
    float percent;          /* share of the trace */
};

int evSize(int nb);
int evPSize(int nb);
EVItem *getEV(Feature *record, int i);
/* The eigenvector of an item. */
float *getEVVector(EVItem *item);
void printEV(Feature *record, int i);
void printEVInfo(Feature *record, int vectors);
void printEVPrivate(Feature *record);
void printEVBands(const Feature *record);

#endif
