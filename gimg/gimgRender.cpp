/*
 * gimgRender.cpp --
 *
 *	Rendering of a gimg image into the pixmap of its image view port.
 *	The pixmap is built in strips (blocks of screen rows when turned) of
 *	the master's transfer image: for each screen row one source row per
 *	displayed channel is read through the line access and sampled through
 *	the display ports (gimgSample.cpp), then filtered, combined and
 *	packed (gimgFilter.cpp, gimgPack.cpp), and each full strip is turned
 *	when -rotate asks for it and put.  Then the stipple overlay and the
 *	mask bitmaps (gimgMask.h) are made.
 *
 *	Design notes:
 *	 1. Reading (the raster store) happens on the calling thread; the
 *	    per-row arithmetic of a strip runs on rowThreads.h workers, each
 *	    row computed from buffers no other row writes, so the result does
 *	    not depend on the thread count.  Error diffusion carries state
 *	    from row to row and stays on one thread.
 *	 2. A row that shows the same image row as the row above is a copy of
 *	    that row; it is neither read nor filtered again, and the filter's
 *	    row above is always the last row that was read.
 *	 3. On a local display the strips go through two shared-memory
 *	    transfer images (MIT-SHM), one being filled while the server
 *	    copies the other; they are kept between builds and grow to the
 *	    largest strip asked for.  Elsewhere, or with VELK_NO_SHM set, the
 *	    master's transfer image gets a data buffer for the build.
 */
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "core/stdstream.h"
#include "core/velkDisplay.h"
#include "gimg/gimgInt.h"
#include "gimg/gimgMask.h"
#include "gimg/gimgRender.h"
#include "gimg/gimgRow.h"

/* ---------------------------------------------------------------------
 * Timing hook of the benchmarks
 * --------------------------------------------------------------------- */

static GimgRenderTimes renderTimes;

static double secondsNow(void)
{
    return std::chrono::duration<double>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

GimgRenderTimes gimgRenderTimes(int reset)
{
    GimgRenderTimes t = renderTimes;
    if (reset)
        renderTimes = GimgRenderTimes();
    return t;
}

/* ---------------------------------------------------------------------
 * Transfer images
 * --------------------------------------------------------------------- */

/* The shared-memory transfer images of the process (design note 3). */
struct ShmTransfer {
    Display *display;
    Visual *visual;
    int depth;
    int width, height;          /* of each image */
    XShmSegmentInfo segment[2];
    XImage *image[2];
    int pending[2];             /* a put from this image may be unread */
    int unusable;               /* the display refused: do not try again */
};
static ShmTransfer shm;

/* Transfer images above this size (bytes) are not kept between builds:
 * -turbo over a large pixmap uses a buffer of the build. */
static const double shmLargest = 16.0 * 1024 * 1024;

static int shmFailed;
static int shmErrorProc(ClientData, XErrorEvent *)
{
    shmFailed = 1;
    return 0;
}

/* Forgets the images (the segments were marked for removal at creation,
 * so they vanish once both sides have detached). */
static void shmRelease(bool detachServer)
{
    for (int k = 0; k < 2; k++) {
        if (!shm.image[k])
            continue;
        if (detachServer)
            XShmDetach(shm.display, &shm.segment[k]);
        shmdt(shm.segment[k].shmaddr);
        shm.image[k]->data = nullptr;
        XDestroyImage(shm.image[k]);
        shm.image[k] = nullptr;
        shm.pending[k] = 0;
    }
    if (detachServer && shm.display)
        XSync(shm.display, False);
}

/* One shared image of width x height, attached to the server. */
static bool shmCreate(int k, int width, int height)
{
    XShmSegmentInfo &s = shm.segment[k];
    XImage *image = XShmCreateImage(shm.display, shm.visual,
                                    (unsigned)shm.depth, ZPixmap, nullptr,
                                    &s, (unsigned)width, (unsigned)height);
    if (!image)
        return false;
    size_t bytes = (size_t)image->bytes_per_line * (size_t)height;
    s.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (s.shmid < 0) {
        XDestroyImage(image);
        return false;
    }
    s.shmaddr = image->data = static_cast<char *>(shmat(s.shmid, nullptr, 0));
    s.readOnly = True;
    if (s.shmaddr == (char *)-1) {
        shmctl(s.shmid, IPC_RMID, nullptr);
        image->data = nullptr;
        XDestroyImage(image);
        return false;
    }
    shmFailed = 0;
    Tk_ErrorHandler h = Tk_CreateErrorHandler(shm.display, -1, -1, -1,
                                              shmErrorProc, nullptr);
    Status attached = XShmAttach(shm.display, &s);
    XSync(shm.display, False);
    Tk_DeleteErrorHandler(h);
    shmctl(s.shmid, IPC_RMID, nullptr);
    if (!attached || shmFailed) {
        shmdt(s.shmaddr);
        image->data = nullptr;
        XDestroyImage(image);
        return false;
    }
    shm.image[k] = image;
    shm.pending[k] = 0;
    return true;
}

/* Shared images of at least width x height for the display, or false
 * when shared memory is not to be had. */
static bool shmReady(Display *display, Visual *visual, int depth, int width,
                     int height)
{
    if (std::getenv("VELK_NO_SHM") || depth < 8)
        return false;
    if (shm.display != display) {
        if (shm.display)
            shmRelease(false);      /* that connection may be gone */
        std::memset(&shm, 0, sizeof shm);
        shm.display = display;
        int major, minor;
        Bool pixmaps;
        if (!XShmQueryVersion(display, &major, &minor, &pixmaps))
            shm.unusable = 1;
    }
    if (shm.unusable)
        return false;
    if ((double)width * height * (depth > 16 ? 4 : 2) > shmLargest)
        return false;
    if (shm.image[0] && shm.visual == visual && shm.depth == depth
        && shm.width >= width && shm.height >= height)
        return true;
    shmRelease(true);
    shm.visual = visual;
    shm.depth = depth;
    shm.width = width;
    shm.height = height;
    if (!shmCreate(0, width, height)) {
        shm.unusable = 1;
        return false;
    }
    if (!shmCreate(1, width, height)) {
        shmRelease(true);
        shm.unusable = 1;
        return false;
    }
    return true;
}

/* ---------------------------------------------------------------------
 * One build
 * --------------------------------------------------------------------- */

namespace {

enum RowKind { ROW_BLACK, ROW_READ, ROW_COPY };

/* One line read of a screen row: into channel row `channel`, from band
 * `band`, through `table` (null: the value itself). */
struct ChannelRead {
    int channel;
    int band;
    const unsigned char *table;
};
enum Mode { MODE_TRUE, MODE_PALETTE, MODE_DITHER };

struct Build {
    GimgMaster *m;          /* tables, palette, filter */
    GimgMaster *dm;         /* the displaying master: pixmap, transfer */
    RAMImage *r;
    const int *xmap, *ymap;
    int W, H;               /* unturned screen size */
    int first, last;        /* screen columns inside the image */
    Mode mode;
    int channels;           /* channel rows per screen row */
    int turn;               /* -rotate sign */
    Display *display;
    Drawable drawable;
    GC gc;
    int xOffset, yOffset, vpWidth;
    XImage *xi;             /* the master's transfer image */
    int bitsPerPixel, pixelBytes;
    GimgPixelFormat format;
    int strip;              /* screen rows per strip (block when turned) */
    bool useShm;
    int shmNext;            /* shared image to fill next */
    double strength;
    int filterBg, filterDir;
    int grey;               /* true colour: average the channels */

    ChannelRead reads[3];   /* the line reads of a row */
    int nreads;
    bool components;        /* palette: a layer's components per channel */
    bool copyRaw;           /* rows are fetched as copies of line parts */
    int spanFirstByte, spanBytes;       /* the part of each line copied */
    std::vector<int> spanMap;           /* screen column -> column in it */
    std::vector<unsigned char> raw;     /* strip x reads x spanBytes */
    std::vector<bool> fetched;          /* row i has copies to sample */

    std::vector<unsigned char> values;  /* strip x channels x W, unfiltered */
    std::vector<RowKind> kinds;
    std::vector<int> above;     /* the read row above each row: strip index,
                                 * -1 the carried row, -2 none */
    std::vector<unsigned char> carry;   /* values of the last read row */
    bool haveCarry;
    std::vector<unsigned char> index;   /* palette: strip x W indices */
    std::vector<unsigned char> assembly; /* turned: strip x W x pixel */
    std::vector<unsigned char> turned;   /* palette turned: W x strip */
    std::vector<unsigned char> lastRow;  /* output of the last row */
    std::vector<signed char> errors;     /* dithering: channels x (W+2) */
    std::vector<unsigned char> previous; /* dithering: filter rows above */
    bool firstFiltered;
};

}  // namespace

/* The band a channel reads: the layer when one is shown. */
static int readBand(const GimgMaster *m, int c)
{
    return m->cachedLayer > 0 ? m->cachedLayer - 1 : m->dispBands[c];
}

/*
 * planReads --
 *	The line reads of one screen row: true colour reads each channel
 *	that shows a band, in ascending band order (rows of one band follow
 *	each other in the line cache); palettes read each channel through its
 *	table, or raw values for dithering and filters, and with a filter and
 *	a layer the layer once (its components are taken afterwards).
 */
static void planReads(Build &b)
{
    GimgMaster *m = b.m;
    b.nreads = 0;
    if (b.mode == MODE_TRUE) {
        int order[3] = {0, 1, 2};
        std::stable_sort(order, order + 3, [m](int x, int y) {
            return m->dispBands[x] < m->dispBands[y];
        });
        for (int c : order)
            if (m->dispBands[c] >= 0)
                b.reads[b.nreads++] = {c, readBand(m, c), m->funcTable[c]};
        return;
    }
    bool raw = b.mode == MODE_DITHER || b.strength != 0;
    b.components = b.strength != 0 && m->cachedLayer > 0
                   && m->block.nindices > 0;
    for (int j = 0; j < b.channels; j++)
        if (!b.components || j == 0)
            b.reads[b.nreads++] = {j, readBand(m, j),
                                   raw ? nullptr : m->funcTable[j]};
}

/*
 * planSpans --
 *	Whether rows are fetched as copies of the part of each line the
 *	display port shows, to be sampled by the workers, and the map into
 *	those copies.  Too wide a part (a strongly reduced view of a wide
 *	image) is sampled on the calling thread instead.
 */
static void planSpans(Build &b)
{
    b.copyRaw = false;
    if (b.first >= b.last)
        return;
    int lo = b.xmap[b.first], hi = lo;
    for (int x = b.first; x < b.last; x++) {
        lo = std::min(lo, b.xmap[x]);
        hi = std::max(hi, b.xmap[x]);
    }
    int columns = b.r->info.columns, pixel = b.r->info.pixel;
    if (lo < 0 || hi >= columns)
        return;
    int align = pixel == PIXEL_1BIT ? 8 : pixel == PIXEL_4BITS ? 2 : 1;
    lo -= lo % align;
    int bits = pixelBits(pixel);
    if (bits < 1)
        return;
    int firstByte = (int)((int64_t)lo * bits / 8);
    int endByte = (int)(((int64_t)hi * bits + bits + 7) / 8);
    double bytes = (double)(endByte - firstByte) * b.nreads * b.strip;
    if (bytes > 32.0 * 1024 * 1024)
        return;
    b.spanFirstByte = firstByte;
    b.spanBytes = endByte - firstByte;
    b.spanMap.resize((size_t)b.W);
    for (int x = b.first; x < b.last; x++)
        b.spanMap[(size_t)x] = b.xmap[x] - lo;
    b.raw.resize((size_t)b.spanBytes * b.nreads * b.strip);
    b.copyRaw = true;
}

/* Zeroes the channels no read fills and takes the colour-table
 * components of a layer read once (channel 0 holds its indices). */
static void completeRow(const Build &b, unsigned char *out)
{
    const GimgMaster *m = b.m;
    int W = b.W;
    if (b.mode == MODE_TRUE) {
        for (int c = 0; c < 3; c++)
            if (m->dispBands[c] < 0)
                std::memset(out + (size_t)c * W, 0, (size_t)W);
        return;
    }
    if (!b.components)
        return;
    for (int j = b.channels - 1; j >= 0; j--) {
        int comp = ((m->dispBands[j] % 3) + 3) % 3;
        unsigned char *o = out + (size_t)j * W;
        for (int x = 0; x < W; x++)
            o[x] = m->block.palette[out[x]][comp];
    }
}

/* Reads image row `row` for strip row i: copies of the shown parts of
 * its lines, or (no copies) its channel values sampled here. */
static void fetchRow(Build &b, int row, int i, unsigned char *out)
{
    const GimgMaster *m = b.m;
    for (int k = 0; k < b.nreads; k++) {
        const ChannelRead &rd = b.reads[k];
        if (b.copyRaw) {
            const unsigned char *line = b.r->getLine(b.r, row, rd.band, 1);
            unsigned char *copy =
                b.raw.data() + ((size_t)i * b.nreads + k) * b.spanBytes;
            if (line)
                std::memcpy(copy, line + b.spanFirstByte,
                            (size_t)b.spanBytes);
            else
                std::memset(copy, 0, (size_t)b.spanBytes);
        } else {
            getDataForDisp(b.r, row, rd.band, b.xmap, b.first, b.last, b.W,
                           m->low[rd.channel], m->high[rd.channel], rd.table,
                           out + (size_t)rd.channel * b.W);
        }
    }
    if (!b.copyRaw)
        completeRow(b, out);
}

/* The channel values of strip row i from its fetched copies. */
static void sampleRow(const Build &b, int i, unsigned char *out)
{
    const GimgMaster *m = b.m;
    const RAMImage *r = b.r;
    for (int k = 0; k < b.nreads; k++) {
        const ChannelRead &rd = b.reads[k];
        gimgSampleRow(b.raw.data() + ((size_t)i * b.nreads + k) * b.spanBytes,
                      r->info.pixel, r->info.msbf, b.spanMap.data(), b.first,
                      b.last, b.W, m->low[rd.channel], m->high[rd.channel],
                      rd.table, out + (size_t)rd.channel * b.W);
    }
    completeRow(b, out);
}

/* The unfiltered channel values of the row above strip row i. */
static const unsigned char *aboveValues(const Build &b, int i)
{
    size_t rowBytes = (size_t)b.channels * b.W;
    if (b.above[i] >= 0)
        return b.values.data() + (size_t)b.above[i] * rowBytes;
    if (b.above[i] == -1)
        return b.carry.data();
    return nullptr;
}

/* Rows a worker filters in: three channel rows and the rows above. */
struct Scratch {
    std::vector<unsigned char> work, prev;
    explicit Scratch(int W) : work((size_t)3 * W), prev((size_t)W) {}
};

/* One true-colour row: filter, combine and pack into out. */
static void trueColourRow(const Build &b, int i, Scratch &s,
                          unsigned char *out)
{
    const GimgMaster *m = b.m;
    int W = b.W;
    size_t rowBytes = (size_t)3 * W;
    const unsigned char *v = b.values.data() + (size_t)i * rowBytes;
    const unsigned char *up = aboveValues(b, i);
    std::vector<unsigned char> &work = s.work, &prev = s.prev;
    if (b.grey) {
        gimgGreyRow(W, v, v + W, v + 2 * W, m->nDispBands, work.data());
        if (b.strength != 0) {
            if (up)
                gimgGreyRow(W, up, up + W, up + 2 * W, m->nDispBands,
                            prev.data());
            filter4(W, work.data(), prev.data(), b.strength, b.filterBg,
                    !up, b.filterDir);
        }
        gimgPackRow(&b.format, W, work.data(), work.data(), work.data(),
                    out);
        return;
    }
    std::memcpy(work.data(), v, rowBytes);
    if (b.strength != 0) {
        for (int c = 0; c < 3; c++) {
            if (m->dispBands[c] < 0)
                continue;
            if (up)
                std::memcpy(prev.data(), up + (size_t)c * W, (size_t)W);
            filter4(W, work.data() + (size_t)c * W, prev.data(), b.strength,
                    b.filterBg, !up, b.filterDir);
        }
    }
    gimgPackRow(&b.format, W, work.data(), work.data() + W,
                work.data() + 2 * W, out);
}

/* One undithered palette row: palette indices into out. */
static void paletteRow(const Build &b, int i, Scratch &s,
                       unsigned char *out)
{
    const GimgMaster *m = b.m;
    int W = b.W, n = b.channels;
    size_t rowBytes = (size_t)n * W;
    const unsigned char *v = b.values.data() + (size_t)i * rowBytes;
    if (b.strength == 0) {
        std::memcpy(out, v, (size_t)W);
        for (int j = 1; j < n; j++)
            for (int x = 0; x < W; x++)
                out[x] = (unsigned char)(out[x] + v[(size_t)j * W + x]);
        return;
    }
    const unsigned char *up = aboveValues(b, i);
    std::vector<unsigned char> &work = s.work, &prev = s.prev;
    std::memset(out, 0, (size_t)W);
    for (int j = 0; j < n; j++) {
        std::memcpy(work.data(), v + (size_t)j * W, (size_t)W);
        if (up)
            std::memcpy(prev.data(), up + (size_t)j * W, (size_t)W);
        filter4(W, work.data(), prev.data(), b.strength, b.filterBg, !up,
                b.filterDir);
        const unsigned char *t = m->funcTable[j];
        for (int x = 0; x < W; x++)
            out[x] = (unsigned char)(out[x] + t[work[x]]);
    }
}

/* One dithered palette row (in order; state in b.errors, b.previous). */
static void ditherRow(Build &b, int i, int screenRow, unsigned char *out)
{
    GimgMaster *m = b.m;
    int W = b.W;
    const unsigned char *v =
        b.values.data() + (size_t)i * b.channels * (size_t)W;
    std::vector<unsigned char> work((size_t)W);
    std::memset(out, 0, (size_t)W);
    for (int j = 0; j < b.channels; j++) {
        std::memcpy(work.data(), v + (size_t)j * W, (size_t)W);
        if (b.strength != 0)
            filter4(W, work.data(), b.previous.data() + (size_t)j * W,
                    b.strength, b.filterBg, b.firstFiltered, b.filterDir);
        dithering3(W, out, work.data(), m->funcTable[j], m->ditherIndex[j],
                   m->ditherResidual[j],
                   b.errors.data() + (size_t)j * (W + 2), m->cachedDither,
                   screenRow & 1);
    }
    b.firstFiltered = false;
}

/* Where row i of the strip is assembled, and its stride. */
static unsigned char *outRow(Build &b, unsigned char *data, int stride, int i)
{
    if (b.mode != MODE_TRUE)
        return b.index.data() + (size_t)i * b.W;
    if (b.turn)
        return b.assembly.data() + (size_t)i * b.W * b.pixelBytes;
    return data + (size_t)i * stride;
}

/* The transfer image for the next strip (its data and stride). */
static XImage *transferImage(Build &b)
{
    if (!b.useShm)
        return b.xi;
    int k = b.shmNext;
    if (shm.pending[k]) {
        double t = secondsNow();
        XSync(b.display, False);
        shm.pending[0] = shm.pending[1] = 0;
        renderTimes.transfer += secondsNow() - t;
    }
    return shm.image[k];
}

/* Puts width x height of image at (x, y) of the drawable. */
static void transferPut(Build &b, XImage *image, int x, int y, int width,
                        int height)
{
    double t = secondsNow();
    if (b.useShm) {
        XShmPutImage(b.display, b.drawable, b.gc, image, 0, 0, x, y,
                     (unsigned)width, (unsigned)height, False);
        shm.pending[b.shmNext] = 1;
        b.shmNext ^= 1;
    } else {
        XPutImage(b.display, b.drawable, b.gc, image, 0, 0, x, y,
                  (unsigned)width, (unsigned)height);
    }
    renderTimes.transfer += secondsNow() - t;
    renderTimes.puts++;
}

/* Packs palette index rows into transfer rows. */
static void packIndices(const Build &b, const unsigned char *index, int rows,
                        int width, unsigned char *data, int stride)
{
    const unsigned long *palette = b.m->palette;
    unsigned long fallback[256];
    if (!palette) {
        /* No palette could be had: black and white. */
        int screen = DefaultScreen(b.display);
        for (int i = 0; i < 256; i++)
            fallback[i] = i >= 128 ? WhitePixel(b.display, screen)
                                   : BlackPixel(b.display, screen);
        palette = fallback;
    }
    XImage *xi = b.xi;
    for (int i = 0; i < rows; i++)
        gimgPackIndexRow(width, index + (size_t)i * width, palette,
                         b.bitsPerPixel, xi->byte_order == MSBFirst,
                         xi->bitmap_bit_order == MSBFirst,
                         data + (size_t)i * stride);
}

/* Computes, turns and puts one strip of `rows` screen rows from y0. */
static void renderStrip(Build &b, int y0, int rows)
{
    int W = b.W;
    size_t rowBytes = (size_t)b.channels * W;
    double t = secondsNow();

    /* Read (calling thread). */
    int lastRead = b.haveCarry ? -1 : -2;
    bool repeats = false;
    for (int i = 0; i < rows; i++) {
        int y = y0 + i;
        int row = b.ymap[y];
        b.fetched[i] = false;
        if (row < 0 || row >= b.r->info.rows) {
            b.kinds[i] = ROW_BLACK;
            continue;
        }
        if (y > 0 && row == b.ymap[y - 1] && b.mode != MODE_DITHER) {
            b.kinds[i] = ROW_COPY;
            continue;
        }
        b.kinds[i] = ROW_READ;
        b.above[i] = lastRead;
        lastRead = i;
        if (y > 0 && row == b.ymap[y - 1]) {
            repeats = true;     /* dithering: the values of the row above */
            continue;
        }
        fetchRow(b, row, i, b.values.data() + i * rowBytes);
        b.fetched[i] = b.copyRaw;
    }
    if (b.copyRaw)
        rowThreadsRun(rows, 16, [&](int begin, int end) {
            for (int i = begin; i < end; i++)
                if (b.fetched[i])
                    sampleRow(b, i, b.values.data() + i * rowBytes);
        });
    for (int i = 0; repeats && i < rows; i++) {
        int y = y0 + i;
        if (b.kinds[i] == ROW_READ && y > 0 && b.ymap[y] == b.ymap[y - 1])
            std::memcpy(b.values.data() + i * rowBytes,
                        i > 0 ? b.values.data() + (i - 1) * rowBytes
                              : b.carry.data(),
                        rowBytes);
    }

    /* Compute (workers, except error diffusion). */
    XImage *image = transferImage(b);
    unsigned char *data = reinterpret_cast<unsigned char *>(image->data);
    int stride = image->bytes_per_line;
    if (b.mode == MODE_DITHER) {
        for (int i = 0; i < rows; i++)
            if (b.kinds[i] == ROW_READ)
                ditherRow(b, i, y0 + i, outRow(b, data, stride, i));
    } else {
        rowThreadsRun(rows, 16, [&](int begin, int end) {
            Scratch scratch(W);
            for (int i = begin; i < end; i++) {
                if (b.kinds[i] != ROW_READ)
                    continue;
                unsigned char *out = outRow(b, data, stride, i);
                if (b.mode == MODE_TRUE)
                    trueColourRow(b, i, scratch, out);
                else
                    paletteRow(b, i, scratch, out);
            }
        });
    }
    if (lastRead >= 0) {
        std::memcpy(b.carry.data(), b.values.data() + lastRead * rowBytes,
                    rowBytes);
        b.haveCarry = true;
    }

    /* Black rows and copies, in order. */
    size_t outBytes = b.mode == MODE_TRUE ? (size_t)W * b.pixelBytes
                                          : (size_t)W;
    for (int i = 0; i < rows; i++) {
        unsigned char *out = outRow(b, data, stride, i);
        if (b.kinds[i] == ROW_BLACK)
            std::memset(out, 0, outBytes);
        else if (b.kinds[i] == ROW_COPY)
            std::memcpy(out, b.lastRow.data(), outBytes);
        std::memcpy(b.lastRow.data(), out, outBytes);
    }

    /* Turn and pack. */
    int x, y, width, height;
    if (!b.turn) {
        if (b.mode != MODE_TRUE)
            packIndices(b, b.index.data(), rows, W, data, stride);
        x = b.xOffset;
        y = b.yOffset + y0;
        width = W;
        height = rows;
    } else {
        bool left = b.turn < 0;
        if (b.mode == MODE_TRUE) {
            const unsigned char *src = b.assembly.data();
            int srcStride = W * b.pixelBytes;
            if (b.pixelBytes == 2)
                (left ? rotateShortLeft : rotateShortRight)(
                    src, srcStride, rows, W, data, stride);
            else
                (left ? rotateRGBLeft : rotateRGBRight)(
                    src, srcStride, rows, W, data, stride, b.pixelBytes);
        } else {
            (left ? rotateByteLeft : rotateByteRight)(
                b.index.data(), W, rows, W, b.turned.data(), rows);
            packIndices(b, b.turned.data(), W, rows, data, stride);
        }
        x = left ? b.xOffset + y0 : b.xOffset + b.vpWidth - (y0 + rows);
        y = b.yOffset;
        width = rows;
        height = W;
    }
    renderTimes.compute += secondsNow() - t;
    transferPut(b, image, x, y, width, height);
}

/* Stipples the whole pixmap in the foreground colour. */
static void patternMaskPixmap(GimgMaster *dm, Drawable d)
{
    XGCValues v;
    v.foreground = dm->fgColor->pixel;
    v.stipple = dm->stippleBitmap;
    v.fill_style = FillStippled;
    v.graphics_exposures = False;
    GC gc = XCreateGC(dm->display, d,
                      GCForeground | GCStipple | GCFillStyle
                          | GCGraphicsExposures,
                      &v);
    XFillRectangle(dm->display, d, gc, 0, 0, (unsigned)dm->imageVp.width,
                   (unsigned)dm->imageVp.height);
    XFreeGC(dm->display, gc);
}

/*
 * renderPixmap --
 *	The build shared by the four entry points; `name` tells the message
 *	of a missing pixmap.
 * Results:
 *	The drawable, or 0.
 */
static Drawable renderPixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                             int toPixmap, DisplayPort *hdp,
                             DisplayPort *vdp, Mode mode, const char *name)
{
    GimgMaster *dm = inst ? inst->master : m;
    ViewPort *vp = &dm->imageVp;
    Drawable d = 0;
    int xOffset = vp->xOffset, yOffset = vp->yOffset;
    if (toPixmap)
        d = vpPixmap(vp);
    else if (inst && Tk_IsMapped(inst->tkwin))
        d = Tk_WindowId(inst->tkwin);
    if (!d) {
        stderrPrintf("Error in %s: None pixmap...\n", name);
        return 0;
    }
    XImage *xi = dm->ximage;
    if (!r || !xi || !hdp->map || !vdp->map || hdp->size < 1
        || vdp->size < 1)
        return 0;

    Build b;
    b.m = m;
    b.dm = dm;
    b.r = r;
    b.xmap = hdp->map;
    b.ymap = vdp->map;
    b.W = hdp->size;
    b.H = vdp->size;
    dpRange(hdp, r->info.columns, &b.first, &b.last);
    b.mode = mode;
    b.turn = dm->rotate < 0 ? -1 : dm->rotate > 0 ? 1 : 0;
    b.display = dm->display;
    b.drawable = d;
    b.xOffset = xOffset;
    b.yOffset = yOffset;
    b.vpWidth = vp->width;
    b.xi = xi;
    b.bitsPerPixel = xi->bits_per_pixel;
    b.strength = m->filterStrength;
    b.filterBg = m->filterBg;
    b.filterDir = m->filterDir;
    b.grey = (m->palFlags & GIMG_PAL_GREY) && m->nDispBands != 0;
    b.channels = mode == MODE_TRUE ? 3 : std::max(1, std::min(3, m->nDispBands));
    b.strip = b.turn ? xi->width : xi->height;
    if (b.strip < 1)
        return 0;
    b.strip = std::min(b.strip, b.H);
    int transferWidth = b.turn ? b.strip : b.W;
    int transferHeight = b.turn ? b.W : b.strip;
    if (mode == MODE_TRUE) {
        Visual *vis = dm->visual;
        gimgPixelFormatInit(&b.format, xi->bits_per_pixel,
                            xi->byte_order == MSBFirst, vis->red_mask,
                            vis->green_mask, vis->blue_mask, rgb24);
        b.pixelBytes = b.format.bytesPerPixel;
    } else {
        b.pixelBytes = 1;
    }
    if ((b.turn ? xi->height : xi->width) < b.W) {
        stderrPrintf("Error in %s: transfer image of %dx%d for %d columns\n",
                     name, xi->width, xi->height, b.W);
        return 0;
    }

    /* Working memory. */
    std::vector<char> plain;
    b.useShm = shmReady(dm->display, dm->visual, dm->depth, transferWidth,
                        transferHeight);
    b.shmNext = 0;
    if (!b.useShm) {
        plain.resize((size_t)xi->bytes_per_line * xi->height);
        xi->data = plain.data();
    }
    size_t rowBytes = (size_t)b.channels * b.W;
    b.values.resize(rowBytes * b.strip);
    b.kinds.resize((size_t)b.strip);
    b.above.resize((size_t)b.strip);
    b.carry.resize(rowBytes);
    b.haveCarry = false;
    b.lastRow.resize((size_t)b.W * b.pixelBytes);
    if (mode != MODE_TRUE)
        b.index.resize((size_t)b.W * b.strip);
    if (b.turn && mode == MODE_TRUE)
        b.assembly.resize((size_t)b.W * b.pixelBytes * b.strip);
    if (b.turn && mode != MODE_TRUE)
        b.turned.resize((size_t)b.W * b.strip);
    if (mode == MODE_DITHER) {
        b.errors.assign((size_t)b.channels * (b.W + 2), 0);
        b.previous.assign(rowBytes, 0);
    }
    b.firstFiltered = true;
    b.fetched.resize((size_t)b.strip);
    planReads(b);
    planSpans(b);
    b.gc = XCreateGC(b.display, d, 0, nullptr);

    for (int y0 = 0; y0 < b.H; y0 += b.strip)
        renderStrip(b, y0, std::min(b.strip, b.H - y0));

    if (b.useShm)
        XSync(b.display, False);
    shm.pending[0] = shm.pending[1] = 0;
    XFreeGC(b.display, b.gc);
    xi->data = nullptr;
    renderTimes.builds++;
    dm->pixmapValid = 1;
    return d;
}

Drawable make24BitPixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                         int toPixmap, DisplayPort *hdp, DisplayPort *vdp)
{
    return renderPixmap(m, inst, r, toPixmap, hdp, vdp, MODE_TRUE,
                        "make24BitPixmap");
}

Drawable make16BitPixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                         int toPixmap, DisplayPort *hdp, DisplayPort *vdp)
{
    return renderPixmap(m, inst, r, toPixmap, hdp, vdp, MODE_TRUE,
                        "make16BitPixmap");
}

Drawable make8BitPixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                        int toPixmap, DisplayPort *hdp, DisplayPort *vdp)
{
    return renderPixmap(m, inst, r, toPixmap, hdp, vdp, MODE_PALETTE,
                        "make8BitPixmap");
}

Drawable dither8BitPixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                          int toPixmap, DisplayPort *hdp, DisplayPort *vdp)
{
    return renderPixmap(m, inst, r, toPixmap, hdp, vdp, MODE_DITHER,
                        "dither8BitPixmap");
}

/*
 * makePixmap --
 *	Builds the pixmap of inst's master from r through the ports, by the
 *	transfer image's pixel size (screens of 8 bits or less through their
 *	palette), then the stipple overlay and the mask bitmaps.
 * Results:
 *	The drawable, or 0 with a message on standard error.
 */
Drawable makePixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                    int toPixmap, DisplayPort *hdp, DisplayPort *vdp)
{
    GimgMaster *dm = inst ? inst->master : m;
    Drawable d = 0;
    if (dm->ximage) {
        int bpp = dm->ximage->bits_per_pixel;
        if (dm->depth <= 8 && bpp <= 8)
            d = (m->cachedDither ? dither8BitPixmap : make8BitPixmap)(
                m, inst, r, toPixmap, hdp, vdp);
        else if (bpp == 16)
            d = make16BitPixmap(m, inst, r, toPixmap, hdp, vdp);
        else
            d = make24BitPixmap(m, inst, r, toPixmap, hdp, vdp);
    }
    if (!d) {
        stderrPrintf("Error in makePixmap...\n");
        return 0;
    }
    if (dm->stippleBitmap)
        patternMaskPixmap(dm, d);
    if (dm->frameDynamic && dm->framePolygs)
        makeViewMask(dm);
    /* A view (dm showing m's record) clips with m's combined mask. */
    makeMaskPixmap(dm, &m->masks[GIMG_MASK_COMBINED],
                   &dm->masks[GIMG_MASK_FRAME], &dm->frameVp, &dm->maskVp,
                   hdp, vdp, dm->rotate);
    return d;
}
