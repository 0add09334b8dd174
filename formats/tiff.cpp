/*
 * tiff.cpp --
 *
 *	TIFF and GeoTIFF rasters: the probe and open of one volume (IFD), the
 *	block reader that hands the line access whole strips or tile rows,
 *	pixel-interleaved, from uncompressed or PackBits data, the volume
 *	seek, and the writer of new single-strip uncompressed files.  The
 *	directory itself is read by tiffDir.cpp.
 *
 *	File written for a new raster (host byte order; R rows, L bytes per
 *	row, S bands):
 *	Offset    Size      Field
 *	     0       2      "II" (little-endian host) or "MM"
 *	     2       2      42
 *	     4       4      offset of the IFD
 *	     8   R * L      pixel rows, pixel-interleaved: one strip
 *	   next   2 * S     BitsPerSample array, only when S > 2
 *	   next   2 * S     SampleFormat array, only when S > 2
 *	   next   2 * 3 * M ColorMap, only for one band with a colour table
 *	                    (M = 256, or 2^bits below 8 bits); each byte b
 *	                    as b * 257, so that readers scaling 65535 to 255
 *	                    get b back and readers taking the high byte too
 *	   next 2+12*E+4    the IFD: E = 14 entries (15 with ColorMap), next 0
 */
#include "formats/tiff.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/freeDisk.h"
#include "core/hist.h"
#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "formats/tiffDir.h"

/* Uncompressed strips are handed out in blocks of about this many bytes
 * (whole strips when smaller), so that a single-strip file does not pull
 * the whole image into the cache at once. */
#define TIFF_BLOCK_TARGET 131072
#define TIFF_BLOCK_MAX_ROWS 64

/* The largest strip or tile row the reader decodes in one piece. */
#define TIFF_MAX_BLOCK_BYTES ((int64_t)1 << 30)
/* PackBits turns two bytes into at most 128. */
#define PACKBITS_MAX_RATIO 64

static void freeState(TiffState *s)
{
    if (s) {
        delTiffDir(s->dir);
        delete s;
    }
}

/* ---------------------------------------------------------------------
 * Probe and open
 * --------------------------------------------------------------------- */

/* Pixel type and stored row bytes for a sample layout; 0 when the layout
 * is not one this system reads. */
static int pixelLayout(long bits, long format, long samples, long columns,
                       int *pixel, int64_t *block)
{
    switch (bits) {
    case 1:
        *pixel = PIXEL_1BIT;
        *block = (columns - 1) / 8 + 1;
        return 1;
    case 4:
        *pixel = PIXEL_4BITS;
        *block = (columns + 1) / 2;
        return 1;
    case 8:
        *pixel = PIXEL_BYTE;
        *block = (int64_t)samples * columns;
        return 1;
    case 16:
        if (format != 1 && format != 2)
            return 0;
        *pixel = format == 1 ? PIXEL_USHORT : PIXEL_SHORT;
        *block = (int64_t)samples * columns * 2;
        return 1;
    case 32:
        if (format < 1 || format > 3)
            return 0;
        *pixel = format == 1 ? PIXEL_ULONG : format == 2 ? PIXEL_LONG
                                                         : PIXEL_FLOAT;
        *block = (int64_t)samples * columns * 4;
        return 1;
    default:
        return 0;
    }
}

/* Colour table of the IFD into info, or the bilevel default. */
static void readPalette(int fd, const TiffIFD *ifd, int order, long bits,
                        ImageInfo *info)
{
    unsigned char colours[256][3];
    std::memset(colours, 0, sizeof colours);
    info->nindices = 0;
    if (getTiffEntryIndex(ifd, TIFFTAG_COLORMAP) >= 0) {
        int count = getTiffColormap(fd, ifd, colours, order);
        if (count >= 3) {
            info->nindices = std::min(count / 3, 256);
            std::memcpy(info->palette, colours, sizeof colours);
        }
        return;
    }
    if (bits != 1)
        return;
    /* Bilevel: BlackIsZero when PhotometricInterpretation is above 0,
     * else WhiteIsZero. */
    unsigned char zero = getTiffPhotometricInterpretation(ifd) > 0 ? 0 : 255;
    std::memset(info->palette, 0, sizeof info->palette);
    std::memset(info->palette[0], zero, 3);
    std::memset(info->palette[1], 255 - zero, 3);
    info->nindices = 2;
}

/* Reads IFD `volume` (from 1) into info and the volume fields of s.
 * Returns 1, 0 (not readable) or -1 (message printed). */
static int readTiffVolume(int fd, TiffState *s, int volume, ImageInfo *info)
{
    const TiffIFD *ifd = &s->dir->ifds[volume - 1];
    int order = s->order;

    long compression = getTiffCompression(ifd);
    if (compression == -1 || compression == 0 || compression == 1) {
        compression = 1;
    } else if (compression != TIFF_PACKBITS) {
        stderrPrintf("Can't read Tiff with compression code:%d\n",
                     (int)compression);
        return -1;
    }
    long tileWidth = getTiffTileWidth(ifd);
    long tileLength = getTiffTileLength(ifd);
    int tiled = tileWidth != -1 || tileLength != -1;

    /* Tiled files written by libtiff carry their offsets in TileOffsets
     * only; take those when StripOffsets is absent. */
    int oi = getTiffEntryIndex(ifd, TIFFTAG_STRIPOFFSETS);
    int ci = getTiffEntryIndex(ifd, TIFFTAG_STRIPBYTECOUNTS);
    if (oi < 0 && tiled) {
        oi = getTiffEntryIndex(ifd, TIFFTAG_TILEOFFSETS);
        ci = getTiffEntryIndex(ifd, TIFFTAG_TILEBYTECOUNTS);
    }
    if (oi < 0) {
        stderrPrintf("Fail to find Tiff strip offset.\n");
        return -1;
    }
    if (compression == TIFF_PACKBITS && ci < 0) {
        stderrPrintf("Fail to find Tiff strip byte counts.\n");
        return -1;
    }

    long bits = getTiffBitsPerSample(fd, ifd, 0, order);
    if (bits < 0)
        return 0;
    long samples = getTiffSamplePerPixel(ifd);
    long columns = getTiffImageWidth(ifd);
    long rows = getTiffImageLength(ifd);
    if (columns <= 0 || rows <= 0 || columns > INT_MAX || rows > INT_MAX
            || samples < 1)
        return 0;
    if (tiled && (tileWidth <= 0 || tileLength <= 0))
        return 0;
    long rowsPerStrip = getTiffRowsPerStrip(ifd);
    if (rowsPerStrip <= 0 || rowsPerStrip > rows)
        rowsPerStrip = rows;

    long format = getTiffSampleFormat(fd, ifd, 0, order);
    if (format < 0)
        format = 1;
    int pixel;
    int64_t block;
    if (!pixelLayout(bits, format, samples, columns, &pixel, &block)
            || block > INT_MAX)
        return 0;
    /* The offsets must be an array the file can hold, with a tile for
     * every place of the image; the pieces the block reader decodes
     * whole must stay allocatable. */
    const TiffEntry &offsets = ifd->entries[oi];
    int offsetSize = offsets.type == TIFF_SHORT ? 2
                   : offsets.type == TIFF_LONG ? 4 : 0;
    uint64_t arrayBytes = (uint64_t)offsetSize * offsets.count;
    if (offsetSize == 0 || offsets.count == 0
            || (arrayBytes > 4 && arrayBytes > (uint64_t)tiffFileSize(fd)))
        return 0;
    /* Bands stored in planes (PlanarConfiguration 2) are interleaved by
     * the block reader, which needs whole bytes per sample. */
    long planar = getTiffArrayElement(fd, ifd, TIFFTAG_PLANARCONFIG, 0, order);
    planar = planar == 2 && samples > 1 ? 2 : 1;
    if (planar == 2 && bits % 8 != 0)
        return 0;
    uint64_t planes = planar == 2 ? (uint64_t)samples : 1;
    if (tiled) {
        uint64_t across = (uint64_t)(columns - 1) / tileWidth + 1;
        uint64_t down = (uint64_t)(rows - 1) / tileLength + 1;
        if (across * down * planes > offsets.count)
            return 0;
        int64_t q = (int64_t)tileWidth * bits * samples / 8;
        if (q < 1 || q * std::min(tileLength, rows) > TIFF_MAX_BLOCK_BYTES)
            return 0;
    } else {
        long p = offsets.count == 1 ? rows : rowsPerStrip;
        if (planes > 1 && ((uint64_t)(rows - 1) / p + 1) * planes
                              > offsets.count)
            return 0;
        if (compression == TIFF_PACKBITS && block * p > TIFF_MAX_BLOCK_BYTES)
            return 0;
    }
    /* The file must hold the pixels it declares, but for a last row cut
     * short (compressed: as many as its bytes can expand to). */
    /* Rows of 1- and 4-bit pixels are one band wide in the layout, but
     * every band is read from them: the declared area counts them all.
     * Long double: a damaged sample count can pass 2^63 bytes. */
    long double line = bits < 8 ? (long double)block * samples : block;
    long double bytes = line * rows;
    long double least = compression == TIFF_PACKBITS
                            ? bytes / PACKBITS_MAX_RATIO : bytes - line;
    int64_t fileSize = tiffFileSize(fd);
    if (fileSize >= 0 && least > fileSize) {
        stderrPrintf("Error in imgTiff: %ld x %ld pixels of %ld samples of"
                     " %ld bits (%.0Lf bytes) cannot come from %lld bytes of"
                     " file.\n", columns, rows, samples, bits, bytes,
                     (long long)fileSize);
        return -1;
    }

    double scale[3] = {1.0, 1.0, 0.0}, tie[6];
    info->dx = info->dy = 1.0;
    info->x0 = info->y0 = 0.0;
    s->georeferenced = 0;
    if (getGeoTiffPixelScales(fd, ifd, order, scale) == 3) {
        info->dx = scale[0];
        info->dy = scale[1];
    }
    if (getGeoTiffTiePoints(fd, ifd, order, tie) == 6) {
        /* Raster (I, J) sits at model (X, Y); rows run southwards. */
        info->x0 = tie[3] - tie[0] * info->dx;
        info->y0 = tie[4] + tie[1] * info->dy;
        s->georeferenced = 1;
    }

    s->offsets = offsets;
    std::memset(&s->byteCounts, 0, sizeof s->byteCounts);
    if (ci >= 0)
        s->byteCounts = ifd->entries[ci];
    s->stripCount = (int)std::min<uint32_t>(offsets.count, INT_MAX);
    s->stripByteCounts = ci >= 0 ? ifd->entries[ci].value : 0;
    s->rowsPerStrip = (int)rowsPerStrip;
    s->tileWidth = tiled ? (int)tileWidth : -1;
    s->tileLength = tiled ? (int)tileLength : -1;
    s->compression = (int)compression;
    s->planar = (int)planar;

    info->imgid = IMG_TIFF;
    info->mapid = MAP_GRID;
    info->msbf = order == TIFF_MM || bits < 8 ? 1 : 0;
    info->offset = (int)offsets.value;
    info->bits = (int)bits;
    info->nbands = (int)samples;
    info->rows = (int)rows;
    info->columns = (int)columns;
    info->top = info->left = 0;
    info->pixel = pixel;
    info->block = (int)block;
    info->transparent = -1;
    readPalette(fd, ifd, order, bits, info);
    return 1;
}

/*
 * imgTiff --
 *	Probes the file and reads one volume's description into info.  With
 *	no state in *state the directory is read and a new state for volume 1
 *	is handed back on success.  Volume 0 is the one after the current,
 *	a negative one or one past the count the last.
 * Results:
 *	1 read; 0 not a TIFF this system reads (or volume 0 past the end);
 *	-1 unsupported compression or no strip offsets (message printed).
 */
int imgTiff(int fd, ImageInfo *info, int volume, void **state)
{
    TiffState *s = static_cast<TiffState *>(*state);
    std::unique_ptr<TiffState, void (*)(TiffState *)> fresh(nullptr,
                                                            freeState);
    if (!s) {
        TiffDir *dir = getTiffDir(fd);
        if (!dir)
            return 0;
        fresh.reset(new TiffState());
        fresh->dir = dir;
        fresh->order = dir->order;
        fresh->volume = 1;
        s = fresh.get();
        volume = 1;
    } else if (volume == 0) {
        if (s->volume >= s->dir->count)
            return 0;
        volume = s->volume + 1;
    } else if (volume < 0 || volume > s->dir->count) {
        volume = s->dir->count;
    }
    TiffState next = *s;
    int rc = readTiffVolume(fd, &next, volume, info);
    if (rc != 1)
        return rc;
    info->volumes = s->dir->count;
    next.volume = volume;
    *s = next;
    if (fresh)
        *state = fresh.release();
    return 1;
}

void tiffDestroy(RAMImage *r)
{
    freeState(static_cast<TiffState *>(r->privateData));
    r->privateData = nullptr;
}

/* ---------------------------------------------------------------------
 * Blocks
 * --------------------------------------------------------------------- */

/* Rows of one block of uncompressed contiguous rows of `block` bytes. */
static int contiguousRows(int block, int limit)
{
    int h = TIFF_BLOCK_TARGET / std::max(block, 1);
    h = std::max(1, std::min(h, TIFF_BLOCK_MAX_ROWS));
    return std::min(h, limit);
}

/*
 * tiffBlockRows --
 *	The height of the blocks getTiffBlock hands out for r: the tile
 *	height, the PackBits strip height, or at most a bounded number of
 *	rows of an uncompressed strip.  0 without a reading state.
 */
int tiffBlockRows(const RAMImage *r)
{
    const TiffState *s = static_cast<const TiffState *>(r->privateData);
    if (!s)
        return 0;
    int rows = r->info.rows;
    if (s->tileLength > 0)
        return std::min(s->tileLength, rows);
    int p = s->stripCount == 1 ? rows : std::min(s->rowsPerStrip, rows);
    if (s->compression == TIFF_PACKBITS)
        return p;
    return contiguousRows(r->info.block, p);
}

int tiffRowsWritable(const RAMImage *r)
{
    const TiffState *s = static_cast<const TiffState *>(r->privateData);
    if (!s)
        return 1;
    return s->compression == 1 && s->tileLength <= 0 && s->planar != 2
           && s->stripCount == 1;
}

/* Reads up to n bytes at off into buf; the rest stays as it is.  Reads
 * nothing at offset 0 (a missing strip or tile).  Returns the bytes
 * read. */
static int64_t readData(int fd, unsigned char *buf, int64_t n, uint64_t off)
{
    int64_t done = 0;
    if (off == 0)
        return 0;
    while (done < n) {
        ssize_t got = pread(fd, buf + done, (size_t)(n - done),
                            (off_t)(off + done));
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

/* Decodes PackBits: a header byte n of 0..127 copies the next n + 1
 * bytes, -127..-1 repeats the next byte 1 - n times, -128 is skipped.
 * Runs are clipped to both buffers.  Returns the bytes produced. */
static size_t unpackBits(const unsigned char *in, size_t inLen,
                         unsigned char *out, size_t outLen)
{
    size_t i = 0, o = 0;
    while (i < inLen && o < outLen) {
        int n = (signed char)in[i++];
        if (n >= 0) {
            size_t c = std::min({(size_t)n + 1, inLen - i, outLen - o});
            std::memcpy(out + o, in + i, c);
            i += c;
            o += c;
        } else if (n != -128) {
            if (i >= inLen)
                break;
            size_t c = std::min((size_t)(1 - n), outLen - o);
            std::memset(out + o, in[i++], c);
            o += c;
        }
    }
    return o;
}

/* Reads `size` compressed bytes at `off` (no further than the end of the
 * file) and unpacks them into out.  Returns the bytes produced. */
static size_t readPackBits(int fd, uint64_t off, uint64_t size,
                           unsigned char *out, size_t outLen)
{
    int64_t fileSize = tiffFileSize(fd);
    if (off == 0 || fileSize < 0 || off >= (uint64_t)fileSize)
        return 0;
    size = std::min<uint64_t>(size, (uint64_t)fileSize - off);
    std::vector<unsigned char> in((size_t)size);
    in.resize((size_t)readData(fd, in.data(), (int64_t)size, off));
    return unpackBits(in.data(), in.size(), out, outLen);
}

static unsigned char *allocBlock(int count, int block)
{
    return static_cast<unsigned char *>(
        std::calloc((size_t)count * (size_t)block, 1));
}

/* Where a block lies: its first row and rows, the strip or tile row k,
 * and the first row of that strip. */
struct TiffBlockPlace {
    int first, count, k, start;
};

/* Strip height of the current volume: all rows for a single strip. */
static int stripRows(const RAMImage *r, const TiffState *s)
{
    return s->stripCount == 1 ? r->info.rows : s->rowsPerStrip;
}

/* Strips or tiles of one plane: those of the whole image when the
 * samples are interleaved. */
static uint64_t piecesPerPlane(const RAMImage *r, const TiffState *s)
{
    const ImageInfo &info = r->info;
    if (s->tileLength > 0)
        return (uint64_t)((info.columns - 1) / s->tileWidth + 1)
               * ((info.rows - 1) / s->tileLength + 1);
    int p = stripRows(r, s);
    return (uint64_t)((info.rows - 1) / p + 1);
}

static TiffBlockPlace placeBlock(const RAMImage *r, const TiffState *s,
                                 int row)
{
    TiffBlockPlace b;
    int rows = r->info.rows;
    if (s->tileLength > 0) {
        b.k = row / s->tileLength;
        b.first = b.start = b.k * s->tileLength;
        b.count = std::min(s->tileLength, rows - b.first);
        return b;
    }
    int p = stripRows(r, s);
    b.k = row / p;
    b.start = b.k * p;
    int end = std::min(b.start + p, rows);
    if (s->compression == TIFF_PACKBITS) {
        b.first = b.start;
        b.count = end - b.start;
    } else {
        int h = tiffBlockRows(r);
        b.first = b.start + (row - b.start) / h * h;
        b.count = std::min(h, end - b.first);
    }
    return b;
}

/* Reads one plane of a block (all samples when they are interleaved)
 * into out: b.count rows of rowBytes.  `base` is the index of the
 * plane's first strip or tile. */
static void readPlane(RAMImage *r, const TiffState *s,
                      const TiffBlockPlace &b, uint64_t base, int samples,
                      int64_t rowBytes, unsigned char *out)
{
    const ImageInfo &info = r->info;
    int fd = r->fd;
    int packed = s->compression == TIFF_PACKBITS;
    if (s->tileLength <= 0) {
        uint32_t off, size = 0;
        if (tiffReadUintArray(fd, s->order, s->offsets, base + b.k, 1, &off))
            return;
        if (!packed)
            readData(fd, out, b.count * rowBytes,
                     off + (uint64_t)(b.first - b.start) * rowBytes);
        else if (tiffReadUintArray(fd, s->order, s->byteCounts, base + b.k,
                                   1, &size) == 0)
            readPackBits(fd, off, size, out, (size_t)(b.count * rowBytes));
        return;
    }
    /* A tile row: each tile's rows at its place across, the last tile
     * clipped.  A tile holds no more than the file can give: its bytes
     * up to the end of the file, or 128 bytes per 2 bytes of PackBits. */
    int across = (info.columns - 1) / s->tileWidth + 1;
    int64_t q = (int64_t)s->tileWidth * info.bits * samples / 8;
    uint64_t at = base + (uint64_t)b.k * across;
    std::vector<uint32_t> offs(across), sizes(across);
    tiffReadUintArray(fd, s->order, s->offsets, at, across, offs.data());
    if (packed)
        tiffReadUintArray(fd, s->order, s->byteCounts, at, across,
                          sizes.data());
    int64_t fileSize = tiffFileSize(fd);
    std::vector<unsigned char> tile;
    for (int t = 0; t < across && t * q < rowBytes; t++) {
        if (offs[t] == 0 || (int64_t)offs[t] >= fileSize)
            continue;
        int64_t avail = fileSize - offs[t], want = q * b.count, have;
        if (packed) {
            uint64_t in = std::min<uint64_t>(sizes[t], (uint64_t)avail);
            tile.resize((size_t)std::min<int64_t>(want, (int64_t)in * 64));
            have = (int64_t)readPackBits(fd, offs[t], in, tile.data(),
                                         tile.size());
        } else {
            tile.resize((size_t)std::min(want, avail));
            have = readData(fd, tile.data(), (int64_t)tile.size(), offs[t]);
        }
        int64_t n = std::min(q, rowBytes - t * q);
        for (int i = 0; i < b.count && i * q < have; i++)
            std::memcpy(out + i * rowBytes + t * q, tile.data() + i * q,
                        (size_t)std::min(n, have - i * q));
    }
}

/* Reads a block of a file whose bands are stored in planes, one after
 * the other, and interleaves them as the line access expects. */
static void readPlanes(RAMImage *r, const TiffState *s,
                       const TiffBlockPlace &b, unsigned char *out)
{
    const ImageInfo &info = r->info;
    int nb = info.nbands, size = info.bits / 8;
    int64_t planeRow = (int64_t)info.columns * size;
    std::vector<unsigned char> plane((size_t)(planeRow * b.count));
    uint64_t per = piecesPerPlane(r, s);
    for (int band = 0; band < nb; band++) {
        std::fill(plane.begin(), plane.end(), 0);
        readPlane(r, s, b, per * band, 1, planeRow, plane.data());
        for (int i = 0; i < b.count; i++) {
            const unsigned char *src = plane.data() + i * planeRow;
            unsigned char *dst = out + (int64_t)i * info.block
                                 + (int64_t)band * size;
            for (int x = 0; x < info.columns; x++)
                std::memcpy(dst + (int64_t)x * nb * size, src + x * size,
                            (size_t)size);
        }
    }
}

/*
 * getTiffBlock --
 *	Reads the strip or tile row holding *row: a whole PackBits strip, a
 *	bounded run of rows of an uncompressed strip, or a tile row.  Bands
 *	stored in planes are interleaved; data missing from the file read
 *	as zeros.
 * Results:
 *	count * block bytes, pixel-interleaved, as stored (free() them), with
 *	*row set to the block's first row and *count to its rows; null for a
 *	row outside the image, a record described rather than probed (no
 *	directory: its lines keep what they hold) or when memory runs out.
 */
unsigned char *getTiffBlock(RAMImage *r, int *row, int *count)
{
    const ImageInfo &info = r->info;
    int y = *row;
    *count = 0;
    if (y < 0 || y >= info.rows || info.block < 1 || r->fd < 0)
        return nullptr;
    const TiffState *s = static_cast<const TiffState *>(r->privateData);
    if (!s)
        return nullptr;
    TiffBlockPlace b = placeBlock(r, s, y);
    unsigned char *out = allocBlock(b.count, info.block);
    if (!out)
        return nullptr;
    if (s->planar == 2 && info.nbands > 1)
        readPlanes(r, s, b, out);
    else
        readPlane(r, s, b, 0, info.nbands, info.block, out);
    *row = b.first;
    *count = b.count;
    return out;
}

/* ---------------------------------------------------------------------
 * Volumes
 * --------------------------------------------------------------------- */

static int sameGeometry(const ImageInfo &a, const ImageInfo &b)
{
    return a.rows == b.rows && a.columns == b.columns
           && a.nbands == b.nbands && a.pixel == b.pixel
           && a.block == b.block;
}

/*
 * tiffSeek --
 *	Selects volume `volume` of a TIFF raster: below 0 or past the last
 *	the last one, 0 the next one.  Rereads the description; when the
 *	volume changed the cached lines are dropped (or the cache rebuilt
 *	for another geometry) and the histograms reset.
 * Results:
 *	The current volume; -2 when 0 asks past the last volume; -1 when the
 *	volume cannot be read (the record is left as it was).
 */
int tiffSeek(RAMImage *r, int volume)
{
    TiffState *s = static_cast<TiffState *>(r->privateData);
    if (!s || r->fd < 0)
        return -1;
    if (r->volumeCount < 1)
        r->volumeCount = s->dir->count;
    int last = std::min(r->volumeCount, s->dir->count);
    int target = volume;
    if (volume < 0 || volume > last) {
        target = last;
    } else if (volume == 0) {
        if (s->volume >= last)
            return -2;
        target = s->volume + 1;
    }
    int oldVolume = s->volume;
    int changed = target != oldVolume || r->volume != target;
    /* Pending lines belong to the volume described now. */
    if (changed)
        flushRAMImage(r);
    ImageInfo info = r->info;
    void *state = s;
    if (imgTiff(r->fd, &info, target, &state) != 1)
        return -1;
    if (changed && !sameGeometry(info, r->info)) {
        /* Another geometry: rebuild the cache for it. */
        ImageInfo old = r->info;
        int oldLineBytes = r->lineBytes;
        r->info = info;
        r->lineBytes = ramImageLineBytes(info.pixel, info.columns);
        if (setRAMImageBuf(r, r->cacheLines) == 0) {
            r->info = old;
            r->lineBytes = oldLineBytes;
            imgTiff(r->fd, &old, oldVolume, &state);
            return -1;
        }
        if (r->histograms) {
            deleteHist(r->histograms, old.nbands);
            r->histograms = nullptr;
        }
    }
    r->info = info;
    if (changed) {
        inValidateRAMImage(r);
        for (int b = 0; r->histograms && b < r->info.nbands; b++)
            initHist(&r->histograms[b]);
    }
    r->volume = s->volume;
    r->dataOffset = r->info.offset;
    return r->volume;
}

/* ---------------------------------------------------------------------
 * Writing
 * --------------------------------------------------------------------- */

static int sampleFormat(int pixel)
{
    switch (pixel) {
    case PIXEL_SHORT: case PIXEL_LONG: case PIXEL_SBYTE:
        return 2;
    case PIXEL_FLOAT:
        return 3;
    default:
        return 1;
    }
}

/* Row bytes of the file written for a raster. */
static int64_t tiffRowBytes(int bits, int columns, int bands)
{
    if (bits < 8)
        return ((int64_t)bits * columns - 1) / 8 + 1;
    return (int64_t)columns * bands * bits / 8;
}

static void hostPut16(unsigned char *p, uint16_t v)
{
    std::memcpy(p, &v, 2);
}

static void hostPut32(unsigned char *p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}

/* Appends one IFD entry in host order; inline SHORTs fill the value
 * field from its first byte. */
static void putEntry(std::vector<unsigned char> &ifd, int tag, int type,
                     uint32_t count, uint32_t value)
{
    unsigned char e[12] = {0};
    hostPut16(e, (uint16_t)tag);
    hostPut16(e + 2, (uint16_t)type);
    hostPut32(e + 4, count);
    if (type == TIFF_SHORT && count == 1)
        hostPut16(e + 8, (uint16_t)value);
    else
        hostPut32(e + 8, value);
    ifd.insert(ifd.end(), e, e + 12);
}

/* The entry of a per-sample SHORT array (LONG for one band): the value,
 * two inline SHORTs, or the offset of the array. */
static void putSampleEntry(std::vector<unsigned char> &ifd, int tag,
                           int bands, int value, uint32_t arrayOffset)
{
    if (bands == 1) {
        putEntry(ifd, tag, TIFF_LONG, 1, (uint32_t)value);
    } else if (bands == 2) {
        unsigned char v[4];
        hostPut16(v, (uint16_t)value);
        hostPut16(v + 2, (uint16_t)value);
        uint32_t field;
        std::memcpy(&field, v, 4);
        putEntry(ifd, tag, TIFF_SHORT, 2, field);
    } else {
        putEntry(ifd, tag, TIFF_SHORT, (uint32_t)bands, arrayOffset);
    }
}

static int writeAll(int fd, const std::vector<unsigned char> &data,
                    uint64_t off)
{
    return pwrite(fd, data.data(), data.size(), (off_t)off)
           == (ssize_t)data.size();
}

/*
 * initTiff --
 *	Writes everything of a new single-strip TIFF except the pixel rows:
 *	the sample arrays and colour map after the pixel area, the IFD after
 *	them, then the header.  With `create` the strip must fit the free
 *	disk space first.
 * Results:
 *	8 (the data offset), or -1 ("Insufficient disk space..." on standard
 *	error when it does not fit).
 */
int initTiff(int fd, int create, ImageInfo *info, int columns, int rows,
             int bands, int pixel, const unsigned char (*colours)[3])
{
    int bits = pixelBits(pixel);
    if (bits <= 0 || columns < 1 || rows < 1 || bands < 1 || bands > 65535)
        return -1;
    int64_t rowBytes = tiffRowBytes(bits, columns, bands);
    int64_t strip = rowBytes * rows;
    if (create) {
        /* Space that cannot be found out (-1) does not suffice either. */
        double avail = freeDiskSpace(info->fileName);
        if ((double)(strip + 8) > avail) {
            stderrPrintf("Insufficient disk space. Requested:%lld "
                         "Available:%.f\n", (long long)(strip + 8), avail);
            return -1;
        }
    }
    if (rowBytes > INT_MAX)
        return -1;
    int palette = colours != nullptr && bands == 1;
    int mapSize = bits < 8 ? 1 << bits : 256;

    std::vector<unsigned char> tail;
    uint64_t pos = 8 + (uint64_t)strip;
    uint32_t bitsAt = 0, formatAt = 0, mapAt = 0;
    if (bands > 2) {
        bitsAt = (uint32_t)pos;
        for (int b = 0; b < bands; b++) {
            unsigned char v[2];
            hostPut16(v, (uint16_t)bits);
            tail.insert(tail.end(), v, v + 2);
        }
        formatAt = (uint32_t)(pos + tail.size());
        for (int b = 0; b < bands; b++) {
            unsigned char v[2];
            hostPut16(v, (uint16_t)sampleFormat(pixel));
            tail.insert(tail.end(), v, v + 2);
        }
    }
    if (palette) {
        mapAt = (uint32_t)(pos + tail.size());
        for (int c = 0; c < 3; c++)
            for (int i = 0; i < mapSize; i++) {
                unsigned char v[2];
                hostPut16(v, (uint16_t)(colours[i][c] * 257));
                tail.insert(tail.end(), v, v + 2);
            }
    }
    uint64_t ifdAt = pos + tail.size();
    int entries = palette ? 15 : 14;
    if (ifdAt + 2 + 12 * entries + 4 > 0xFFFFFFFFu) {
        stderrPrintf("Tiff image too large: %lld bytes\n",
                     (long long)(ifdAt + 6 + 12 * entries));
        return -1;
    }
    int photometric = palette ? 3 : bands == 3 ? 2 : 1;

    std::vector<unsigned char> ifd(2);
    hostPut16(ifd.data(), (uint16_t)entries);
    putEntry(ifd, TIFFTAG_IMAGEWIDTH, TIFF_LONG, 1, (uint32_t)columns);
    putEntry(ifd, TIFFTAG_IMAGELENGTH, TIFF_LONG, 1, (uint32_t)rows);
    putSampleEntry(ifd, TIFFTAG_BITSPERSAMPLE, bands, bits, bitsAt);
    putEntry(ifd, TIFFTAG_COMPRESSION, TIFF_LONG, 1, 1);
    putEntry(ifd, TIFFTAG_PHOTOMETRIC, TIFF_LONG, 1, (uint32_t)photometric);
    putEntry(ifd, TIFFTAG_STRIPOFFSETS, TIFF_LONG, 1, 8);
    putEntry(ifd, TIFFTAG_ORIENTATION, TIFF_SHORT, 1, 1);
    putEntry(ifd, TIFFTAG_SAMPLESPERPIXEL, TIFF_SHORT, 1, (uint32_t)bands);
    putEntry(ifd, TIFFTAG_ROWSPERSTRIP, TIFF_LONG, 1, (uint32_t)rows);
    putEntry(ifd, TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, 1, (uint32_t)strip);
    putEntry(ifd, TIFFTAG_PLANARCONFIG, TIFF_SHORT, 1, 1);
    putSampleEntry(ifd, TIFFTAG_SAMPLEFORMAT, bands, sampleFormat(pixel),
                   formatAt);
    putEntry(ifd, TIFFTAG_MINSAMPLEVALUE, TIFF_LONG, 1, 0);
    putEntry(ifd, TIFFTAG_MAXSAMPLEVALUE, TIFF_LONG, 1, 255);
    if (palette)
        putEntry(ifd, TIFFTAG_COLORMAP, TIFF_SHORT, (uint32_t)(3 * mapSize),
                 mapAt);
    ifd.resize(ifd.size() + 4, 0);
    tail.insert(tail.end(), ifd.begin(), ifd.end());

    std::vector<unsigned char> head(8);
    uint16_t mark = (uint16_t)tiffHostOrder();
    head[0] = head[1] = (unsigned char)(mark & 0xFF);
    hostPut16(head.data() + 2, 42);
    hostPut32(head.data() + 4, (uint32_t)ifdAt);
    if (!writeAll(fd, tail, pos) || !writeAll(fd, head, 0))
        return -1;
    return 8;
}

/*
 * initTiffHead --
 *	Header writer of image type TIFF for the raster info describes.
 * Results:
 *	8, with info's offset set to 8 and block to the row bytes; -1 on
 *	failure.
 */
int initTiffHead(int fd, int create, ImageInfo *info)
{
    const unsigned char (*colours)[3] =
        info->nindices >= 1 ? info->palette : nullptr;
    if (initTiff(fd, create, info, info->columns, info->rows, info->nbands,
                 info->pixel, colours) < 0)
        return -1;
    info->offset = 8;
    info->block = (int)tiffRowBytes(pixelBits(info->pixel), info->columns,
                                    info->nbands);
    return 8;
}

/*
 * updateTiffIndices --
 *	Rewrites the ColorMap of the current volume from info's palette.
 * Results:
 *	The number of values written, -1 when the volume has no ColorMap.
 */
int updateTiffIndices(int fd, ImageInfo *info, void *state)
{
    const TiffState *s = static_cast<const TiffState *>(state);
    if (s)
        return putTiffColormap(fd, &s->dir->ifds[s->volume - 1],
                               info->palette, s->order);
    std::unique_ptr<TiffDir, void (*)(TiffDir *)> dir(getTiffDir(fd),
                                                      delTiffDir);
    if (!dir)
        return -1;
    return putTiffColormap(fd, &dir->ifds[0], info->palette, dir->order);
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static int probeTiff(int fd, const char *, ImageInfo *info, void **state)
{
    return imgTiff(fd, info, -1, state);
}

static const ImgFormatType tiffTypes[] = {{IMG_TIFF, LAYOUT_BLOCKS}, {0, 0}};

extern const ImgFormat tiffFormat = {
    .name = "TIFF",
    .types = tiffTypes,
    .privateProbe = probeTiff,
    .initHead = initTiffHead,
    .updateIndices = updateTiffIndices,
    .seek = tiffSeek,
    .readBlock = getTiffBlock,
    .blockRows = tiffBlockRows,
    .blockWritable = tiffRowsWritable,
    .destroy = tiffDestroy,
};
