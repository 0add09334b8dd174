/*
 * geoCalcDialog.h --
 *
 *	The interactive GCP dialogue: a "CML> " prompt on the console (the
 *	stdio interpreter's standard input and output until a console window
 *	takes them) whose commands add, edit, select, load and save control
 *	points, fit polynomials and write rectification parameter files.
 */
#ifndef VELK_GEOCALCDIALOG_H
#define VELK_GEOCALCDIALOG_H

/* Runs the dialogue until "quit" or the end of the input.  Results: 0. */
int geoCalc(void);

#endif
