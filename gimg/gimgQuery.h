/*
 * gimgQuery.h --
 *
 *	Read-out, dump and animation subcommands of gimg images: pixel
 *	values, lines, sections, profiles, histograms and statistics, pixel
 *	writes, dumps into files and photos, captures, magnified views of
 *	other images, and stepping through frames.
 */
#ifndef VELK_GIMGQUERY_H
#define VELK_GIMGQUERY_H

#include "gimg/gimgInt.h"

GimgSubCmdProc gimgCopyimg, gimgCopysub, gimgCapturePixmap, gimgDump,
    gimgGraph, gimgPrintHist, gimgPrintLine, gimgStats, gimgSeekVolume,
    gimgSetPixel, gimgPrintSection, gimgPrintPixel, gimgPrintProfile,
    gimgResident, gimgAnimate;

/* Stops the image's animation: delay -1, pending step cancelled. */
void gimgRemoveFromAnimationQueue(GimgMaster *m);

#endif
