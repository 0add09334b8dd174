// Tests of gif.cpp: the probe, frames decoded against the pictures that
// ImageMagick, netpbm and giflib were given (tests/fixtures/make_gif.sh),
// frame stepping and disposal, the LZW decoder on malformed codes, and
// truncated or corrupt files.
#include <gtest/gtest.h>

#include <sstream>

#include "formats/gif.h"
#include "tests/formats/rasterRef.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes gifFixture(const std::string &name)
{
    return readFileBytes(fixturePath("gif/" + name));
}

// Opens a fresh file of `bytes` through the store (probe, and the first
// frame when the file has no global table).
RAMImage *openBytes(const ScratchDir &dir, const Bytes &bytes)
{
    rewriteFile(dir.path("x.gif"), bytes);
    return openRAMImage(nullptr, dir.path("x.gif").c_str(), nullptr, nullptr,
                        nullptr);
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

// The pixels of a PPM or PGM fixture as RGB.
Bytes refRGB(const std::string &name)
{
    RefPicture p = readRefPicture(fixturePath("gif/" + name));
    Bytes rgb;
    for (unsigned char v : p.data)
        rgb.insert(rgb.end(), p.channels == 3 ? 1 : 3, v);
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

}  // namespace

TEST(imgGif, ProbeLayouts)
{
    ScratchDir dir;
    CapturedOutput cap;
    ImageInfo info;
    // The global table after the 13-byte screen descriptor (none in
    // noglobal.gif); `transparent` from a first graphic control.
    const std::string tail =
        " msbf " + std::to_string(msbFirst()) + " GRID tr ";
    struct { const char *name, *layout, *transparent; int type; } cases[] = {
        {"g87.gif", "GIF87a BYTE/8 37x23x1 off 781 block 0 nind 256", "-1",
         IMG_GIF87A},
        {"noglobal.gif", "GIF89a BYTE/8 37x23x1 off 13 block 0 nind 0", "-1",
         IMG_GIF89A},
        {"anim_gb.gif", "GIF89a BYTE/8 8x6x1 off 25 block 0 nind 4", "3",
         IMG_GIF89A},
        {"anim_im.gif", "GIF89a BYTE/8 12x10x1 off 61 block 0 nind 16", "-1",
         IMG_GIF89A},
    };
    for (auto &c : cases) {
        const Bytes gif = gifFixture(c.name);
        EXPECT_EQ(probeBytes(imgGif, dir.path(c.name), gif, &info), c.type);
        EXPECT_EQ(describe(info), c.layout + tail + c.transparent
                                      + " at 0,0 by 1,1");
        EXPECT_EQ(info.top, 0);
        EXPECT_EQ(info.left, 0);
        EXPECT_EQ(0, std::memcmp(info.palette, &gif[13], 3 * info.nindices));
    }

    // Not GIF: another signature, a cut descriptor, a short global table,
    // a PGM.
    const Bytes g87 = gifFixture("g87.gif");
    Bytes other = g87;
    other[4] = '8';
    for (const Bytes &b : {other, Bytes(g87.begin(), g87.begin() + 12),
                           Bytes(g87.begin(), g87.begin() + 13 + 5),
                           gifFixture("noise.pgm")})
        EXPECT_EQ(probeBytes(imgGif, dir.path("not.gif"), b, &info), 0);
    EXPECT_EQ(cap.err(), "Error in getGifLSD: count = 768 n = 5\n");
}

TEST(readGIF, WritersPixels)
{
    ScratchDir dir;
    const Bytes pattern = refRGB("pattern.ppm"), noise = refRGB("noise.pgm");
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
        SCOPED_TRACE(c.name);
        RAMImage *r = openBytes(dir, gifFixture(c.name));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->info.imgid, c.type);
        EXPECT_EQ(r->cacheLines, r->info.rows);
        // Without a global table the store reads the frame at open.
        if (std::string(c.name) != "noglobal.gif") {
            EXPECT_EQ(r->volume, 0);
            EXPECT_EQ(readGIF(r), 1);
        }
        EXPECT_EQ(r->volume, 1);
        EXPECT_EQ(r->volumeCount, 1);  // the trailer was seen
        EXPECT_GE(r->info.nindices, 200);
        EXPECT_TRUE(canvasRGB(r) == *c.expected);
        EXPECT_EQ(readGIF(r), 2);       // nothing follows
        EXPECT_EQ(gifSeek(r, 0), -2);
        EXPECT_EQ(gifFrameDelay(r), c.delay);
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
    RAMImage *r = openBytes(dir, gifFixture("anim_gb.gif"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->seek, gifSeek);
    EXPECT_EQ(r->volume, 0);
    EXPECT_EQ(gifFrameDelay(r), 0);
    EXPECT_EQ(canvas(r), Bytes(48, 3));     // filled with `transparent`

    const std::vector<Bytes> frames = animGbFrames();
    const int delays[5] = {33, 100, 33, 10, 10};
    const int transparent[5] = {3, 0, 1, 2, 2};
    for (int v = 1; v <= 5; v++) {
        SCOPED_TRACE(v);
        EXPECT_EQ(gifSeek(r, v == 5 ? 0 : v), v);
        EXPECT_EQ(canvas(r), frames[v - 1]);
        EXPECT_EQ(gifFrameDelay(r), delays[v - 1]);
        EXPECT_EQ(r->info.transparent, transparent[v - 1]);
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
    RAMImage *r = openBytes(dir, gifFixture("anim_gb.gif"));
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

    r = openBytes(dir, gifFixture("g87.gif"));
    ASSERT_EQ(readGIF(r), 1);
    EXPECT_EQ(setRAMImageBuf(r, 1), 23);
    EXPECT_EQ(readGIF(r), 1);
    EXPECT_EQ(r->volume, 1);
    EXPECT_TRUE(canvasRGB(r) == refRGB("pattern.ppm"));
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
    RAMImage *r = openBytes(dir, gifFixture("anim_im.gif"));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->info.columns, 12);
    Bytes txt = gifFixture("anim_im.txt");
    std::istringstream in(std::string(txt.begin(), txt.end()));
    Bytes before = canvas(r);
    for (int n = 0; n < 4; n++) {
        SCOPED_TRACE(n);
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
        Bytes frame = gifFixture("anim_im." + std::to_string(n) + ".rgba");
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
                        << x << "," << y;
                    drawn++;
                } else {
                    EXPECT_EQ(now[i], before[i]) << x << "," << y;
                    kept++;
                }
            }
        }
        EXPECT_GT(drawn, 0);
        EXPECT_GT(kept, n > 0 ? 0 : -1);
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
        for (nbits += c[1]; nbits >= 8; nbits -= 8, acc >>= 8)
            data.push_back(acc & 0xFF);
    }
    if (nbits)
        data.push_back(acc & 0xFF);
    Bytes file = data;                  // one sub-block, the trailer
    file.insert(file.begin(), (unsigned char)data.size());
    file.insert(file.end(), {0, 0x3B});
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
    const Bytes gb = gifFixture("anim_gb.gif");
    // Frame 1: its descriptor, its data and what follows them; frame 2's
    // descriptor.
    auto find = [&](const Bytes &what, size_t from) {
        return (size_t)(std::search(gb.begin() + (long)from, gb.end(),
                                    what.begin(), what.end()) - gb.begin());
    };
    size_t lzw1 = find({0x2C, 0, 0, 0, 0, 8, 0, 5, 0}, 0) + 10;
    size_t end1 = lzw1 + 1;
    while (gb[end1])
        end1 += gb[end1] + 1;
    end1++;                                 // after the terminator
    ASSERT_EQ(gb[end1], 0x21);
    size_t des2 = find({0x2C, 2, 0, 1, 0}, end1);
    auto cut = [&](size_t n) {
        return Bytes(gb.begin(), gb.begin() + (long)n);
    };
    Bytes label = gb, stray = gb, codeSize = gb, empty = cut(25);
    label[end1 + 1] = 0x55;
    stray.insert(stray.begin() + (long)end1, 0x00);
    codeSize[lzw1] = 12;
    empty.push_back(0x3B);

    // Each file: readGIF after an optional first gifSeek(r, 1), the
    // messages of both, the volumes, whether the canvas holds frame 1
    // whole, then a further seek.
    struct {
        Bytes bytes;
        int first, read;
        const char *err;
        int volume, volumeCount, whole, seekTo, seekResult;
    } cases[] = {
        // Cut in frame 2's descriptor.
        {cut(des2 + 5), 1, 0, "    Error in getGIFImgDes\n", 1, -1, 1, 1, 1},
        // Cut in frame 1's data: the frame is decoded as far as it goes.
        {cut(lzw1 + 5), 0, 2,
         "Error in read GIF Block Data.\nUnexpected GIF EOF\n", 1, 1, 0, 0,
         -2},
        // Cut right after frame 1: decoded, but the end is reported.
        {cut(end1), 0, 2, "Unexpected GIF EOF\n", 1, 1, 1, 0, -2},
        // Cut inside an extension after frame 1: the end of the data.
        {cut(end1 + 5), 1, 2, "Error in read GIF Block Data.\n", 1, 1, 1, 0,
         -2},
        // An unknown extension label is an error.
        {label, 1, 0, "    Unknown label in extension block\n", 1, -1, 1, 3,
         -1},
        // A stray byte between blocks is reported and stepped over.
        {stray, 1, 1, "Unknown GIF Introducer: 0x0.\n", 1, -1, 1, 0, 2},
        // An LZW code size the decoder cannot take.
        {codeSize, 0, 0, "Bad LZW minimum code size in GIF image: 12\n", 0,
         -1, 0, 1, -1},
        // Header and trailer alone: no frame.
        {empty, 0, 2, "", 0, 0, 0, 1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.err);
        cap.clear();
        RAMImage *r = openBytes(dir, c.bytes);
        ASSERT_NE(r, nullptr);
        if (c.first) {
            ASSERT_EQ(gifSeek(r, 1), 1);
        }
        EXPECT_EQ(readGIF(r), c.read);
        EXPECT_EQ(cap.err(), c.err);
        EXPECT_EQ(r->volume, c.volume);
        EXPECT_EQ(r->volumeCount, c.volumeCount);
        if (c.whole) {
            EXPECT_EQ(canvas(r), animGbFrames()[0]);
        }
        EXPECT_EQ(gifSeek(r, c.seekTo), c.seekResult);
        closeRAMImage(r, nullptr);
    }

    // Every cut and many corrupt bytes of two files: no crash, no hang
    // (the sanitizer build checks the memory).
    for (const Bytes &f : {gb, gifFixture("noglobal.gif")}) {
        for (size_t len = 0; len < f.size(); len++) {
            Bytes b(f.begin(), f.begin() + (long)len);
            if (RAMImage *t = openBytes(dir, b)) {
                EXPECT_NE(gifSeek(t, -1), -3);
                closeRAMImage(t, nullptr);
            }
        }
    }
    for (size_t at = 6; at < gb.size(); at++) {
        for (unsigned char v : {0x00, 0x01, 0x0C, 0x21, 0x2C, 0x3B, 0xFF}) {
            Bytes c = gb;
            c[at] = v;
            if (RAMImage *t = openBytes(dir, c)) {
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
    const Bytes g = gifFixture("g87.gif");
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
