/*
 * rimgOps.h --
 *
 *	The operator table of raster objects: each entry a word, an operand
 *	count and a pixel function.  A pixel function reads a frame of
 *	single-precision values and returns the pixel's new value.
 */
#ifndef VELK_RIMGOPS_H
#define VELK_RIMGOPS_H

/* Slots of the frame a pixel function receives. */
enum {
    FRAME_PIXEL = 0,    /* pixel type (pixelID) of the pixel's raster */
    FRAME_X = 1,        /* column of the pixel (see the loops) */
    FRAME_Y = 2,        /* row of the pixel */
    FRAME_ROWS = 3,     /* rows of that raster */
    FRAME_COLUMNS = 4,  /* columns of that raster */
    FRAME_COUNT = 6,    /* n: operands, an operand raster included */
    FRAME_A = 7,        /* the destination pixel */
    FRAME_B = 8,        /* operands b, c, d, e from here */
    FRAME_SIZE = 12
};

/* Most operands an operator takes. */
#define RIMG_MAX_OPERANDS 4

typedef float (RimgPixelFunc)(const float *frame);

struct RimgOp {
    const char *word;
    int operands;
    RimgPixelFunc *func;
};

/*
 * rimgObjParseOP --
 *	The first entry whose word is word and whose operand count is count.
 * Results:
 *	The entry, or null when none matches.
 */
const RimgOp *rimgObjParseOP(const char *word, int count);

/* The table, for listing its words. */
extern const RimgOp rimgOp[];
extern const int rimgOpCount;

#endif
