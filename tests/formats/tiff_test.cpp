// Tests of the TIFF reader and writer (tiffDir.cpp, tiff.cpp): files from
// GDAL and libtiff (tests/fixtures/make_tiff.sh) against gdalinfo's
// statistics, hand-built directories in both byte orders, the writer's
// byte layout and its round trip through GDAL, volumes, and truncated or
// corrupted files.
#include <gtest/gtest.h>

#include <fcntl.h>
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
#include <string>
#include <tuple>
#include <vector>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "formats/tiff.h"
#include "formats/tiffDir.h"
#include "tests/formats/rasterRef.h"
#include "tests/support/imageRecords.h"
#include "tests/support/probeSupport.h"
#include "tests/support/testSupport.h"

namespace {

std::string tiffFixture(const std::string &name)
{
    return fixturePath("tiff/" + name);
}

/* A raster record for a file, probed through the registry. */
struct Raster {
    int err = 0;
    RAMImage *r;
    explicit Raster(const std::string &path)
        : r(createRAMImage(path.c_str(), nullptr, nullptr, &err)) {}
    ~Raster() { if (r) destroyRAMImage(r); }
};

/* All rows of the current volume (at most `limit`) through getTiffBlock,
 * concatenated.  With `strict`, the blocks must tile the image in order. */
std::vector<unsigned char> allRows(RAMImage *r, int limit = INT_MAX,
                                   bool strict = false)
{
    std::vector<unsigned char> out;
    for (int y = 0; y < std::min(r->info.rows, limit);) {
        int first = y, count = 0;
        unsigned char *block = getTiffBlock(r, &first, &count);
        if (strict) {
            EXPECT_NE(block, nullptr);
            EXPECT_EQ(first, y);
            EXPECT_GT(count, 0);
        }
        if (block && first <= y && count > 0)
            out.insert(out.end(), block + (size_t)(y - first) * r->info.block,
                       block + (size_t)count * r->info.block);
        std::free(block);
        if (!block || first > y || count <= 0)
            break;
        y = first + count;
    }
    return out;
}

/* Statistics of a band (-1: the palette indices) through the line cache
 * and the histogram code: {min, max, mean, std}. */
std::vector<double> statsOf(RAMImage *r, int band)
{
    double sd = 0, mean = 0, mn = 0, mx = 0;
    EXPECT_EQ(ramImageStats(r, band, &sd, &mean, &mn, &mx), 1);
    return {mn, mx, mean, sd};
}

/* Builds a classic TIFF: header, `pixels` at offset 8, the out-of-line
 * values, then one IFD.  Entry data are given in the file's order. */
struct Tag {
    uint16_t tag, type;
    uint32_t count;
    std::vector<unsigned char> data;
};

/* Numbers of `size` bytes each in the file's byte order. */
std::vector<unsigned char> ints(int order, int size, std::vector<uint64_t> v)
{
    std::vector<unsigned char> out;
    for (uint64_t x : v)
        for (int i = 0; i < size; i++)
            out.push_back((unsigned char)(x >> 8 * (order == TIFF_MM
                                                    ? size - 1 - i : i)));
    return out;
}

std::vector<unsigned char> shorts(int order, std::vector<uint64_t> v)
{
    return ints(order, 2, v);
}

std::vector<unsigned char> longs(int order, std::vector<uint64_t> v)
{
    return ints(order, 4, v);
}

std::vector<unsigned char> doubles(int order, std::vector<double> v)
{
    std::vector<uint64_t> bits(v.size());
    std::memcpy(bits.data(), v.data(), v.size() * 8);
    return ints(order, 8, bits);
}

Tag shortTag(int order, uint16_t tag, std::vector<uint64_t> v)
{
    return {tag, TIFF_SHORT, (uint32_t)v.size(), shorts(order, v)};
}

std::vector<unsigned char> buildTiff(int order, std::vector<Tag> tags,
                                     const std::vector<unsigned char> &pixels)
{
    std::vector<unsigned char> f(2, order == TIFF_MM ? 'M' : 'I');
    auto put = [&f](const std::vector<unsigned char> &v) {
        f.insert(f.end(), v.begin(), v.end());
    };
    put(shorts(order, {42}));
    put(longs(order, {0}));
    put(pixels);
    std::vector<uint32_t> where(tags.size());
    for (size_t i = 0; i < tags.size(); i++) {
        where[i] = (uint32_t)f.size();
        if (tags[i].data.size() > 4)
            put(tags[i].data);
    }
    std::vector<unsigned char> ifd = longs(order, {(uint32_t)f.size()});
    std::copy(ifd.begin(), ifd.end(), f.begin() + 4);
    put(shorts(order, {(unsigned)tags.size()}));
    for (size_t i = 0; i < tags.size(); i++) {
        put(shorts(order, {tags[i].tag, tags[i].type}));
        put(longs(order, {tags[i].count}));
        std::vector<unsigned char> v = tags[i].data;
        if (v.size() > 4)
            v = longs(order, {where[i]});
        v.resize(4, 0);
        put(v);
    }
    put(longs(order, {0}));
    return f;
}

/* The tags of a minimal 8-bit image. */
std::vector<Tag> baseTags(int order, unsigned w, unsigned h)
{
    return {shortTag(order, 256, {w}), shortTag(order, 257, {h}),
            shortTag(order, 258, {8}), {273, TIFF_LONG, 1, longs(order, {8})}};
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
    ImageInfo info = describeImage(path, IMG_TIFF, pixel, rows, columns, bands,
                                   0, 0, 0);
    info.nindices = nindices;
    return info;
}

}  // namespace

/* Every fixture: the description, blocks that tile the image in order,
 * and per band the statistics gdalinfo gives, through the line cache and
 * the histogram code. */
TEST(imgTiff, IndependentWritersGiveGdalStatistics)
{
    /* pixel, bands, block, msbf, palette entries of some of them */
    const std::map<std::string, std::vector<int>> described = {
        {"byte1_strips.tif", {PIXEL_BYTE, 1, 37, 0, 0}},
        {"uint16_2.tif", {PIXEL_USHORT, 2, 148, 0, 0}},
        {"be_uint16_2.tif", {PIXEL_USHORT, 2, 148, 1, 0}},
        {"int16_1.tif", {PIXEL_SHORT, 1, 74, 0, 0}},
        {"uint32_1.tif", {PIXEL_ULONG, 1, 148, 0, 0}},
        {"int32_1.tif", {PIXEL_LONG, 1, 148, 0, 0}},
        {"be_float32_4.tif", {PIXEL_FLOAT, 4, 592, 1, 0}},
        {"bit1.tif", {PIXEL_1BIT, 1, 5, 1, 2}},
        {"bit4.tif", {PIXEL_4BITS, 1, 19, 1, 0}},
        {"palette.tif", {PIXEL_BYTE, 1, 37, 0, 256}},
    };
    auto stats = gdalStats();
    ASSERT_GE(stats.size(), 21u);
    for (auto &file : stats) {
        SCOPED_TRACE(file.first);
        Raster img(tiffFixture(file.first));
        ASSERT_NE(img.r, nullptr) << "error " << img.err;
        const ImageInfo &i = img.r->info;
        EXPECT_EQ(std::make_tuple(i.imgid, i.columns, i.rows, i.mapid,
                                  i.transparent),
                  std::make_tuple((int)IMG_TIFF, 37, 23, (int)MAP_GRID, -1));
        auto d = described.find(file.first);
        if (d != described.end()) {
            EXPECT_EQ((std::vector<int>{i.pixel, i.nbands, i.block, i.msbf,
                                        i.nindices}), d->second);
            EXPECT_EQ(i.volumes, 1);
        }
        ASSERT_EQ((size_t)i.nbands, file.second.size());
        EXPECT_EQ(allRows(img.r, INT_MAX, true).size(), 23u * i.block);
        for (size_t b = 0; b < file.second.size(); b++) {
            SCOPED_TRACE(b);
            std::vector<double> got =
                statsOf(img.r, i.nindices > 0 ? -1 : (int)b);
            const char *what[] = {"min", "max", "mean", "std"};
            for (int k = 0; k < 4; k++)
                EXPECT_TRUE(near(got[k], file.second[b][k]))
                    << what[k] << " " << got[k];
        }
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
    /* The first row and count of the block holding `row`. */
    auto blockOf = [](RAMImage *r, int row) {
        int count = 0;
        unsigned char *b = getTiffBlock(r, &row, &count);
        std::free(b);
        return b ? std::make_pair(row, count) : std::make_pair(-1, -1);
    };
    Raster strips(tiffFixture("byte1_strips.tif"));
    Raster pb1(tiffFixture("byte1_packbits1.tif"));
    ASSERT_TRUE(strips.r && pb1.r);
    EXPECT_EQ(blockOf(strips.r, 7), std::make_pair(5, 5));
    EXPECT_EQ(blockOf(strips.r, 22), std::make_pair(20, 3));
    EXPECT_EQ(tiffBlockRows(strips.r), 5);
    /* One PackBits strip: asking for row 10 first gives the whole strip;
     * rows outside the image give none. */
    EXPECT_EQ(blockOf(pb1.r, 10), std::make_pair(0, 23));
    EXPECT_EQ(allRows(pb1.r), allRows(strips.r));
    EXPECT_EQ(allRows(pb1.r).size(), 23u * 37);
    EXPECT_EQ(blockOf(pb1.r, -1), std::make_pair(-1, -1));
    EXPECT_EQ(blockOf(pb1.r, 23), std::make_pair(-1, -1));

    /* Tiles 16 x 16 over 37 columns: the right-most tile is clipped; the
     * same pixels as the PackBits strips and the big-endian copy. */
    Raster tiled(tiffFixture("byte3_tiled.tif"));
    Raster betiled(tiffFixture("be_byte3_tiled.tif"));
    Raster packed(tiffFixture("byte3_packbits.tif"));
    ASSERT_TRUE(tiled.r && packed.r && betiled.r);
    EXPECT_EQ(tiffBlockRows(tiled.r), 16);
    EXPECT_EQ(blockOf(tiled.r, 17), std::make_pair(16, 7));
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
    CapturedOutput cap;
    MemoryFile file;
    std::vector<unsigned char> pixels(6 * 4);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = (unsigned char)(i * 7);
    for (int order : {TIFF_II, TIFF_MM}) {
        SCOPED_TRACE(order);
        auto make = [&](const std::vector<Tag> &tags,
                        const std::vector<unsigned char> &px) {
            file.set(buildTiff(order, tags, px));
            return file.path;
        };
        auto err = [&](const std::vector<Tag> &tags) {
            return Raster(make(tags, pixels)).err;
        };
        {
            Raster img(make(baseTags(order, 6, 4), pixels));
            ASSERT_NE(img.r, nullptr);
            EXPECT_EQ(infoLine(img.r->info), "TIFF BYTE/8 6x4x1 off 8 block 6"
                      " msbf " + std::to_string(order == TIFF_MM) + " GRID nind 0"
                      " tr -1 frame 0,0 vol 1 map 0,0 cell 1,1");
            EXPECT_EQ(allRows(img.r), pixels);
        }

        /* GeoTIFF: one tie point is taken, two are not. */
        auto geoOf = [&](const std::vector<Tag> &tags) {
            Raster geo(make(tags, pixels));
            if (!geo.r)
                return std::string("none");
            const ImageInfo &i = geo.r->info;
            char s[120];
            std::snprintf(s, sizeof s, "%.10g,%.10g by %.10g,%.10g geo %d",
                          i.x0, i.y0, i.dx, i.dy,
                          static_cast<TiffState *>(geo.r->privateData)
                              ->georeferenced);
            return std::string(s);
        };
        auto tags = baseTags(order, 6, 4);
        tags.push_back({33550, TIFF_DOUBLE, 3, doubles(order, {30, 30, 0})});
        tags.push_back({33922, TIFF_DOUBLE, 6,
                        doubles(order, {0, 0, 0, 500000, 4000000, 0})});
        EXPECT_EQ(geoOf(tags), "500000,4000000 by 30,30 geo 1");
        tags.back() = {33922, TIFF_DOUBLE, 12,
                       doubles(order, {0, 0, 0, 500000, 4000000, 0,
                                       5, 5, 0, 500150, 3999850, 0})};
        EXPECT_EQ(geoOf(tags), "0,0 by 30,30 geo 0");

        /* 1 bit without ColorMap: Photometric 1 shows 0 black, 0 white. */
        for (unsigned photometric : {0u, 1u}) {
            auto bl = baseTags(order, 6, 4);
            bl[2] = shortTag(order, 258, {1});
            bl.push_back(shortTag(order, 262, {photometric}));
            Raster bit(make(bl, pixels));
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
        {
            Raster img16(make(s16, std::vector<unsigned char>(200 * 300)));
            ASSERT_NE(img16.r, nullptr);
            EXPECT_EQ(img16.r->info.block, 200);
            EXPECT_EQ(img16.r->info.pixel, PIXEL_USHORT);
        }
        s16.push_back(shortTag(order, 339, {3}));
        EXPECT_EQ(Raster(make(s16, {})).err, RAMIMG_EUNKNOWN);

        /* Unsupported compression and missing strip offsets stop the
         * probing with their messages; zero width is no TIFF we read. */
        cap.clear();
        auto lzw = baseTags(order, 6, 4);
        lzw.push_back(shortTag(order, 259, {5}));
        EXPECT_EQ(err(lzw), RAMIMG_EHANDLE);
        EXPECT_EQ(cap.err(), "Can't read Tiff with compression code:5\n");
        cap.clear();
        auto noStrips = baseTags(order, 6, 4);
        noStrips.pop_back();
        EXPECT_EQ(err(noStrips), RAMIMG_EHANDLE);
        EXPECT_EQ(cap.err(), "Fail to find Tiff strip offset.\n");
        EXPECT_EQ(err(baseTags(order, 0, 4)), RAMIMG_EUNKNOWN);
    }
    cap.clear();
    Raster lzw(tiffFixture("byte1_lzw.tif"));
    EXPECT_EQ(lzw.r, nullptr);
    EXPECT_EQ(cap.err(), "Can't read Tiff with compression code:5\n");
}

TEST(getTiffArrayElement, TypesIndicesAndInlineValues)
{
    CapturedOutput cap;
    MemoryFile file;
    const struct {
        int tag;
        long index, want;
    } reads[] = {
        {300, 0, 200}, {300, 2, 9}, {300, 3, -1}, {301, 1, -112},
        {301, 4, 'e'}, {302, 0, -2}, {302, 1, 5}, {303, 2, 60000},
        {304, 0, 72}, {304, 1, 3}, {304, 2, -1}, {305, 0, -1},
        {307, 0, -16}, {999, 0, -1},
    };
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
        file.set(buildTiff(order, tags, std::vector<unsigned char>(24)));
        int fd = file.fd;
        TiffDir *d = getTiffDir(fd);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->order, order);
        const TiffIFD *ifd = &d->ifds[0];
        for (const auto &c : reads)
            EXPECT_EQ(getTiffArrayElement(fd, ifd, c.tag, c.index, order),
                      c.want) << c.tag << "[" << c.index << "]";
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
    EXPECT_EQ(std::vector<unsigned char>(f.begin(), f.begin() + 8),
              std::vector<unsigned char>({'I', 'I', 42, 0, 80, 0, 0, 0}));
    EXPECT_EQ(std::vector<unsigned char>(f.begin() + 68, f.begin() + 80),
              std::vector<unsigned char>({16, 0, 16, 0, 16, 0, 1, 0, 1, 0, 1, 0}));
    std::vector<unsigned char> ifd;
    putLE16(ifd, 14);
    const uint32_t entries[][4] = {
        {256, 4, 1, 5}, {257, 4, 1, 2}, {258, 3, 3, 68}, {259, 4, 1, 1},
        {262, 4, 1, 2}, {273, 4, 1, 8}, {274, 3, 1, 1}, {277, 3, 1, 3},
        {278, 4, 1, 2}, {279, 4, 1, 60}, {284, 3, 1, 1}, {339, 3, 3, 74},
        {280, 4, 1, 0}, {281, 4, 1, 255},
    };
    for (const auto &e : entries) {
        putLE16(ifd, (uint16_t)e[0]);
        putLE16(ifd, (uint16_t)e[1]);
        putLE32(ifd, e[2]);
        putLE32(ifd, e[3]);
    }
    putLE32(ifd, 0);
    EXPECT_EQ(std::vector<unsigned char>(f.begin() + 80, f.end()), ifd);
    {
        /* No ColorMap to rewrite (rewriting one: tiff.test). */
        Raster rgb(info.fileName);
        ASSERT_NE(rgb.r, nullptr);
        EXPECT_EQ(updateImageIndices(rgb.r->fd, &rgb.r->info,
                                     rgb.r->privateData), -1);
    }

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

TEST(initTiff, WrittenFilesOpenInGdal)
{
    if (!haveTool("gdal_translate"))
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
        std::vector<unsigned char> out = runTool("gdalinfo " + path
                                                 + " 2>/dev/null");
        std::string info1(out.begin(), out.end());
        for (std::string want : {std::string("Size is 19, 7"),
                                 "Type=" + std::string(c.gdalType),
                                 "Band " + std::to_string(c.bands) + " "})
            EXPECT_NE(info1.find(want), std::string::npos) << want << info1;
        if (c.nindices) {
            EXPECT_NE(info1.find("Color Table (RGB with 256 entries)"),
                      std::string::npos) << info1;
            EXPECT_NE(info1.find("  200: 200,55,88,255"), std::string::npos) << info1;
        }
        ASSERT_FALSE(runTool("gdal_translate -q -of ENVI -co INTERLEAVE=BIP "
                             + path + " " + raw + " 2>/dev/null && echo ok")
                         .empty());
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
    EXPECT_TRUE(near(statsOf(r, -1)[2], stats["palette.tif"][0][2]));
    EXPECT_EQ(tiffSeek(r, 0), -2);
    EXPECT_EQ(r->volume, 2);
    EXPECT_EQ(tiffSeek(r, 1), 1);
    EXPECT_EQ(r->info.nindices, 0);
    EXPECT_TRUE(near(statsOf(r, 0)[2], stats["byte1_strips.tif"][0][2]));
    EXPECT_EQ(tiffSeek(r, -1), 2);
    EXPECT_EQ(tiffSeek(r, 9), 2);
    EXPECT_EQ(r->dataOffset, r->info.offset);
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

TEST(imgTiff, TruncatedAndCorruptFilesFailCleanly)
{
    CapturedOutput cap;
    MemoryFile file;
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
            Raster img(file.path);
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
            Raster img(file.path);
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
        std::vector<unsigned char> before = readFileBytes(tiffFixture(name));
        writeFileBytes(copy, before);
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
