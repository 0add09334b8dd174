/*
 * velkDisplay.h --
 *
 *	The X display state recorded from the main window when the package is
 *	loaded into an interpreter with Tk, and the accessors the display code
 *	uses.  Without Tk nothing is recorded and the display is null.
 */
#ifndef VELK_VELKDISPLAY_H
#define VELK_VELKDISPLAY_H

#include <tk.h>

extern Display *disp;       /* display of the main window, null without Tk */
extern int scrnNumber;      /* screen number of the main window */
extern Screen *scrnPtr;     /* that screen of disp */
extern Colormap cmap;       /* colormap of the main window */
extern int depth;           /* depth of the main window in bits */
extern int rgb24;           /* 1 when depth > 24 */
extern unsigned long *palPixels; /* cells allocated by `gimg palette` */
extern int nPalPixels;
extern Pixmap pixmap;       /* shared scratch pixmap of the display code */

Display *gimgDisp(void);
int gimgDepth(void);
Colormap gimgColormap(void);
Pixmap gimgPixmap(void);
Pixmap setGimgPixmap(Pixmap p);
void delGimgPixmap(void);

/* Records the display of interp's main window (when there is one). */
void recordDisplay(Tcl_Interp *interp);
/* Frees palette cells and the scratch pixmap and forgets the display. */
void releaseDisplay(void);

#endif
