/*
 * tiffDir.cpp --
 *
 *	The TIFF directory reader: the 8-byte header, the chain of image file
 *	directories (IFDs) and their entries, converted from the file's byte
 *	order, and the accessors that read single tags, array elements, the
 *	colour map and the GeoTIFF tie point and pixel scale.  Everything is
 *	read with pread, so the descriptor's file position never moves.
 *
 *	Header:
 *	Offset Size Field
 *	     0    2 byte order: "II" little-endian, "MM" big-endian
 *	     2    2 version, 42 (not checked)
 *	     4    4 offset of the first IFD
 *
 *	IFD at offset o:
 *	     o    2 entry count E
 *	 o + 2 12*E entries: tag (2), field type (2), count (4), value (4)
 *	o+2+12E   4 offset of the next IFD, 0 at the end
 *
 *	The value field holds the values themselves when they fit in 4 bytes,
 *	else the file offset of the array.
 */
#include "formats/tiffDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "core/stdstream.h"

/* Limits on what one directory may claim, so that a corrupt chain cannot
 * drive the reader into huge allocations. */
#define TIFF_MAX_IFDS 65536
#define TIFF_MAX_ENTRIES (1L << 20)

static int hostOrder(void)
{
    const uint16_t one = 1;
    unsigned char b;
    std::memcpy(&b, &one, 1);
    return b ? TIFF_II : TIFF_MM;
}

uint16_t tiffGet16(const unsigned char *p, int order)
{
    if (order == TIFF_MM)
        return (uint16_t)((p[0] << 8) | p[1]);
    return (uint16_t)(p[0] | (p[1] << 8));
}

uint32_t tiffGet32(const unsigned char *p, int order)
{
    if (order == TIFF_MM)
        return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16)
               | ((uint32_t)p[2] << 8) | p[3];
    return ((uint32_t)p[3] << 24) | ((uint32_t)p[2] << 16)
           | ((uint32_t)p[1] << 8) | p[0];
}

double tiffGetDouble(const unsigned char *p, int order)
{
    uint64_t hi = tiffGet32(p + (order == TIFF_MM ? 0 : 4), order);
    uint64_t lo = tiffGet32(p + (order == TIFF_MM ? 4 : 0), order);
    uint64_t bits = (hi << 32) | lo;
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

static void put16(unsigned char *p, uint16_t v, int order)
{
    if (order == TIFF_MM) {
        p[0] = (unsigned char)(v >> 8);
        p[1] = (unsigned char)v;
    } else {
        p[0] = (unsigned char)v;
        p[1] = (unsigned char)(v >> 8);
    }
}

static void put32(unsigned char *p, uint32_t v, int order)
{
    if (order == TIFF_MM) {
        put16(p, (uint16_t)(v >> 16), order);
        put16(p + 2, (uint16_t)v, order);
    } else {
        put16(p, (uint16_t)v, order);
        put16(p + 2, (uint16_t)(v >> 16), order);
    }
}

int64_t tiffFileSize(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -1;
    return (int64_t)st.st_size;
}

/* Reads exactly n bytes at off.  Returns 1, or 0 after printing "what"
 * with the reason. */
static int readAt(int fd, void *buf, size_t n, uint64_t off, const char *what)
{
    errno = 0;
    ssize_t got = pread(fd, buf, n, (off_t)off);
    if (got == (ssize_t)n)
        return 1;
    if (what) {
        if (got < 0)
            stderrPerror(what);
        else
            stderrPrintf("%s: unexpected end of file\n", what);
    }
    return 0;
}

/* Bytes of one value of a field type; 0 for unknown types. */
int tiffTypeSize(int type)
{
    switch (type) {
    case TIFF_BYTE: case TIFF_ASCII: case TIFF_SBYTE: case TIFF_UNDEFINED:
        return 1;
    case TIFF_SHORT: case TIFF_SSHORT:
        return 2;
    case TIFF_LONG: case TIFF_SLONG: case TIFF_FLOAT:
        return 4;
    case TIFF_RATIONAL: case TIFF_SRATIONAL: case TIFF_DOUBLE:
        return 8;
    default:
        return 0;
    }
}

/*
 * getTiffHead --
 *	Reads the 8-byte file header.
 * Results:
 *	0, or -1 when the file is too short or starts with neither "II" nor
 *	"MM".
 */
int getTiffHead(int fd, TiffHeader *header)
{
    unsigned char b[8];
    if (!readAt(fd, b, 8, 0, nullptr))
        return -1;
    uint16_t order = (uint16_t)((b[0] << 8) | b[1]);
    if (order != TIFF_II && order != TIFF_MM)
        return -1;
    header->order = order;
    header->version = tiffGet16(b + 2, order);
    header->offset = tiffGet32(b + 4, order);
    return 0;
}

/*
 * getTiffInfo --
 *	Walks the IFD chain without reading the entries.
 * Results:
 *	The number of IFDs (their entries summed into *entries), or -1 after
 *	a failed read of an entry count ("Error: read in getTiffInfo").
 */
int getTiffInfo(int fd, int *entries, const TiffHeader *header)
{
    std::unordered_set<uint32_t> visited;
    long total = 0;
    int ifds = 0;
    uint32_t off = header->offset;
    while (off != 0 && ifds < TIFF_MAX_IFDS && !visited.count(off)) {
        visited.insert(off);
        unsigned char b[4];
        if (!readAt(fd, b, 2, off, "Error: read in getTiffInfo"))
            return -1;
        long n = tiffGet16(b, header->order);
        if (total + n > TIFF_MAX_ENTRIES)
            break;
        total += n;
        ifds++;
        if (!readAt(fd, b, 4, (uint64_t)off + 2 + 12 * (uint64_t)n, nullptr))
            break;
        off = tiffGet32(b, header->order);
    }
    *entries = (int)total;
    return ifds;
}

/* Converts one raw 12-byte entry from the file's byte order. */
static TiffEntry convertEntry(const unsigned char *p, int order)
{
    TiffEntry e;
    e.tag = tiffGet16(p, order);
    e.type = tiffGet16(p + 2, order);
    e.count = tiffGet32(p + 4, order);
    const unsigned char *v = p + 8;
    int size = tiffTypeSize(e.type);
    if (size == 1 && e.count <= 4) {
        std::memcpy(&e.value, v, 4);
    } else if (size == 2 && e.count == 1) {
        e.value = tiffGet16(v, order);
    } else if (size == 2 && e.count == 2) {
        uint16_t half[2] = {tiffGet16(v, order), tiffGet16(v + 2, order)};
        std::memcpy(&e.value, half, 4);
    } else {
        e.value = tiffGet32(v, order);
    }
    return e;
}

/*
 * getTiffNextIFDEntry --
 *	Reads the IFD at `offset`.
 * Results:
 *	A new IFD record (delete it), or null after printing "Error: read in
 *	getNextIFDEntry" with the reason.  An unreadable next-IFD offset ends
 *	the chain there.
 */
TiffIFD *getTiffNextIFDEntry(int fd, int order, uint32_t offset)
{
    unsigned char b[4];
    if (!readAt(fd, b, 2, offset, "Error: read in getNextIFDEntry"))
        return nullptr;
    int n = tiffGet16(b, order);
    std::vector<unsigned char> raw((size_t)n * 12);
    if (n > 0 && !readAt(fd, raw.data(), raw.size(), (uint64_t)offset + 2,
                         "Error: read in getNextIFDEntry"))
        return nullptr;
    std::unique_ptr<TiffIFD> ifd(new TiffIFD);
    ifd->offset = offset;
    ifd->count = n;
    ifd->entries.reserve(n);
    for (int i = 0; i < n; i++)
        ifd->entries.push_back(convertEntry(raw.data() + 12 * i, order));
    ifd->next = 0;
    if (readAt(fd, b, 4, (uint64_t)offset + 2 + 12 * (uint64_t)n, nullptr))
        ifd->next = tiffGet32(b, order);
    return ifd.release();
}

/*
 * getTiffDir --
 *	Builds the directory of the file open on fd.
 * Results:
 *	A new directory (free it with delTiffDir), or null when the file is
 *	not TIFF, its chain cannot be walked or its IFDs hold no entries.
 */
TiffDir *getTiffDir(int fd)
{
    TiffHeader h;
    if (getTiffHead(fd, &h) != 0)
        return nullptr;
    int entries = 0;
    int ifds = getTiffInfo(fd, &entries, &h);
    if (ifds <= 0 || entries == 0)
        return nullptr;
    std::unique_ptr<TiffDir> dir(new TiffDir);
    dir->order = h.order;
    dir->first = h.offset;
    uint32_t off = h.offset;
    for (int i = 0; i < ifds && off != 0; i++) {
        std::unique_ptr<TiffIFD> ifd(getTiffNextIFDEntry(fd, h.order, off));
        if (!ifd)
            break;
        off = ifd->next;
        dir->ifds.push_back(std::move(*ifd));
    }
    dir->count = (int)dir->ifds.size();
    if (dir->count == 0)
        return nullptr;
    return dir.release();
}

void delTiffDir(TiffDir *dir)
{
    delete dir;
}

int getTiffEntryIndex(const TiffIFD *ifd, int tag)
{
    for (size_t i = 0; i < ifd->entries.size(); i++)
        if (ifd->entries[i].tag == tag)
            return (int)i;
    return -1;
}

/*
 * convertTiffOffsetLong --
 *	Interprets an inline value field by type: BYTE low 8 bits, ASCII and
 *	UNDEFINED low 8 bits sign-extended, SHORT low 16 bits, SSHORT low 16
 *	bits sign-extended, others unchanged.
 */
long convertTiffOffsetLong(int type, uint32_t value)
{
    switch (type) {
    case TIFF_BYTE:
        return value & 0xFF;
    case TIFF_ASCII:
    case TIFF_UNDEFINED:
        return (signed char)(value & 0xFF);
    case TIFF_SHORT:
        return value & 0xFFFF;
    case TIFF_SSHORT:
        return (int16_t)(value & 0xFFFF);
    default:
        return (long)value;
    }
}

/* The value of a single-valued tag converted by type, -1 when absent. */
static long tagValue(const TiffIFD *ifd, int tag)
{
    int i = getTiffEntryIndex(ifd, tag);
    if (i < 0)
        return -1;
    return convertTiffOffsetLong(ifd->entries[i].type, ifd->entries[i].value);
}

long getTiffImageWidth(const TiffIFD *ifd)
{
    return tagValue(ifd, TIFFTAG_IMAGEWIDTH);
}

long getTiffImageLength(const TiffIFD *ifd)
{
    return tagValue(ifd, TIFFTAG_IMAGELENGTH);
}

long getTiffCompression(const TiffIFD *ifd)
{
    return tagValue(ifd, TIFFTAG_COMPRESSION);
}

long getTiffTileWidth(const TiffIFD *ifd)
{
    return tagValue(ifd, TIFFTAG_TILEWIDTH);
}

long getTiffTileLength(const TiffIFD *ifd)
{
    return tagValue(ifd, TIFFTAG_TILELENGTH);
}

long getTiffSamplePerPixel(const TiffIFD *ifd)
{
    long v = tagValue(ifd, TIFFTAG_SAMPLESPERPIXEL);
    return v < 0 ? 1 : v;
}

long getTiffPhotometricInterpretation(const TiffIFD *ifd)
{
    return tagValue(ifd, TIFFTAG_PHOTOMETRIC);
}

long getTiffRowsPerStrip(const TiffIFD *ifd)
{
    return tagValue(ifd, TIFFTAG_ROWSPERSTRIP);
}

long getTiffBytesPerStrip(const TiffIFD *ifd)
{
    int i = getTiffEntryIndex(ifd, TIFFTAG_STRIPBYTECOUNTS);
    return i < 0 ? -1 : (long)ifd->entries[i].value;
}

long getTiffStripOffsets(int, const TiffIFD *ifd, int, long *count)
{
    int i = getTiffEntryIndex(ifd, TIFFTAG_STRIPOFFSETS);
    if (i < 0)
        return -1;
    if (count)
        *count = ifd->entries[i].count;
    return (long)ifd->entries[i].value;
}

/* Element `index` of an entry whose values fit the value field. */
static uint32_t inlineElement(const TiffEntry &e, int size, uint64_t index)
{
    unsigned char b[4];
    std::memcpy(b, &e.value, 4);
    if (size == 1)
        return b[index];
    if (size == 2) {
        if (e.count == 1)
            return e.value & 0xFFFF;
        uint16_t s;
        std::memcpy(&s, b + 2 * index, 2);
        return s;
    }
    return e.value;
}

/* Raw bits of element `index` of an integer-typed entry: inline or read
 * from the file.  Returns 1, or 0 when unreadable. */
static int elementBits(int fd, int order, const TiffEntry &e, int size,
                       uint64_t index, uint32_t *out)
{
    if ((uint64_t)size * e.count <= 4) {
        *out = inlineElement(e, size, index);
        return 1;
    }
    unsigned char b[4];
    if (!readAt(fd, b, size, (uint64_t)e.value + index * size, nullptr))
        return 0;
    *out = size == 1 ? b[0] : size == 2 ? tiffGet16(b, order)
                                        : tiffGet32(b, order);
    return 1;
}

int tiffReadUintArray(int fd, int order, const TiffEntry &e, uint64_t first,
                      long n, uint32_t *out)
{
    int size = e.type == TIFF_BYTE ? 1 : e.type == TIFF_SHORT ? 2
             : e.type == TIFF_LONG ? 4 : 0;
    std::memset(out, 0, sizeof *out * (size_t)n);
    if (size == 0 || n < 0 || first + (uint64_t)n > e.count)
        return -1;
    if ((uint64_t)size * e.count <= 4) {
        for (long i = 0; i < n; i++)
            out[i] = inlineElement(e, size, first + i);
        return 0;
    }
    std::vector<unsigned char> raw((size_t)n * size);
    ssize_t got = pread(fd, raw.data(), raw.size(),
                        (off_t)((uint64_t)e.value + first * size));
    long have = got < 0 ? 0 : (long)(got / size);
    for (long i = 0; i < have; i++) {
        const unsigned char *p = raw.data() + (size_t)i * size;
        out[i] = size == 1 ? p[0] : size == 2 ? tiffGet16(p, order)
                                              : tiffGet32(p, order);
    }
    return have == n ? 0 : -1;
}

long tiffReadEntryValues(int fd, int order, const TiffEntry &e, long n,
                         std::vector<unsigned char> &out)
{
    int size = tiffTypeSize(e.type);
    out.clear();
    if (size == 0 || n <= 0)
        return 0;
    n = std::min<long>(n, (long)std::min<uint64_t>(e.count, LONG_MAX));
    if ((uint64_t)size * e.count <= 4) {
        out.resize((size_t)n * size);
        for (long i = 0; i < n; i++) {
            uint32_t v = inlineElement(e, size, i);
            if (size == 1) {
                out[i] = (unsigned char)v;
            } else {
                uint16_t h = (uint16_t)v;
                size == 2 ? std::memcpy(&out[2 * i], &h, 2)
                          : std::memcpy(&out[4 * i], &v, 4);
            }
        }
        return n;
    }
    int64_t fileSize = tiffFileSize(fd);
    if (fileSize <= (int64_t)e.value)
        return 0;
    n = std::min<long>(n, (long)((fileSize - e.value) / size));
    out.resize((size_t)n * size);
    ssize_t got = pread(fd, out.data(), out.size(), (off_t)e.value);
    n = got < 0 ? 0 : (long)(got / size);
    out.resize((size_t)n * size);
    for (long i = 0; i < n; i++) {
        unsigned char *p = out.data() + (size_t)i * size;
        if (e.type == TIFF_DOUBLE) {
            double d = tiffGetDouble(p, order);
            std::memcpy(p, &d, 8);
        } else if (size == 2) {
            uint16_t h = tiffGet16(p, order);
            std::memcpy(p, &h, 2);
        } else if (size >= 4) {
            for (int w = 0; w < size; w += 4) {
                uint32_t v = tiffGet32(p + w, order);
                std::memcpy(p + w, &v, 4);
            }
        }
    }
    return n;
}

/*
 * getTiffArrayElement --
 *	Element `index` of the entry with `tag`: BYTE unsigned, ASCII,
 *	SBYTE and UNDEFINED signed bytes, SHORT, SSHORT, LONG, SLONG; for
 *	RATIONAL and SRATIONAL index 0 and 1 are the numerator and the
 *	denominator of the first value.
 * Results:
 *	The element; -1 when the tag is absent, the index out of range, the
 *	type FLOAT or DOUBLE or the file unreadable.  Other types print
 *	"Unknown data type for array element ..." and give -1.
 */
long getTiffArrayElement(int fd, const TiffIFD *ifd, int tag, long index,
                         int order)
{
    int i = getTiffEntryIndex(ifd, tag);
    if (i < 0)
        return -1;
    const TiffEntry &e = ifd->entries[i];
    uint32_t bits;
    switch (e.type) {
    case TIFF_RATIONAL:
    case TIFF_SRATIONAL: {
        unsigned char b[4];
        if (index < 0 || index > 1 || e.count < 1
                || !readAt(fd, b, 4, (uint64_t)e.value + 4 * index, nullptr))
            return -1;
        bits = tiffGet32(b, order);
        return e.type == TIFF_RATIONAL ? (long)bits : (long)(int32_t)bits;
    }
    case TIFF_FLOAT:
    case TIFF_DOUBLE:
        return -1;
    case TIFF_BYTE: case TIFF_ASCII: case TIFF_SBYTE: case TIFF_UNDEFINED:
    case TIFF_SHORT: case TIFF_SSHORT: case TIFF_LONG: case TIFF_SLONG:
        break;
    default:
        stderrPrintf("Unknown data type for array element at index: %d "
                     "tagged as: %d\n", (int)index, tag);
        return -1;
    }
    if (index < 0 || (uint64_t)index >= e.count)
        return -1;
    if (!elementBits(fd, order, e, tiffTypeSize(e.type), index, &bits))
        return -1;
    switch (e.type) {
    case TIFF_BYTE:
        return bits & 0xFF;
    case TIFF_ASCII: case TIFF_SBYTE: case TIFF_UNDEFINED:
        return (signed char)(bits & 0xFF);
    case TIFF_SSHORT:
        return (int16_t)bits;
    case TIFF_SLONG:
        return (int32_t)bits;
    default:
        return (long)bits;
    }
}

long getTiffBitsPerSample(int fd, const TiffIFD *ifd, long index, int order)
{
    return getTiffArrayElement(fd, ifd, TIFFTAG_BITSPERSAMPLE, index, order);
}

long getTiffSampleFormat(int fd, const TiffIFD *ifd, long index, int order)
{
    return getTiffArrayElement(fd, ifd, TIFFTAG_SAMPLEFORMAT, index, order);
}

/* The 32-bit value at offset + 4 * index; 0 when unreadable. */
uint32_t getTiffOffsetLong(int fd, int order, uint32_t offset, int index)
{
    unsigned char b[4];
    if (!readAt(fd, b, 4, (uint64_t)offset + 4 * (uint64_t)index, nullptr))
        return 0;
    return tiffGet32(b, order);
}

/*
 * getTiffColormap --
 *	Reads ColorMap (N reds, N greens, N blues) into at most 256 entries
 *	of colours: the high byte of SHORT values, BYTE values as they are,
 *	bits 8 to 15 of LONG values.
 * Results:
 *	The entry's count (3 N), or -1 when absent, unreadable or of another
 *	type ("Unknown data type for ColorMap" on standard error).
 */
int getTiffColormap(int fd, const TiffIFD *ifd, unsigned char (*colours)[3],
                    int order)
{
    int i = getTiffEntryIndex(ifd, TIFFTAG_COLORMAP);
    if (i < 0)
        return -1;
    const TiffEntry &e = ifd->entries[i];
    int shift;
    switch (e.type) {
    case TIFF_SHORT: shift = 8; break;
    case TIFF_BYTE: shift = 0; break;
    case TIFF_LONG: shift = 8; break;
    default:
        stderrPrintf("Unknown data type for ColorMap\n");
        return -1;
    }
    uint64_t n = e.count / 3;
    long taken = n > 256 ? 256 : (long)n;
    uint32_t plane[256];
    for (int c = 0; c < 3; c++) {
        if (tiffReadUintArray(fd, order, e, c * n, taken, plane) != 0)
            return -1;
        for (long k = 0; k < taken; k++)
            colours[k][c] = (unsigned char)(plane[k] >> shift);
    }
    return (int)(e.count > 0x7FFFFFFF ? 0x7FFFFFFF : e.count);
}

/*
 * putTiffColormap --
 *	Writes colours into the file's ColorMap in the entry's own field type
 *	and the file's byte order (SHORT and LONG: byte * 257, whose high
 *	byte is the byte and which 16-bit readers scale back exactly).
 * Results:
 *	The entry's count, or -1 when absent, of another type or unwritable.
 */
int putTiffColormap(int fd, const TiffIFD *ifd,
                    const unsigned char (*colours)[3], int order)
{
    int i = getTiffEntryIndex(ifd, TIFFTAG_COLORMAP);
    if (i < 0)
        return -1;
    const TiffEntry &e = ifd->entries[i];
    int size = e.type == TIFF_BYTE ? 1 : e.type == TIFF_SHORT ? 2
             : e.type == TIFF_LONG ? 4 : 0;
    if (size == 0)
        return -1;
    uint64_t n = e.count / 3;
    long taken = n > 256 ? 256 : (long)n;
    /* Inline values live in the entry itself. */
    uint64_t base = (uint64_t)size * e.count <= 4
                  ? (uint64_t)ifd->offset + 2 + 12 * (uint64_t)i + 8
                  : e.value;
    std::vector<unsigned char> buf((size_t)taken * size);
    for (int c = 0; c < 3; c++) {
        for (long k = 0; k < taken; k++) {
            uint32_t v = size == 1 ? colours[k][c] : colours[k][c] * 257u;
            unsigned char *p = buf.data() + (size_t)k * size;
            if (size == 1)
                p[0] = (unsigned char)v;
            else if (size == 2)
                put16(p, (uint16_t)v, order);
            else
                put32(p, v, order);
        }
        off_t at = (off_t)(base + c * n * size);
        if (taken > 0 && pwrite(fd, buf.data(), buf.size(), at)
                             != (ssize_t)buf.size())
            return -1;
    }
    return (int)(e.count > 0x7FFFFFFF ? 0x7FFFFFFF : e.count);
}

/* Reads at most `max` DOUBLE values of `tag`.  Returns the entry's count,
 * or -1 when absent, not DOUBLE or unreadable. */
static int readDoubles(int fd, const TiffIFD *ifd, int tag, int order,
                       double *values, int max)
{
    int i = getTiffEntryIndex(ifd, tag);
    if (i < 0 || ifd->entries[i].type != TIFF_DOUBLE)
        return -1;
    const TiffEntry &e = ifd->entries[i];
    int n = e.count < (uint32_t)max ? (int)e.count : max;
    unsigned char b[8 * 6];
    if (n > 0 && !readAt(fd, b, 8 * (size_t)n, e.value, nullptr))
        return -1;
    for (int k = 0; k < n; k++)
        values[k] = tiffGetDouble(b + 8 * k, order);
    return (int)(e.count > 0x7FFFFFFF ? 0x7FFFFFFF : e.count);
}

int getGeoTiffTiePoints(int fd, const TiffIFD *ifd, int order,
                        double *values)
{
    return readDoubles(fd, ifd, TIFFTAG_MODELTIEPOINT, order, values, 6);
}

int getGeoTiffPixelScales(int fd, const TiffIFD *ifd, int order,
                          double *values)
{
    return readDoubles(fd, ifd, TIFFTAG_MODELPIXELSCALE, order, values, 3);
}

/* The host's byte-order word, for writers. */
int tiffHostOrder(void)
{
    return hostOrder();
}
