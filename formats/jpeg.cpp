/*
 * jpeg.cpp --
 *
 *	JPEG images, decoded and encoded whole through libjpeg (6.2
 *	interface).  A JPEG record's cache holds the whole image: line
 *	y * nbands + b holds band b of row y.  It is decoded at once when a
 *	line is first needed (readJPEG) and encoded again, whole, when a
 *	dirty line is flushed (writeJPEG).  The encoding quality travels in
 *	the record's block field.
 *
 *	Recognised by its first three bytes:
 *	Offset Size Field
 *	     0    2 0xFF 0xD8, start of image
 *	     2    1 0xFF, start of the next marker
 *	The geometry comes from the library's header reader.
 *
 *	Library errors never end the process: the error manager prints the
 *	library's message on standard error and longjmps back to the function
 *	that created the codec object, which destroys it and fails.  Those
 *	functions (decodeJpeg, encodeJpeg, readJpegHeader) hold no object
 *	with a destructor and keep their state in a record owned by the
 *	caller.
 */
#include <cstdio>
#include <jpeglib.h>

#include "formats/jpeg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"

#define JPEG_DEFAULT_QUALITY 90
/* A corrupt header cannot make us allocate more than its file can fill.
 * Huffman coding spends at least one bit on each 8 x 8 block of every
 * component, which decodes to at most 1724 bytes per byte of file (four
 * components, the first sampled 4 x 4 times the others); arithmetic
 * coding has no such bound, and may decode up to JPEG_ARITH_BYTES from
 * any file. */
#define JPEG_MAX_RATIO 2048
#define JPEG_ARITH_BYTES ((int64_t)256 << 20)

/* The error manager with the way back. */
struct JpegError {
    jpeg_error_mgr pub;
    jmp_buf back;
};

static void jpegOutputMessage(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    stderrPrintf("%s\n", text);
}

static void jpegErrorExit(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<JpegError *>(cinfo->err)->back, 1);
}

static jpeg_error_mgr *jpegErrorManager(JpegError *e)
{
    jpeg_std_error(&e->pub);
    e->pub.error_exit = jpegErrorExit;
    e->pub.output_message = jpegOutputMessage;
    return &e->pub;
}

/* A standard I/O stream on a duplicate of fd, positioned at 0. */
static FILE *jpegStream(int fd, const char *mode)
{
    int dupFd = dup(fd);
    if (dupFd < 0)
        return nullptr;
    FILE *fp = fdopen(dupFd, mode);
    if (!fp) {
        close(dupFd);
        return nullptr;
    }
    if (std::fseek(fp, 0, SEEK_SET) != 0) {
        std::fclose(fp);
        return nullptr;
    }
    return fp;
}

static bool startsLikeJpeg(int fd)
{
    unsigned char m[3];
    return pread(fd, m, 3, 0) == 3 && m[0] == 0xFF && m[1] == 0xD8
           && m[2] == 0xFF;
}

/* ---------------------------------------------------------------------
 * Decoding
 * --------------------------------------------------------------------- */

/* State of one decode, owned by the caller of decodeJpeg. */
struct JpegDecode {
    FILE *fp;
    bool headerOnly;
    /* The destination: line row * n + c, lines lineBytes apart.  With
     * rows > 0 the image must have exactly this geometry. */
    unsigned char *lines;
    int lineBytes;
    int rows, columns, bands;
    /* The header. */
    int width, height, components;
    bool arith;
    JpegError err;
    jpeg_decompress_struct cinfo;
};

/* Copies one decoded row of n interleaved components into its lines. */
static void dealRow(const unsigned char *src, int width, int n,
                    unsigned char *first, int lineBytes)
{
    if (n == 3) {
        unsigned char *c0 = first, *c1 = first + lineBytes,
                      *c2 = first + 2 * (size_t)lineBytes;
        for (int x = 0; x < width; x++) {
            c0[x] = src[3 * x];
            c1[x] = src[3 * x + 1];
            c2[x] = src[3 * x + 2];
        }
        return;
    }
    for (int c = 0; c < n; c++) {
        unsigned char *dst = first + (size_t)c * lineBytes;
        for (int x = 0; x < width; x++)
            dst[x] = src[(size_t)x * n + c];
    }
}

/* Reads the header and, unless headerOnly, the image.  Returns 1, or 0
 * after a library error (its message printed) or a geometry that does
 * not match the destination. */
static int decodeJpeg(JpegDecode *d)
{
    jpeg_decompress_struct *cinfo = &d->cinfo;
    std::memset(cinfo, 0, sizeof *cinfo);
    cinfo->err = jpegErrorManager(&d->err);
    if (setjmp(d->err.back)) {
        jpeg_destroy_decompress(cinfo);
        return 0;
    }
    jpeg_CreateDecompress(cinfo, JPEG_LIB_VERSION, sizeof *cinfo);
    jpeg_stdio_src(cinfo, d->fp);
    jpeg_read_header(cinfo, TRUE);
    jpeg_calc_output_dimensions(cinfo);
    d->width = (int)cinfo->output_width;
    d->height = (int)cinfo->output_height;
    d->components = cinfo->out_color_components;
    d->arith = cinfo->arith_code;
    if (d->headerOnly) {
        jpeg_destroy_decompress(cinfo);
        return 1;
    }
    int n = d->components;
    if (d->width > d->lineBytes
            || (d->rows > 0 && (d->height != d->rows || d->width != d->columns
                                || n != d->bands))) {
        stderrPrintf("Error in loadJPEG: the file holds a %d x %d image of"
                     " %d components, not the %d x %d of %d expected.\n",
                     d->width, d->height, n, d->columns, d->rows, d->bands);
        jpeg_destroy_decompress(cinfo);
        return 0;
    }
    jpeg_start_decompress(cinfo);
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
        (JDIMENSION)d->width * n, 1);
    while (cinfo->output_scanline < cinfo->output_height) {
        size_t y = cinfo->output_scanline;
        unsigned char *first = d->lines + y * n * d->lineBytes;
        if (n == 1) {
            /* One component: straight into its line. */
            JSAMPROW direct = first;
            jpeg_read_scanlines(cinfo, &direct, 1);
        } else {
            jpeg_read_scanlines(cinfo, row, 1);
            dealRow(row[0], d->width, n, first, d->lineBytes);
        }
    }
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return 1;
}

/* Runs decodeJpeg on a stream over fd, keeping fd's position. */
static int runDecode(int fd, JpegDecode *d)
{
    off_t here = lseek(fd, 0, SEEK_CUR);
    d->fp = jpegStream(fd, "rb");
    if (!d->fp)
        return 0;
    int ok = decodeJpeg(d);
    std::fclose(d->fp);
    lseek(fd, here, SEEK_SET);
    return ok;
}

/*
 * imgJPEG --
 *	Probe of JPEG files: the first three bytes, then the library's header
 *	reader.  The file position is kept.
 * Results:
 *	1 with info filled, or 0 (also when the library fails on the header,
 *	after printing its message).
 */
int imgJPEG(int fd, ImageInfo *info)
{
    if (!startsLikeJpeg(fd))
        return 0;
    JpegDecode d;
    std::memset(&d, 0, sizeof d);
    d.headerOnly = true;
    if (!runDecode(fd, &d))
        return 0;
    int64_t bytes = (int64_t)d.width * d.height * d.components;
    struct stat st;
    if (fstat(fd, &st) == 0 && bytes / JPEG_MAX_RATIO > (int64_t)st.st_size
            && !(d.arith && bytes <= JPEG_ARITH_BYTES)) {
        stderrPrintf("Error in imgJPEG: a %d x %d image of %d components"
                     " cannot come from %lld bytes of data.\n", d.width,
                     d.height, d.components, (long long)st.st_size);
        return 0;
    }
    info->imgid = IMG_JPEG;
    info->pixel = PIXEL_BYTE;
    info->bits = 8;
    info->rows = d.height;
    info->columns = d.width;
    info->nbands = d.components;
    info->block = JPEG_DEFAULT_QUALITY;
    info->offset = info->top = info->left = 0;
    info->mapid = MAP_GRID;
    info->msbf = msbFirst();
    info->nindices = 0;
    info->transparent = -1;
    info->x0 = info->y0 = 0.0;
    info->dx = info->dy = 1.0;
    return 1;
}

/*
 * loadJPEG --
 *	Decodes the whole file open on fd: component c of output row y goes
 *	to line y * n + c (n components), lines lineBytes apart.
 * Results:
 *	1, or 0 when the file does not start like a JPEG ("not a jpeg
 *	file..." on standard output) or the library failed.
 */
int loadJPEG(int fd, unsigned char *lines, int lineBytes)
{
    if (!startsLikeJpeg(fd)) {
        stdoutPrintf("not a jpeg file...\n");
        return 0;
    }
    JpegDecode d;
    std::memset(&d, 0, sizeof d);
    d.lines = lines;
    d.lineBytes = lineBytes;
    return runDecode(fd, &d);
}

/* True when the cache has a slot for every line of the image. */
static bool cacheCoversImage(const RAMImage *r)
{
    return r->cacheLines == r->info.rows
           && r->slotCount == r->info.rows * r->info.nbands;
}

/* Decodes the record's file with its geometry into `lines`. */
static int decodeRecordFile(const RAMImage *r, unsigned char *lines)
{
    JpegDecode d;
    std::memset(&d, 0, sizeof d);
    d.lines = lines;
    d.lineBytes = r->lineBytes;
    d.rows = r->info.rows;
    d.columns = r->info.columns;
    d.bands = r->info.nbands;
    return runDecode(r->fd, &d);
}

/*
 * readJPEG --
 *	Makes the cache hold every line of the image, each in its own slot,
 *	and decodes the file into it.
 * Results:
 *	1, or 0 when the cache cannot be made ("Error of malloc in
 *	readJPEG." on standard output).  A decoding failure leaves the
 *	lines it did not reach as they were.
 */
int readJPEG(RAMImage *r)
{
    const int rows = r->info.rows;
    if (!cacheCoversImage(r) && setRAMImageBuf(r, rows) != rows) {
        stdoutPrintf("Error of malloc in readJPEG.\n");
        return 0;
    }
    for (int i = 0; i < r->slotCount; i++)
        r->slotMap[i] = i;
    std::memset(r->dirty, 0, (size_t)r->slotCount / 8 + 1);
    if (!startsLikeJpeg(r->fd)) {
        stdoutPrintf("not a jpeg file...\n");
        return 1;
    }
    decodeRecordFile(r, r->buffer);
    return 1;
}

/* ---------------------------------------------------------------------
 * Encoding
 * --------------------------------------------------------------------- */

/* State of one encode, owned by the caller of encodeJpeg. */
struct JpegEncode {
    FILE *fp;
    int columns, rows, bands, quality;
    const unsigned char *lines;
    int lineBytes;
    JpegError err;
    jpeg_compress_struct cinfo;
};

/* Encodes rows built from the bands' lines: RGB for three bands, else
 * greyscale from band 0.  Returns 1, or 0 after a library error. */
static int encodeJpeg(JpegEncode *e)
{
    jpeg_compress_struct *cinfo = &e->cinfo;
    std::memset(cinfo, 0, sizeof *cinfo);
    cinfo->err = jpegErrorManager(&e->err);
    if (setjmp(e->err.back)) {
        jpeg_destroy_compress(cinfo);
        return 0;
    }
    jpeg_CreateCompress(cinfo, JPEG_LIB_VERSION, sizeof *cinfo);
    jpeg_stdio_dest(cinfo, e->fp);
    int n = e->bands == 3 ? 3 : 1;
    cinfo->image_width = (JDIMENSION)e->columns;
    cinfo->image_height = (JDIMENSION)e->rows;
    cinfo->input_components = n;
    cinfo->in_color_space = n == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, e->quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
        (JDIMENSION)e->columns * n, 1);
    while (cinfo->next_scanline < cinfo->image_height) {
        size_t y = cinfo->next_scanline;
        const unsigned char *first = e->lines
                                     + y * e->bands * (size_t)e->lineBytes;
        if (n == 1) {
            std::memcpy(row[0], first, (size_t)e->columns);
        } else {
            const unsigned char *c0 = first, *c1 = first + e->lineBytes,
                                *c2 = first + 2 * (size_t)e->lineBytes;
            unsigned char *dst = row[0];
            for (int x = 0; x < e->columns; x++) {
                dst[3 * x] = c0[x];
                dst[3 * x + 1] = c1[x];
                dst[3 * x + 2] = c2[x];
            }
        }
        jpeg_write_scanlines(cinfo, row, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return 1;
}

/*
 * dumpJPEG --
 *	Encodes rows of `columns` pixels into the file open on fd, from
 *	offset 0 (the file is cut where the image ends): three bands as RGB,
 *	any other count as greyscale from band 0.  Band b of row y is line
 *	y * bands + b, lines lineBytes apart.
 * Results:
 *	1, or 0 after a library error (its message printed).
 */
int dumpJPEG(int fd, int columns, int rows, int bands, int quality,
             const unsigned char *lines, int lineBytes)
{
    if (bands < 1)
        return 0;
    off_t here = lseek(fd, 0, SEEK_CUR);
    JpegEncode e;
    std::memset(&e, 0, sizeof e);
    e.fp = jpegStream(fd, "w+b");
    if (!e.fp)
        return 0;
    e.columns = columns;
    e.rows = rows;
    e.bands = bands;
    e.quality = quality;
    e.lines = lines;
    e.lineBytes = lineBytes;
    int ok = encodeJpeg(&e);
    if (std::fflush(e.fp) != 0)
        ok = 0;
    if (ok) {
        long end = std::ftell(e.fp);
        if (end < 0 || ftruncate(fd, (off_t)end) != 0)
            ok = 0;
    }
    std::fclose(e.fp);
    lseek(fd, here, SEEK_SET);
    return ok;
}

/*
 * writeJPEG --
 *	Encodes the whole cache into the record's file, recreated by name
 *	(mode 0600), at the quality in block (90 when negative, 100 when
 *	above).  Lines that nobody claimed in the cache are decoded from the
 *	file first, so that writing some lines keeps the others.
 * Results:
 *	1, or 0 for a record without a file, a cache without a slot for every
 *	line, a file that cannot be recreated or a library failure.
 * Side effects:
 *	Every slot is clean and empty afterwards: the next read decodes the
 *	file again (when the file cannot be recreated, the slots are only
 *	marked clean).
 */
int writeJPEG(RAMImage *r)
{
    if (r->fd < 0 || !cacheCoversImage(r))
        return 0;
    std::vector<unsigned char> fromFile;
    for (int i = 0; i < r->slotCount; i++) {
        if (r->slotMap[i] == i)
            continue;
        if (fromFile.empty()) {
            fromFile.assign((size_t)r->slotCount * r->lineBytes, 0);
            decodeRecordFile(r, fromFile.data());
        }
        std::memcpy(r->buffer + (size_t)i * r->lineBytes,
                    fromFile.data() + (size_t)i * r->lineBytes,
                    (size_t)r->lineBytes);
        r->slotMap[i] = i;
    }
    int quality = r->info.block < 0 ? JPEG_DEFAULT_QUALITY
                  : r->info.block > 100 ? 100 : r->info.block;
    int fd = open(r->info.fileName, O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        /* One message, not one per dirty line: the cache keeps the
         * image, the file keeps what it had. */
        stderrPerror(r->info.fileName);
        std::memset(r->dirty, 0, (size_t)r->slotCount / 8 + 1);
        return 0;
    }
    if (r->fd != -1)
        close(r->fd);
    r->fd = fd;
    int ok = dumpJPEG(fd, r->info.columns, r->info.rows, r->info.nbands,
                      quality, r->buffer, r->lineBytes);
    for (int i = 0; i < r->slotCount; i++)
        r->slotMap[i] = -1;
    std::memset(r->dirty, 0, (size_t)r->slotCount / 8 + 1);
    return ok;
}

/*
 * initJPEG --
 *	Data initialiser of new JPEG files: encodes a black image of info's
 *	size at quality 90, greyscale when info has one band (or any count
 *	but 3) and no palette, RGB otherwise.  Gives info the description of
 *	what was written (a palette image becomes three bands); a block
 *	outside 1..100 becomes 90.
 * Results:
 *	0, or -1 after a library error.
 */
int initJPEG(int fd, ImageInfo *info)
{
    if (info->columns < 1 || info->rows < 1)
        return -1;
    int bands = info->nindices < 1 && info->nbands != 3 ? 1 : 3;
    std::vector<unsigned char> zeros((size_t)info->columns, 0);
    /* Every line is the same zero line: lineBytes 0. */
    if (!dumpJPEG(fd, info->columns, info->rows, bands, JPEG_DEFAULT_QUALITY,
                  zeros.data(), 0))
        return -1;
    info->imgid = IMG_JPEG;
    info->pixel = PIXEL_BYTE;
    info->bits = 8;
    info->nbands = bands;
    info->nindices = 0;
    info->offset = 0;
    info->msbf = msbFirst();
    if (info->block < 1 || info->block > 100)
        info->block = JPEG_DEFAULT_QUALITY;
    return 0;
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static const ImgFormatType jpegTypes[] = {{IMG_JPEG, LAYOUT_PICTURE}, {0, 0}};

extern const ImgFormat jpegFormat = {
    .name = "JPEG",
    .types = jpegTypes,
    .probe = imgJPEG,
    .initData = initJPEG,
    .readPicture = readJPEG,
    .writePicture = writeJPEG,
};
