/*
 * gimgMaskStandIn.cpp --
 *
 *	Temporary masks of gimg images, standing in until the mask module
 *	exists: bit masks open and close, mask-class definitions parse, and
 *	clearing forgets masks and polygons; no mask is ever built, so no
 *	mask bitmap exists and the `mask` subcommand answers that it is not
 *	available.  Replaced as a whole by the mask module.
 */
#include <cstdlib>
#include <cstring>
#include <string>

#include "gimg/gimgMask.h"

void maskInit(BitMask *mask)
{
    std::memset(mask, 0, sizeof *mask);
    mask->bitmapUnit = 8;
}

BitMask *maskOpen(BitMask *mask, int width, int height, int fill)
{
    maskClose(mask);
    if (width < 1 || height < 1)
        return nullptr;
    int bytes = (width + 7) / 8;
    mask->bits = static_cast<unsigned char *>(
        std::malloc((size_t)bytes * (size_t)height));
    if (!mask->bits)
        return nullptr;
    std::memset(mask->bits, fill, (size_t)bytes * (size_t)height);
    mask->width = width;
    mask->height = height;
    mask->bytesPerRow = bytes;
    return mask;
}

void maskClose(BitMask *mask)
{
    if (!mask->borrowed)
        std::free(mask->bits);
    maskInit(mask);
}

void polygDelete(Polyg *list)
{
    while (list) {
        Polyg *next = list->next;
        std::free(list->points);
        std::free(list);
        list = next;
    }
}

void polygMask(Polyg *, BitMask *, int)
{
}

void gimgMaskClear(GimgMaster *m, int kind, int deletePolygons)
{
    int all = kind == GIMG_CLEAR_ALL;
    if (all || kind == GIMG_CLEAR_FRAME) {
        m->frameVp.valid = 0;
        maskClose(&m->masks[GIMG_MASK_FRAME]);
        if (deletePolygons) {
            polygDelete(m->framePolygs);
            m->framePolygs = nullptr;
        }
    }
    if (all || kind == GIMG_CLEAR_CLIP) {
        m->maskVp.valid = 0;
        maskClose(&m->masks[GIMG_MASK_CLIP]);
        if (deletePolygons) {
            polygDelete(m->clipPolygs);
            m->clipPolygs = nullptr;
        }
        if (m->clipRegion)
            XDestroyRegion(m->clipRegion);
        m->clipRegion = nullptr;
    }
    if (all || kind == GIMG_CLEAR_DATA) {
        maskClose(&m->masks[GIMG_MASK_DATA]);
        if (deletePolygons)
            std::memset(m->classVisible, 1, sizeof m->classVisible);
    }
    m->maskBitmapValid = 0;
}

/* Mask-class items: numbers and ranges "a-b" (0 <= a <= b <= 255)
 * separated by commas or blanks. */
int gimgParseMaskDef(unsigned char *table, int mode, const char *text)
{
    unsigned char t[256];
    if (mode == 0)
        std::memset(t, 0, sizeof t);
    else
        std::memcpy(t, table, sizeof t);
    std::string s(text ? text : "");
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ',' || s[i] == ' ' || s[i] == '\t'))
            i++;
        size_t start = i;
        while (i < s.size() && s[i] != ',' && s[i] != ' ' && s[i] != '\t')
            i++;
        if (start == i)
            break;
        std::string item = s.substr(start, i - start);
        int a, b;
        char extra;
        int n = std::sscanf(item.c_str(), "%d-%d%c", &a, &b, &extra);
        if (n == 1) {
            char *end;
            a = b = (int)std::strtol(item.c_str(), &end, 10);
            if (*end)
                return -1;
        } else if (n != 2) {
            return -1;
        }
        if (a < 0 || a > b || b > 255)
            return -1;
        for (int v = a; v <= b; v++)
            t[v] = mode >= 2 ? !t[v] : 1;
    }
    int changed = 0;
    for (int v = 0; v < 256; v++)
        changed += t[v] != table[v];
    std::memcpy(table, t, sizeof t);
    return changed;
}

void makeClassMask(GimgMaster *)
{
}

void makeDataMask(GimgMaster *, const unsigned char *)
{
}

void makeMaskBitmap(GimgMaster *m)
{
    m->maskBitmapValid = 0;
}

void makeViewMask(GimgMaster *)
{
}

int makeMaskPixmap(GimgMaster *, BitMask *, BitMask *, ViewPort *,
                   ViewPort *maskVp, DisplayPort *, DisplayPort *, int)
{
    return maskVp->valid;
}

int gimgMask(GimgMaster *m, int, const char **)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, "mask: not available in this build", nullptr);
    return TCL_ERROR;
}
