/*
 * rotate.h --
 *
 *	The rotation module (`rimage rotate`): a copy of an image turned a
 *	quarter to the left or right, or mirrored left-right, top-bottom or
 *	both, in column segments of a fixed working buffer.
 */
#ifndef VELK_ROTATE_H
#define VELK_ROTATE_H

/* Module entry: command name for messages, words after the subcommand.
 * Results: 2 usage printed, 1 after a run, 0 when the parameters fail. */
int gRotateAp(const char *command, int argc, const char **argv);

/* Directions, in the order of their words. */
enum { ROTATE_LEFT, ROTATE_RIGHT, ROTATE_XFLIP, ROTATE_YFLIP,
       ROTATE_XYFLIP };

/* Bytes of the working buffer of a quarter turn. */
#define ROTATE_BUFFER 4194304

/* Columns per segment of a quarter turn: the buffer over rows x bands
 * (a quarter of that for pixels moved as 4-byte values), at least 1 and
 * at most `columns`. */
int rotateSegmentWidth(int rows, int columns, int bands, int wide);

/* Gathers column `column` of band `band` from a segment buffer holding
 * rows x bands lines of `width` values of `size` bytes (line of row r,
 * band b at (r * bands + b) * width) into `line`, top to bottom, or
 * bottom to top when `reverse`. */
void rotateGatherColumn(const unsigned char *segment, int size, int rows,
                        int bands, int width, int column, int band,
                        int reverse, unsigned char *line);

/* Reverses n values of `size` bytes in place. */
void rotateReverse(unsigned char *line, int size, int n);

#endif
