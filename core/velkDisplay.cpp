/*
 * velkDisplay.cpp --
 *
 *	The X display state of the process, recorded once from the main
 *	window of the first interpreter with Tk that loads the package, and
 *	the accessors of the display code.
 */
#include "core/velkDisplay.h"

#include <cstdlib>

Display *disp = nullptr;
int scrnNumber = 0;
Screen *scrnPtr = nullptr;
Colormap cmap = 0;
int depth = 0;
int rgb24 = 0;
unsigned long *palPixels = nullptr;
int nPalPixels = 0;
Pixmap pixmap = 0;

Display *gimgDisp(void)
{
    return disp;
}

int gimgDepth(void)
{
    return depth;
}

Colormap gimgColormap(void)
{
    return cmap;
}

Pixmap gimgPixmap(void)
{
    return pixmap;
}

Pixmap setGimgPixmap(Pixmap p)
{
    Pixmap old = pixmap;
    pixmap = p;
    return old;
}

void delGimgPixmap(void)
{
    if (pixmap && disp)
        Tk_FreePixmap(disp, pixmap);
    pixmap = 0;
}

/*
 * recordDisplay --
 *	Records display, screen, colormap and depth of interp's main window.
 *	Nothing happens without a main window or when a display is already
 *	recorded.  The caller has checked that interp has Tk.
 */
void recordDisplay(Tcl_Interp *interp)
{
    Tk_Window main = Tk_MainWindow(interp);
    if (!main) {
        Tcl_ResetResult(interp);
        return;
    }
    if (disp)
        return;
    Tk_MakeWindowExist(main);
    scrnNumber = Tk_ScreenNumber(main);
    disp = Tk_Display(main);
    scrnPtr = ScreenOfDisplay(disp, scrnNumber);
    cmap = Tk_Colormap(main);
    depth = Tk_Depth(main);
    rgb24 = depth > 24 ? 1 : 0;
}

/*
 * releaseDisplay --
 *	Frees the colour cells of the palette command and the scratch pixmap,
 *	then forgets the display (Tk closes it after the exit handlers).
 */
void releaseDisplay(void)
{
    if (palPixels) {
        if (disp)
            XFreeColors(disp, cmap, palPixels, nPalPixels, 0);
        std::free(palPixels);
        palPixels = nullptr;
        nPalPixels = 0;
    }
    delGimgPixmap();
    disp = nullptr;
    scrnPtr = nullptr;
    cmap = 0;
    depth = 0;
    rgb24 = 0;
    scrnNumber = 0;
}
