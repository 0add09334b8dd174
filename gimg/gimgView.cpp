/*
 * gimgView.cpp --
 *
 *	Views of other gimg images: `copy` turns an image into a magnifier
 *	of another one around a point of its screen, `crop` into a window of
 *	another one from a point on.  The view keeps no record of its own:
 *	it names the source (srcName) and renders the source's record with
 *	the source's tables through its own display ports, until `-file` is
 *	configured again.  Relies on the configuration pass (which reopens a
 *	view's ports and view ports) and the renderer.
 */
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/ramimg.h"
#include "gimg/gimgQuery.h"
#include "gimg/gimgRender.h"

static int failWith(GimgMaster *m, const char *message)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, message, nullptr);
    return TCL_ERROR;
}

/* The source image named by word, with an image shown. */
static GimgMaster *findSource(GimgMaster *m, const char *name)
{
    GimgMaster *src = gimgGetByName(m->interp, name);
    if (!src || src == m) {
        Tcl_ResetResult(m->interp);
        Tcl_AppendResult(m->interp, "gimg ", name, " not found", nullptr);
        return nullptr;
    }
    if (!src->rimg || !src->hdp.map || !src->vdp.map) {
        failWith(m, "Image not configured");
        return nullptr;
    }
    return src;
}

/* The source's image column and row under one of its screen points,
 * clamped into its display ports. */
static int sourcePixel(GimgMaster *m, GimgMaster *src, const char *xText,
                       const char *yText, int *column, int *row)
{
    int x, y;
    if (gimgCoordinate(src, xText, yText, &x, &y) != TCL_OK) {
        Tcl_SetObjResult(m->interp, Tcl_GetObjResult(src->interp));
        return TCL_ERROR;
    }
    x = x < 0 ? 0 : x >= src->hdp.size ? src->hdp.size - 1 : x;
    y = y < 0 ? 0 : y >= src->vdp.size ? src->vdp.size - 1 : y;
    *column = src->hdp.map[x];
    *row = src->vdp.map[y];
    return TCL_OK;
}

/*
 * showView --
 *	Makes m a view of src from image column and row (first) at the
 *	magnifications, with the view port offsets: m lets its own record
 *	go, takes the source's orientation and georeference, reopens its
 *	ports and renders every instance from the source's record.
 */
static int showView(GimgMaster *m, GimgMaster *src, int firstColumn,
                    int firstRow, double mx, double my, int toPixmap,
                    int xOffset, int yOffset)
{
    if (m->rimg) {
        closeRAMImage(m->rimg, &m->client);
        m->rimg = nullptr;
    }
    gimgSetStringOption(&m->file, nullptr);
    m->block.fileName[0] = '\0';
    m->xflip = src->xflip;
    m->yflip = src->yflip;
    m->rotate = src->rotate;
    m->block.left = src->block.left;
    m->block.top = src->block.top;
    m->block.x0 = src->block.x0;
    m->block.y0 = src->block.y0;
    m->block.dx = src->block.dx;
    m->block.dy = src->block.dy;
    m->block.pixel = src->block.pixel;
    m->block.mapid = src->block.mapid;
    std::snprintf(m->srcName, sizeof m->srcName, "%s", src->name);
    int oldW = m->imageVp.width, oldH = m->imageVp.height;
    dpOpen(&m->hdp, m->width, firstColumn, m->xflip, mx);
    dpOpen(&m->vdp, m->height, firstRow, m->yflip, my);
    m->imageVp.xOffset = xOffset;
    m->imageVp.yOffset = yOffset;
    if (gimgConfig(m) != TCL_OK)
        return TCL_ERROR;
    for (GimgInstance *i = m->instancePtr; i; i = i->next)
        makePixmap(src, i, src->rimg, toPixmap, &m->hdp, &m->vdp);
    if (toPixmap || oldW != m->imageVp.width || oldH != m->imageVp.height)
        gimgRedrawDisplay(m);
    Tcl_ResetResult(m->interp);
    return TCL_OK;
}

/* A whole number argument. */
static int intArg(GimgMaster *m, const char *word, int *v)
{
    return Tcl_GetInt(m->interp, word, v);
}

/*
 * gimgCopyimg --
 *	copy sourceImage xc yc ?mx? ?my? ?flag? ?x0? ?y0?: a magnified view
 *	of the source centred on its screen point (xc, yc).
 */
int gimgCopyimg(GimgMaster *m, int argc, const char **argv)
{
    if (argc < 5 || argc > 10)
        return failWith(m, "Usage: targetImage copy sourceImage xc yc ?mx? "
                           "?my? ?flag? ?x0? ?y0?");
    GimgMaster *src = findSource(m, argv[2]);
    if (!src)
        return TCL_ERROR;
    double mx = m->mx, my = m->my;
    int flag = 1, x0 = 0, y0 = 0;
    if ((argc > 5 && Tcl_GetDouble(m->interp, argv[5], &mx) != TCL_OK)
            || (argc > 6 && Tcl_GetDouble(m->interp, argv[6], &my) != TCL_OK))
        return TCL_ERROR;
    if (!(mx > 0) || !(my > 0) || !std::isfinite(mx) || !std::isfinite(my))
        return failWith(m, "Invalid magnification value!\n");
    if ((argc > 7 && intArg(m, argv[7], &flag) != TCL_OK)
            || (argc > 8 && intArg(m, argv[8], &x0) != TCL_OK)
            || (argc > 9 && intArg(m, argv[9], &y0) != TCL_OK))
        return TCL_ERROR;
    int column, row;
    if (sourcePixel(m, src, argv[3], argv[4], &column, &row) != TCL_OK)
        return TCL_ERROR;
    m->mx = mx;
    m->my = my;
    if (!m->instancePtr)
        return TCL_OK;
    double ex = mx * src->hdp.mag, ey = my * src->vdp.mag;
    int first = (int)std::trunc(column - (m->width / ex) / 2);
    int top = (int)std::trunc(row - (m->height / ey) / 2);
    return showView(m, src, first, top, ex, ey, flag, x0, y0);
}

/*
 * gimgCopysub --
 *	crop sourceImage x0 y0 ?flag?: a view of the source at its own
 *	magnification from the image pixel under its screen point (x0, y0).
 */
int gimgCopysub(GimgMaster *m, int argc, const char **argv)
{
    if (argc != 5 && argc != 6)
        return failWith(m, "Usage: targetImage copysub sourceImage x0 y0 "
                           "?flag?");
    GimgMaster *src = findSource(m, argv[2]);
    if (!src)
        return TCL_ERROR;
    int flag = 1;
    if (argc > 5 && intArg(m, argv[5], &flag) != TCL_OK)
        return TCL_ERROR;
    int column, row;
    if (sourcePixel(m, src, argv[3], argv[4], &column, &row) != TCL_OK)
        return TCL_ERROR;
    m->mx = src->hdp.mag;
    m->my = src->vdp.mag;
    m->sc = column;
    m->sr = row;
    if (!m->instancePtr)
        return TCL_OK;
    return showView(m, src, column, row, src->hdp.mag, src->vdp.mag, flag,
                    m->imageVp.xOffset, m->imageVp.yOffset);
}
