// Tests of the TIFF reader and writer (tiffDir.cpp, tiff.cpp): files from
// GDAL and libtiff (tests/fixtures/make_tiff.sh) against gdalinfo's
// statistics, hand-built directories in both byte orders, the writer's
// byte layout and its round trip through GDAL, volumes, and truncated or
// corrupted files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "formats/tiff.h"
#include "formats/tiffDir.h"
#include "tests/support/testSupport.h"

namespace {

std::string tiffFixture(const std::string &name)
{
    return fixturePath("tiff/" + name);
}

/* A raster record for a file, probed through the registry. */
struct Raster {
    RAMImage *r = nullptr;
    int err = 0;
    explicit Raster(const std::string &path)
    {
        r = createRAMImage(path.c_str(), nullptr, nullptr, &err);
    }
    ~Raster()
    {
        if (r)
            destroyRAMImage(r);
    }
};

struct BandStats {
    double min = 1e300, max = -1e300, sum = 0, sum2 = 0, n = 0;
    void add(double v)
    {
        min = std::min(min, v);
        max = std::max(max, v);
        sum += v;
        sum2 += v * v;
        n++;
    }
    double mean() const { return sum / n; }
    double std() const { return std::sqrt(sum2 / n - mean() * mean()); }
};

/* Value of sample `band` of pixel `x` in a stored row. */
double sampleAt(const ImageInfo &info, const unsigned char *row, int x,
                int band)
{
    int nb = info.nbands;
    if (info.pixel == PIXEL_1BIT)
        return (row[x / 8] >> (7 - x % 8)) & 1;
    if (info.pixel == PIXEL_4BITS)
        return x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4;
    int size = info.bits / 8;
    unsigned char b[4];
    std::memcpy(b, row + (size_t)(x * nb + band) * size, size);
    if (info.msbf)
        std::reverse(b, b + size);
    switch (info.pixel) {
    case PIXEL_BYTE: return b[0];
    case PIXEL_USHORT: { uint16_t v; std::memcpy(&v, b, 2); return v; }
    case PIXEL_SHORT: { int16_t v; std::memcpy(&v, b, 2); return v; }
    case PIXEL_ULONG: { uint32_t v; std::memcpy(&v, b, 4); return v; }
    case PIXEL_LONG: { int32_t v; std::memcpy(&v, b, 4); return v; }
    default: { float v; std::memcpy(&v, b, 4); return v; }
    }
}

/* Every row of the current volume through getTiffBlock, checking that
 * the blocks tile the image in order. */
std::vector<BandStats> statsThroughBlocks(RAMImage *r)
{
    std::vector<BandStats> s(r->info.nbands);
    int y = 0;
    while (y < r->info.rows) {
        int first = y, count = 0;
        unsigned char *block = getTiffBlock(r, &first, &count);
        EXPECT_NE(block, nullptr);
        EXPECT_EQ(first, y);
        EXPECT_GT(count, 0);
        if (!block || first != y || count <= 0)
            break;
        for (int i = 0; i < count; i++)
            for (int x = 0; x < r->info.columns; x++)
                for (int b = 0; b < r->info.nbands; b++)
                    s[b].add(sampleAt(r->info,
                                      block + (size_t)i * r->info.block, x, b));
        std::free(block);
        y += count;
    }
    return s;
}

/* All rows of the current volume (at most `limit`), concatenated. */
std::vector<unsigned char> allRows(RAMImage *r, int limit = INT_MAX)
{
    std::vector<unsigned char> out;
    for (int y = 0; y < std::min(r->info.rows, limit);) {
        int first = y, count = 0;
        unsigned char *block = getTiffBlock(r, &first, &count);
        if (!block)
            break;
        out.insert(out.end(), block + (size_t)(y - first) * r->info.block,
                   block + (size_t)count * r->info.block);
        std::free(block);
        y = first + count;
    }
    return out;
}

/* Builds a classic TIFF: header, `pixels` at offset 8, the out-of-line
 * values, then one IFD.  Entry data are given in the file's order. */
struct Tag {
    uint16_t tag, type;
    uint32_t count;
    std::vector<unsigned char> data;
};

std::vector<unsigned char> shorts(int order, std::vector<unsigned> v)
{
    std::vector<unsigned char> out;
    for (unsigned x : v)
        order == TIFF_MM ? putBE16(out, (uint16_t)x) : putLE16(out, (uint16_t)x);
    return out;
}

std::vector<unsigned char> longs(int order, std::vector<uint32_t> v)
{
    std::vector<unsigned char> out;
    for (uint32_t x : v)
        order == TIFF_MM ? putBE32(out, x) : putLE32(out, x);
    return out;
}

std::vector<unsigned char> doubles(int order, std::vector<double> v)
{
    std::vector<unsigned char> out;
    for (double d : v) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        std::vector<unsigned char> w = longs(order, {(uint32_t)(bits >> 32),
                                                     (uint32_t)bits});
        if (order == TIFF_II)
            std::swap_ranges(w.begin(), w.begin() + 4, w.begin() + 4);
        out.insert(out.end(), w.begin(), w.end());
    }
    return out;
}

Tag shortTag(int order, uint16_t tag, std::vector<unsigned> v)
{
    return {tag, TIFF_SHORT, (uint32_t)v.size(), shorts(order, v)};
}

Tag longTag(int order, uint16_t tag, std::vector<uint32_t> v)
{
    return {tag, TIFF_LONG, (uint32_t)v.size(), longs(order, v)};
}

std::vector<unsigned char> buildTiff(int order, std::vector<Tag> tags,
                                     const std::vector<unsigned char> &pixels)
{
    std::vector<unsigned char> f;
    auto p16 = [&](std::vector<unsigned char> &v, unsigned x) {
        order == TIFF_MM ? putBE16(v, (uint16_t)x) : putLE16(v, (uint16_t)x);
    };
    auto p32 = [&](std::vector<unsigned char> &v, uint32_t x) {
        order == TIFF_MM ? putBE32(v, x) : putLE32(v, x);
    };
    f.push_back(order == TIFF_MM ? 'M' : 'I');
    f.push_back(f[0]);
    p16(f, 42);
    p32(f, 0);
    f.insert(f.end(), pixels.begin(), pixels.end());
    std::vector<uint32_t> where(tags.size());
    for (size_t i = 0; i < tags.size(); i++) {
        if (tags[i].data.size() > 4) {
            where[i] = (uint32_t)f.size();
            f.insert(f.end(), tags[i].data.begin(), tags[i].data.end());
        }
    }
    uint32_t ifd = (uint32_t)f.size();
    p16(f, (unsigned)tags.size());
    for (size_t i = 0; i < tags.size(); i++) {
        p16(f, tags[i].tag);
        p16(f, tags[i].type);
        p32(f, tags[i].count);
        if (tags[i].data.size() > 4) {
            p32(f, where[i]);
        } else {
            std::vector<unsigned char> v = tags[i].data;
            v.resize(4, 0);
            f.insert(f.end(), v.begin(), v.end());
        }
    }
    p32(f, 0);
    std::vector<unsigned char> off;
    p32(off, ifd);
    std::copy(off.begin(), off.end(), f.begin() + 4);
    return f;
}

/* The tags of a minimal 8-bit image. */
std::vector<Tag> baseTags(int order, unsigned w, unsigned h)
{
    return {shortTag(order, 256, {w}), shortTag(order, 257, {h}),
            shortTag(order, 258, {8}), longTag(order, 273, {8})};
}

std::map<std::string, std::vector<std::vector<double>>> gdalStats()
{
    std::map<std::string, std::vector<std::vector<double>>> out;
    std::ifstream in(tiffFixture("stats.txt"));
    std::string name;
    int band;
    double mn, mx, mean, sd;
    while (in >> name >> band >> mn >> mx >> mean >> sd)
        out[name].push_back({mn, mx, mean, sd});
    return out;
}

bool near(double got, double want)
{
    /* gdalinfo -json prints 3 decimals. */
    return std::fabs(got - want) <= 0.0006 + 1e-9 * std::fabs(want);
}

/* The description of a new TIFF raster. */
ImageInfo newTiffInfo(const std::string &path, int pixel, int columns,
                      int rows, int bands, int nindices = 0)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.imgid = IMG_TIFF;
    info.pixel = pixel;
    info.columns = columns;
    info.rows = rows;
    info.nbands = bands;
    info.nindices = nindices;
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    return info;
}

}  // namespace

TEST(imgTiff, IndependentWritersGiveGdalStatistics)
{
    auto stats = gdalStats();
    ASSERT_GE(stats.size(), 21u);
    for (auto &file : stats) {
        SCOPED_TRACE(file.first);
        Raster img(tiffFixture(file.first));
        ASSERT_NE(img.r, nullptr) << "error " << img.err;
        EXPECT_EQ(img.r->info.imgid, IMG_TIFF);
        EXPECT_EQ(img.r->info.columns, 37);
        EXPECT_EQ(img.r->info.rows, 23);
        ASSERT_EQ((size_t)img.r->info.nbands, file.second.size());
        std::vector<BandStats> got = statsThroughBlocks(img.r);
        for (size_t b = 0; b < got.size(); b++) {
            SCOPED_TRACE(b);
            EXPECT_TRUE(near(got[b].min, file.second[b][0])) << got[b].min;
            EXPECT_TRUE(near(got[b].max, file.second[b][1])) << got[b].max;
            EXPECT_TRUE(near(got[b].mean(), file.second[b][2]))
                << got[b].mean();
            EXPECT_TRUE(near(got[b].std(), file.second[b][3])) << got[b].std();
        }
        /* The same through the line cache and the histogram code (which
         * leave ULONG pixels alone). */
        if (img.r->info.pixel == PIXEL_ULONG)
            continue;
        for (size_t b = 0; b < got.size(); b++) {
            SCOPED_TRACE(b);
            double sd, mean, mn, mx;
            int band = img.r->info.nindices > 0 ? -1 : (int)b;
            ASSERT_EQ(ramImageStats(img.r, band, &sd, &mean, &mn, &mx), 1);
            EXPECT_TRUE(near(mn, file.second[b][0])) << mn;
            EXPECT_TRUE(near(mx, file.second[b][1])) << mx;
            EXPECT_TRUE(near(mean, file.second[b][2])) << mean;
            EXPECT_TRUE(near(sd, file.second[b][3])) << sd;
        }
    }
}

TEST(imgTiff, DescriptionOfFixtures)
{
    struct {
        const char *file;
        int pixel, bands, block, msbf, nindices;
    } cases[] = {
        {"byte1_strips.tif", PIXEL_BYTE, 1, 37, 0, 0},
        {"uint16_2.tif", PIXEL_USHORT, 2, 148, 0, 0},
        {"be_uint16_2.tif", PIXEL_USHORT, 2, 148, 1, 0},
        {"int16_1.tif", PIXEL_SHORT, 1, 74, 0, 0},
        {"uint32_1.tif", PIXEL_ULONG, 1, 148, 0, 0},
        {"int32_1.tif", PIXEL_LONG, 1, 148, 0, 0},
        {"be_float32_4.tif", PIXEL_FLOAT, 4, 592, 1, 0},
        {"bit1.tif", PIXEL_1BIT, 1, 5, 1, 2},
        {"bit4.tif", PIXEL_4BITS, 1, 19, 1, 0},
        {"palette.tif", PIXEL_BYTE, 1, 37, 0, 256},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.file);
        Raster img(tiffFixture(c.file));
        ASSERT_NE(img.r, nullptr);
        const ImageInfo &i = img.r->info;
        EXPECT_EQ(i.pixel, c.pixel);
        EXPECT_EQ(i.nbands, c.bands);
        EXPECT_EQ(i.block, c.block);
        EXPECT_EQ(i.msbf, c.msbf);
        EXPECT_EQ(i.nindices, c.nindices);
        EXPECT_EQ(i.mapid, MAP_GRID);
        EXPECT_EQ(i.transparent, -1);
        EXPECT_EQ(i.volumes, 1);
    }
    Raster pal(tiffFixture("palette.tif"));
    const unsigned char want[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                                      {18, 52, 86}};
    EXPECT_EQ(std::memcmp(pal.r->info.palette, want, sizeof want), 0);
    /* GDAL's 1-bit image is BlackIsZero: entry 0 black. */
    Raster bit(tiffFixture("bit1.tif"));
    EXPECT_EQ(bit.r->info.palette[0][0], 0);
    EXPECT_EQ(bit.r->info.palette[1][2], 255);
}

TEST(imgTiff, GeoTiffMatchesGdalinfo)
{
    std::ifstream in(tiffFixture("geo.txt"));
    std::string name;
    double ox, oy, px, py;
    ASSERT_TRUE(in >> name >> ox >> oy >> px >> py);
    Raster img(tiffFixture(name));
    ASSERT_NE(img.r, nullptr);
    EXPECT_DOUBLE_EQ(img.r->info.x0, ox);
    EXPECT_DOUBLE_EQ(img.r->info.y0, oy);
    EXPECT_DOUBLE_EQ(img.r->info.dx, px);
    EXPECT_DOUBLE_EQ(img.r->info.dy, -py);
    EXPECT_EQ(static_cast<TiffState *>(img.r->privateData)->georeferenced, 1);
}

TEST(getTiffBlock, BlockShapesAndLayoutsAgree)
{
    Raster strips(tiffFixture("byte1_strips.tif"));
    Raster pb1(tiffFixture("byte1_packbits1.tif"));
    ASSERT_TRUE(strips.r && pb1.r);
    int row = 7, count;
    unsigned char *b = getTiffBlock(strips.r, &row, &count);
    EXPECT_EQ(row, 5);
    EXPECT_EQ(count, 5);
    std::free(b);
    row = 22;
    b = getTiffBlock(strips.r, &row, &count);
    EXPECT_EQ(row, 20);
    EXPECT_EQ(count, 3);
    std::free(b);
    EXPECT_EQ(tiffBlockRows(strips.r), 5);
    /* One PackBits strip: asking for row 10 first gives the whole strip. */
    row = 10;
    b = getTiffBlock(pb1.r, &row, &count);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(count, 23);
    std::vector<unsigned char> plain = allRows(strips.r);
    EXPECT_EQ(std::vector<unsigned char>(b, b + 23 * 37), plain);
    std::free(b);
    row = -1;
    EXPECT_EQ(getTiffBlock(pb1.r, &row, &count), nullptr);
    row = 23;
    EXPECT_EQ(getTiffBlock(pb1.r, &row, &count), nullptr);

    /* Tiles 16 x 16 over 37 columns: the right-most tile is clipped; the
     * same pixels as the PackBits strips and the big-endian copy. */
    Raster tiled(tiffFixture("byte3_tiled.tif"));
    Raster betiled(tiffFixture("be_byte3_tiled.tif"));
    Raster packed(tiffFixture("byte3_packbits.tif"));
    ASSERT_TRUE(tiled.r && packed.r && betiled.r);
    EXPECT_EQ(tiffBlockRows(tiled.r), 16);
    row = 17;
    b = getTiffBlock(tiled.r, &row, &count);
    EXPECT_EQ(row, 16);
    EXPECT_EQ(count, 7);
    std::free(b);
    EXPECT_EQ(tiffRowsWritable(strips.r), 0);
    EXPECT_EQ(tiffRowsWritable(pb1.r), 0);
    EXPECT_EQ(tiffRowsWritable(tiled.r), 0);
    std::vector<unsigned char> t = allRows(tiled.r);
    EXPECT_EQ(t.size(), 23u * 111);
    EXPECT_EQ(t, allRows(packed.r));
    EXPECT_EQ(t, allRows(betiled.r));
}

TEST(imgTiff, HandBuiltDirectoriesInBothOrders)
{
    ScratchDir dir;
    CapturedOutput cap;
    std::vector<unsigned char> pixels(6 * 4);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = (unsigned char)(i * 7);
    for (int order : {TIFF_II, TIFF_MM}) {
        SCOPED_TRACE(order);
        std::string path = dir.path(order == TIFF_II ? "ii.tif" : "mm.tif");
        writeFileBytes(path, buildTiff(order, baseTags(order, 6, 4), pixels));
        Raster img(path);
        ASSERT_NE(img.r, nullptr);
        EXPECT_EQ(img.r->info.columns, 6);
        EXPECT_EQ(img.r->info.rows, 4);
        EXPECT_EQ(img.r->info.msbf, order == TIFF_MM);
        EXPECT_EQ(img.r->info.offset, 8);
        EXPECT_EQ(allRows(img.r), pixels);

        /* GeoTIFF: one tie point is taken, two are not. */
        auto tags = baseTags(order, 6, 4);
        tags.push_back({33550, TIFF_DOUBLE, 3, doubles(order, {30, 30, 0})});
        tags.push_back({33922, TIFF_DOUBLE, 6,
                        doubles(order, {0, 0, 0, 500000, 4000000, 0})});
        writeFileBytes(path, buildTiff(order, tags, pixels));
        {
            Raster geo(path);
            ASSERT_NE(geo.r, nullptr);
            EXPECT_EQ(geo.r->info.x0, 500000);
            EXPECT_EQ(geo.r->info.y0, 4000000);
            EXPECT_EQ(geo.r->info.dx, 30);
            EXPECT_EQ(geo.r->info.dy, 30);
        }
        tags.back() = {33922, TIFF_DOUBLE, 12,
                       doubles(order, {0, 0, 0, 500000, 4000000, 0,
                                       5, 5, 0, 500150, 3999850, 0})};
        writeFileBytes(path, buildTiff(order, tags, pixels));
        {
            Raster geo(path);
            ASSERT_NE(geo.r, nullptr);
            EXPECT_EQ(geo.r->info.x0, 0);
            EXPECT_EQ(geo.r->info.y0, 0);
            EXPECT_EQ(geo.r->info.dx, 30);
            EXPECT_EQ(static_cast<TiffState *>(geo.r->privateData)
                          ->georeferenced, 0);
        }

        /* 1 bit without ColorMap: Photometric 1 shows 0 black, 0 white. */
        for (unsigned photometric : {0u, 1u}) {
            auto bl = baseTags(order, 6, 4);
            bl[2] = shortTag(order, 258, {1});
            bl.push_back(shortTag(order, 262, {photometric}));
            writeFileBytes(path, buildTiff(order, bl, pixels));
            Raster bit(path);
            ASSERT_NE(bit.r, nullptr);
            EXPECT_EQ(bit.r->info.pixel, PIXEL_1BIT);
            EXPECT_EQ(bit.r->info.nindices, 2);
            EXPECT_EQ(bit.r->info.palette[0][1], photometric ? 0 : 255);
            EXPECT_EQ(bit.r->info.palette[1][1], photometric ? 255 : 0);
        }

        /* 16 bits: 100 x 300 has rows of 200 bytes; SampleFormat 3 (half
         * floats) is not readable. */
        auto s16 = baseTags(order, 100, 300);
        s16[2] = shortTag(order, 258, {16});
        writeFileBytes(path, buildTiff(order, s16, {}));
        {
            Raster img16(path);
            ASSERT_NE(img16.r, nullptr);
            EXPECT_EQ(img16.r->info.block, 200);
            EXPECT_EQ(img16.r->info.pixel, PIXEL_USHORT);
        }
        s16.push_back(shortTag(order, 339, {3}));
        writeFileBytes(path, buildTiff(order, s16, {}));
        EXPECT_EQ(Raster(path).err, RAMIMG_EUNKNOWN);

        /* Unsupported compression and missing strip offsets stop the
         * probing with their messages. */
        cap.clear();
        auto lzw = baseTags(order, 6, 4);
        lzw.push_back(shortTag(order, 259, {5}));
        writeFileBytes(path, buildTiff(order, lzw, pixels));
        EXPECT_EQ(Raster(path).err, RAMIMG_EHANDLE);
        EXPECT_EQ(cap.err(), "Can't read Tiff with compression code:5\n");
        cap.clear();
        auto noStrips = baseTags(order, 6, 4);
        noStrips.pop_back();
        writeFileBytes(path, buildTiff(order, noStrips, pixels));
        EXPECT_EQ(Raster(path).err, RAMIMG_EHANDLE);
        EXPECT_EQ(cap.err(), "Fail to find Tiff strip offset.\n");
        /* Zero width: not a TIFF this system reads. */
        writeFileBytes(path, buildTiff(order, baseTags(order, 0, 4), pixels));
        EXPECT_EQ(Raster(path).err, RAMIMG_EUNKNOWN);
    }
    cap.clear();
    Raster lzw(tiffFixture("byte1_lzw.tif"));
    EXPECT_EQ(lzw.r, nullptr);
    EXPECT_EQ(cap.err(), "Can't read Tiff with compression code:5\n");
}

TEST(getTiffArrayElement, TypesIndicesAndInlineValues)
{
    ScratchDir dir;
    CapturedOutput cap;
    for (int order : {TIFF_II, TIFF_MM}) {
        SCOPED_TRACE(order);
        auto tags = baseTags(order, 6, 4);
        tags.push_back({300, TIFF_BYTE, 3, {200, 7, 9}});
        tags.push_back({301, TIFF_ASCII, 6, {'a', 0x90, 'c', 'd', 'e', 0}});
        tags.push_back({302, TIFF_SSHORT, 2, shorts(order, {0xFFFE, 5})});
        tags.push_back({303, TIFF_SHORT, 3, shorts(order, {1, 2, 60000})});
        tags.push_back({304, TIFF_RATIONAL, 1, longs(order, {72, 3})});
        tags.push_back({305, TIFF_DOUBLE, 1, doubles(order, {1.5})});
        tags.push_back({306, 13, 1, longs(order, {1})});
        tags.push_back({307, TIFF_SLONG, 1, longs(order, {0xFFFFFFF0})});
        std::string path = dir.path("a.tif");
        writeFileBytes(path, buildTiff(order, tags, std::vector<unsigned char>(24)));
        int fd = open(path.c_str(), O_RDONLY);
        TiffDir *d = getTiffDir(fd);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->order, order);
        const TiffIFD *ifd = &d->ifds[0];
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 300, 0, order), 200);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 300, 2, order), 9);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 300, 3, order), -1);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 301, 1, order), -112);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 301, 4, order), 'e');
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 302, 0, order), -2);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 302, 1, order), 5);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 303, 2, order), 60000);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 304, 0, order), 72);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 304, 1, order), 3);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 304, 2, order), -1);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 305, 0, order), -1);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 307, 0, order), -16);
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 999, 0, order), -1);
        cap.clear();
        EXPECT_EQ(getTiffArrayElement(fd, ifd, 306, 0, order), -1);
        EXPECT_EQ(cap.err(), "Unknown data type for array element at index: "
                             "0 tagged as: 306\n");
        EXPECT_EQ(getTiffImageWidth(ifd), 6);
        EXPECT_EQ(getTiffSamplePerPixel(ifd), 1);
        EXPECT_EQ(getTiffTileWidth(ifd), -1);
        long n = 0;
        EXPECT_EQ(getTiffStripOffsets(fd, ifd, order, &n), 8);
        EXPECT_EQ(n, 1);
        delTiffDir(d);
        close(fd);
    }
    EXPECT_EQ(convertTiffOffsetLong(TIFF_BYTE, 0x1FF), 0xFF);
    EXPECT_EQ(convertTiffOffsetLong(TIFF_ASCII, 0x1FF), -1);
    EXPECT_EQ(convertTiffOffsetLong(TIFF_SSHORT, 0x18000), -32768);
    EXPECT_EQ(convertTiffOffsetLong(TIFF_SHORT, 0x18000), 0x8000);
    EXPECT_EQ(convertTiffOffsetLong(TIFF_LONG, 0xFFFFFFFF), 0xFFFFFFFFL);
}

TEST(initTiff, ByteLayoutOfWrittenFiles)
{
    ScratchDir dir;
    ImageInfo info = newTiffInfo(dir.path("rgb.tif"), PIXEL_USHORT, 5, 2, 3);
    ASSERT_EQ(createImage(&info), 8);
    EXPECT_EQ(info.offset, 8);
    EXPECT_EQ(info.block, 30);
    std::vector<unsigned char> f = readFileBytes(info.fileName);
    /* 8 + 60 pixel bytes, BitsPerSample and SampleFormat arrays (6 bytes
     * each), then the IFD of 14 entries. */
    ASSERT_EQ(f.size(), 8u + 60 + 12 + 2 + 14 * 12 + 4);
    std::vector<unsigned char> head;
    head.push_back('I');
    head.push_back('I');
    putLE16(head, 42);
    putLE32(head, 80);
    EXPECT_EQ(std::vector<unsigned char>(f.begin(), f.begin() + 8), head);
    EXPECT_EQ(std::vector<unsigned char>(f.begin() + 68, f.begin() + 80),
              std::vector<unsigned char>({16, 0, 16, 0, 16, 0, 1, 0, 1, 0, 1, 0}));
    std::vector<unsigned char> ifd;
    putLE16(ifd, 14);
    auto entry = [&](unsigned tag, unsigned type, uint32_t count, uint32_t v) {
        putLE16(ifd, (uint16_t)tag);
        putLE16(ifd, (uint16_t)type);
        putLE32(ifd, count);
        putLE32(ifd, v);
    };
    entry(256, 4, 1, 5);
    entry(257, 4, 1, 2);
    entry(258, 3, 3, 68);
    entry(259, 4, 1, 1);
    entry(262, 4, 1, 2);
    entry(273, 4, 1, 8);
    entry(274, 3, 1, 1);
    entry(277, 3, 1, 3);
    entry(278, 4, 1, 2);
    entry(279, 4, 1, 60);
    entry(284, 3, 1, 1);
    entry(339, 3, 3, 74);
    entry(280, 4, 1, 0);
    entry(281, 4, 1, 255);
    putLE32(ifd, 0);
    EXPECT_EQ(std::vector<unsigned char>(f.begin() + 80, f.end()), ifd);

    /* Two bands: inline SHORT pairs; a 1-bit palette raster of 100
     * columns: rows of 13 bytes and a ColorMap. */
    info.nbands = 2;
    info.pixel = PIXEL_SHORT;
    ASSERT_EQ(createImage(&info), 8);
    f = readFileBytes(info.fileName);
    size_t at = 8 + 40 + 2 + 2 * 12;
    EXPECT_EQ(std::vector<unsigned char>(f.begin() + at, f.begin() + at + 12),
              std::vector<unsigned char>({2, 1, 3, 0, 2, 0, 0, 0, 16, 0, 16, 0}));
    info.nbands = 1;
    info.pixel = PIXEL_1BIT;
    info.columns = 100;
    info.rows = 3;
    info.nindices = 2;
    info.palette[1][0] = 0xAB;
    ASSERT_EQ(createImage(&info), 8);
    EXPECT_EQ(info.block, 13);
    Raster bit(info.fileName);
    ASSERT_NE(bit.r, nullptr);
    EXPECT_EQ(tiffRowsWritable(bit.r), 1);
    EXPECT_EQ(bit.r->info.block, 13);
    EXPECT_EQ(bit.r->info.nindices, 2);
    EXPECT_EQ(bit.r->info.palette[1][0], 0xAB);

    /* The strip must fit the disk holding the file. */
    CapturedOutput cap;
    int fd = open(info.fileName, O_RDWR);
    std::vector<unsigned char> before = readFileBytes(info.fileName);
    ImageInfo huge = newTiffInfo(info.fileName, PIXEL_FLOAT, 1 << 20, 1 << 20,
                                 3000);
    EXPECT_EQ(initTiff(fd, 1, &huge, huge.columns, huge.rows, huge.nbands,
                       huge.pixel, nullptr), -1);
    EXPECT_EQ(cap.err().rfind("Insufficient disk space. Requested:"
                              "13194139533312008 Available:", 0), 0u)
        << cap.err();
    cap.clear();
    ImageInfo lost = newTiffInfo(dir.path("no/dir.tif"), PIXEL_BYTE, 10, 5, 1);
    EXPECT_EQ(initTiffHead(fd, 1, &lost), -1);
    EXPECT_EQ(cap.err(), "Insufficient disk space. Requested:58 "
                         "Available:-1\n");
    EXPECT_EQ(readFileBytes(info.fileName), before);
    close(fd);
}

/* Runs a command, returning its standard output ("" when it fails). */
static std::string run(const std::string &cmd)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    return pclose(p) == 0 ? out : std::string();
}

TEST(initTiff, WrittenFilesOpenInGdal)
{
    if (run("gdal_translate --version").empty())
        GTEST_SKIP() << "gdal_translate not installed";
    ScratchDir dir;
    struct {
        int pixel, bands, nindices;
        const char *gdalType;
    } cases[] = {
        {PIXEL_BYTE, 1, 256, "Byte"}, {PIXEL_BYTE, 3, 0, "Byte"},
        {PIXEL_SHORT, 2, 0, "Int16"}, {PIXEL_USHORT, 1, 0, "UInt16"},
        {PIXEL_LONG, 4, 0, "Int32"}, {PIXEL_FLOAT, 3, 0, "Float32"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.gdalType);
        std::string path = dir.path("w.tif");
        ImageInfo info = newTiffInfo(path, c.pixel, 19, 7, c.bands,
                                     c.nindices);
        for (int i = 0; i < 256; i++) {
            info.palette[i][0] = (unsigned char)i;
            info.palette[i][1] = (unsigned char)(255 - i);
            info.palette[i][2] = (unsigned char)(i * 3);
        }
        ASSERT_EQ(createImage(&info), 8);
        /* Pixel values written band by band through the line cache. */
        std::vector<unsigned char> pixels((size_t)info.block * info.rows);
        std::mt19937 rng(c.pixel * 10 + c.bands);
        for (auto &b : pixels)
            b = (unsigned char)rng();
        if (c.pixel == PIXEL_FLOAT)  /* keep them finite */
            for (size_t i = 3; i < pixels.size(); i += 4)
                pixels[i] &= 0x3F;
        {
            Raster img(path);
            ASSERT_NE(img.r, nullptr);
            int size = img.r->info.bits / 8, nb = c.bands;
            for (int y = 0; y < info.rows; y++)
                for (int b = 0; b < nb; b++) {
                    unsigned char *line = img.r->getLine(img.r, y, b, 1);
                    for (int x = 0; x < info.columns; x++)
                        std::memcpy(line + x * size,
                                    &pixels[(size_t)y * info.block
                                            + (size_t)(x * nb + b) * size],
                                    size);
                    updateRAMImageLine(img.r, y, 0, info.columns, b);
                }
            flushRAMImage(img.r);
        }
        std::string raw = dir.path("w.raw");
        std::string info1 = run("gdalinfo " + path + " 2>/dev/null");
        EXPECT_NE(info1.find("Size is 19, 7"), std::string::npos) << info1;
        EXPECT_NE(info1.find("Type=" + std::string(c.gdalType)),
                  std::string::npos) << info1;
        EXPECT_NE(info1.find("Band " + std::to_string(c.bands) + " "),
                  std::string::npos);
        if (c.nindices) {
            EXPECT_NE(info1.find("Color Table (RGB with 256 entries)"),
                      std::string::npos) << info1;
            EXPECT_NE(info1.find("  200: 200,55,88,255"), std::string::npos) << info1;
        }
        ASSERT_FALSE(run("gdal_translate -q -of ENVI -co INTERLEAVE=BIP " + path
                         + " " + raw + " 2>/dev/null && echo ok").empty());
        EXPECT_EQ(readFileBytes(raw), pixels);
    }
}

TEST(tiffSeek, StepsThroughVolumes)
{
    Raster img(tiffFixture("two_images.tif"));
    ASSERT_NE(img.r, nullptr);
    RAMImage *r = img.r;
    EXPECT_EQ(r->info.volumes, 2);
    EXPECT_EQ(r->seek, tiffSeek);
    EXPECT_EQ(r->info.nindices, 0);
    EXPECT_EQ(tiffSeek(r, 0), 2);
    EXPECT_EQ(r->info.nindices, 256);
    EXPECT_EQ(r->info.palette[3][2], 86);
    auto stats = gdalStats();
    std::vector<BandStats> s = statsThroughBlocks(r);
    EXPECT_TRUE(near(s[0].mean(), stats["palette.tif"][0][2]));
    EXPECT_EQ(tiffSeek(r, 0), -2);
    EXPECT_EQ(r->volume, 2);
    EXPECT_EQ(tiffSeek(r, 1), 1);
    EXPECT_EQ(r->info.nindices, 0);
    EXPECT_TRUE(near(statsThroughBlocks(r)[0].mean(),
                     stats["byte1_strips.tif"][0][2]));
    EXPECT_EQ(tiffSeek(r, -1), 2);
    EXPECT_EQ(tiffSeek(r, 9), 2);
    EXPECT_EQ(r->dataOffset, r->info.offset);
}

TEST(updateTiffIndices, RewritesTheColorMap)
{
    ScratchDir dir;
    ImageInfo info = newTiffInfo(dir.path("p.tif"), PIXEL_BYTE, 4, 4, 1, 256);
    ASSERT_EQ(createImage(&info), 8);
    Raster img(info.fileName);
    ASSERT_NE(img.r, nullptr);
    img.r->info.palette[5][1] = 0x7F;
    EXPECT_EQ(updateImageIndices(img.r->fd, &img.r->info,
                                 img.r->privateData), 768);
    std::vector<unsigned char> f = readFileBytes(info.fileName);
    /* ColorMap after the 16 pixel bytes: greens start at 8 + 16 + 512. */
    EXPECT_EQ(f[8 + 16 + 512 + 2 * 5], 0x7F);
    EXPECT_EQ(f[8 + 16 + 512 + 2 * 5 + 1], 0x7F);
    Raster again(info.fileName);
    EXPECT_EQ(again.r->info.palette[5][1], 0x7F);
    info.nindices = 0;
    ASSERT_EQ(createImage(&info), 8);
    Raster plain(info.fileName);
    EXPECT_EQ(updateImageIndices(plain.r->fd, &plain.r->info,
                                 plain.r->privateData), -1);
}

/* Reads what a user of a damaged file would: the first rows, the last
 * one, and the same after a seek.  Huge corrupt geometries read one
 * block at each end only. */
static void readDamaged(RAMImage *r)
{
    for (int pass = 0; pass < 2; pass++) {
        int64_t blockBytes = (int64_t)r->info.block * tiffBlockRows(r);
        allRows(r, blockBytes > (1 << 20) ? 1 : 40);
        int last = r->info.rows - 1, count;
        std::free(getTiffBlock(r, &last, &count));
        tiffSeek(r, pass ? 1 : -1);
    }
}

/* A memory file (no disk traffic for thousands of variants), opened by
 * path like any other. */
struct MemoryFile {
    int fd = memfd_create("tiff", 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    ~MemoryFile() { close(fd); }
    void set(const std::vector<unsigned char> &bytes)
    {
        EXPECT_EQ(ftruncate(fd, 0), 0);
        EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0),
                  (ssize_t)bytes.size());
    }
};

TEST(imgTiff, TruncatedAndCorruptFilesFailCleanly)
{
    CapturedOutput cap;
    MemoryFile file;
    ASSERT_GE(file.fd, 0);
    const std::string &path = file.path;
    std::mt19937 rng(42);
    for (const char *name : {"byte3_tiled.tif", "byte3_packbits.tif",
                             "be_int16_pb.tif", "two_images.tif",
                             "byte2_tiledpb.tif", "palette.tif",
                             "byte3_planar_tiledpb.tif"}) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> good = readFileBytes(tiffFixture(name));
        size_t step = good.size() / 150 + 1;
        for (size_t len = 0; len <= good.size(); len += step) {
            file.set(std::vector<unsigned char>(good.begin(),
                                                good.begin() + len));
            Raster img(path);
            if (img.r)
                readDamaged(img.r);
        }
        for (int k = 0; k < 250; k++) {
            std::vector<unsigned char> bad = good;
            for (int j = 0; j < 4; j++) {
                /* Directories sit at the start (GDAL) or the end
                 * (libtiff). */
                size_t span = std::min<size_t>(300, bad.size());
                size_t at = rng() % 2 ? rng() % span
                                      : bad.size() - 1 - rng() % span;
                bad[at] = (unsigned char)rng();
            }
            file.set(bad);
            Raster img(path);
            if (img.r)
                readDamaged(img.r);
        }
    }
}

TEST(flushRAMImageLine, OnlySingleStripTiffsAreWrittenInPlace)
{
    ScratchDir dir;
    for (const char *name : {"byte3_tiled.tif", "byte1_strips.tif",
                             "byte3_packbits.tif"}) {
        std::string copy = dir.path(name);
        writeFileBytes(copy, readFileBytes(tiffFixture(name)));
        std::vector<unsigned char> before = readFileBytes(copy);
        CapturedOutput cap;
        {
            Raster img(copy);
            ASSERT_NE(img.r, nullptr) << name;
            unsigned char v = 77;
            putByteBILData(img.r, 1, 0, 1, 0, &v);
            flushRAMImage(img.r);
            unsigned char back;
            getByteBILData(img.r, 1, 0, 1, 0, &back);
            EXPECT_EQ(back, 77) << name;  // kept in the cache
        }
        EXPECT_EQ(readFileBytes(copy), before) << name;
        EXPECT_NE(cap.err().find("Can't write lines of"), std::string::npos)
            << name;
    }
}
