/*
 * gimgLookup.h --
 *
 *	Palettes, lookup tables and enhancement of gimg images: the function
 *	tables that turn band values into display values (gimgLookup.cpp,
 *	over the arithmetic of gimgTable.h), the colour cells of palette
 *	screens (gimgPalette.cpp), the image subcommands that show and change
 *	them (gimgLookupCmd.cpp), and the `palette` subcommand of the global
 *	gimg command.
 */
#ifndef VELK_GIMGLOOKUP_H
#define VELK_GIMGLOOKUP_H

#include <tk.h>

#include "core/hist.h"
#include "gimg/gimgInt.h"
#include "gimg/gimgTable.h"

/* ---- gimgLookup.cpp ------------------------------------------------ */

/* Builds the function, dither and transfer tables of m for func and std;
 * -low0..2/-high0..2 receive the ranges used.  Returns 1. */
int GimgCreateLookup(GimgMaster *m, int func, float std);
/* Output range outA..outB of m from -contrast (clamped) and -bright. */
void gimgNormalizeCntrst(GimgMaster *m);
/* One function table of n entries onto a..b for a band of m's image;
 * *low and *high in-out.  Returns 1. */
int createFunction(GimgMaster *m, int func, float std, int band,
                   float gamma, unsigned char *table, int n, int a, int b,
                   double *low, double *high, const unsigned char *pre);
/* Statistics of a band of r (of colour-table channel `band` weighted by
 * band 0 when r has a colour table); 0 when r has no histograms. */
int GimgCalcStats0(RAMImage *r, int band, GimgBandStats *st);
/* The same over the histograms h and m's colour table, weighted by the
 * layer's band; 0 when h is null. */
int GimgCalcStats(GimgMaster *m, Hist *h, int band, GimgBandStats *st);
/* A channel's pre-mapping: lut itself without colour table, else out[i] =
 * lut[component band%3 of entry i]; returns the table to use. */
const unsigned char *getRGBIndex(int ncolors,
                                 const unsigned char (*colourTable)[3],
                                 int band, unsigned char *out,
                                 const unsigned char *lut);

/* ---- gimgPalette.cpp ----------------------------------------------- */

/* Allocates or frees m's palette cells (screens of depth 8 or less). */
void CreateGimgPalette(GimgMaster *m);
void FreeGimgPalette(GimgMaster *m);
/* Allocates n colours (the nearest existing colour where no cell is
 * free); the pixels in entry order (malloc'd), or null. */
unsigned long *AllocPal(Display *display, Colormap colormap,
                        unsigned char (*colours)[3], int n);
/* The grey ramp or colour cube of the level counts, with requested minus
 * obtained components in residualTable; null when there is none. */
unsigned long *CreatePal(Display *display, Colormap colormap,
                         signed char (*residualTable)[3], int grey, int r,
                         int g, int b);
/* Colormap entries 0..n-1 whose red does not read 0x7f, at the front of
 * colours; returns their number. */
int TkQueryColors(Display *display, Colormap colormap, XColor *colours,
                  int n);
/* The `palette` subcommand of the global gimg command (argv[0] the
 * command, argv[1] "palette"). */
int gimgPalette(Tcl_Interp *interp, int argc, const char **argv);

/* ---- gimgLookupCmd.cpp --------------------------------------------- */

/* Re-applies the colour table: palette, lookup, re-render. */
void gimgSetIndicesConfig(GimgMaster *m);
/* One colour-table entry as "X", "XRGB" or "RGB" text into buffer (64
 * bytes); returns buffer. */
char *printPalette(const unsigned char (*colourTable)[3], int index,
                   char *buffer, const char *format);

/* Image subcommands. */
GimgSubCmdProc gimgEnhance, gimgGetLookup, gimgSetLookup, gimgSetRange,
    gimgGetIndices, gimgSetIndices;

#endif
