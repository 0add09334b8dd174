/*
 * gimgPalette.cpp --
 *
 *	Colour cells of palette screens (depth 8 or less): allocation of a
 *	colour table in the default colormap with the nearest existing colour
 *	where no cell is left, the palette of a gimg master (its own colour
 *	table, a grey ramp or a colour cube, reduced until it can be had),
 *	and the `palette` subcommand of the global gimg command, which keeps
 *	a shared set of cells in palPixels (velkDisplay.h).
 *
 *	Every pixel a palette holds was allocated by this client, so freeing
 *	a palette returns exactly the references it took (the server counts
 *	them per client; a cell shared with Tk's own colours stays Tk's).
 */
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <vector>

#include "core/stdstream.h"
#include "core/velkDisplay.h"
#include "gimg/gimgInt.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgTable.h"

/*
 * TkQueryColors --
 *	Queries colormap entries 0..n-1 (as far as the visual has them),
 *	keeping those whose red component no longer reads 0x7f.
 * Results:
 *	The number of entries kept at the front of colours.
 */
int TkQueryColors(Display *display, Colormap colormap, XColor *colours,
                  int n)
{
    Visual *visual = DefaultVisual(display, DefaultScreen(display));
    if (visual && visual->map_entries > 0 && n > visual->map_entries)
        n = visual->map_entries;
    for (int i = 0; i < n; i++) {
        colours[i].pixel = (unsigned long)i;
        colours[i].red = colours[i].green = colours[i].blue = 0x7f;
        colours[i].flags = DoRed | DoGreen | DoBlue;
    }
    XQueryColors(display, colormap, colours, n);
    int kept = 0;
    for (int i = 0; i < n; i++)
        if (colours[i].red != 0x7f)
            colours[kept++] = colours[i];
    return kept;
}

/* The colour of a table entry as asked of the server. */
static XColor requested(const unsigned char rgb[3])
{
    XColor c;
    c.pixel = 0;
    c.red = (unsigned short)(rgb[0] * 256);
    c.green = (unsigned short)(rgb[1] * 256);
    c.blue = (unsigned short)(rgb[2] * 256);
    c.flags = DoRed | DoGreen | DoBlue;
    return c;
}

static double distance(const XColor &a, const XColor &b)
{
    double dr = (double)a.red - b.red, dg = (double)a.green - b.green,
           db = (double)a.blue - b.blue;
    return dr * dr + dg * dg + db * db;
}

/*
 * allocColours --
 *	Allocates n colours; a colour without a free cell takes the nearest
 *	of the first 256 colormap entries (queried once), sharing its cell.
 *	Should that cell be private to another client, the next nearest is
 *	tried, so that every pixel returned is one this client may free.
 * Results:
 *	The pixels (malloc'd, in entry order) with the colours obtained in
 *	obtained[] when given, or null (nothing held) when some colour could
 *	not be had at all or n is 0.
 */
static unsigned long *allocColours(Display *display, Colormap colormap,
                                   const unsigned char (*colours)[3], int n,
                                   XColor *obtained)
{
    if (n <= 0 || !display)
        return nullptr;
    unsigned long *pixels =
        static_cast<unsigned long *>(std::malloc(sizeof(unsigned long) * n));
    if (!pixels)
        return nullptr;
    std::vector<XColor> map;
    int held = 0;
    for (; held < n; held++) {
        XColor c = requested(colours[held]);
        if (!XAllocColor(display, colormap, &c)) {
            if (map.empty()) {
                map.resize(256);
                map.resize((size_t)TkQueryColors(display, colormap,
                                                  map.data(), 256));
            }
            XColor want = requested(colours[held]);
            std::vector<size_t> order(map.size());
            std::iota(order.begin(), order.end(), 0);
            std::stable_sort(order.begin(), order.end(),
                             [&](size_t x, size_t y) {
                                 return distance(map[x], want)
                                        < distance(map[y], want);
                             });
            bool got = false;
            for (size_t k : order) {
                c = map[k];
                c.flags = DoRed | DoGreen | DoBlue;
                if ((got = XAllocColor(display, colormap, &c) != 0))
                    break;
            }
            if (!got)
                break;
        }
        pixels[held] = c.pixel;
        if (obtained)
            obtained[held] = c;
    }
    if (held < n) {
        if (held > 0)
            XFreeColors(display, colormap, pixels, held, 0);
        std::free(pixels);
        return nullptr;
    }
    return pixels;
}

unsigned long *AllocPal(Display *display, Colormap colormap,
                        unsigned char (*colours)[3], int n)
{
    return allocColours(display, colormap, colours, n, nullptr);
}

/*
 * CreatePal --
 *	Allocates the grey ramp or colour cube of the level counts and fills
 *	residualTable with requested minus obtained component per entry.
 * Results:
 *	The pixels, or null (no colours for these counts, or none to be had).
 */
unsigned long *CreatePal(Display *display, Colormap colormap,
                         signed char (*residualTable)[3], int grey, int r,
                         int g, int b)
{
    unsigned char table[256][3];
    int n = createClrIndices(table, grey, r, g, b);
    if (n <= 0)
        return nullptr;
    XColor obtained[256];
    unsigned long *pixels = allocColours(display, colormap, table, n,
                                         obtained);
    if (!pixels)
        return nullptr;
    for (int i = 0; i < n; i++) {
        residualTable[i][0] = (signed char)(table[i][0] - (obtained[i].red >> 8));
        residualTable[i][1] = (signed char)(table[i][1]
                                            - (obtained[i].green >> 8));
        residualTable[i][2] = (signed char)(table[i][2]
                                            - (obtained[i].blue >> 8));
    }
    return pixels;
}

void FreeGimgPalette(GimgMaster *m)
{
    if (m->palette) {
        if (m->display && m->palCount > 0)
            XFreeColors(m->display, m->colormap, m->palette, m->palCount, 0);
        std::free(m->palette);
        m->palette = nullptr;
    }
    m->palCount = 0;
}

/*
 * CreateGimgPalette --
 *	The palette of m on a screen of depth 8 or less: the colour table
 *	itself in direct mode, else the grey ramp or cube of the cached level
 *	counts, reduced (the largest count decremented, or halved above 32)
 *	until its colours can be had.
 * Side effects:
 *	The reduced counts become the -palette value.
 */
void CreateGimgPalette(GimgMaster *m)
{
    FreeGimgPalette(m);
    if (m->depth > 8 || !m->display)
        return;
    if (m->directCT) {
        int n = m->block.nindices;
        if (n > 0) {
            m->palette = AllocPal(m->display, m->colormap, m->block.palette,
                                  n);
            if (m->palette) {
                m->palCount = n;
                return;
            }
            stderrPrintf("Error in truePalette alloc.\n");
        }
        m->directCT = 0;
    }
    int *p = m->cachedPal;
    for (;;) {
        m->palette = CreatePal(m->display, m->colormap, m->palResidual, p[0],
                               p[1], p[2], p[3]);
        if (m->palette)
            break;
        int largest = 0;
        for (int i = 1; i < 4; i++)
            if (p[i] > p[largest])
                largest = i;
        if (p[largest] <= 1)
            break;          /* not even one colour: no palette */
        p[largest] = p[largest] <= 32 ? p[largest] - 1 : p[largest] / 2;
    }
    std::memcpy(m->pal, p, sizeof m->pal);
    int count = 1;
    for (int i = 0; i < 4; i++)
        if (p[i] > 0)
            count *= p[i];
    m->palCount = m->palette ? count : 0;
}

/* ---------------------------------------------------------------------
 * gimg palette
 * --------------------------------------------------------------------- */

/* Appends "{pixel red green blue} " for each colour. */
static void appendColours(Tcl_Interp *interp, const XColor *colours, int n)
{
    for (int i = 0; i < n; i++) {
        char item[80];
        std::snprintf(item, sizeof item, "{%lu %d %d %d} ",
                      colours[i].pixel, colours[i].red, colours[i].green,
                      colours[i].blue);
        Tcl_AppendResult(interp, item, nullptr);
    }
}

/* Allocates n colours in front of palPixels and reports the total. */
static void holdColours(Display *display, Colormap colormap,
                        unsigned char (*table)[3], int n)
{
    unsigned long *pixels = AllocPal(display, colormap, table, n);
    unsigned long *all = pixels ? static_cast<unsigned long *>(std::malloc(
                                      sizeof(unsigned long)
                                      * (size_t)(n + nPalPixels)))
                                : nullptr;
    if (!all) {
        if (pixels) {
            XFreeColors(display, colormap, pixels, n, 0);
            std::free(pixels);
        }
        stdoutPrintf("Fail to allocate palette.\n");
        return;
    }
    std::memcpy(all, pixels, sizeof(unsigned long) * (size_t)n);
    if (nPalPixels > 0)
        std::memcpy(all + n, palPixels,
                    sizeof(unsigned long) * (size_t)nPalPixels);
    std::free(pixels);
    std::free(palPixels);
    palPixels = all;
    nPalPixels += n;
    stdoutPrintf("%d palettes allocated.\n", nPalPixels);
}

/*
 * gimgPalette --
 *	`gimg palette option ?n?`: the shared cells of palette screens.
 * Results:
 *	TCL_OK (also for the usage text and on screens deeper than 8 bits),
 *	TCL_ERROR for an unknown option.
 */
int gimgPalette(Tcl_Interp *interp, int argc, const char **argv)
{
    Display *display = gimgDisp();
    Colormap colormap = gimgColormap();
    if (!display || !colormap || gimgDepth() > 8)
        return TCL_OK;
    if (argc < 3) {
        Tcl_AppendResult(interp, "Usage: ", argv[0], " ", "palette",
                         " list|free|query|PSEUDO|BW|default", nullptr);
        return TCL_OK;
    }
    const char *option = argv[2];
    int count = 256;
    if (argc > 3) {
        long v = std::strtol(argv[3], nullptr, 10);
        count = v < 0 ? 256 : (int)std::min<long>(v, 1 << 20);
    }
    unsigned char table[256][3];
    if (std::strcmp(option, "free") == 0) {
        int n = nPalPixels;
        if (palPixels && n > 0)
            XFreeColors(display, colormap, palPixels, n, 0);
        std::free(palPixels);
        palPixels = nullptr;
        nPalPixels = 0;
        stdoutPrintf("%d palettes freed.\n", n);
    } else if (std::strcmp(option, "list") == 0) {
        std::vector<XColor> colours((size_t)nPalPixels);
        for (int i = 0; i < nPalPixels; i++)
            colours[(size_t)i].pixel = palPixels[i];
        if (nPalPixels > 0)
            XQueryColors(display, colormap, colours.data(), nPalPixels);
        appendColours(interp, colours.data(), nPalPixels);
    } else if (std::strcmp(option, "query") == 0) {
        std::vector<XColor> colours((size_t)std::max(count, 1));
        int n = TkQueryColors(display, colormap, colours.data(), count);
        appendColours(interp, colours.data(), n);
    } else if (std::strcmp(option, "default") == 0) {
        int c = createClrIndices(table, 0, 6, 6, 6);
        for (int k = c; k < 256; k++) {
            int v = (int)((k - c) / (255.0001 - c) * 255 + 0.5);
            table[k][0] = table[k][1] = table[k][2] = (unsigned char)v;
        }
        holdColours(display, colormap, table, 256);
    } else if (std::strcmp(option, "PSEUDO") == 0) {
        holdColours(display, colormap, table,
                    createClrIndices(table, 0, 8, 8, 4));
    } else if (std::strcmp(option, "BW") == 0) {
        holdColours(display, colormap, table,
                    createClrIndices(table, count, 0, 0, 0));
    } else {
        Tcl_SetResult(interp, (char *)"Unknown palette option.\n",
                      TCL_STATIC);
        return TCL_ERROR;
    }
    return TCL_OK;
}
