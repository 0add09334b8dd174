// Tests of gif.cpp: the probe, frames decoded against the pictures that
// ImageMagick, netpbm and giflib were given (tests/fixtures/make_gif.sh),
// frame stepping and disposal, the LZW decoder on malformed codes, and
// truncated or corrupt files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/gif.h"
#include "tests/support/testSupport.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes fixture(const std::string &name)
{
    return readFileBytes(fixturePath("gif/" + name));
}

// Opens a copy of `bytes` through the store (probe, and the first frame
// when the file has no global table).
RAMImage *openBytes(const ScratchDir &dir, const Bytes &bytes,
                    const char *name = "x.gif")
{
    unlink(dir.path(name).c_str());     // a truncation would flush to disk
    writeFileBytes(dir.path(name), bytes);
    int err = -1;
    return openRAMImage(nullptr, dir.path(name).c_str(), nullptr, nullptr,
                        &err);
}

Bytes canvas(const RAMImage *r)
{
    Bytes v;
    for (int y = 0; y < r->info.rows; y++)
        v.insert(v.end(), r->buffer + (size_t)y * r->lineBytes,
                 r->buffer + (size_t)y * r->lineBytes + r->info.columns);
    return v;
}

// The canvas as RGB through the record's palette.
Bytes canvasRGB(const RAMImage *r)
{
    Bytes rgb;
    for (unsigned char i : canvas(r))
        rgb.insert(rgb.end(), r->info.palette[i], r->info.palette[i] + 3);
    return rgb;
}

// Pixels of a binary PPM (P6) or PGM (P5) as RGB.
Bytes pnmRGB(const std::string &name, int *width, int *height)
{
    Bytes f = fixture(name);
    std::string head(f.begin(), f.begin() + 20);
    std::istringstream in(head);
    std::string magic;
    int maxval;
    in >> magic >> *width >> *height >> maxval;
    size_t at = (size_t)in.tellg() + 1;
    Bytes rgb;
    for (size_t i = at; i < f.size(); i++)
        for (int k = 0; k < (magic == "P5" ? 3 : 1); k++)
            rgb.push_back(f[i]);
    return rgb;
}

// Rows of digits, one character per canvas index.
Bytes indices(const char *rows)
{
    Bytes v;
    for (const char *p = rows; *p; p++)
        if (*p >= '0' && *p <= '9')
            v.push_back((unsigned char)(*p - '0'));
    return v;
}

// The canvas of anim_gb.gif after each frame, worked out from
// anim_gb.txt: frame 3's fill is its new transparent index 1, frame 4's
// the previous one, 1.
std::vector<Bytes> animGbFrames()
{
    return {
        indices("00112233 01230123 33333333 11110000 20202020 33333333"),
        indices("00112233 01212123 33233333 11113300 20202020 33333333"),
        indices("11111010 11111101 11111001 11111110 11111011 11111100"),
        indices("10111111 31111111 11111111 11111111 11111111 11111111"),
        indices("10111111 31111111 11111111 11111111 11111101 11111132"),
    };
}

// Positions in anim_gb.gif (giftext lists the blocks in this order).
size_t findBytes(const Bytes &b, const Bytes &what, size_t from = 0)
{
    for (size_t i = from; i + what.size() <= b.size(); i++)
        if (std::equal(what.begin(), what.end(), b.begin() + i))
            return i;
    return std::string::npos;
}

}  // namespace

TEST(imgGif, ProbeLayouts)
{
    ScratchDir dir;
    ImageInfo info;

    Bytes g87 = fixture("g87.gif");
    writeFileBytes(dir.path("g87.gif"), g87);
    int fd = open(dir.path("g87.gif").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::memset(&info, 0x55, sizeof info);
    lseek(fd, 5, SEEK_SET);
    EXPECT_EQ(imgGif(fd, &info), IMG_GIF87A);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5);
    close(fd);
    EXPECT_EQ(info.imgid, IMG_GIF87A);
    EXPECT_EQ(info.columns, 37);
    EXPECT_EQ(info.rows, 23);
    EXPECT_EQ(info.pixel, PIXEL_BYTE);
    EXPECT_EQ(info.bits, 8);
    EXPECT_EQ(info.nbands, 1);
    EXPECT_EQ(info.mapid, MAP_GRID);
    int n = 1 << ((g87[10] & 7) + 1);
    EXPECT_EQ(info.nindices, n);
    EXPECT_EQ(info.offset, 13 + 3 * n);
    EXPECT_EQ(0, std::memcmp(info.palette, &g87[13], 3 * n));
    EXPECT_EQ(info.transparent, -1);
    EXPECT_EQ(info.block, 0);
    EXPECT_EQ(info.top, 0);
    EXPECT_EQ(info.left, 0);
    EXPECT_EQ(info.x0, 0.0);
    EXPECT_EQ(info.dy, 1.0);
    EXPECT_EQ(info.msbf, msbFirst());

    // No global table; a first graphic control with transparency.
    struct {
        const char *name;
        int type, nindices, offset, transparent;
    } cases[] = {
        {"noglobal.gif", IMG_GIF89A, 0, 13, -1},
        {"anim_gb.gif", IMG_GIF89A, 4, 25, 3},
        {"anim_im.gif", IMG_GIF89A, 16, 61, -1},
    };
    for (auto &c : cases) {
        writeFileBytes(dir.path(c.name), fixture(c.name));
        fd = open(dir.path(c.name).c_str(), O_RDONLY);
        std::memset(&info, 0, sizeof info);
        EXPECT_EQ(imgGif(fd, &info), c.type) << c.name;
        EXPECT_EQ(info.nindices, c.nindices) << c.name;
        EXPECT_EQ(info.offset, c.offset) << c.name;
        EXPECT_EQ(info.transparent, c.transparent) << c.name;
        close(fd);
    }

    // Not GIF: other signatures, a cut descriptor, a short global table.
    CapturedOutput cap;
    Bytes other = g87;
    other[4] = '8';
    Bytes cutLSD(g87.begin(), g87.begin() + 12);
    Bytes shortTable(g87.begin(), g87.begin() + 13 + 5);
    Bytes pgm = fixture("noise.pgm");
    for (const Bytes *b : {&other, &cutLSD, &shortTable, &pgm}) {
        writeFileBytes(dir.path("not.gif"), *b);
        fd = open(dir.path("not.gif").c_str(), O_RDONLY);
        EXPECT_EQ(imgGif(fd, &info), 0);
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0);
        close(fd);
    }
    EXPECT_EQ(cap.err(), "Error in getGifLSD: count = " + std::to_string(3 * n)
                             + " n = 5\n");
}

TEST(readGIF, WritersPixels)
{
    ScratchDir dir;
    int w, h;
    Bytes pattern = pnmRGB("pattern.ppm", &w, &h);
    Bytes noise = pnmRGB("noise.pgm", &w, &h);
    struct {
        const char *name;
        const Bytes *expected;
        int type, delay;
    } cases[] = {
        {"g87.gif", &pattern, IMG_GIF87A, 0},      // ImageMagick, GIF87a
        {"g89i.gif", &pattern, IMG_GIF89A, 33},    // interlaced twin
        {"noglobal.gif", &pattern, IMG_GIF89A, 33}, // local table only
        {"noise.gif", &noise, IMG_GIF89A, 33},     // 12-bit codes, clears
        {"noise_noclear.gif", &noise, IMG_GIF87A, 0}, // table full, no clear
        {"noise_nolzw.gif", &noise, IMG_GIF87A, 0},   // a clear every few
    };
    CapturedOutput cap;
    for (auto &c : cases) {
        RAMImage *r = openBytes(dir, fixture(c.name), c.name);
        ASSERT_NE(r, nullptr) << c.name;
        EXPECT_EQ(r->info.imgid, c.type);
        EXPECT_EQ(r->cacheLines, r->info.rows);
        // Without a global table the store reads the frame at open.
        if (std::string(c.name) != "noglobal.gif") {
            EXPECT_EQ(r->volume, 0) << c.name;
            EXPECT_EQ(readGIF(r), 1);
        }
        EXPECT_EQ(r->volume, 1) << c.name;
        EXPECT_EQ(r->volumeCount, 1) << c.name;  // the trailer was seen
        EXPECT_GE(r->info.nindices, 200) << c.name;
        EXPECT_TRUE(canvasRGB(r) == *c.expected) << c.name;
        EXPECT_EQ(readGIF(r), 2);       // nothing follows
        EXPECT_EQ(gifSeek(r, 0), -2);
        EXPECT_EQ(gifFrameDelay(r), c.delay) << c.name;
        EXPECT_EQ(closeRAMImage(r, nullptr), 0);
    }
    EXPECT_EQ(cap.err(), "");
}

// giflib's gifbuild animation (anim_gb.txt): every disposal, transparency,
// a two-entry local table, interlacing and clipping, step by step.
TEST(gifSeek, StepsDisposesAndRewinds)
{
    ScratchDir dir;
    CapturedOutput cap;
    RAMImage *r = openBytes(dir, fixture("anim_gb.gif"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->seek, gifSeek);
    EXPECT_EQ(r->volume, 0);
    EXPECT_EQ(gifFrameDelay(r), 0);
    EXPECT_EQ(canvas(r), Bytes(48, 3));     // filled with `transparent`

    const std::vector<Bytes> frames = animGbFrames();
    const int delays[5] = {33, 100, 33, 10, 10};
    const int transparent[5] = {3, 0, 1, 2, 2};
    for (int v = 1; v <= 5; v++) {
        EXPECT_EQ(gifSeek(r, v == 5 ? 0 : v), v);
        EXPECT_EQ(canvas(r), frames[v - 1]) << "frame " << v;
        EXPECT_EQ(gifFrameDelay(r), delays[v - 1]) << "frame " << v;
        EXPECT_EQ(r->info.transparent, transparent[v - 1]) << "frame " << v;
        EXPECT_EQ(r->volumeCount, v == 5 ? 5 : -1);
    }
    // The palette follows the last local table read.
    EXPECT_EQ(r->info.nindices, 2);
    const unsigned char local[2][3] = {{10, 20, 30}, {40, 50, 60}};
    EXPECT_EQ(0, std::memcmp(r->info.palette, local, 6));
    EXPECT_EQ(gifSeek(r, 0), -2);
    EXPECT_EQ(gifSeek(r, 5), 5);
    EXPECT_EQ(gifSeek(r, 9), 5);            // stays below the request

    // Back: rewound, the global table and `transparent` restored, and the
    // frame drawn as the first time.
    EXPECT_EQ(gifSeek(r, 2), 2);
    EXPECT_EQ(canvas(r), frames[1]);
    EXPECT_EQ(r->info.nindices, 4);
    EXPECT_EQ(r->info.palette[3][0], 255);
    EXPECT_EQ(gifSeek(r, -1), 5);
    EXPECT_EQ(canvas(r), frames[4]);
    EXPECT_EQ(rewindGIF(r), 1);
    EXPECT_EQ(r->volume, 1);
    EXPECT_EQ(canvas(r), frames[0]);
    EXPECT_EQ(cap.err(), "");

    // Without a file there is nothing to seek or rewind.
    int fd = r->fd;
    r->fd = -1;
    EXPECT_EQ(gifSeek(r, 2), 0);
    EXPECT_EQ(rewindGIF(r), 0);
    EXPECT_EQ(cap.err(), "Can't rewind " + dir.path("x.gif") + "\n");
    r->fd = fd;
    closeRAMImage(r, nullptr);
}

// A cache rebuilt or emptied after a frame was drawn (rimage cache,
// update DATA) gets the current frame drawn again, not the next.
TEST(readGIF, RedrawsALostCanvas)
{
    ScratchDir dir;
    CapturedOutput cap;
    const std::vector<Bytes> frames = animGbFrames();
    RAMImage *r = openBytes(dir, fixture("anim_gb.gif"));
    ASSERT_EQ(gifSeek(r, 3), 3);
    EXPECT_EQ(setRAMImageBuf(r, 2), 6);
    EXPECT_EQ(canvas(r), Bytes(48, 1));
    EXPECT_EQ(gifSeek(r, 3), 3);
    EXPECT_EQ(canvas(r), frames[2]);
    inValidateRAMImage(r);
    r->slotMap[4] = 4;                  // the line access claims its line
    EXPECT_EQ(gifSeek(r, 0), 4);
    EXPECT_EQ(canvas(r), frames[3]);
    closeRAMImage(r, nullptr);

    int w, h;
    Bytes pattern = pnmRGB("pattern.ppm", &w, &h);
    r = openBytes(dir, fixture("g87.gif"));
    ASSERT_EQ(readGIF(r), 1);
    EXPECT_EQ(setRAMImageBuf(r, 1), 23);
    EXPECT_EQ(readGIF(r), 1);
    EXPECT_EQ(r->volume, 1);
    EXPECT_TRUE(canvasRGB(r) == pattern);
    EXPECT_EQ(cap.err(), "");
    closeRAMImage(r, nullptr);
}

// ImageMagick's animation against ImageMagick's decoding of each frame:
// inside a frame its opaque pixels, elsewhere what the canvas held (after
// the frame's disposal fill).
TEST(gifSeek, ImageMagickAnimation)
{
    ScratchDir dir;
    CapturedOutput cap;
    RAMImage *r = openBytes(dir, fixture("anim_im.gif"));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->info.columns, 12);
    Bytes txt = fixture("anim_im.txt");
    std::istringstream in(std::string(txt.begin(), txt.end()));
    Bytes before = canvas(r);
    for (int n = 0; n < 4; n++) {
        int x0, y0, w, h, delay;
        std::string dispose;
        in >> x0 >> y0 >> w >> h >> delay >> dispose;
        int previousTransparent = r->info.transparent;
        ASSERT_EQ(gifSeek(r, 0), n + 1);
        EXPECT_EQ(gifFrameDelay(r), delay ? delay * 10 : 33);
        if (dispose == "Background")
            before.assign(before.size(), r->info.transparent < 0
                                             ? 0 : r->info.transparent);
        if (dispose == "Previous" && previousTransparent >= 0)
            before.assign(before.size(), previousTransparent);
        Bytes frame = fixture("anim_im." + std::to_string(n) + ".rgba");
        ASSERT_EQ(frame.size(), (size_t)w * h * 4);
        Bytes now = canvas(r);
        int drawn = 0, kept = 0;
        for (int y = 0; y < r->info.rows; y++) {
            for (int x = 0; x < r->info.columns; x++) {
                size_t i = (size_t)y * r->info.columns + x;
                const unsigned char *p = nullptr;
                if (x >= x0 && x < x0 + w && y >= y0 && y < y0 + h)
                    p = &frame[((size_t)(y - y0) * w + (x - x0)) * 4];
                if (p && p[3] == 255) {
                    EXPECT_EQ(0, std::memcmp(r->info.palette[now[i]], p, 3))
                        << "frame " << n << " at " << x << "," << y;
                    drawn++;
                } else {
                    EXPECT_EQ(now[i], before[i])
                        << "frame " << n << " at " << x << "," << y;
                    kept++;
                }
            }
        }
        EXPECT_GT(drawn, 0);
        if (n > 0) {
            EXPECT_GT(kept, 0);
        }
        before = now;
    }
    EXPECT_EQ(r->volumeCount, 4);
    EXPECT_EQ(r->info.nindices, 16);
    EXPECT_EQ(cap.err(), "");
    closeRAMImage(r, nullptr);
}

// Malformed code streams: the first code after a clear beyond the roots,
// a code beyond the next free one, an end code in the middle.
TEST(getNextGifByte, MalformedCodes)
{
    ScratchDir dir;
    // Codes of minimum size 2: clear 4, end 5, first free 6; the code
    // size grows to 4 bits once entry 7 is defined.
    const int codes[][2] = {{4, 3}, {7, 3}, {1, 3}, {7, 3}, {5, 3}, {0, 3},
                            {4, 4}, {2, 3}, {6, 3}};
    Bytes data;
    unsigned acc = 0;
    int nbits = 0;
    for (auto &c : codes) {
        acc |= (unsigned)c[0] << nbits;
        nbits += c[1];
        while (nbits >= 8) {
            data.push_back(acc & 0xFF);
            acc >>= 8;
            nbits -= 8;
        }
    }
    if (nbits)
        data.push_back(acc & 0xFF);
    Bytes file(1, (unsigned char)data.size());
    for (unsigned char b : data)
        file.push_back(b);
    file.push_back(0);
    file.push_back(0x3B);
    writeFileBytes(dir.path("lzw"), file);
    int fd = open(dir.path("lzw").c_str(), O_RDONLY);
    std::unique_ptr<GifImgBlk> s(new GifImgBlk);
    ASSERT_EQ(initGifImgBlk(fd, 2, s.get()), 0);
    Bytes out;
    for (int b; (b = getNextGifByte(s.get())) >= 0;)
        out.push_back((unsigned char)b);
    // 7 right after the clear is skipped; 1; 7 (beyond free code 6) is
    // the previous string and its first byte: 1 1; the end code is
    // passed over; 0; after the second clear 2, then 6 = 2 2; the last
    // byte's four padding bits still hold a code, 0.
    EXPECT_EQ(out, Bytes({1, 1, 1, 0, 2, 2, 2, 0}));
    EXPECT_EQ(drainGifImgBlk(s.get()), (int64_t)file.size() - 1);
    EXPECT_EQ(initGifImgBlk(fd, 0, s.get()), -1);
    EXPECT_EQ(initGifImgBlk(fd, 9, s.get()), -1);
    close(fd);
}

TEST(readGIF, TruncatedAndCorruptFiles)
{
    ScratchDir dir;
    CapturedOutput cap;
    const Bytes gb = fixture("anim_gb.gif");
    // Frame 1: its descriptor, its data and what follows them.
    size_t des1 = findBytes(gb, {0x2C, 0, 0, 0, 0, 8, 0, 5, 0});
    size_t lzw1 = des1 + 10;                // minimum code size
    size_t data1 = lzw1 + 1;
    size_t end1 = data1;
    while (gb[end1])
        end1 += gb[end1] + 1;
    end1++;                                 // after the terminator
    ASSERT_EQ(gb[end1], 0x21);

    auto run = [&](const Bytes &b, int expect, const std::string &err) {
        cap.clear();
        RAMImage *r = openBytes(dir, b);
        if (!r) {
            ADD_FAILURE() << "not opened";
            return (RAMImage *)nullptr;
        }
        EXPECT_EQ(gifSeek(r, 1) >= 0 ? readGIF(r) : -1, expect);
        EXPECT_EQ(cap.err(), err);
        return r;
    };
    // Cut in frame 2's descriptor.
    size_t des2 = findBytes(gb, {0x2C, 2, 0, 1, 0}, end1);
    RAMImage *r = run(Bytes(gb.begin(), gb.begin() + des2 + 5), 0,
                      "    Error in getGIFImgDes\n");
    closeRAMImage(r, nullptr);
    // Cut in frame 1's data: the frame is decoded as far as it goes.
    cap.clear();
    r = openBytes(dir, Bytes(gb.begin(), gb.begin() + data1 + 4));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(gifSeek(r, 1), 1);
    EXPECT_EQ(cap.err(),
              "Error in read GIF Block Data.\nUnexpected GIF EOF\n");
    EXPECT_EQ(r->volumeCount, 1);
    EXPECT_EQ(gifSeek(r, 0), -2);
    closeRAMImage(r, nullptr);
    // Cut right after frame 1: decoded, but the end is reported.
    cap.clear();
    r = openBytes(dir, Bytes(gb.begin(), gb.begin() + end1));
    EXPECT_EQ(readGIF(r), 2);
    EXPECT_EQ(r->volume, 1);
    EXPECT_EQ(r->volumeCount, 1);
    EXPECT_EQ(canvas(r).size(), 48u);
    EXPECT_EQ(canvas(r)[2], 1);
    EXPECT_EQ(cap.err(), "Unexpected GIF EOF\n");
    closeRAMImage(r, nullptr);
    // Cut inside an extension after frame 1: the end of the data.
    r = run(Bytes(gb.begin(), gb.begin() + end1 + 5), 2,
            "Error in read GIF Block Data.\n");
    EXPECT_EQ(r->volumeCount, 1);
    closeRAMImage(r, nullptr);

    // An unknown extension label is an error.
    Bytes bad = gb;
    bad[end1 + 1] = 0x55;
    r = run(bad, 0, "    Unknown label in extension block\n");
    EXPECT_EQ(gifSeek(r, 3), -1);
    closeRAMImage(r, nullptr);
    // A stray byte between blocks is reported and stepped over.
    bad = gb;
    bad.insert(bad.begin() + end1, 0x00);
    r = run(bad, 1, "Unknown GIF Introducer: 0x0.\n");
    EXPECT_EQ(r->volume, 1);
    EXPECT_EQ(gifSeek(r, 0), 2);
    closeRAMImage(r, nullptr);
    // An LZW code size the decoder cannot take.
    bad = gb;
    bad[lzw1] = 12;
    cap.clear();
    r = openBytes(dir, bad);
    EXPECT_EQ(readGIF(r), 0);
    EXPECT_EQ(cap.err(), "Bad LZW minimum code size in GIF image: 12\n");
    closeRAMImage(r, nullptr);
    // Header and trailer alone: no frame.
    Bytes empty(gb.begin(), gb.begin() + 25);
    empty.push_back(0x3B);
    cap.clear();
    r = openBytes(dir, empty);
    EXPECT_EQ(readGIF(r), 2);
    EXPECT_EQ(r->volumeCount, 0);
    EXPECT_EQ(gifSeek(r, 1), 0);
    EXPECT_EQ(cap.err(), "");
    closeRAMImage(r, nullptr);

    // Every cut and many corrupt bytes of two files: no crash, no hang
    // (the sanitizer build checks the memory).
    std::vector<Bytes> files = {gb, fixture("noglobal.gif")};
    for (const Bytes &f : files) {
        for (size_t len = 0; len < f.size(); len++) {
            RAMImage *t = openBytes(dir, Bytes(f.begin(), f.begin() + len));
            if (t) {
                EXPECT_NE(gifSeek(t, -1), -3);
                closeRAMImage(t, nullptr);
            }
        }
    }
    for (size_t at = 6; at < gb.size(); at++) {
        for (unsigned char v : {0x00, 0x01, 0x0C, 0x21, 0x2C, 0x3B, 0xFF}) {
            Bytes c = gb;
            c[at] = v;
            RAMImage *t = openBytes(dir, c);
            if (t) {
                gifSeek(t, -1);
                gifSeek(t, 2);
                closeRAMImage(t, nullptr);
            }
        }
    }
}

TEST(writeGIF, NotImplementedLeavesFile)
{
    ScratchDir dir;
    const Bytes g = fixture("g87.gif");
    RAMImage *r = openBytes(dir, g);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(readGIF(r), 1);
    r->buffer[0] ^= 0xFF;
    updateRAMImageLine(r, 0, 0, 1, 0);
    updateRAMImageLine(r, 5, 0, 1, 0);
    CapturedOutput cap;
    EXPECT_EQ(writeGIF(r), 0);
    EXPECT_EQ(cap.err(), "writeGIF has not been implemented!!!\n");
    EXPECT_FALSE(ramImageSlotDirty(r, 0));
    EXPECT_FALSE(ramImageSlotDirty(r, 5));
    closeRAMImage(r, nullptr);
    EXPECT_EQ(readFileBytes(dir.path("x.gif")), g);
}
