// Tests of dicom.cpp: the probe on data sets written by dcmtk (fixtures
// from tests/fixtures/make_dicom.sh), the element table with its sequence
// chains, and truncated or corrupted files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/dicom.h"
#include "tests/support/probeSupport.h"
#include "tests/support/testSupport.h"

namespace {

typedef std::vector<unsigned char> Bytes;

std::string dicomFixture(const std::string &name)
{
    return fixturePath("dicom/" + name);
}

/* Probes a file; the table is freed unless tableOut takes it. */
int probeFile(const std::string &path, ImageInfo *info,
              Tcl_HashTable **tableOut = nullptr)
{
    void *priv = nullptr;
    int rc = probeAt(path, info, [&priv](int fd, ImageInfo *i) {
        return imgDicom(fd, i, &priv);
    });
    EXPECT_EQ(rc != 0, priv != nullptr);
    if (tableOut)
        *tableOut = static_cast<Tcl_HashTable *>(priv);
    else
        deleteDicomHashTable(static_cast<Tcl_HashTable *>(priv));
    return rc;
}

int probeBytes(const Bytes &bytes, ImageInfo *info,
               Tcl_HashTable **tableOut = nullptr)
{
    MemoryFile f(bytes);
    return probeFile(f.path, info, tableOut);
}

/* Appends an implicit-VR little-endian element. */
void element(Bytes &v, uint16_t g, uint16_t e, const Bytes &value,
             uint32_t length)
{
    putLE16(v, g);
    putLE16(v, e);
    putLE32(v, length);
    v.insert(v.end(), value.begin(), value.end());
}

void element(Bytes &v, uint16_t g, uint16_t e, const Bytes &value)
{
    element(v, g, e, value, (uint32_t)value.size());
}

Bytes us(uint16_t x)
{
    Bytes v;
    putLE16(v, x);
    return v;
}

Bytes text(const std::string &s)
{
    Bytes v(s.begin(), s.end());
    if (v.size() % 2)
        v.push_back(' ');
    return v;
}

/* A minimal data set: rows x columns of `bits` bits, pixel representation
 * `sign`, with `extra` elements of group 0028 before the geometry, and
 * `pixels` bytes of pixel data unless negative. */
Bytes dataSet(int rows, int columns, int bits, int sign, long pixels = -1,
              const Bytes &extra = {})
{
    Bytes v;
    element(v, 0x0008, 0x0060, text("OT"));
    v.insert(v.end(), extra.begin(), extra.end());
    element(v, 0x0028, 0x0010, us((uint16_t)rows));
    element(v, 0x0028, 0x0011, us((uint16_t)columns));
    element(v, 0x0028, 0x0100, us((uint16_t)bits));
    element(v, 0x0028, 0x0103, us((uint16_t)sign));
    if (pixels >= 0)
        element(v, 0x7FE0, 0x0010, Bytes((size_t)pixels));
    return v;
}

/* The tags of an entry's chain, "gggg,eeee" each. */
std::vector<std::string> chainOf(Tcl_HashTable *t, int g, int e)
{
    std::vector<std::string> tags;
    for (DicomEntry *p = getDicomEntry(t, g, e); p; p = p->next) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04x,%04x", p->group, p->element);
        tags.push_back(buf);
    }
    return tags;
}

} // namespace

// Every fixture: the whole description, the same through the registry,
// and the pixels at the reported offset equal the values dcmtk extracts
// (kept as <name>.raw).  The record's table is used through the store in
// dicom.test (dicom data on open rasters).
TEST(imgDicom, DcmtkDataSets)
{
    struct {
        const char *name, *info;
    } cases[] = {
        {"mono8", "BIP BYTE/8 7x4x1 off 228 block 7 msbf 0"
                   " DICOM nind 0 tr -1 frame 0,0 vol 0 map 0,0 cell 0.5,0.25"},
        {"mono8s", "BIP SBYTE/8 7x6x1 off 212 block 7 msbf 0"
                   " DICOM nind 0 tr -1 frame 0,0 vol 0 map 0,0 cell 1,1"},
        {"mono16p", "BIP USHORT/16 9x4x1 off 346 block 18 msbf 0"
                   " DICOM nind 0 tr -1 frame 0,0 vol 0 map 0,0 cell 1,1"},
        {"mono16s", "BIP SHORT/16 6x3x1 off 284 block 12 msbf 0"
                   " DICOM nind 0 tr -1 frame 0,0 vol 2 map 0,0 cell 1,1"},
        {"rgb8", "BIP BYTE/8 5x4x3 off 514 block 15 msbf 0"
                   " DICOM nind 0 tr -1 frame 0,0 vol 0 map 0,0 cell 1,1"},
        {"rgb8e", "BIP BYTE/8 5x4x3 off 350 block 15 msbf 0"
                   " DICOM nind 0 tr -1 frame 0,0 vol 0 map 0,0 cell 1,1"},
        {"planar", "BSQ BYTE/8 4x2x3 off 214 block 4 msbf 0"
                   " DICOM nind 0 tr -1 frame 0,0 vol 0 map 0,0 cell 1,1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dicomFixture(std::string(c.name) + ".dcm");
        ImageInfo info;
        ASSERT_EQ(probeFile(path, &info), 1);
        EXPECT_EQ(infoLine(info), c.info);
        // The registry reports DICOM before the other formats.
        MemoryFile f(readFileBytes(path));
        ImageInfo viaRegistry;
        void *priv = nullptr;
        EXPECT_EQ(imgTypes(f.fd, path.c_str(), &viaRegistry, &priv),
                  info.imgid);
        EXPECT_EQ(infoLine(viaRegistry), c.info);
        deleteDicomHashTable(static_cast<Tcl_HashTable *>(priv));
        Bytes file = readFileBytes(path);
        Bytes raw = readFileBytes(dicomFixture(std::string(c.name) + ".raw"));
        ASSERT_EQ((size_t)info.offset + raw.size(), file.size());
        EXPECT_TRUE(std::equal(raw.begin(), raw.end(),
                               file.begin() + info.offset));
    }
}

// Files that are not ours: a meta header after "DICM", a compressed image
// (with its message), missing geometry, unsupported bit depths.
TEST(imgDicom, Rejected)
{
    ImageInfo info;
    EXPECT_EQ(probeFile(dicomFixture("meta.dcm"), &info), 0);
    CapturedOutput cap;
    EXPECT_EQ(probeFile(dicomFixture("jpeg.dcm"), &info), 0);
    EXPECT_EQ(cap.err(), "Unable to read compressed DICOM image.\n");
    // Encapsulated pixel data (undefined length) counts as compressed.
    Bytes encaps = dataSet(2, 2, 8, 0);
    element(encaps, 0x7FE0, 0x0010, {}, 0xFFFFFFFF);
    encaps.resize(200);
    cap.clear();
    EXPECT_EQ(probeBytes(encaps, &info), 0);
    EXPECT_EQ(cap.err(), "Unable to read compressed DICOM image.\n");
    Bytes none = dataSet(2, 2, 8, 0);
    element(none, 0x0028, 0x0060, text("none"));
    element(none, 0x7FE0, 0x0010, Bytes(128));
    cap.clear();
    EXPECT_EQ(probeBytes(none, &info), 1) << "NONE in any letter case";
    EXPECT_EQ(cap.err(), "");

    for (int bits : {1, 12, 24, 64})
        EXPECT_EQ(probeBytes(dataSet(2, 2, bits, 0, 16), &info), 0) << bits;
    // Rows missing; first element not of group 0008; no pixel data; a
    // file shorter than the preamble and "DICM" is never a data set.
    Bytes noRows, group10, rest = dataSet(2, 2, 8, 0, 128);
    element(noRows, 0x0008, 0x0060, text("OT"));
    element(noRows, 0x0028, 0x0011, us(2));
    element(noRows, 0x0028, 0x0100, us(8));
    element(noRows, 0x7FE0, 0x0010, Bytes(128));
    element(group10, 0x0010, 0x0010, text("A^B"));
    group10.insert(group10.end(), rest.begin(), rest.end());
    Bytes noPixels = dataSet(2, 2, 8, 0), tiny = dataSet(2, 2, 8, 0, 4);
    noPixels.resize(200);
    ASSERT_LT(tiny.size(), 132u);
    int k = 0;
    for (const Bytes &v : {noRows, group10, noPixels, tiny})
        EXPECT_EQ(probeBytes(v, &info), 0) << "case " << k++;
    tiny.resize(132);
    EXPECT_EQ(probeBytes(tiny, &info), 1);
}

// 512 x 512 signed 16-bit: the pixel length's low 16 bits are 0, so no
// pixel byte is read and the offset is right after the header; every
// pixel type and the spacing and frame texts map as tabled.
TEST(imgDicom, PixelTypesAndTexts)
{
    Bytes extra;
    element(extra, 0x0028, 0x0008, text("12 "));
    element(extra, 0x0028, 0x0030, text("0.5\\0.25"));
    Bytes v = dataSet(512, 512, 16, 1, -1, extra);
    size_t header = v.size();
    element(v, 0x7FE0, 0x0010, {}, 512 * 512 * 2);
    v.resize(v.size() + 1000);
    ImageInfo info;
    ASSERT_EQ(probeBytes(v, &info), 1);
    EXPECT_EQ(infoLine(info), "BIP SHORT/16 512x512x1 off "
              + std::to_string(header + 8) + " block 1024 msbf 0 DICOM nind 0"
              " tr -1 frame 0,0 vol 12 map 0,0 cell 0.5,0.25");

    struct { int bits, sign, pixel, block; } types[] = {
        {4, 0, PIXEL_4BITS, 5}, {8, 0, PIXEL_BYTE, 10}, {8, 2, PIXEL_SBYTE, 10},
        {16, 0, PIXEL_USHORT, 20}, {32, 0, PIXEL_ULONG, 40},
        {32, 1, PIXEL_LONG, 40},
    };
    for (const auto &t : types) {
        ASSERT_EQ(probeBytes(dataSet(3, 10, t.bits, t.sign, 400), &info), 1)
            << t.bits;
        EXPECT_EQ(info.pixel, t.pixel) << t.bits << "/" << t.sign;
        EXPECT_EQ(info.block, t.block) << t.bits;
        EXPECT_EQ(info.bits, t.bits);
    }
}

// Every frame a data set declares must be in its file, but for a last
// line cut short: three frames of 2 x 2 bytes need 10 of their 12 bytes.
TEST(imgDicom, FramesTheFileCannotHoldAreRefusedAtOpen)
{
    CapturedOutput out;
    Bytes frames;
    element(frames, 0x0028, 0x0008, text("3 "));
    element(frames, 0x0028, 0x0034, text(std::string(120, '1')));
    for (long pixels : {12, 10, 9}) {
        MemoryFile f(dataSet(2, 2, 8, 0, pixels, frames));
        int err;
        RAMImage *r = openRAMImage(nullptr, f.path.c_str(), nullptr, nullptr,
                                   &err);
        EXPECT_EQ(r != nullptr, pixels >= 10) << pixels;
        if (r)
            closeRAMImage(r, nullptr);
        else
            EXPECT_EQ(err, RAMIMG_EHANDLE);
    }
}

// The element table keeps a text value with its size; with explicit
// lengths a sequence is one value of its own.  (The chains of sequences
// of undefined length are listed in dicom.test.)
TEST(getDicomHashTable, ValuesAndExplicitSequences)
{
    ImageInfo info;
    Tcl_HashTable *t = nullptr;
    ASSERT_EQ(probeFile(dicomFixture("rgb8.dcm"), &info, &t), 1);
    DicomEntry *name = getDicomEntry(t, 0x0010, 0x0010);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->size, 12u);
    EXPECT_STREQ(reinterpret_cast<char *>(name->value), "Velk^Fixture");
    deleteDicomHashTable(t);

    ASSERT_EQ(probeFile(dicomFixture("rgb8e.dcm"), &info, &t), 1);
    DicomEntry *sq = getDicomEntry(t, 0x0008, 0x1140);
    ASSERT_NE(sq, nullptr);
    EXPECT_EQ(sq->next, nullptr);
    EXPECT_EQ(sq->size, sq->length);
    EXPECT_GT(sq->size, 50u);
    deleteDicomHashTable(t);
}

// An element met twice replaces the first; a value of 64 KiB or more keeps
// its low-16-bit part and the elements after it stay aligned; items of
// defined length inside a sequence of undefined length do not nest.
TEST(getDicomHashTable, ReplaceLongValuesAndItems)
{
    Bytes extra, item;
    element(extra, 0x0028, 0x0010, us(99));
    element(extra, 0x0029, 0x0010, Bytes(0x10004, 'x'));
    element(extra, 0x0029, 0x1000, {}, 0xFFFFFFFF);
    element(item, 0x0008, 0x0100, text("ABC"));
    element(extra, 0xFFFE, 0xE000, item);
    element(extra, 0xFFFE, 0xE0DD, {});
    Bytes v = dataSet(5, 6, 8, 0, 30, extra);
    ImageInfo info;
    Tcl_HashTable *t = nullptr;
    ASSERT_EQ(probeBytes(v, &info, &t), 1);
    EXPECT_EQ(info.rows, 5);
    EXPECT_EQ(info.columns, 6);
    DicomEntry *e = getDicomEntry(t, 0x0029, 0x0010);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->length, 0x10004u);
    EXPECT_EQ(e->size, 4u);
    EXPECT_EQ(chainOf(t, 0x0029, 0x1000),
              (std::vector<std::string>{"0029,1000", "fffe,e000",
                                        "fffe,e0dd"}));
    EXPECT_EQ(info.offset + 30, (int)v.size());

    // putToDicomHashTable replaces and frees the old chain.
    DicomEntry *mine = static_cast<DicomEntry *>(
        std::calloc(1, sizeof(DicomEntry)));
    mine->group = 0x0029;
    mine->element = 0x1000;
    putToDicomHashTable(t, 0x0029, 0x1000, mine);
    EXPECT_EQ(getDicomEntry(t, 0x0029, 0x1000), mine);
    EXPECT_EQ(getDicomEntry(nullptr, 0x0029, 0x1000), nullptr);
    deleteDicomHashTable(t);
    deleteDicomHashTable(nullptr);
}

// A data set without pixel data that ends at an element boundary still
// gives its table (for listing) but is no image; a cut inside an element
// gives no table.
TEST(getDicomHashTable, EndsWithoutPixelData)
{
    Bytes v = dataSet(2, 2, 8, 0);
    element(v, 0x0009, 0x0010, Bytes(120, 'p'));
    MemoryFile f;
    for (size_t cut : {v.size(), v.size() - 3, v.size() - 124}) {
        f.set(Bytes(v.begin(), v.begin() + cut));
        long offset = 0;
        lseek(f.fd, 0, SEEK_SET);
        Tcl_HashTable *t = getDicomHashTable(f.fd, &offset);
        if (cut == v.size()) {
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(offset, -1);
            EXPECT_NE(getDicomEntry(t, 0x0009, 0x0010), nullptr);
        } else {
            EXPECT_EQ(t, nullptr) << cut;
        }
        deleteDicomHashTable(t);
    }
    ImageInfo info;
    EXPECT_EQ(probeBytes(v, &info), 0);
}

TEST(dicomVR, CodesAndNumbers)
{
    EXPECT_STREQ(dicomVR(26), "UT");
    EXPECT_STREQ(dicomVR(27), "??");
    EXPECT_STREQ(dicomVR(-1), "??");
    EXPECT_EQ(dicomID("US"), 25);
    EXPECT_EQ(dicomID("us"), 0);
    EXPECT_EQ(dicomID(nullptr), 0);
}

// Every prefix of every fixture, and every byte of two of them set to
// 0x00, 0xFF and 0x80 in turn: the probe answers without a crash, a leak
// or an overread (run under the sanitizers).
TEST(imgDicom, TruncatedAndCorrupt)
{
    CapturedOutput quiet;
    ImageInfo info;
    for (const char *name : {"mono8", "mono16p", "mono16s", "rgb8", "rgb8e",
                             "planar", "jpeg", "meta"}) {
        Bytes bytes = readFileBytes(dicomFixture(std::string(name) + ".dcm"));
        for (size_t n = 0; n < bytes.size(); n++) {
            if (probeBytes(Bytes(bytes.begin(), bytes.begin() + n), &info)) {
                EXPECT_LE((size_t)info.offset, n) << name << " cut at " << n;
            }
        }
        if (std::string(name) != "rgb8" && std::string(name) != "mono16s")
            continue;  // two are corrupted byte by byte
        for (size_t i = 0; i < bytes.size(); i++)
            for (unsigned char b : {0x00, 0xFF, 0x80}) {
                Bytes bad = bytes;
                bad[i] = b;
                if (probeBytes(bad, &info)) {
                    EXPECT_GE(info.rows, 1);
                    EXPECT_GE(info.block, 1);
                }
            }
    }
}
