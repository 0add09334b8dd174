/*
 * gimgCoord.cpp --
 *
 *	Coordinate systems of gimg images: screen (canvas) points of the
 *	turned picture, unturned screen points (what the display ports map),
 *	image, file and map coordinates; the image subcommands that convert
 *	between them, and `rotate` with its orientation tables.
 */
#include <cmath>
#include <cstdio>
#include <string>

#include <strings.h>

#include "core/fmt.h"
#include "gimg/gimgInt.h"

/* Unturned screen point of pixmap point (x, y) for rotation r in a
 * pixmap of w x h. */
static void unturn(int r, int w, int h, double x, double y, double *ux,
                   double *uy)
{
    if (r < 0) {
        *ux = h - y - 1;
        *uy = x;
    } else if (r > 0) {
        *ux = y;
        *uy = w - x - 1;
    } else {
        *ux = x;
        *uy = y;
    }
}

/*
 * gimgScreenTrans --
 *	Screen (pixmap) coordinates of an image point.
 */
void gimgScreenTrans(GimgMaster *m, double imageX, double imageY,
                     double *screenX, double *screenY)
{
    double sx = dpScreen(&m->hdp, imageX), sy = dpScreen(&m->vdp, imageY);
    int w = m->imageVp.width, h = m->imageVp.height;
    if (m->rotate < 0) {
        *screenX = sy;
        *screenY = h - sx - 1;
    } else if (m->rotate > 0) {
        *screenX = w - sy - 1;
        *screenY = sx;
    } else {
        *screenX = sx;
        *screenY = sy;
    }
}

/*
 * gimgImageTrans --
 *	Image coordinates of a screen (pixmap) point; the inverse of
 *	gimgScreenTrans.
 */
void gimgImageTrans(GimgMaster *m, double screenX, double screenY,
                    double *imageX, double *imageY)
{
    double sx, sy;
    unturn(m->rotate, m->imageVp.width, m->imageVp.height, screenX, screenY,
           &sx, &sy);
    *imageX = dpImage(&m->hdp, sx);
    *imageY = dpImage(&m->vdp, sy);
}

/*
 * gimgCoordinate --
 *	Reads a screen point, rounds it half away from zero and turns it
 *	back into unturned integer screen coordinates.
 * Results:
 *	TCL_OK, or TCL_ERROR with Tcl's message for a non-number.
 */
int gimgCoordinate(GimgMaster *m, const char *xText, const char *yText,
                   int *x, int *y)
{
    double fx, fy;
    if (Tcl_GetDouble(m->interp, xText, &fx) != TCL_OK
            || Tcl_GetDouble(m->interp, yText, &fy) != TCL_OK)
        return TCL_ERROR;
    double ux, uy;
    unturn(m->rotate, m->imageVp.width, m->imageVp.height, std::round(fx),
           std::round(fy), &ux, &uy);
    *x = (int)ux;
    *y = (int)uy;
    return TCL_OK;
}

/* ---- pair-list subcommands ------------------------------------------ */

typedef void (PointConversion)(GimgMaster *m, double x, double y,
                               double *outX, double *outY);

static void canvasToImage(GimgMaster *m, double x, double y, double *ox,
                          double *oy)
{
    gimgImageTrans(m, x, y, ox, oy);
}

static void canvasToFile(GimgMaster *m, double x, double y, double *ox,
                         double *oy)
{
    gimgImageTrans(m, x, y, ox, oy);
    *ox += m->block.left;
    *oy += m->block.top;
}

static void canvasToMap(GimgMaster *m, double x, double y, double *ox,
                        double *oy)
{
    double ix, iy;
    gimgImageTrans(m, x, y, &ix, &iy);
    *ox = m->block.x0 + ix * m->block.dx;
    *oy = m->block.y0 - iy * m->block.dy;
}

static void imageToCanvas(GimgMaster *m, double x, double y, double *ox,
                          double *oy)
{
    gimgScreenTrans(m, x, y, ox, oy);
}

static void fileToCanvas(GimgMaster *m, double x, double y, double *ox,
                         double *oy)
{
    gimgScreenTrans(m, x - m->block.left, y - m->block.top, ox, oy);
}

static void mapToCanvas(GimgMaster *m, double x, double y, double *ox,
                        double *oy)
{
    gimgScreenTrans(m, (x - m->block.x0) / m->block.dx,
                    (m->block.y0 - y) / m->block.dy, ox, oy);
}

/* Converts every x y pair of argv[2..] and appends "%-.3f %-.3f ". */
static int convertPairs(GimgMaster *m, int argc, const char **argv,
                        PointConversion *convert)
{
    Tcl_Interp *interp = m->interp;
    if ((argc - 2) % 2 != 0)
        return gimgUsage(m, argv, " x y ...", TCL_ERROR);
    std::string out;
    for (int i = 2; i + 1 < argc; i += 2) {
        double x, y;
        if (Tcl_GetDouble(interp, argv[i], &x) != TCL_OK
                || Tcl_GetDouble(interp, argv[i + 1], &y) != TCL_OK)
            return TCL_ERROR;
        double ox, oy;
        convert(m, x, y, &ox, &oy);
        out += fmtString("%-.3f %-.3f ", ox, oy);
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(out.c_str(), -1));
    return TCL_OK;
}

int gimgCanvas2ImageXY(GimgMaster *m, int argc, const char **argv)
{
    return convertPairs(m, argc, argv, canvasToImage);
}

int gimgCanvas2FileXY(GimgMaster *m, int argc, const char **argv)
{
    return convertPairs(m, argc, argv, canvasToFile);
}

int gimgCanvas2MapXY(GimgMaster *m, int argc, const char **argv)
{
    return convertPairs(m, argc, argv, canvasToMap);
}

int gimgImage2CanvasXY(GimgMaster *m, int argc, const char **argv)
{
    return convertPairs(m, argc, argv, imageToCanvas);
}

int gimgScreenXY(GimgMaster *m, int argc, const char **argv)
{
    return gimgImage2CanvasXY(m, argc, argv);
}

int gimgFile2CanvasXY(GimgMaster *m, int argc, const char **argv)
{
    return convertPairs(m, argc, argv, fileToCanvas);
}

int gimgMap2CanvasXY(GimgMaster *m, int argc, const char **argv)
{
    return convertPairs(m, argc, argv, mapToCanvas);
}

/* ---- integer screen points ------------------------------------------ */

/* Image column and row under screen point argv[2], argv[3]: the map
 * entries inside the ports, dpImage outside (rounded when asked). */
static int bitmapPoint(GimgMaster *m, int argc, const char **argv,
                       int rounded, double *column, double *row)
{
    if (argc != 4)
        return gimgUsage(m, argv, " column row", TCL_ERROR);
    int x, y;
    if (gimgCoordinate(m, argv[2], argv[3], &x, &y) != TCL_OK)
        return TCL_ERROR;
    if (x >= 0 && x < m->hdp.size && y >= 0 && y < m->vdp.size) {
        *column = m->hdp.map[x];
        *row = m->vdp.map[y];
    } else {
        *column = dpImage(&m->hdp, x);
        *row = dpImage(&m->vdp, y);
        if (rounded) {
            *column = std::round(*column);
            *row = std::round(*row);
        }
    }
    return TCL_OK;
}

/* bitmap2file, filexy: column row -> "%d %d" file coordinates. */
int gimgBitmap2FileXY(GimgMaster *m, int argc, const char **argv)
{
    double c, r;
    if (bitmapPoint(m, argc, argv, 1, &c, &r) != TCL_OK)
        return TCL_ERROR;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d %d", (int)c + m->block.left,
                  (int)r + m->block.top);
    Tcl_SetObjResult(m->interp, Tcl_NewStringObj(buf, -1));
    return TCL_OK;
}

/* bitmap2map, mapxy: column row -> "%13.3f %13.3f" map coordinates. */
int gimgBitmap2MapXY(GimgMaster *m, int argc, const char **argv)
{
    double c, r;
    if (bitmapPoint(m, argc, argv, 0, &c, &r) != TCL_OK)
        return TCL_ERROR;
    /* Any magnitude in full: %f of a large value runs to many digits. */
    std::string text = fmtString("%13.3f %13.3f",
                                 m->block.x0 + c * m->block.dx,
                                 m->block.y0 - r * m->block.dy);
    Tcl_SetObjResult(m->interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_OK;
}

/* ---- orientation ---------------------------------------------------- */

/* (xflip, yflip, rotate) after a clockwise and after a counter-clockwise
 * turn, indexed by 6 xflip + 3 yflip + rotate + 1. */
static const signed char turnRight[12][3] = {
    {0, 0, 0}, {0, 0, 1}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {1, 0, 0},
    {1, 0, 0}, {1, 0, 1}, {0, 1, 0}, {1, 1, 0}, {0, 0, -1}, {0, 0, 0},
};
static const signed char turnLeft[12][3] = {
    {1, 1, 0}, {0, 0, -1}, {0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 1, 0},
    {0, 1, 0}, {1, 0, -1}, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, {1, 1, 0},
};

/*
 * gimgRotate --
 *	rotate ?right|left|xflip|yflip?: turns or mirrors the picture as
 *	shown on the screen and runs the configuration pass.
 */
int gimgRotate(GimgMaster *m, int argc, const char **argv)
{
    if (argc > 3)
        return gimgUsage(m, argv, " option", TCL_ERROR);
    const char *word = argc == 3 ? argv[2] : "right";
    int xflip = m->hdp.flip ? 1 : 0, yflip = m->vdp.flip ? 1 : 0;
    int turn = m->rotate < 0 ? -1 : m->rotate > 0 ? 1 : 0;
    int state = 6 * xflip + 3 * yflip + turn + 1;
    if (strcasecmp(word, "right") == 0 || strcasecmp(word, "left") == 0) {
        const signed char *to = strcasecmp(word, "right") == 0
                                    ? turnRight[state]
                                    : turnLeft[state];
        m->rotate = to[2];
        xflip = to[0];
        yflip = to[1];
    } else if (strcasecmp(word, "xflip") == 0
               || strcasecmp(word, "yflip") == 0) {
        int screenX = strcasecmp(word, "xflip") == 0;
        if (screenX == (turn == 0))
            xflip = !xflip;
        else
            yflip = !yflip;
    } else {
        Tcl_AppendResult(m->interp, "Unknown option: ", word, nullptr);
        return TCL_ERROR;
    }
    m->xflip = xflip;
    m->yflip = yflip;
    return gimgConfig(m);
}
