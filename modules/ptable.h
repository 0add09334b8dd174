/*
 * ptable.h --
 *
 *	Pixel tables: the sorted distinct pixel vectors (one byte per
 *	selected band) of an 8-bit image with the number of pixels carrying
 *	each, their "PTABLEHD" file, and `rimage ptable` (gptableApp), which
 *	builds a table from an image and stores it.  The clustering module
 *	clusters table entries and classifies through the table.
 *
 *	File layout (integers 32-bit little-endian):
 *
 *	Offset        Size               Content
 *	0             8                  "PTABLEHD"
 *	8             4                  data offset = 12 + record size
 *	12            2072 + 4(nb-1)     record: capacity (written as the
 *	                                 count), count, 256 first indexes,
 *	                                 256 last indexes, two storage words
 *	                                 (no meaning, written 0), band count
 *	                                 nb, nb band numbers (0-based)
 *	data offset   count * nb         entries
 *	  + count*nb  count * 2          counts (unsigned 16-bit)
 */
#ifndef VELK_PTABLE_H
#define VELK_PTABLE_H

#include <cstdint>

struct RAMImage;

#define PTABLE_MAGIC "PTABLEHD"
/* Bytes of the file head before the data for one band. */
#define PTABLE_HEAD_SIZE 2084

/* A pixel table.  Entries are kept in strictly increasing byte-wise
 * order; first[b] .. last[b] is the index range of the entries whose
 * first byte is b. */
struct PTable {
    int32_t capacity;           /* entries the storage holds */
    int32_t count;              /* entries in use */
    int32_t first[256];         /* first entry starting with byte b, -1
                                 * when none */
    int32_t last[256];          /* last entry starting with byte b; for a
                                 * byte without entries the insertion
                                 * position; -2 before any indexing */
    unsigned char *entries;     /* capacity * nbands bytes */
    uint16_t *counts;           /* capacity counts (wrapping) */
    int32_t nbands;
    int32_t *bands;             /* nbands 0-based band numbers */
};

/* A table with room for capacity entries, none in use.  Results: the
 * table, null when out of memory or the sizes are not positive. */
PTable *createPTable(int capacity, int bands, const int *bandList);
/* Frees the table and everything it holds (null is ignored). */
void destroyPTable(PTable *table);
/* Frees only the entries and counts (the table then holds none). */
void freePTable(PTable *table);

/* Writes the table file at the descriptor's position.  Results: 1, 0
 * when a write fails. */
int putPTable(int fd, const PTable *table);
/* Reads a table file.  Results: the table, or null after a message. */
PTable *getPTable(const char *path);

/* Results: the index of the entry equal to vector (nbands bytes), -1
 * when there is none. */
int searchPTable(const PTable *table, const unsigned char *vector);

/* Builds the table of the bands bandList[0 .. bands-1] over every row of
 * an open 8-bit image, printing the progress lines of the builder.
 * Results: the table, null after a message when memory runs out. */
PTable *makePTable(RAMImage *image, int bands, const int *bandList);

/* Recomputes first and last indexes from the entries. */
void indexPTable(PTable *table);

/* Module entry (rimage ptable): 2 usage printed, 1 success, 0 failure. */
int gptableApp(const char *command, int argc, const char **argv);

#endif
