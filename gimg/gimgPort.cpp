/*
 * gimgPort.cpp --
 *
 *	Display ports and view ports of gimg images.  A display port maps the
 *	screen columns (or rows) of the unturned picture to image columns (or
 *	rows) for a first image index, a magnification and a mirror flag; a
 *	view port owns an off-screen pixmap created lazily through Tk.
 */
#include <cmath>
#include <cstdlib>

#include "core/stdstream.h"
#include "gimg/gimgInt.h"

void dpInit(DisplayPort *p)
{
    p->map = nullptr;
    p->size = 0;
    p->start = 0;
    p->flip = 0;
    p->mag = 0.0;
}

DisplayPort *dpCreate(void)
{
    DisplayPort *p = static_cast<DisplayPort *>(std::malloc(sizeof *p));
    if (p)
        dpInit(p);
    return p;
}

void dpClose(DisplayPort *p)
{
    std::free(p->map);
    dpInit(p);
}

void dpDelete(DisplayPort *p)
{
    if (!p)
        return;
    dpClose(p);
    std::free(p);
}

/*
 * dpOpen --
 *	Sets the port to size screen pixels from image index start at
 *	magnification mag, mirrored when flip is set.
 * Results:
 *	The port, or null (port unchanged) when size < 1 or the map cannot
 *	be allocated.
 */
DisplayPort *dpOpen(DisplayPort *p, int size, int start, int flip, double mag)
{
    if (size < 1)
        return nullptr;
    if (p->map && size == p->size && start == p->start && flip == p->flip
            && mag == p->mag)
        return p;
    int *map = p->map;
    if (size != p->size || !map) {
        map = static_cast<int *>(std::malloc(sizeof(int) * (size_t)size));
        if (!map)
            return nullptr;
        std::free(p->map);
    }
    p->map = map;
    p->size = size;
    p->start = start;
    p->flip = flip;
    p->mag = mag;
    for (int i = 0; i < size; i++) {
        int v = (int)std::trunc(start + i / mag);
        map[flip ? size - 1 - i : i] = v;
    }
    return p;
}

/*
 * dpRange --
 *	The run [first, last) of screen indices whose image index lies in
 *	0..limit - 1.
 */
void dpRange(const DisplayPort *p, int limit, int *first, int *last)
{
    int i = 0;
    if (!p->flip) {
        while (i < p->size && p->map[i] < 0)
            i++;
        *first = i;
        while (i < p->size && p->map[i] < limit)
            i++;
    } else {
        while (i < p->size && p->map[i] >= limit)
            i++;
        *first = i;
        while (i < p->size && p->map[i] >= 0)
            i++;
    }
    *last = i;
}

/* Screen coordinate of image coordinate v (unturned). */
double dpScreen(const DisplayPort *p, double v)
{
    if (p->flip)
        return (p->start - v) * p->mag + p->size - 1;
    return (v - p->start) * p->mag;
}

/* Image coordinate of screen coordinate s (unturned). */
double dpImage(const DisplayPort *p, double s)
{
    if (p->flip)
        return (p->size - 1 - s) / p->mag + p->start;
    return s / p->mag + p->start;
}

void vpInit(ViewPort *p, Display *display)
{
    p->display = display;
    p->drawable = None;
    p->pixmap = None;
    p->depth = 0;
    p->width = p->height = 0;
    p->xOffset = p->yOffset = 0;
    p->valid = 0;
}

ViewPort *vpCreate(Display *display)
{
    ViewPort *p = static_cast<ViewPort *>(std::malloc(sizeof *p));
    if (p)
        vpInit(p, display);
    return p;
}

/*
 * vpOpen --
 *	Records drawable, size, depth and offsets; the contents become
 *	invalid, and a change of size or depth drops the pixmap.
 * Results:
 *	1 when the geometry changed, else 0.
 */
int vpOpen(ViewPort *p, Drawable drawable, int width, int height, int depth,
           int xOffset, int yOffset)
{
    p->xOffset = xOffset;
    p->yOffset = yOffset;
    p->valid = 0;
    p->drawable = drawable;
    if (width == p->width && height == p->height && depth == p->depth)
        return 0;
    vpClose(p);
    p->drawable = drawable;
    p->width = width;
    p->height = height;
    p->depth = depth;
    return 1;
}

/*
 * vpPixmap --
 *	The port's pixmap, created at the recorded size and depth when
 *	missing.
 * Results:
 *	The pixmap, or 0 after a message on standard error.
 */
Pixmap vpPixmap(ViewPort *p)
{
    if (p->pixmap)
        return p->pixmap;
    if (p->display && p->drawable && p->width > 0 && p->height > 0
            && p->depth > 0)
        p->pixmap = Tk_GetPixmap(p->display, p->drawable, p->width,
                                 p->height, p->depth);
    if (!p->pixmap) {
        stderrPrintf("Error in Tk_GetPixmap - fail to create a pixmap of "
                     "%dx%dx%d\n", p->width, p->height, p->depth);
        return 0;
    }
    p->valid = 0;
    return p->pixmap;
}

/* Frees the pixmap and re-initialises the port, keeping display and
 * offsets. */
void vpClose(ViewPort *p)
{
    if (p->pixmap && p->display)
        Tk_FreePixmap(p->display, p->pixmap);
    int x = p->xOffset, y = p->yOffset;
    vpInit(p, p->display);
    p->xOffset = x;
    p->yOffset = y;
}

void vpDelete(ViewPort *p)
{
    if (!p)
        return;
    vpClose(p);
    std::free(p);
}
