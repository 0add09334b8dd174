/*
 * gimgInt.h --
 *
 *	The records of the gimg image type, shared by its modules: the master
 *	(one per image) with its display state, the instance (one per widget
 *	showing the image), the display ports and view ports that hold the
 *	geometry, the bit masks and polygons of the masks, and the procedures
 *	the modules call on each other.  Lookups and palettes are declared in
 *	gimgLookup.h, rendering in gimgRender.h, masks in gimgMask.h.
 */
#ifndef VELK_GIMGINT_H
#define VELK_GIMGINT_H

#include <tk.h>
#include <X11/Xutil.h>

#include "core/ramimg.h"
#include "gimg/gimgTable.h"

/* Size of the registry of masters. */
#define GIMG_MAX_IMAGES 5120

/* Length of the master's name fields. */
#define GIMG_NAME_SIZE 128

/* Palette flag bits. */
enum {
    GIMG_PAL_GREY = 1,      /* grey levels requested */
    GIMG_PAL_RED = 2,       /* more than one red level */
    GIMG_PAL_GREEN = 4,     /* more than one green level */
    GIMG_PAL_BLUE = 8       /* more than one blue level */
};

/* The five bit masks of a master, in their order in the master. */
enum {
    GIMG_MASK_COMBINED = 0, GIMG_MASK_FRAME, GIMG_MASK_CLIP,
    GIMG_MASK_FILE, GIMG_MASK_DATA, GIMG_NMASKS
};

struct GimgMaster;

/* One widget showing the image. */
struct GimgInstance {
    GimgMaster *master;     /* the image it shows */
    Tk_Window tkwin;        /* the widget's window */
    GimgInstance *next;     /* next instance of the master, newest first */
};

/* Screen columns (or rows) to image columns (or rows), before the quarter
 * turn.  All zero after dpInit; the map is owned by the port. */
struct DisplayPort {
    int *map;               /* size entries: screen index -> image index */
    int size;               /* screen pixels */
    int start;              /* first image index */
    int flip;               /* non-zero: mirrored */
    double mag;             /* screen pixels per image pixel */
};

/* An off-screen drawable of a master: the image pixmap, or a depth-1
 * bitmap of the masks. */
struct ViewPort {
    Display *display;
    Drawable drawable;      /* what the pixmap is created for (main window) */
    Pixmap pixmap;          /* 0 until first needed */
    int depth;
    int width, height;
    int xOffset, yOffset;   /* where rendering puts the image in the pixmap */
    int valid;              /* set by whoever draws the contents */
};

/* A one-bit raster of the masks. */
struct BitMask {
    int width, height;      /* pixels, rows */
    int bitOrder;           /* 0: bit 0 is the leftmost pixel; 1: bit 7 */
    int bitmapUnit;         /* 8 */
    int bytesPerRow;        /* (width + 7) / 8 */
    int borrowed;           /* 1: bits belong to a raster record */
    unsigned char *bits;    /* rows x bytesPerRow, null while closed */
};

struct PolygPoint {
    short x, y;
};

/* A polygon, or a run list (points in pairs start, end on one row). */
struct Polyg {
    int capacity;           /* points allocated */
    int count;              /* points in use */
    PolygPoint *points;
    Polyg *next;            /* next polygon of a list */
};

/* One gimg image.  Fields in the order of their groups; option fields
 * (group 13, and those stored in `block`) carry the option's name. */
struct GimgMaster {
    /* 1. Identity. */
    Tk_ImageMaster tkMaster;    /* null once Tk deletes the image */
    Tcl_Interp *interp;
    Tcl_Command imageCmd;       /* null once the command is deleted */
    Tk_Window tkwin;            /* main window of the application */
    char name[GIMG_NAME_SIZE];  /* image name */
    char srcName[GIMG_NAME_SIZE]; /* gimg whose record this one shows
                                 * (copy, crop); empty when none */

    /* 2. Raster references (each may be null). */
    RAMImage *rimg;             /* main image: the record shown */
    RAMImage *maskFileImg;      /* record named by -maskfile */
    RAMImage *maskRimg;         /* one-bit memory raster of the masks */

    /* 3. X context. */
    Display *display;
    Colormap colormap;
    int depth;                  /* screen depth */
    int test;                   /* -test: stored only */

    /* 4. Client records, one per raster reference. */
    RAMImageClient client;          /* main image */
    RAMImageClient maskClient;      /* mask raster */
    RAMImageClient maskFileClient;  /* mask-file image */

    /* 5. Instances and colours. */
    GimgInstance *instancePtr;  /* newest first */
    GC gc;                      /* image GC, None until made */
    XColor *fgColor;            /* allocated -foreground */
    XColor *bgColor;            /* allocated -background */

    /* 6. The displayed record's description ("the block"); the raw
     * description options live here. */
    ImageInfo block;

    /* 7. View ports. */
    ViewPort maskVp;            /* mask bitmap, depth 1 */
    ViewPort imageVp;           /* image pixmap, screen depth */
    ViewPort frameVp;           /* frame bitmap, depth 1 */

    /* 8. Display ports. */
    DisplayPort hdp;            /* screen column -> image column */
    DisplayPort vdp;            /* screen row -> image row */

    /* 9. Overlays (read-out subcommands). */
    GC drawGC;

    /* 10. Display state of lookups and rendering. */
    int nDispBands;             /* displayed bands */
    int dispBands[3];           /* 0-based bands per channel, -1 off */
    int cachedLayer;            /* -layer of the last palette rebuild */
    int outA, outB;             /* output range, 0..255 at creation */
    int palFlags;               /* GIMG_PAL_* */
    double low[3], high[3];     /* channel ranges in force */
    double cachedFilter;        /* filter strength of the last pass */
    int palCount;               /* cells in the palette, 0 when none */
    unsigned char transTable[3][256];   /* packing for bilevel output */
    unsigned char funcTable[3][256];    /* display value per bin */
    signed char ditherResidual[3][256];
    unsigned char ditherIndex[3][256];
    signed char palResidual[256][3];    /* requested minus allocated */
    unsigned char lut[3][256];  /* channel lookups, identity at creation */

    /* 11. Palette and rendering state. */
    unsigned long *palette;     /* allocated pixel values, null when none */
    int cachedDither;           /* -dither of the last palette rebuild */
    int cachedPal[4];           /* grey, red, green, blue levels */
    int directCT;               /* direct colour-table mode */
    Visual *visual;
    XImage *ximage;             /* transfer image; data unset between builds */
    Region wholeRegion;         /* rectangle of the pixmap, may be null */
    Region clipRegion;          /* region of the clip polygons, may be null */
    int cachedFilterOn;         /* a filter was on at the last rebuild */
    int instanceCount;
    int pixmapValid;
    int funcInForce;            /* enhancement function in force */
    int transparentInForce;     /* -1 none */
    double filterStrength;      /* -emboss or -sharpness in force */
    int filterBg;               /* filter background in force, -1 emboss */
    int paletteBuilt;           /* the palette inputs were recorded */

    /* 12. Masks. */
    BitMask masks[GIMG_NMASKS]; /* combined, frame, clip, file, data */
    unsigned char classVisible[256];    /* 1 visible, 0 hidden */
    unsigned char maskClassTable[256];  /* from -maskclass */
    int cachedMaskImgBand;
    int maskMode;               /* 1 at creation; negative: switched off */
    int maskBitmapValid;
    Pixmap stippleBitmap;       /* None when none */
    GC maskGC;                  /* for depth-1 drawables */
    Polyg *clipPolygs;          /* image coordinates */
    Polyg *framePolygs;         /* screen (or image, dynamic) coordinates */
    int clipXor;                /* 1 exclusive or, 0 or */
    int frameXor;
    int frameDynamic;

    /* Animation (read-out subcommands). */
    int animDelay;              /* ms; -1 stopped, -2 the record's own */
    int animRepeat;             /* 1 at creation; negative: no end */
    Tcl_TimerToken animTimer;   /* pending step, null for an idle call */
    int animIdle;               /* an idle step is pending */

    /* 13. Options, in the order of gimgConfigSpecs. */
    Tk_Uid bgUid;               /* -background */
    Tk_Uid fgUid;               /* -foreground */
    char *file;                 /* -file, null when empty */
    char *maskFile;             /* -maskfile */
    char *maskClass;            /* -maskclass */
    char *data;                 /* -data, consumed at configuration */
    /* -mapid -imgid -offset -pixel -nbands -msbf -rows -columns -left -top
     * -x0 -y0 -dx -dy: in block */
    int func;                   /* -func */
    int range;                  /* -range */
    double std;                 /* -std */
    int autod;                  /* -autod */
    int update;                 /* -update */
    int width, height;          /* -width -height */
    double mx, my;              /* -mx -my */
    int sr, sc;                 /* -sr -sc */
    double lowOpt[3];           /* -low0 -low1 -low2 */
    double highOpt[3];          /* -high0 -high1 -high2 */
    int pal[4];                 /* -palette: -1,0,0,0 Default; n,0,0,0
                                 * grey; 0,r,g,b cube */
    int layer;                  /* -layer */
    int comb[4];                /* -comb: count, then three bands */
    int maxw, maxh;             /* -maxw -maxh */
    int dither;                 /* -dither */
    double dg;                  /* -dg */
    int gmid;                   /* -gmid */
    double gamma;               /* -gamma */
    double contrast;            /* -contrast */
    double bright;              /* -bright */
    double sharpness;           /* -sharpness */
    double emboss;              /* -emboss */
    int filterDir;              /* -filterdir */
    int filterBgOpt;            /* -filterbg */
    int yflip, xflip;           /* -yflip -xflip */
    int rotate;                 /* -rotate */
    int tile;                   /* -tile */
    int tw, th;                 /* -tw -th */
    int turbo;                  /* -turbo */
    int maskOn;                 /* -maskon */
    int maskOpaque;             /* -maskopaque */
    int maskImgBand;            /* -maskimgband */
    Tk_Uid stippleUid;          /* -stipple */
};

/* An image subcommand: argv[0] the image name, argv[1] the subcommand. */
typedef int (GimgSubCmdProc)(GimgMaster *m, int argc, const char **argv);

/* ---- gimg.cpp: type, registry, lifecycle ---------------------------- */
extern GimgMaster **gimgClient;
extern Tk_ImageType tkGimgImageType;

int gimgAdd(GimgMaster *m);
void gimgErase(GimgMaster *m);
GimgMaster *gimgGetByName(Tcl_Interp *interp, const char *name);
void gimgNames(Tcl_Interp *interp);
int gimgGetGC(GimgMaster *m);
int gimgInitDrawGC(GimgMaster *m);
void gimgRedrawDisplay(GimgMaster *m);
int gimgUpdateClient(GimgMaster *m);
void gimgUpdateDisplay(GimgMaster *m);
int gimgConfigBmpMask(GimgMaster *m);
void gimgCmdDeletedProc(ClientData clientData);
void gimgDisplay(ClientData instance, Display *display, Drawable drawable,
                 int imageX, int imageY, int width, int height,
                 int drawableX, int drawableY);
void gimgDisplay0(ClientData instance, Display *display, Drawable drawable,
                  int imageX, int imageY, int width, int height,
                  int drawableX, int drawableY);
/* Copies an area of the rendered pixmap into a drawable as the display
 * procedure does (mask clip, opaque background, tiles). */
void gimgDraw(GimgMaster *m, Tk_Window tkwin, Drawable drawable, int imageX,
              int imageY, int width, int height, int drawableX,
              int drawableY);
/* Renders the pixmap for every instance of m; 1 when one was rendered. */
int gimgRenderInstances(GimgMaster *m);

/* ---- gimgConfig.cpp: options and the configuration pipeline --------- */
extern Tk_ConfigSpec gimgConfigSpecs[];
int gimgConfigureMaster(GimgMaster *m, int argc, const char **argv,
                        int flags);
int gimgConfig(GimgMaster *m);
int gimgConfigByRimg(GimgMaster *m);
/* The colour of the shown record's transparent index into the block's
 * colour table (-background, or TRANSPARENT_GIF_COLOR for GIF files). */
void gimgTransparentColour(GimgMaster *m);
/* Sets a string option field (-file ...) to a copy of value. */
void gimgSetStringOption(char **field, const char *value);

/* ---- gimgCmd.cpp: the image command --------------------------------- */
int gimgCmd(ClientData clientData, Tcl_Interp *interp, int argc,
            const char **argv);
/* "Usage: " name " " subcommand tail as the result; returns code. */
int gimgUsage(GimgMaster *m, const char **argv, const char *tail, int code);

/* ---- gimgPort.cpp: display ports and view ports --------------------- */
void dpInit(DisplayPort *p);
DisplayPort *dpCreate(void);
void dpClose(DisplayPort *p);
void dpDelete(DisplayPort *p);
DisplayPort *dpOpen(DisplayPort *p, int size, int start, int flip,
                    double mag);
void dpRange(const DisplayPort *p, int limit, int *first, int *last);
double dpScreen(const DisplayPort *p, double v);
double dpImage(const DisplayPort *p, double s);
void vpInit(ViewPort *p, Display *display);
ViewPort *vpCreate(Display *display);
int vpOpen(ViewPort *p, Drawable drawable, int width, int height, int depth,
           int xOffset, int yOffset);
Pixmap vpPixmap(ViewPort *p);
void vpClose(ViewPort *p);
void vpDelete(ViewPort *p);

/* ---- gimgCoord.cpp: coordinates and orientation --------------------- */
void gimgScreenTrans(GimgMaster *m, double imageX, double imageY,
                     double *screenX, double *screenY);
void gimgImageTrans(GimgMaster *m, double screenX, double screenY,
                    double *imageX, double *imageY);
int gimgCoordinate(GimgMaster *m, const char *xText, const char *yText,
                   int *x, int *y);
GimgSubCmdProc gimgCanvas2ImageXY, gimgCanvas2FileXY, gimgCanvas2MapXY,
    gimgImage2CanvasXY, gimgFile2CanvasXY, gimgMap2CanvasXY,
    gimgBitmap2FileXY, gimgBitmap2MapXY, gimgScreenXY, gimgRotate;

#endif
