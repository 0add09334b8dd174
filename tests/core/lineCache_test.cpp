// Tests of lineCache.cpp: every file layout through the line cache, byte
// order, the direct-mapped cache's eviction, read-ahead and dirty paths,
// short reads, volumes and the whole-file loaders.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <unistd.h>

#include "core/hist.h"
#include "core/lineAccess.h"
#include "tests/core/lineTestSupport.h"
#include "tests/support/testSupport.h"

namespace {

typedef std::function<double(int, int, int)> Values;
typedef std::vector<unsigned char> Bytes;

RAMImage *createBasic(const std::string &path, int imgid, int pixel,
                      int rows, int columns, int nbands, int msbf)
{
    ImageInfo info = describeImage(path, imgid, pixel, rows, columns, nbands,
                                   msbf, BASIC_HEADER_SIZE, 0);
    int err = -1;
    RAMImage *r = openRAMImageNew(&info, nullptr, 1, &err);
    EXPECT_EQ(err, 0) << path;
    return r;
}

RAMImage *openDescribed(const ImageInfo &info)
{
    int err = -1;
    RAMImage *r = openRAMImage(nullptr, info.fileName, &info, nullptr, &err);
    EXPECT_EQ(err, 0) << info.fileName;
    return r;
}

RAMImage *reopen(const std::string &path)
{
    return openRAMImage(nullptr, path.c_str(), nullptr, nullptr, nullptr);
}

std::vector<std::pair<int, int>> shuffledLines(int rows, int nbands,
                                               unsigned seed)
{
    std::vector<std::pair<int, int>> order;
    for (int y = 0; y < rows; y++)
        for (int b = 0; b < nbands; b++)
            order.push_back({y, b});
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    return order;
}

// Writes value(y, b, x) into every line, in a shuffled order, half of the
// lines claimed without reading.
void writeLines(RAMImage *r, const Values &value, unsigned seed)
{
    const ImageInfo &info = r->info;
    for (auto [y, b] : shuffledLines(info.rows, info.nbands, seed)) {
        int read = (y + b) & 1;
        unsigned char *p = r->getLine(r, y, b, read);
        if (!read)
            std::memset(p, 0, (size_t)r->lineBytes);
        for (int x = 0; x < info.columns; x++)
            putLineValue(p, info.pixel, info.msbf, x, value(y, b, x));
        updateRAMImageLine(r, y, 0, info.columns, b);
    }
}

// Counts the values that differ from value(y, b, x), reading in a
// shuffled order through the cache or, given, from a whole-file image.
int countWrongValues(RAMImage *r, const Values &value, unsigned seed,
                     const unsigned char *image = nullptr)
{
    const ImageInfo &info = r->info;
    int wrong = 0;
    for (auto [y, b] : shuffledLines(info.rows, info.nbands, seed)) {
        const unsigned char *p =
            image ? image + (size_t)(y * info.nbands + b) * r->lineBytes
                  : r->getLine(r, y, b, 1);
        for (int x = 0; x < info.columns; x++)
            wrong += getLineValue(p, info.pixel, info.msbf, x)
                     != value(y, b, x);
    }
    return wrong;
}

// The data area of a closed raw file against the layout's bytes.
void expectFileData(const std::string &path, int imgid, int pixel, int rows,
                    int columns, int nbands, int msbf, const Values &value)
{
    Bytes want = expectedRawData(imgid, pixel, rows, columns, nbands, msbf,
                                 value);
    EXPECT_EQ(fileRange(path, BASIC_HEADER_SIZE, (int64_t)want.size() + 1),
              want);
}

// Decodes the files (names -> anything) with the independent numpy
// reader: file name -> values in band, row, column order.  Empty without
// numpy.
std::map<std::string, std::vector<double>>
readWithNumpy(const std::map<std::string, int> &files)
{
    std::map<std::string, std::vector<double>> result;
    if (std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1"))
        return result;
    std::string cmd = "/usr/bin/python3 " VELK_SOURCE_DIR
                      "/tests/support/rawlayout.py";
    for (const auto &f : files)
        cmd += " " + f.first;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return result;
    std::string text;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        text.append(buf, n);
    pclose(p);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        for (double v; words >> v;)
            result[name].push_back(v);
    }
    return result;
}

Values valuesOf(int pixel)
{
    return [pixel](int y, int b, int x) { return testValue(pixel, y, b, x); };
}

} // namespace

// Every pixel type in BSQ, BIL and BIP with both byte orders: written
// through the cache in a shuffled order (half of them through a cache of
// one line per band), given by the whole-file loader in slot order, still
// in host order after a flush, written to the file with the bytes the
// layout prescribes, read again after reopening, and decoded by numpy.
TEST(getRAMImageLine, RoundTripsEveryTypeLayoutAndByteOrder)
{
    ScratchDir dir;
    const int rows = 5, columns = 13, nbands = 3;
    const int allPixels[] = {PIXEL_1BIT, PIXEL_4BITS, PIXEL_BYTE, PIXEL_SHORT,
                             PIXEL_LONG, PIXEL_FLOAT, PIXEL_USHORT,
                             PIXEL_ULONG, PIXEL_SBYTE};
    std::map<std::string, int> files;
    for (int pixel : allPixels) {
        for (int imgid : {IMG_BSQ, IMG_BIL, IMG_BIP}) {
            auto load = imgid == IMG_BSQ   ? _RimgReadBSQ
                        : imgid == IMG_BIL ? _RimgReadBIL
                                           : _RimgReadBIP;
            for (int msbf : {0, 1}) {
                std::string name = dir.path(std::string(strPixelID(pixel))
                                            + strImgID(imgid)
                                            + std::to_string(msbf));
                SCOPED_TRACE(name);
                bool small = ((pixel + imgid + msbf) & 1) != 0;
                RAMImage *r = createBasic(name, imgid, pixel, rows, columns,
                                          nbands, msbf);
                ASSERT_TRUE(r);
                ASSERT_EQ(r->info.msbf, msbf);
                if (small) {
                    ASSERT_EQ(setRAMImageBuf(r, 1), 1);
                }
                writeLines(r, valuesOf(pixel), pixel * 7 + imgid);
                unsigned char *image = load(r);     // writes dirty lines
                ASSERT_TRUE(image);
                EXPECT_EQ(countWrongValues(r, valuesOf(pixel), 0, image), 0);
                std::free(image);
                flushRAMImage(r);
                EXPECT_EQ(countWrongValues(r, valuesOf(pixel), 1), 0);
                EXPECT_EQ(closeRAMImage(r, nullptr), 0);
                expectFileData(name, imgid, pixel, rows, columns, nbands,
                               msbf, valuesOf(pixel));

                r = reopen(name);
                ASSERT_TRUE(r);
                if (!small) {
                    ASSERT_EQ(setRAMImageBuf(r, 1), 1);
                }
                EXPECT_EQ(countWrongValues(r, valuesOf(pixel), 2), 0);
                closeRAMImage(r, nullptr);
                files[name] = pixel;
            }
        }
    }
    auto decoded = readWithNumpy(files);
    if (decoded.empty())
        GTEST_SKIP() << "no numpy for the independent reader";
    for (const auto &[name, pixel] : files) {
        SCOPED_TRACE(name);
        const std::vector<double> &values = decoded[name];
        ASSERT_EQ(values.size(), (size_t)(rows * columns * nbands));
        int wrong = 0;
        for (size_t i = 0; i < values.size(); i++)
            wrong += values[i]
                     != testValue(pixel, i / columns % rows,
                                  i / (columns * rows), i % columns);
        EXPECT_EQ(wrong, 0);
    }
}

// Memory images: every line of every band has its own fixed slot, kept
// through writes; MBIL slots hold the bands of a line together, MBSQ
// slots lie band after band.
TEST(getRAMImageLine, MemoryImagesHaveFixedSlots)
{
    for (int imgid : {IMG_MBIL, IMG_MBSQ}) {
        SCOPED_TRACE(strImgID(imgid));
        ImageInfo info = describeImage("mem", imgid, PIXEL_SHORT, 10, 9, 3, 0,
                                       0, 0);
        int err = -1;
        RAMImage *r = openRAMImage("mem", nullptr, &info, nullptr, &err);
        ASSERT_TRUE(r);
        auto slot = [&](int y, int b) {
            return imgid == IMG_MBIL ? y * 3 + b : b * 10 + y;
        };
        int wrong = 0;
        for (int pass = 0; pass < 2; pass++) {
            for (auto [y, b] : shuffledLines(10, 3, 5 + pass)) {
                unsigned char *p = r->getLine(r, y, b, 1);
                wrong += p != r->buffer + (size_t)slot(y, b) * r->lineBytes;
                if (pass == 0) {
                    putLineValue(p, PIXEL_SHORT, 0, 8, slot(y, b));
                    updateRAMImageLine(r, y, 0, 9, b);
                } else {
                    wrong += getLineValue(p, PIXEL_SHORT, 0, 8) != slot(y, b);
                }
            }
            flushRAMImage(r);
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(putRAMImageLine(r, 9, 1), r->buffer + slot(9, 1) * 18);
        closeRAMImage(r, nullptr);
    }
}

// Eviction writes a dirty line; inValidateRAMImage drops an unwritten
// change; putRAMImageLine only returns cached lines, written out first.
TEST(getRAMImageLine, EvictionWritesAndInvalidateDrops)
{
    ScratchDir dir;
    std::string name = dir.path("evict.bil");
    RAMImage *r = createBasic(name, IMG_BIL, PIXEL_BYTE, 8, 4, 1, 0);
    ASSERT_TRUE(r);
    ASSERT_EQ(setRAMImageBuf(r, 1), 1);
    int64_t offset = r->info.offset;

    r->getLine(r, 0, 0, 1)[0] = 11;
    updateRAMImageLine(r, 0, 0, 1, 0);
    EXPECT_EQ(fileRange(name, offset, 1), Bytes{0});
    EXPECT_EQ(r->getLine(r, 1, 0, 1)[0], 0);        // evicts line 0
    EXPECT_EQ(fileRange(name, offset, 1), Bytes{11});
    EXPECT_EQ(r->getLine(r, 0, 0, 1)[0], 11);

    r->getLine(r, 2, 0, 1)[0] = 22;
    updateRAMImageLine(r, 2, 0, 1, 0);
    inValidateRAMImage(r);
    EXPECT_EQ(r->getLine(r, 2, 0, 1)[0], 0);
    EXPECT_EQ(putRAMImageLine(r, 3, 0), nullptr);
    unsigned char *p = putRAMImageLine(r, 2, 0);
    ASSERT_EQ(p, r->getLine(r, 2, 0, 1));
    p[1] = 33;
    updateRAMImageLine(r, 2, 0, 1, 0);
    EXPECT_EQ(putRAMImageLine(r, 2, 0), p);
    EXPECT_FALSE(ramImageSlotDirty(r, 0));
    EXPECT_EQ(fileRange(name, offset + 2 * 4, 4), (Bytes{0, 33, 0, 0}));
    closeRAMImage(r, nullptr);
}

// Caches of 1, 5 and 9 lines, smaller than the image, read and write
// every line correctly in a random mix of reads and writes, for each
// layout, in both byte orders (the host's writes runs of lines at once).
TEST(getRAMImageLine, SmallCacheInRandomOrder)
{
    ScratchDir dir;
    const int rows = 23, columns = 7, nbands = 3;
    for (int msbf : {0, 1})
    for (int imgid : {IMG_BSQ, IMG_BIL, IMG_BIP}) {
        for (int lines : {1, 5, 9}) {
            std::string name = dir.path(std::string("random") + strImgID(imgid)
                                        + std::to_string(lines)
                                        + std::to_string(msbf));
            SCOPED_TRACE(name);
            RAMImage *r = createBasic(name, imgid, PIXEL_SHORT, rows, columns,
                                      nbands, msbf);
            ASSERT_TRUE(r);
            ASSERT_EQ(setRAMImageBuf(r, lines), lines);
            std::vector<int16_t> model((size_t)rows * nbands * columns, 0);
            auto at = [&](int y, int b, int x) -> int16_t & {
                return model[((size_t)y * nbands + b) * columns + x];
            };
            std::mt19937 rng(lines * 100 + imgid);
            int wrong = 0;
            for (int op = 0; op < 3000; op++) {
                int y = (int)(rng() % rows), b = (int)(rng() % nbands);
                bool write = rng() % 5 < 2;
                unsigned char *p = r->getLine(r, y, b, 1);
                for (int x = 0; x < columns; x++) {
                    if (write)
                        putLineValue(p, PIXEL_SHORT, 1, x,
                                     at(y, b, x) = (int16_t)rng());
                    wrong += getLineValue(p, PIXEL_SHORT, 1, x) != at(y, b, x);
                }
                if (write)
                    updateRAMImageLine(r, y, 0, columns, b);
                ASSERT_TRUE(cacheInvariantsHold(r));
            }
            EXPECT_EQ(wrong, 0);
            closeRAMImage(r, nullptr);
            expectFileData(name, imgid, PIXEL_SHORT, rows, columns, nbands,
                           msbf, [&](int y, int b, int x) { return at(y, b, x); });
        }
    }
}

// Writing a dirty line out takes the dirty lines that follow it in the
// file along: up to the first gap (a clean or uncached line), clearing
// their dirty bits; the line after the gap stays dirty and unwritten.
TEST(flushRAMImageLine, WritesTheDirtyRunThatFollows)
{
    ScratchDir dir;
    for (int imgid : {IMG_BSQ, IMG_BIL}) {
        std::string name = dir.path(std::string("run") + strImgID(imgid));
        SCOPED_TRACE(name);
        const int nbands = imgid == IMG_BIL ? 2 : 1;
        RAMImage *r = createBasic(name, imgid, PIXEL_BYTE, 12, 4, nbands, 0);
        ASSERT_TRUE(r);
        ASSERT_EQ(setRAMImageBuf(r, 8), 8);
        // band 0 of lines 0-3 and 5 dirty, line 4 read but clean; in BIL
        // the band 1 lines between them are not cached
        for (int y : {0, 1, 2, 3, 4, 5}) {
            unsigned char *p = r->getLine(r, y, 0, 1);
            if (y != 4) {
                p[0] = (unsigned char)(10 + y);
                updateRAMImageLine(r, y, 0, 4, 0);
            }
        }
        flushRAMImageLine(r, 0);
        auto fileByte = [&](int y) {
            int64_t record = (int64_t)y * nbands;
            return fileRange(name, r->info.offset + record * 4, 1)[0];
        };
        std::vector<int> got, dirty;
        for (int y = 0; y < 6; y++) {
            got.push_back(fileByte(y));
            dirty.push_back(ramImageSlotDirty(r, y * nbands % r->slotCount));
        }
        if (imgid == IMG_BSQ) {
            EXPECT_EQ(got, (std::vector<int>{10, 11, 12, 13, 0, 0}));
            EXPECT_EQ(dirty, (std::vector<int>{0, 0, 0, 0, 0, 1}));
        } else {        // band 1 of line 0 is not cached: a gap at once
            EXPECT_EQ(got, (std::vector<int>{10, 0, 0, 0, 0, 0}));
            EXPECT_EQ(dirty, (std::vector<int>{0, 1, 1, 1, 0, 1}));
        }
        EXPECT_TRUE(cacheInvariantsHold(r));
        closeRAMImage(r, nullptr);
        EXPECT_EQ(fileRange(name, BASIC_HEADER_SIZE + 5 * nbands * 4, 1)[0], 15);
    }
}

// Read-ahead during a forward scan leaves the last four lines of every
// band in place (a caller may hold them) and never overwrites a line
// that waits to be written.
TEST(getRAMImageLine, ReadAheadKeepsRecentAndDirtyLines)
{
    ScratchDir dir;
    const int rows = 64, columns = 16, nbands = 3;
    auto value = [](int y, int b, int x) {
        return (double)((y * 5 + b * 3 + x) & 255);
    };
    for (int imgid : {IMG_BSQ, IMG_BIL, IMG_BIP}) {
        std::string name = dir.path(std::string("ahead") + strImgID(imgid));
        SCOPED_TRACE(name);
        RAMImage *r = createBasic(name, imgid, PIXEL_BYTE, rows, columns,
                                  nbands, 0);
        ASSERT_TRUE(r);
        writeLines(r, value, 3);
        closeRAMImage(r, nullptr);

        r = reopen(name);
        ASSERT_TRUE(r);
        ASSERT_EQ(setRAMImageBuf(r, 8), 8);
        std::vector<std::vector<unsigned char *>> held(rows);
        int wrong = 0;
        for (int y = 0; y < rows; y++) {
            for (int b = 0; b < nbands; b++)
                held[y].push_back(r->getLine(r, y, b, 1));
            if (y % 5 == 0) {
                held[y][1][0] = (unsigned char)(100 + y);
                updateRAMImageLine(r, y, 0, 1, 1);
            }
            for (int back = 0; back < 4 && back <= y; back++)
                for (int b = 0; b < nbands; b++)
                    for (int x = 1; x < columns; x++)
                        wrong += held[y - back][b][x] != value(y - back, b, x);
        }
        EXPECT_EQ(wrong, 0);
        closeRAMImage(r, nullptr);
        expectFileData(name, imgid, PIXEL_BYTE, rows, columns, nbands, 0,
                       [&](int y, int b, int x) {
                           return y % 5 == 0 && b == 1 && x == 0
                                      ? 100.0 + y : value(y, b, x);
                       });
    }
}

// A DIB's line 0 is its last file line; several bands are dealt byte by
// byte (the BMP fixtures of dib_test check more), and writing one band
// writes the whole line, the others from the cache.  A one-band line with
// padding writes only its pixels.
TEST(getRAMImageLine, DibBottomUpWithByteDealing)
{
    ScratchDir dir;
    std::string name = dir.path("three.dib");
    const int rows = 3, columns = 5, block = 16, offset = 54;
    Bytes file(offset, 0xAA);
    for (int record = 0; record < rows; record++)
        for (int j = 0; j < block; j++)
            file.push_back(j < 15 ? (unsigned char)(record * 16 + j) : 0);
    writeFileBytes(name, file);
    RAMImage *r = openDescribed(describeImage(name, IMG_DIB, PIXEL_BYTE, rows,
                                              columns, 3, 0, offset, block));
    ASSERT_TRUE(r);
    ASSERT_EQ(setRAMImageBuf(r, 1), 1);
    unsigned char *green = r->getLine(r, 0, 1, 1);
    EXPECT_EQ(Bytes(green, green + 5), (Bytes{33, 36, 39, 42, 45}));
    green[0] = 0x77;
    updateRAMImageLine(r, 0, 0, 1, 1);
    r->getLine(r, 0, 2, 1)[4] = 0x99;     // not marked: goes out with band 1
    EXPECT_EQ(r->getLine(r, 2, 0, 1)[1], 0 * 16 + 3);
    Bytes last = fileRange(name, offset + 2 * block, block);
    Bytes want(block, 0);
    std::iota(want.begin(), want.begin() + 15, 32);
    want[1] = 0x77;
    want[14] = 0x99;
    EXPECT_EQ(last, want);
    closeRAMImage(r, nullptr);

    name = dir.path("one.dib");
    file.assign(offset, 0);
    for (int record = 0; record < rows; record++)
        for (int j = 0; j < 8; j++)
            file.push_back(j < 5 ? (unsigned char)(record * 10 + j) : 0xEE);
    writeFileBytes(name, file);
    r = openDescribed(describeImage(name, IMG_DIB, PIXEL_BYTE, rows, columns,
                                    1, 0, offset, 8));
    ASSERT_TRUE(r);
    unsigned char *p = r->getLine(r, 0, 0, 1);
    EXPECT_EQ(Bytes(p, p + 5), (Bytes{20, 21, 22, 23, 24}));
    p[4] = 1;
    updateRAMImageLine(r, 0, 0, 5, 0);
    closeRAMImage(r, nullptr);
    EXPECT_EQ(fileRange(name, offset + 16, 8),
              (Bytes{20, 21, 22, 23, 1, 0xEE, 0xEE, 0xEE}));
}

// Writing band 1 of a three-band BIP line writes bands 0 and 2 from the
// cache too; a band no longer cached comes from the file.
TEST(flushRAMImageLine, BipLineTakesOtherBandsFromCacheOrFile)
{
    ScratchDir dir;
    std::string name = dir.path("bands.bip");
    RAMImage *r = createBasic(name, IMG_BIP, PIXEL_BYTE, 4, 2, 3, 0);
    ASSERT_TRUE(r);
    int64_t offset = r->info.offset;
    r->getLine(r, 1, 1, 1)[0] = 5;
    updateRAMImageLine(r, 1, 0, 1, 1);
    r->getLine(r, 1, 0, 1)[1] = 6;
    r->getLine(r, 1, 2, 1)[0] = 7;
    flushRAMImage(r);
    EXPECT_EQ(fileRange(name, offset + 6, 6), (Bytes{0, 5, 7, 6, 0, 0}));

    // Band 2's slot now holds another line: its bytes come from the file.
    ASSERT_EQ(setRAMImageBuf(r, 1), 1);
    r->getLine(r, 1, 0, 1)[0] = 8;
    updateRAMImageLine(r, 1, 0, 1, 0);
    std::memset(r->buffer + 2 * r->lineBytes, 0x55, 2);
    r->slotMap[2] = -1;
    flushRAMImage(r);
    EXPECT_EQ(fileRange(name, offset + 6, 6), (Bytes{8, 5, 7, 6, 0, 0}));

    // Reloading the missing band keeps a changed band of the same line.
    r->getLine(r, 1, 0, 1)[0] = 9;
    updateRAMImageLine(r, 1, 0, 1, 0);
    r->slotMap[2] = -1;
    EXPECT_EQ(r->getLine(r, 1, 2, 1)[0], 7);
    EXPECT_EQ(r->getLine(r, 1, 0, 1)[0], 9);
    closeRAMImage(r, nullptr);
    EXPECT_EQ(fileRange(name, offset + 6, 6), (Bytes{9, 5, 7, 6, 0, 0}));
}

// Short reads leave the rest of the line as it was (here the fill value
// of the transparent index); a TIFF record without a block reader keeps
// its lines and writes them as contiguous by-pixel lines.
TEST(getRAMImageLine, ShortReadsAndMissingBlocksKeepTheLine)
{
    ScratchDir dir;
    std::string name = dir.path("short.raw");
    writeFileBytes(name, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    ImageInfo info = describeImage(name, IMG_BIL, PIXEL_BYTE, 2, 8, 1, 0, 0,
                                   8);
    info.transparent = 0x5A;
    RAMImage *r = openDescribed(info);
    ASSERT_TRUE(r);
    const unsigned char *p = r->getLine(r, 1, 0, 1);
    EXPECT_EQ(Bytes(p, p + 8), (Bytes{9, 10, 11, 12, 0x5A, 0x5A, 0x5A, 0x5A}));
    closeRAMImage(r, nullptr);

    // Big-endian shorts cut inside the last value of band 1.
    name = dir.path("short.bip");
    writeFileBytes(name, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0});
    info = describeImage(name, IMG_BIP, PIXEL_SHORT, 1, 3, 2, 1, 0, 12);
    info.transparent = 0x11;
    r = openDescribed(info);
    ASSERT_TRUE(r);
    std::vector<double> got;
    for (int b = 0; b < 2; b++)
        for (int x = 0; x < 3; x++)
            got.push_back(getLineValue(r->getLine(r, 0, b, 1), PIXEL_SHORT, 1,
                                       x));
    EXPECT_EQ(got, (std::vector<double>{1, 3, 5, 2, 4, 0x1111}));
    closeRAMImage(r, nullptr);

    name = dir.path("strips.tif");
    writeFileBytes(name, Bytes(8 + 2 * 6, 0));
    info = describeImage(name, IMG_TIFF, PIXEL_BYTE, 2, 3, 2, 0, 8, 6);
    info.transparent = 7;
    r = openDescribed(info);
    ASSERT_TRUE(r);
    unsigned char *t = r->getLine(r, 1, 1, 1);
    EXPECT_EQ(Bytes(t, t + 3), (Bytes{7, 7, 7}));
    t[2] = 9;
    updateRAMImageLine(r, 1, 0, 3, 1);
    closeRAMImage(r, nullptr);
    EXPECT_EQ(fileRange(name, 8 + 6, 6), (Bytes{7, 7, 7, 7, 7, 9}));
}

// Whole-picture formats: a miss hands the record to the format's reader,
// and writing one dirty line writes the picture, so every line is clean
// afterwards.
TEST(flushRAMImageLine, WholePictureWritesEveryLine)
{
    ScratchDir dir;
    std::string name = dir.path("picture.xbm");
    std::string text = "#define p_width 16\n#define p_height 8\n{";
    for (int y = 0; y < 8; y++)
        text += "3,0,";     /* each row's first byte is 3 */
    text += "};\n";
    writeFileBytes(name, Bytes(text.begin(), text.end()));
    ImageInfo info = describeImage(name, IMG_XBMP, PIXEL_1BIT, 8, 16, 1, 0,
                                   0, 2);
    info.transparent = 3;
    RAMImage *r = openDescribed(info);
    ASSERT_TRUE(r);
    ASSERT_EQ(setRAMImageBuf(r, 8), 8);
    for (int y : {2, 5}) {
        unsigned char *p = r->getLine(r, y, 0, 1);
        EXPECT_EQ(p[0], 3);
        p[0] = 1;
        updateRAMImageLine(r, y, 0, 1, 0);
    }
    EXPECT_TRUE(ramImageSlotDirty(r, 5));
    flushRAMImageLine(r, 2);
    EXPECT_FALSE(ramImageSlotDirty(r, 5));
    EXPECT_TRUE(cacheInvariantsHold(r));
    closeRAMImage(r, nullptr);
}

// Lines and bands outside the image read zeros from a scratch line and
// never reach the cache.
TEST(getRAMImageLine, OutsideTheImage)
{
    ScratchDir dir;
    std::string name = dir.path("outside.bil");
    RAMImage *r = createBasic(name, IMG_BIL, PIXEL_FLOAT, 3, 4, 2, 0);
    ASSERT_TRUE(r);
    const unsigned char *start = r->buffer;
    const unsigned char *end = r->buffer + (size_t)r->slotCount * r->lineBytes;
    for (auto [y, b] : std::vector<std::pair<int, int>>{
             {-1, 0}, {3, 0}, {0, 2}, {0, -1}, {1 << 30, 1}}) {
        unsigned char *p = r->getLine(r, y, b, 1);
        ASSERT_TRUE(p);
        EXPECT_TRUE(p < start || p >= end);
        EXPECT_EQ(p[0] | p[15], 0);
        p[0] = 1;
        updateRAMImageLine(r, y, 0, 4, b);
        EXPECT_EQ(putRAMImageLine(r, y, b), nullptr);
    }
    EXPECT_TRUE(cacheInvariantsHold(r));
    closeRAMImage(r, nullptr);
    EXPECT_EQ(fileRange(name, BASIC_HEADER_SIZE, 97), Bytes(96, 0));
}

namespace {
int seekResult;
int fakeSeek(RAMImage *, int) { return seekResult; }
} // namespace

// Volumes of a multi-volume raw file: next, last, out of range, the data
// offset, write-back before the switch and the histogram reset; seek
// operations and their messages.
TEST(getRAMImageVolume, SelectsVolumes)
{
    ScratchDir dir;
    std::string name = dir.path("volumes.bil");
    Bytes file(10, 0);
    for (int i = 0; i < 3 * 16; i++)
        file.push_back((unsigned char)(16 + i));    // volume v: 16 v + i
    writeFileBytes(name, file);
    ImageInfo info = describeImage(name, IMG_BIL, PIXEL_BYTE, 2, 4, 2, 0, 10,
                                   4);
    info.volumes = 3;
    RAMImage *r = openDescribed(info);
    ASSERT_TRUE(r);
    Hist *h = createHist(2, 256);
    const unsigned char threes[5] = {3, 3, 3, 3, 3};
    for (int b = 0; b < 2; b++) {
        calcByteHist(&h[b], 5, 1, threes);
        h[b].valid = 1;
    }
    r->histograms = h;

    EXPECT_EQ(r->getLine(r, 1, 1, 1)[0], 16 + 12);
    EXPECT_EQ(getRAMImageVolume(r, 2), 2);
    EXPECT_EQ(r->dataOffset, 10 + 16);
    EXPECT_EQ(r->volumeCount, 3);
    EXPECT_EQ(r->getLine(r, 1, 1, 1)[0], 32 + 12);
    EXPECT_EQ(h[1].valid, 0);
    EXPECT_EQ(h[1].count, 0);
    EXPECT_EQ(h[1].min, DBL_MAX);
    EXPECT_EQ(h[1].max, -DBL_MAX);
    EXPECT_EQ(h[1].bins[3], 0);

    r->getLine(r, 0, 0, 1)[0] = 0xEE;
    updateRAMImageLine(r, 0, 0, 1, 0);
    EXPECT_EQ(getRAMImageVolume(r, 0), 3);
    EXPECT_EQ(fileRange(name, 26, 1), Bytes{0xEE});
    EXPECT_EQ(getRAMImageVolume(r, 0), -2);
    EXPECT_EQ(r->volume, 3);
    EXPECT_EQ(getRAMImageVolume(r, 1), 1);
    EXPECT_EQ(r->getLine(r, 0, 1, 1)[3], 16 + 7);
    EXPECT_EQ(getRAMImageVolume(r, 99), 3);
    EXPECT_EQ(getRAMImageVolume(r, -1), 3);
    EXPECT_EQ(r->getLine(r, 0, 0, 1)[0], 48);

    CapturedOutput out;
    r->seek = fakeSeek;
    for (int result : {0, -1, 2}) {
        seekResult = result;
        EXPECT_EQ(getRAMImageVolume(r, 2), result);
    }
    EXPECT_EQ(out.err(), "Can't seek image " + name + "\nError in seek image: "
                             + name + "\n");
    r->seek = nullptr;
    closeRAMImage(r, nullptr);

    info.volumes = 0;
    r = openDescribed(info);
    ASSERT_TRUE(r);
    EXPECT_EQ(getRAMImageVolume(r, 2), -2);
    EXPECT_EQ(r->volume, 1);
    EXPECT_EQ(r->volumeCount, 1);
    closeRAMImage(r, nullptr);
}

// Runs of whole float lines: host-order FLOAT by band lines moves between
// file and buffer directly, big-endian FLOAT and USHORT through the cache;
// either way the file ends with the layout's bytes, lines dirty in the
// cache are neither lost nor left stale, and a short file reads as the
// line-by-line access reads it.
TEST(readFloatBILLines, RunsOfWholeLinesAgreeWithTheCache)
{
    ScratchDir dir;
    const int rows = 40, columns = 6, nbands = 2, stride = 9;
    for (int imgid : {IMG_BSQ, IMG_BIL}) {
        for (auto [pixel, msbf] : {std::pair{PIXEL_FLOAT, 0},
                                   std::pair{PIXEL_FLOAT, 1},
                                   std::pair{PIXEL_USHORT, 0}}) {
            std::string name = dir.path(std::string("runs") + strImgID(imgid)
                                        + strPixelID(pixel) + std::to_string(msbf));
            SCOPED_TRACE(name);
            RAMImage *r = createBasic(name, imgid, pixel, rows, columns,
                                      nbands, msbf);
            ASSERT_TRUE(r);
            ASSERT_EQ(setRAMImageBuf(r, 4), 4);
            Values value = valuesOf(pixel);
            std::vector<float> buf((size_t)rows * stride, -1.0f);
            auto fill = [&](int b, int first, int n, double offset) {
                for (int i = 0; i < n; i++)
                    for (int x = 0; x < columns; x++)
                        buf[(size_t)i * stride + x] =
                            (float)(value(first + i, b, x) + offset);
            };
            // lines 5 and 7 of band 1 cached and dirty with other values
            fill(1, 5, 3, 1.0);
            putFloatBILData(r, 5, 0, columns, 1, buf.data());
            putFloatBILData(r, 7, 0, columns, 1, buf.data() + 2 * stride);
            fill(1, 0, rows, 0.0);
            writeFloatBILLines(r, 0, rows, 1, buf.data(), stride);
            fill(0, 0, rows, 0.0);
            writeFloatBILLines(r, 0, rows, 0, buf.data(), stride);
            EXPECT_TRUE(cacheInvariantsHold(r));
            for (int b = 0; b < nbands; b++) {
                std::fill(buf.begin(), buf.end(), -1.0f);
                readFloatBILLines(r, 0, rows, b, buf.data(), stride);
                int wrong = 0;
                for (int y = 0; y < rows; y++)
                    for (int x = 0; x < columns; x++)
                        wrong += buf[(size_t)y * stride + x] != (float)value(y, b, x);
                EXPECT_EQ(wrong, 0) << "band " << b;
            }
            EXPECT_EQ(closeRAMImage(r, nullptr), 0);
            expectFileData(name, imgid, pixel, rows, columns, nbands, msbf,
                           value);
        }
    }

    // Cut inside the last line: the lines it lacks read as readFloatBILData
    // reads them.
    std::string name = dir.path("cut.bsq");
    RAMImage *r = createBasic(name, IMG_BSQ, PIXEL_FLOAT, 8, 5, 1, 0);
    ASSERT_TRUE(r);
    std::vector<float> line(5);
    for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 5; x++)
            line[x] = (float)(y * 10 + x);
        putFloatBILData(r, y, 0, 5, 0, line.data());
    }
    closeRAMImage(r, nullptr);
    ASSERT_EQ(truncate(name.c_str(), BASIC_HEADER_SIZE + 7 * 20 + 8), 0);
    r = reopen(name);
    ASSERT_TRUE(r);
    std::vector<float> runs(8 * 5), single(8 * 5);
    readFloatBILLines(r, 0, 8, 0, runs.data(), 5);
    closeRAMImage(r, nullptr);
    r = reopen(name);
    ASSERT_TRUE(r);
    for (int y = 0; y < 8; y++)
        readFloatBILData(r, y, 0, 5, 0, single.data() + y * 5);
    closeRAMImage(r, nullptr);
    EXPECT_EQ(runs, single);
    EXPECT_EQ(runs[7 * 5 + 1], 71.0f);
}
