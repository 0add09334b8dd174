// Tests of store.cpp: sharing, counting, clients, locks, cache sizing and
// the reload and allocation-failure paths.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "tests/support/imageRecords.h"
#include "tests/support/testSupport.h"

namespace {

ImageInfo describe(const std::string &file, int imgid, int pixel, int rows,
                   int columns, int nbands, int offset)
{
    ImageInfo info = describeImage(file, imgid, pixel, rows, columns, nbands,
                                   0, offset, 0);
    info.mapid = MAP_GRID;
    info.dx = info.dy = 1.0;
    return info;
}

// A BIL file with the BASIC header, created through createImage.
std::string makeBIL(const ScratchDir &dir, const char *name, int rows,
                    int columns, int nbands)
{
    ImageInfo info = describe(dir.path(name), IMG_BIL, PIXEL_BYTE, rows,
                              columns, nbands, BASIC_HEADER_SIZE);
    EXPECT_EQ(createImage(&info), BASIC_HEADER_SIZE);
    return info.fileName;
}

RAMImage *openFile(const char *tag, const std::string &path, int *err)
{
    return openRAMImage(tag, path.c_str(), nullptr, nullptr, err);
}

bool inStore(const RAMImage *r)
{
    for (RAMImage *s = getRAMImage(); s; s = s->next)
        if (s == r)
            return true;
    return false;
}

struct Notices {
    int configs = 0, updates = 0;
};

void onConfig(void *data) { static_cast<Notices *>(data)->configs++; }
void onUpdate(void *data) { static_cast<Notices *>(data)->updates++; }

}  // namespace

// Tags that count up and a file opened twice: open.test.  A new tag for
// an open file shares the record, which keeps its tag; the last close
// takes it out of the store.
TEST(openRAMImage, SharingTagsAndFailures)
{
    ScratchDir dir;
    std::string a = makeBIL(dir, "a.bil", 10, 10, 1);
    int err = -1;
    RAMImage *r = openFile(nullptr, a, &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(openFile("other", a, &err), r);
    EXPECT_EQ(getRAMImageByTag("other"), nullptr);
    EXPECT_EQ(getRAMImageByName(a.c_str()), r);
    EXPECT_EQ(r->links, 2);
    EXPECT_EQ(closeRAMImage(r, nullptr), 1);
    EXPECT_EQ(closeRAMImage(r, nullptr), 0);
    EXPECT_FALSE(inStore(r));
    EXPECT_EQ(getRAMImageByName(a.c_str()), nullptr);

    // A tag naming a file record cannot become a memory image.
    r = openFile("filetag", a, &err);
    ASSERT_NE(r, nullptr);
    ImageInfo mem = describe("filetag", IMG_MBIL, PIXEL_BYTE, 4, 4, 1, 0);
    EXPECT_EQ(openRAMImage("filetag", nullptr, &mem, nullptr, &err), nullptr);
    EXPECT_EQ(err, RAMIMG_ESYSTEM);

    // A failed reload under the tag leaves the record as it was.
    EXPECT_EQ(openFile("filetag", dir.path("missing"), &err), nullptr);
    EXPECT_EQ(err, RAMIMG_EOPEN);
    EXPECT_EQ(std::string(r->info.fileName), a);
    EXPECT_EQ(r->links, 1);
    EXPECT_EQ(closeRAMImage(r, nullptr), 0);

    EXPECT_STREQ(ramimgError(RAMIMG_EHANDLE), "Unable to handle the image");
    EXPECT_STREQ(ramimgError(7), "");
    CapturedOutput cap;
    ramimgErrorReport(RAMIMG_EEXIST);
    ramimgErrorReport(RAMIMG_OK);
    EXPECT_EQ(cap.err(), "File already exists\n");
}

TEST(openRAMImage, ReloadUnderTagKeepsCountsAndClients)
{
    ScratchDir dir;
    std::string a = makeBIL(dir, "a.bil", 4, 6, 1);
    std::string b = makeBIL(dir, "b.bil", 8, 3, 2);
    int err;
    RAMImage *r = openFile("t", a, &err);
    RAMImageClient client = {onConfig, onUpdate, nullptr, nullptr, nullptr};
    ASSERT_EQ(openRAMImage("t", nullptr, nullptr, &client, &err), r);
    EXPECT_EQ(openFile("t", b, &err), r);
    EXPECT_EQ(r->info.rows, 8);
    EXPECT_EQ(r->info.nbands, 2);
    EXPECT_EQ(std::string(r->info.fileName), b);
    EXPECT_EQ(r->clients, &client);
    EXPECT_EQ(r->links, 1);  // the reload is no new open
    EXPECT_TRUE(cacheInvariantsHold(r));
    EXPECT_EQ(closeRAMImage(r, &client), 1);
    EXPECT_EQ(closeRAMImage(r, nullptr), 0);
    EXPECT_EQ(getRAMImageByTag("t"), nullptr);
}

TEST(closeRAMImage, ClientsAndLocks)
{
    ScratchDir dir;
    std::string a = makeBIL(dir, "a.bil", 4, 4, 1);
    Notices seen;
    RAMImageClient client = {onConfig, onUpdate, &seen, &seen, nullptr};
    int err;
    RAMImage *r = openRAMImage(nullptr, a.c_str(), nullptr, &client, &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->links, 0);  // the client holds the open
    EXPECT_EQ(ramImageClientCount(r), 1);
    EXPECT_EQ(closeRAMImage(r, &client), 0);
    EXPECT_FALSE(inStore(r));

    r = openFile(nullptr, a, &err);
    EXPECT_EQ(attrRAMImage(r, RAMIMG_LOCKED), 0);
    EXPECT_EQ(closeRAMImage(r, nullptr), 0);
    EXPECT_TRUE(inStore(r));  // locked and unused: kept
    EXPECT_EQ(r->links, 0);
    EXPECT_EQ(attrRAMImage(r, 0), RAMIMG_LOCKED);
    EXPECT_EQ(closeRAMImage(r, nullptr), 0);
    EXPECT_FALSE(inStore(r));
}

TEST(updateClient, FlagsOwnersAndMoves)
{
    ImageInfo info = describe("m1", IMG_MBIL, PIXEL_BYTE, 3, 3, 1, 0);
    int err;
    RAMImage *m1 = openRAMImage("m1", nullptr, &info, nullptr, &err);
    info = describe("m2", IMG_MBIL, PIXEL_BYTE, 3, 3, 1, 0);
    RAMImage *m2 = openRAMImage("m2", nullptr, &info, nullptr, &err);
    Notices n1, n2;
    int token;
    RAMImageClient c1 = {onConfig, onUpdate, &token, &n1, nullptr};
    RAMImageClient c2 = {onConfig, nullptr, nullptr, &n2, nullptr};
    EXPECT_EQ(linkRAMImageClient(nullptr, m1), 0);
    EXPECT_EQ(linkRAMImageClient(&c1, m1), 1);
    EXPECT_EQ(linkRAMImageClient(&c1, m1), 1);  // already there
    EXPECT_EQ(linkRAMImageClient(&c2, m1), 1);
    EXPECT_EQ(m1->clients, &c2);  // most recent first
    updateClient(m1, &token, 3);   // c1 is the owner: skipped
    EXPECT_EQ(n1.configs + n1.updates, 0);
    EXPECT_EQ(n2.configs, 1);
    updateClient(m1, &n2, 2);
    EXPECT_EQ(n1.updates, 1);
    EXPECT_EQ(n1.configs, 0);
    // Linking to another record moves the client.
    EXPECT_EQ(linkRAMImageClient(&c1, m2), 1);
    EXPECT_EQ(ramImageClientCount(m1), 1);
    EXPECT_EQ(unlinkClient(&c1), m2);
    EXPECT_EQ(unlinkClient(&c1), nullptr);
    EXPECT_EQ(closeRAMImage(m1, &c2), 0);
    m2->links = 1;
    EXPECT_EQ(closeRAMImage(m2, nullptr), 0);
}

TEST(residentRAMImage, FixedSlotsAndFill)
{
    ImageInfo info = describe("mem", IMG_MBIL, PIXEL_BYTE, 100, 7, 3, 0);
    info.transparent = 255;
    int err;
    RAMImage *r = openRAMImage("mem", nullptr, &info, nullptr, &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->fd, -1);
    EXPECT_EQ(r->cacheLines, 100);
    EXPECT_EQ(r->slotCount, 300);
    for (int i = 0; i < r->slotCount; i++)
        ASSERT_EQ(r->slotMap[i], i);  // line i / 3, band i % 3
    for (int i = 0; i < r->slotCount * r->lineBytes; i++)
        ASSERT_EQ(r->buffer[i], 255);
    // A cache request keeps a memory image's pixels.
    r->buffer[5] = 9;
    EXPECT_EQ(setRAMImageBuf(r, 10), 100);
    EXPECT_EQ(r->buffer[5], 9);
    EXPECT_EQ(closeRAMImage(r, nullptr), 0);
}

TEST(setRAMImageBuf, SizingRuleAndShortMemory)
{
    ScratchDir dir;
    int err;
    // Narrow images fit whole: 127 lines at most, all rows when fewer;
    // 8192 columns, 4 bands: the first size above 256 KiB is 8 lines.
    const struct { int rows, columns, nbands, lines; } sizes[] = {
        {300, 512, 1, 127}, {3, 512, 2, 3}, {20, 8192, 4, 8}};
    RAMImage *r = nullptr;
    for (const auto &c : sizes) {
        if (r)
            closeRAMImage(r, nullptr);
        r = openFile(nullptr, makeBIL(dir, "s.bil", c.rows, c.columns,
                                      c.nbands), &err);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->cacheLines, c.lines);
        EXPECT_EQ(r->slotCount, c.lines * c.nbands);
    }

    // Short of memory, a file record retries with fewer lines...
    CapturedOutput cap;
    setRAMImageBufLimit(5 * 4 * 8192 + 4096);
    EXPECT_EQ(setRAMImageBuf(r, 9), 5);
    EXPECT_EQ(r->slotCount, 20);
    // ...and keeps its cache when even one line does not fit.
    setRAMImageBufLimit(1000);
    EXPECT_EQ(setRAMImageBuf(r, 9), 0);
    EXPECT_EQ(cap.err(), "Fatal error of malloc in: setRAMImageBuf\n");
    EXPECT_EQ(r->slotCount, 20);
    setRAMImageBufLimit(-1);
    EXPECT_EQ(setRAMImageBuf(r, 1), 1);
    EXPECT_TRUE(cacheInvariantsHold(r));
    closeRAMImage(r, nullptr);

    // A memory image larger than memory fails cleanly.
    ImageInfo huge = describe("huge", IMG_MBIL, PIXEL_FLOAT, 1 << 20, 1 << 20,
                              1, 0);
    EXPECT_EQ(openRAMImage("huge", nullptr, &huge, nullptr, &err), nullptr);
    EXPECT_EQ(err, RAMIMG_ENOMEM);
    EXPECT_EQ(getRAMImageByTag("huge"), nullptr);
}

TEST(openRAMImageNew, ExistsCreateAndDescribedRaw)
{
    ScratchDir dir;
    ImageInfo info = describe(dir.path("n.bil"), IMG_BIL, PIXEL_BYTE, 5, 4, 2,
                              BASIC_HEADER_SIZE);
    int err;
    RAMImage *r = openRAMImageNew(&info, nullptr, 0, &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->info.imgid, IMG_BIL);
    EXPECT_EQ(r->info.offset, BASIC_HEADER_SIZE);
    closeRAMImage(r, nullptr);
    EXPECT_EQ(openRAMImageNew(&info, nullptr, 0, &err), nullptr);
    EXPECT_EQ(err, RAMIMG_EEXIST);

    // A headerless raw file is opened as described.
    ImageInfo raw = describe(dir.path("raw.bsq"), IMG_BSQ, PIXEL_SHORT, 3, 5,
                             2, 0);
    r = openRAMImageNew(&raw, nullptr, 1, &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->info.imgid, IMG_BSQ);
    EXPECT_EQ(r->info.pixel, PIXEL_SHORT);
    EXPECT_EQ(r->lineBytes, 10);
    // The zeroed data area overwrites the start of the header it follows.
    std::vector<unsigned char> bytes = readFileBytes(raw.fileName);
    ASSERT_EQ(bytes.size(), (size_t)BASIC_HEADER_SIZE);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 60),
              std::vector<unsigned char>(60, 0));
    EXPECT_EQ(bytes[79], 0x3F);  // dx = 1.0 of the header remains
    closeRAMImage(r, nullptr);

    ImageInfo bad = describe(dir.path("no/such/dir.bil"), IMG_BIL, PIXEL_BYTE,
                             1, 1, 1, BASIC_HEADER_SIZE);
    EXPECT_EQ(openRAMImageNew(&bad, nullptr, 1, &err), nullptr);
    EXPECT_EQ(err, RAMIMG_ECREATE);
}

TEST(createRAMImage, DamagedHeadersCannotClaimHugeCaches)
{
    ScratchDir dir;
    int err;
    // A BASIC header claiming 100000 bands of 1000 columns.
    ImageInfo info = describe(dir.path("bands.bil"), IMG_BIL, PIXEL_BYTE, 2,
                              1000, 100000, BASIC_HEADER_SIZE);
    int fd = open(info.fileName, O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(initBASIC(fd, &info), BASIC_HEADER_SIZE);
    close(fd);
    EXPECT_EQ(openRAMImage(nullptr, info.fileName, nullptr, nullptr, &err),
              nullptr);
    EXPECT_EQ(err, RAMIMG_EHANDLE);
    // An ELAS header whose columns times bands overflows 64 bits once
    // multiplied by the widest pixel.
    std::vector<unsigned char> elas;
    for (uint32_t v : {1024u, 1u, 1u, 1u, 1u, 1800000000u, 2000000000u,
                       4321u})
        putLE32(elas, v);
    elas.resize(1024, 0);
    writeFileBytes(dir.path("wide.elas"), elas);
    EXPECT_EQ(openRAMImage(nullptr, dir.path("wide.elas").c_str(), nullptr,
                           nullptr, &err), nullptr);
    EXPECT_EQ(err, RAMIMG_EHANDLE);
    // A 40-byte GIF whose logical screen is 60000 x 60000.
    std::vector<unsigned char> gif = {
        'G', 'I', 'F', '8', '9', 'a', 0x60, 0xEA, 0x60, 0xEA, 0, 0, 0,
        0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0, 0x3B};
    writeFileBytes(dir.path("vast.gif"), gif);
    EXPECT_EQ(openFile(nullptr, dir.path("vast.gif"), &err), nullptr);
    EXPECT_EQ(err, RAMIMG_EHANDLE);
    // The same picture with a modest screen opens.
    gif[6] = gif[8] = 100;
    gif[7] = gif[9] = 0;
    writeFileBytes(dir.path("small.gif"), gif);
    RAMImage *r = openFile(nullptr, dir.path("small.gif"), &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->info.columns, 100);
    closeRAMImage(r, nullptr);
}

// A file that cannot hold the pixels its header declares, more than one
// stored line short, is refused at open with the declared and the actual
// sizes, before anything reads it: the damaged headers of a GDAL LAN
// (rows or bands with a high byte changed) and of a GDAL TIFF (samples
// per pixel), and the last line of a raw file cut.
TEST(createRAMImage, FilesMustHoldTheLinesTheyDeclare)
{
    ScratchDir dir;
    CapturedOutput out;
    int err;
    std::string bil = makeBIL(dir, "cut.bil", 5, 10, 3);
    std::vector<unsigned char> whole = readFileBytes(bil);
    ASSERT_EQ(whole.size(), 860u + 150);
    for (size_t cut : {0, 10, 11}) {
        writeFileBytes(bil, std::vector<unsigned char>(whole.begin(),
                                                       whole.end() - cut));
        RAMImage *r = openFile(nullptr, bil, &err);
        EXPECT_EQ(r != nullptr, cut <= 10) << cut;
        if (r)
            closeRAMImage(r, nullptr);
    }
    EXPECT_EQ(out.err(), "Image file too short: " + bil + " declares 10 x 5"
              " pixels in 3 bands of BYTE, 150 bytes from offset 860, but has"
              " 999 bytes.\n");

    std::vector<unsigned char> lan =
        readFileBytes(fixturePath("gdal_int16.lan"));
    ASSERT_EQ(lan.size(), 224u);
    struct { size_t at; const char *declares; } damage[] = {
        {23, "6 x 553648132 pixels in 2 bands of USHORT, 13287555168"},
        {9, "6 x 4 pixels in 12546 bands of USHORT, 602208"},
    };
    for (const auto &d : damage) {
        std::vector<unsigned char> bad = lan;
        bad[d.at] = d.at == 23 ? 0x21 : 0x31;
        std::string path = dir.path("bad.lan");
        writeFileBytes(path, bad);
        out.clear();
        EXPECT_EQ(openFile(nullptr, path, &err), nullptr);
        EXPECT_EQ(err, RAMIMG_EHANDLE);
        EXPECT_EQ(out.err(), "Image file too short: " + path + " declares "
                  + d.declares + " bytes from offset 128, but has 224"
                  " bytes.\n");
    }

    std::vector<unsigned char> tiff =
        readFileBytes(fixturePath("tiff/int16_1.tif"));
    ASSERT_EQ(tiff[82], 0x15);  // the SamplesPerPixel entry, 1
    tiff[91] = 0xFD;            // becomes 64769
    writeFileBytes(dir.path("bad.tif"), tiff);
    out.clear();
    EXPECT_EQ(openFile(nullptr, dir.path("bad.tif"), &err), nullptr);
    EXPECT_EQ(err, RAMIMG_EHANDLE);
    EXPECT_EQ(out.err(), "Error in imgTiff: 37 x 23 pixels of 64769 samples"
              " of 16 bits (110236838 bytes) cannot come from 1848 bytes of"
              " file.\n");
    // 4-bit rows are one band wide, yet every band is read from them.
    out.clear();
    EXPECT_EQ(openFile(nullptr, std::string(VELK_CORPUS_DIR)
                       + "/bad_tiff_4bits_many_samples.tif", &err), nullptr);
    EXPECT_EQ(out.err(), "Error in imgTiff: 16 x 12 pixels of 65529 samples"
              " of 4 bits (6290784 bytes) cannot come from 387 bytes of"
              " file.\n");
    EXPECT_EQ(getRAMImage(), nullptr);
}
