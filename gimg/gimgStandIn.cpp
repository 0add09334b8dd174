/*
 * gimgStandIn.cpp --
 *
 *	Temporary lookups and rendering of gimg images, standing in until
 *	the palette, lookup and rendering modules exist: linear function
 *	tables over the -low/-high ranges (no statistics, no palettes), and a
 *	renderer that samples the first three -comb bands (or a colour
 *	table) through the display ports into the image pixmap on TrueColor
 *	visuals.  The subcommands of those modules answer that they are not
 *	available.  Replaced as a whole by the real modules.
 */
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/stdstream.h"
#include "core/velkDisplay.h"
#include "gimg/gimgInt.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgRender.h"

/* lo..hi of pre (or the index) onto a..b, as the function tables do. */
static void linearTable(unsigned char *table, int a, int b, double lo,
                        double hi, const unsigned char *pre, int n)
{
    float r = (float)(hi - lo);
    for (int i = 0; i < 256; i++) {
        double v = i < n ? (pre ? pre[i] : i) : 0;
        if (v >= hi)
            v = std::trunc(hi);
        if (v <= lo)
            v = std::trunc(lo);
        int out;
        if (r == 0.0f) {
            out = a;
        } else {
            float g = (float)((v - lo) / r);
            float f = g * ((float)b + 0.999f) + (1 - g) * (float)a;
            int lowEnd = a < b ? a : b, highEnd = a < b ? b : a;
            out = f < lowEnd ? lowEnd : f > highEnd ? highEnd : (int)f;
        }
        table[i] = (unsigned char)out;
    }
}

int GimgCreateLookup(GimgMaster *m, int, float)
{
    std::memset(m->funcTable, 0, sizeof m->funcTable);
    int wide = pixelBits(m->block.pixel) > 8;
    int ct = m->block.nindices > 0 && m->layer > 0;
    int nonZero = 0, first = 0;
    for (int i = 1; i <= m->comb[0] && i <= 3; i++)
        if (m->comb[i] > 0 && nonZero++ == 0)
            first = m->comb[i];
    int grey = nonZero == 1 && (m->palFlags & GIMG_PAL_GREY);
    m->nDispBands = 0;
    for (int c = 0; c < 3; c++) {
        int band = grey ? first - 1 : m->comb[c + 1] - 1;
        m->low[c] = grey ? m->lowOpt[0] : m->lowOpt[c];
        m->high[c] = grey ? m->highOpt[0] : m->highOpt[c];
        m->dispBands[c] = band;
        if (band < 0)
            continue;
        if (!grey)
            m->nDispBands++;
        unsigned char pre[256];
        int n = 256;
        if (ct) {
            n = m->block.nindices < 256 ? m->block.nindices : 256;
            for (int i = 0; i < n; i++)
                pre[i] = m->lut[c][m->block.palette[i][band % 3]];
        } else {
            std::memcpy(pre, m->lut[c], 256);
        }
        double lo = wide ? 0 : m->low[c], hi = wide ? 255 : m->high[c];
        linearTable(m->funcTable[c], m->outA, m->outB, lo, hi, pre, n);
        if (!grey && m->pal[c + 1] == 1)
            m->dispBands[c] = -1;
    }
    return 1;
}

void gimgNormalizeCntrst(GimgMaster *m)
{
    if (m->contrast > 1)
        m->contrast = 1.0;
    if (m->contrast < -1)
        m->contrast = -1.0;
    int a, b;
    if (m->contrast > 0) {
        a = (int)((1 - m->contrast) * 127.5);
        b = 255 - a;
    } else {
        b = (int)((m->contrast + 1) * 127.5);
        a = 255 - b;
    }
    a = (int)((m->bright - 0.5) * 512 + a);
    b = (int)((m->bright - 0.5) * 512 + b);
    m->outA = a < 0 ? 0 : a > 255 ? 255 : a;
    m->outB = b < 0 ? 0 : b > 255 ? 255 : b;
}

/* The levels of n steps over 0..255; returns their count. */
static int levels(int n, int *out)
{
    out[0] = 0;
    if (n <= 1)
        return 1;
    float s = 256.0f / (float)(n - 1);
    int m = 0, prev = 0;
    for (int v = 0; v < 256; v++) {
        int q = n == 256 ? v
                         : (int)std::round(std::trunc((v + s / 2) / s) * s);
        if (q > 255)
            q = 255;
        if (q != prev) {
            out[++m] = q;
            prev = q;
        }
    }
    return m + 1;
}

int createClrIndices(unsigned char (*table)[3], int grey, int r, int g,
                     int b)
{
    int lv[256];
    if (grey > 0 && r <= 0 && g <= 0 && b <= 0) {
        if (grey > 256)
            return 0;
        int n = levels(grey, lv);
        for (int i = 0; i < n; i++)
            table[i][0] = table[i][1] = table[i][2] = (unsigned char)lv[i];
        return n;
    }
    if (r <= 0 || g <= 0 || b <= 0 || r * g * b > 256)
        return 0;
    int lr[256], lg[256], lb[256];
    levels(r, lr);
    levels(g, lg);
    levels(b, lb);
    int k = 0;
    for (int i = 0; i < r; i++)
        for (int j = 0; j < g; j++)
            for (int l = 0; l < b; l++, k++) {
                table[k][0] = (unsigned char)(r > 1 ? lr[i] : 0);
                table[k][1] = (unsigned char)(g > 1 ? lg[j] : 0);
                table[k][2] = (unsigned char)(b > 1 ? lb[l] : 0);
            }
    return k;
}

void CreateGimgPalette(GimgMaster *m)
{
    FreeGimgPalette(m);
}

void FreeGimgPalette(GimgMaster *m)
{
    if (m->palette) {
        XFreeColors(m->display, m->colormap, m->palette, m->palCount, 0);
        std::free(m->palette);
    }
    m->palette = nullptr;
    m->palCount = 0;
}

unsigned long *AllocPal(Display *display, Colormap colormap,
                        unsigned char (*colours)[3], int n)
{
    if (n <= 0)
        return nullptr;
    unsigned long *pixels =
        static_cast<unsigned long *>(std::malloc(sizeof(long) * (size_t)n));
    if (!pixels)
        return nullptr;
    for (int i = 0; i < n; i++) {
        XColor c;
        c.red = (unsigned short)(colours[i][0] * 256);
        c.green = (unsigned short)(colours[i][1] * 256);
        c.blue = (unsigned short)(colours[i][2] * 256);
        c.flags = DoRed | DoGreen | DoBlue;
        if (!XAllocColor(display, colormap, &c)) {
            XFreeColors(display, colormap, pixels, i, 0);
            std::free(pixels);
            return nullptr;
        }
        pixels[i] = c.pixel;
    }
    return pixels;
}

void gimgSetIndicesConfig(GimgMaster *m)
{
    GimgCreateLookup(m, m->funcInForce, (float)m->std);
    gimgUpdateClient(m);
}

int gimgPalette(Tcl_Interp *interp, int argc, const char **argv)
{
    if (!cmap || depth > 8)
        return TCL_OK;
    Tcl_ResetResult(interp);
    if (argc < 3) {
        Tcl_AppendResult(interp, "Usage: ", argv[0], " palette list|free|"
                         "query|PSEUDO|BW|default", nullptr);
        return TCL_OK;
    }
    Tcl_AppendResult(interp, "palette: not available in this build", nullptr);
    return TCL_ERROR;
}

static int notAvailable(GimgMaster *m, const char *name)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, name, ": not available in this build",
                     nullptr);
    return TCL_ERROR;
}

int gimgEnhance(GimgMaster *m, int, const char **)
{
    return notAvailable(m, "enhance");
}

int gimgGetLookup(GimgMaster *m, int, const char **)
{
    return notAvailable(m, "getLookup");
}

int gimgSetLookup(GimgMaster *m, int, const char **)
{
    return notAvailable(m, "setLookup");
}

int gimgSetRange(GimgMaster *m, int, const char **)
{
    return notAvailable(m, "setRange");
}

int gimgGetIndices(GimgMaster *m, int, const char **)
{
    return notAvailable(m, "getIndices");
}

int gimgSetIndices(GimgMaster *m, int, const char **)
{
    return notAvailable(m, "setIndices");
}

/* ---- rendering ------------------------------------------------------ */

/* Display values of one image row of one band for screen columns. */
static void sampleRow(GimgMaster *m, RAMImage *r, int row, int band, int c,
                      const DisplayPort *hdp, unsigned char *out,
                      std::vector<float> &values)
{
    const unsigned char *table = m->funcTable[c];
    int columns = r->info.columns;
    values.resize((size_t)columns);
    getFloatBILData(r, row, 0, columns, band, values.data());
    int wide = pixelBits(r->info.pixel) > 8;
    double lo = m->low[c], hi = m->high[c];
    float s = lo == hi ? 1e12f : (float)(255.0 / (hi - lo));
    float o = lo == hi ? 0.0f : (float)(-lo * s + 0.5);
    for (int x = 0; x < hdp->size; x++) {
        int col = hdp->map[x];
        if (col < 0 || col >= columns) {
            out[x] = table[0];
            continue;
        }
        float v = values[(size_t)col];
        int k;
        if (!wide)
            k = (int)v & 255;
        else if (v < lo)
            k = 0;
        else if (v > hi)
            k = 255;
        else
            k = (int)(v * s + o) & 255;
        out[x] = table[k];
    }
}

/* A TrueColor pixel value of 8-bit components (grey threshold on other
 * visuals). */
static unsigned long pixelOf(const Visual *v, int red, int green, int blue,
                             Display *d, int screen)
{
    if (v->c_class != TrueColor && v->c_class != DirectColor)
        return red + green + blue >= 384 ? WhitePixel(d, screen)
                                         : BlackPixel(d, screen);
    unsigned long p = 0;
    const unsigned long masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
    const int comps[3] = {red, green, blue};
    for (int i = 0; i < 3; i++) {
        unsigned long mask = masks[i];
        if (!mask)
            continue;
        int shift = 0, bits = 0;
        while (!((mask >> shift) & 1))
            shift++;
        while ((mask >> (shift + bits)) & 1)
            bits++;
        unsigned long c = (unsigned long)comps[i];
        c = bits >= 8 ? c << (bits - 8) : c >> (8 - bits);
        p |= (c << shift) & mask;
    }
    return p;
}

Drawable makePixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r, int,
                    DisplayPort *hdp, DisplayPort *vdp)
{
    GimgMaster *dm = inst ? inst->master : m;
    ViewPort *vp = &dm->imageVp;
    Pixmap pm = vpPixmap(vp);
    if (!pm || !r || !hdp->map || !vdp->map || !dm->gc) {
        stderrPrintf("Error in make24BitPixmap: None pixmap...\n");
        return 0;
    }
    int W = hdp->size, H = vdp->size;
    int pw = vp->width, ph = vp->height;
    XImage *img = XCreateImage(dm->display, dm->visual, (unsigned)dm->depth,
                               ZPixmap, 0, nullptr, (unsigned)pw,
                               (unsigned)ph, 32, 0);
    if (!img)
        return 0;
    img->data = static_cast<char *>(
        std::calloc((size_t)img->bytes_per_line, (size_t)ph));
    if (!img->data) {
        XDestroyImage(img);
        return 0;
    }
    int screen = DefaultScreen(dm->display);
    std::vector<unsigned char> rows((size_t)W * 3);
    std::vector<float> values;
    int grey = (m->palFlags & GIMG_PAL_GREY) && m->nDispBands != 0;
    for (int y = 0; y < H; y++) {
        int row = vdp->map[y];
        if (row < 0 || row >= r->info.rows) {
            std::fill(rows.begin(), rows.end(), 0);
        } else {
            for (int c = 0; c < 3; c++) {
                unsigned char *out = rows.data() + (size_t)c * W;
                int band = m->cachedLayer > 0 ? m->cachedLayer - 1
                                              : m->dispBands[c];
                if (m->dispBands[c] < 0)
                    std::memset(out, 0, (size_t)W);
                else
                    sampleRow(m, r, row, band, c, hdp, out, values);
            }
            if (grey) {
                for (int x = 0; x < W; x++) {
                    int sum = rows[(size_t)x] + rows[(size_t)W + x]
                              + rows[(size_t)2 * W + x];
                    unsigned char g = (unsigned char)(sum / m->nDispBands);
                    rows[(size_t)x] = rows[(size_t)W + x] =
                        rows[(size_t)2 * W + x] = g;
                }
            }
        }
        for (int x = 0; x < W; x++) {
            int px = x, py = y;
            if (dm->rotate > 0) {
                px = pw - 1 - y;
                py = x;
            } else if (dm->rotate < 0) {
                px = y;
                py = ph - 1 - x;
            }
            if (px < 0 || px >= pw || py < 0 || py >= ph)
                continue;
            XPutPixel(img, px, py,
                      pixelOf(dm->visual, rows[(size_t)x],
                              rows[(size_t)W + x], rows[(size_t)2 * W + x],
                              dm->display, screen));
        }
    }
    XPutImage(dm->display, pm, dm->gc, img, 0, 0, vp->xOffset, vp->yOffset,
              (unsigned)pw, (unsigned)ph);
    XDestroyImage(img);
    dm->pixmapValid = 1;
    return pm;
}
