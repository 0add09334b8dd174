/*
 * gimgLookup.h --
 *
 *	Palettes, lookup tables and enhancement of gimg images: the function
 *	tables that turn band values into display values, the colour cells of
 *	palette screens, the image subcommands that show and change them, and
 *	the `palette` subcommand of the global gimg command.
 */
#ifndef VELK_GIMGLOOKUP_H
#define VELK_GIMGLOOKUP_H

#include <tk.h>

#include "gimg/gimgInt.h"

/* Statistics of one band (or colour-table channel). */
struct GimgBandStats {
    double mean;
    double std;
    double min;
    double max;
    double total;           /* pixels counted */
    int nbins;
    int bins[256];
};

/* Builds the function and transfer tables of m for func and std.
 * Returns 1. */
int GimgCreateLookup(GimgMaster *m, int func, float std);
/* Output range a..b of m from -contrast and -bright. */
void gimgNormalizeCntrst(GimgMaster *m);
/* Colour table of grey levels or of an r x g x b cube; returns the
 * number of entries (0 for an invalid combination). */
int createClrIndices(unsigned char (*table)[3], int grey, int r, int g,
                     int b);
/* Allocates or frees m's palette cells (screens of depth 8 or less). */
void CreateGimgPalette(GimgMaster *m);
void FreeGimgPalette(GimgMaster *m);
/* Allocates n colours (nearest existing colour when a cell cannot be
 * had); the pixel values in entry order, or null. */
unsigned long *AllocPal(Display *display, Colormap colormap,
                        unsigned char (*colours)[3], int n);
/* Re-applies the colour table: palette, lookup, re-render. */
void gimgSetIndicesConfig(GimgMaster *m);

/* The `palette` subcommand of the global gimg command (argv[0] the
 * command, argv[1] "palette"). */
int gimgPalette(Tcl_Interp *interp, int argc, const char **argv);

/* Image subcommands. */
GimgSubCmdProc gimgEnhance, gimgGetLookup, gimgSetLookup, gimgSetRange,
    gimgGetIndices, gimgSetIndices;

#endif
