// Tests of dicom.cpp: the probe on data sets written by dcmtk (fixtures
// from tests/fixtures/make_dicom.sh), the element table with its sequence
// chains, and truncated or corrupted files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/dicom.h"
#include "tests/support/testSupport.h"

namespace {

std::string dicomFixture(const std::string &name)
{
    return fixturePath("dicom/" + name);
}

/* Probes an open file; the table is freed unless tableOut takes it. */
int probeFd(int fd, ImageInfo *info, Tcl_HashTable **tableOut)
{
    lseek(fd, 0, SEEK_SET);
    std::memset(info, 0, sizeof *info);
    void *priv = nullptr;
    int rc = imgDicom(fd, info, &priv);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0) << "file position moved";
    EXPECT_EQ(rc != 0, priv != nullptr);
    if (tableOut)
        *tableOut = static_cast<Tcl_HashTable *>(priv);
    else
        deleteDicomHashTable(static_cast<Tcl_HashTable *>(priv));
    return rc;
}

int probeFile(const std::string &path, ImageInfo *info,
              Tcl_HashTable **tableOut = nullptr)
{
    int fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << path;
    int rc = probeFd(fd, info, tableOut);
    close(fd);
    return rc;
}

/* Probes bytes held in an anonymous memory file. */
int probeBytes(const std::vector<unsigned char> &bytes, ImageInfo *info,
               Tcl_HashTable **tableOut = nullptr)
{
    int fd = memfd_create("dicom", 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    int rc = probeFd(fd, info, tableOut);
    close(fd);
    return rc;
}

void element(std::vector<unsigned char> &v, uint16_t g, uint16_t e,
             const std::vector<unsigned char> &value, uint32_t length)
{
    putLE16(v, g);
    putLE16(v, e);
    putLE32(v, length);
    v.insert(v.end(), value.begin(), value.end());
}

void element(std::vector<unsigned char> &v, uint16_t g, uint16_t e,
             const std::vector<unsigned char> &value)
{
    element(v, g, e, value, (uint32_t)value.size());
}

std::vector<unsigned char> us(uint16_t x)
{
    std::vector<unsigned char> v;
    putLE16(v, x);
    return v;
}

std::vector<unsigned char> text(const std::string &s)
{
    std::vector<unsigned char> v(s.begin(), s.end());
    if (v.size() % 2)
        v.push_back(' ');
    return v;
}

/* A minimal data set: rows x columns of `bits` bits, pixel representation
 * `sign`, with `extra` elements of group 0028 before the geometry. */
std::vector<unsigned char> dataSet(int rows, int columns, int bits, int sign,
                                   const std::vector<unsigned char> &extra = {})
{
    std::vector<unsigned char> v;
    element(v, 0x0008, 0x0060, text("OT"));
    v.insert(v.end(), extra.begin(), extra.end());
    element(v, 0x0028, 0x0010, us((uint16_t)rows));
    element(v, 0x0028, 0x0011, us((uint16_t)columns));
    element(v, 0x0028, 0x0100, us((uint16_t)bits));
    element(v, 0x0028, 0x0103, us((uint16_t)sign));
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

// Every fixture: geometry, pixel type and layout, and the pixels at the
// reported offset equal the values dcmtk extracts (kept as <name>.raw).
TEST(imgDicom, DcmtkDataSets)
{
    struct Case {
        const char *name;
        int imgid, pixel, nbands, rows, columns, bits, block, volumes;
        double dx, dy;
    } cases[] = {
        {"mono8", IMG_BIP, PIXEL_BYTE, 1, 4, 7, 8, 7, 0, 0.5, 0.25},
        {"mono8s", IMG_BIP, PIXEL_SBYTE, 1, 6, 7, 8, 7, 0, 1, 1},
        {"mono16p", IMG_BIP, PIXEL_USHORT, 1, 4, 9, 16, 18, 0, 1, 1},
        {"mono16s", IMG_BIP, PIXEL_SHORT, 1, 3, 6, 16, 12, 2, 1, 1},
        {"rgb8", IMG_BIP, PIXEL_BYTE, 3, 4, 5, 8, 15, 0, 1, 1},
        {"rgb8e", IMG_BIP, PIXEL_BYTE, 3, 4, 5, 8, 15, 0, 1, 1},
        {"planar", IMG_BSQ, PIXEL_BYTE, 3, 2, 4, 8, 4, 0, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dicomFixture(std::string(c.name) + ".dcm");
        ImageInfo info;
        ASSERT_EQ(probeFile(path, &info), 1);
        EXPECT_EQ(info.imgid, c.imgid);
        EXPECT_EQ(info.mapid, MAP_DICOM);
        EXPECT_EQ(info.pixel, c.pixel);
        EXPECT_EQ(info.nbands, c.nbands);
        EXPECT_EQ(info.rows, c.rows);
        EXPECT_EQ(info.columns, c.columns);
        EXPECT_EQ(info.bits, c.bits);
        EXPECT_EQ(info.block, c.block);
        EXPECT_EQ(info.volumes, c.volumes);
        EXPECT_EQ(info.msbf, 0);
        EXPECT_DOUBLE_EQ(info.dx, c.dx);
        EXPECT_DOUBLE_EQ(info.dy, c.dy);

        std::vector<unsigned char> file = readFileBytes(path);
        std::vector<unsigned char> raw =
            readFileBytes(dicomFixture(std::string(c.name) + ".raw"));
        size_t size = (size_t)info.block * info.rows
                      * (info.volumes ? info.volumes : 1)
                      * (info.imgid == IMG_BSQ ? info.nbands : 1);
        ASSERT_EQ(raw.size(), size);
        ASSERT_EQ((size_t)info.offset + size, file.size());
        EXPECT_TRUE(std::equal(raw.begin(), raw.end(),
                               file.begin() + info.offset));
    }
}

// The registry reports DICOM first and the store releases the table with
// the record.
TEST(imgDicom, RegistryAndStore)
{
    std::string path = dicomFixture("mono16p.dcm");
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ImageInfo info;
    void *priv = nullptr;
    EXPECT_EQ(imgTypes(fd, path.c_str(), &info, &priv), IMG_BIP);
    EXPECT_EQ(info.mapid, MAP_DICOM);
    ASSERT_NE(priv, nullptr);
    deleteDicomHashTable(static_cast<Tcl_HashTable *>(priv));
    close(fd);

    ScratchDir dir;
    std::string copy = dir.path("m.dcm");
    writeFileBytes(copy, readFileBytes(path));
    int err = -1;
    RAMImage *r = openRAMImage("dicomRecord", copy.c_str(), nullptr, nullptr,
                               &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(r->info.mapid, MAP_DICOM);
    EXPECT_EQ(r->info.pixel, PIXEL_USHORT);
    EXPECT_NE(getDicomEntry(static_cast<Tcl_HashTable *>(r->privateData),
                            0x0028, 0x0011), nullptr);
    EXPECT_EQ(closeRAMImage(r, nullptr), 0);
    EXPECT_EQ(getRAMImageByTag("dicomRecord"), nullptr);
}

// Files that are not ours: a meta header after "DICM", a compressed image
// (with its message), missing geometry, unsupported bit depths.
TEST(imgDicom, Rejected)
{
    ImageInfo info;
    EXPECT_EQ(probeFile(dicomFixture("meta.dcm"), &info), 0);
    {
        CapturedOutput cap;
        EXPECT_EQ(probeFile(dicomFixture("jpeg.dcm"), &info), 0);
        EXPECT_EQ(cap.err(), "Unable to read compressed DICOM image.\n");
    }
    std::vector<unsigned char> none = dataSet(2, 2, 8, 0);
    element(none, 0x0028, 0x0060, text("none"));
    element(none, 0x7FE0, 0x0010, std::vector<unsigned char>(128));
    {
        CapturedOutput cap;
        EXPECT_EQ(probeBytes(none, &info), 1) << "NONE in any letter case";
        EXPECT_EQ(cap.err(), "");
    }
    // Encapsulated pixel data (undefined length) counts as compressed.
    std::vector<unsigned char> encaps = dataSet(2, 2, 8, 0);
    element(encaps, 0x7FE0, 0x0010, {}, 0xFFFFFFFF);
    encaps.resize(200);
    {
        CapturedOutput cap;
        EXPECT_EQ(probeBytes(encaps, &info), 0);
        EXPECT_EQ(cap.err(), "Unable to read compressed DICOM image.\n");
    }
    for (int bits : {1, 12, 24, 64}) {
        std::vector<unsigned char> v = dataSet(2, 2, bits, 0);
        element(v, 0x7FE0, 0x0010, std::vector<unsigned char>(16));
        EXPECT_EQ(probeBytes(v, &info), 0) << bits << " bits";
    }
    // Rows missing; first element not of group 0008; no pixel data.
    std::vector<unsigned char> noRows;
    element(noRows, 0x0008, 0x0060, text("OT"));
    element(noRows, 0x0028, 0x0011, us(2));
    element(noRows, 0x0028, 0x0100, us(8));
    element(noRows, 0x7FE0, 0x0010, std::vector<unsigned char>(128));
    EXPECT_EQ(probeBytes(noRows, &info), 0);
    std::vector<unsigned char> group10;
    element(group10, 0x0010, 0x0010, text("A^B"));
    std::vector<unsigned char> rest = dataSet(2, 2, 8, 0);
    group10.insert(group10.end(), rest.begin(), rest.end());
    element(group10, 0x7FE0, 0x0010, std::vector<unsigned char>(128));
    EXPECT_EQ(probeBytes(group10, &info), 0);
    std::vector<unsigned char> noPixels = dataSet(2, 2, 8, 0);
    noPixels.resize(200);
    EXPECT_EQ(probeBytes(noPixels, &info), 0);
    // A file shorter than the preamble and "DICM" is never a data set.
    std::vector<unsigned char> tiny = dataSet(2, 2, 8, 0);
    element(tiny, 0x7FE0, 0x0010, std::vector<unsigned char>(4));
    ASSERT_LT(tiny.size(), 132u);
    EXPECT_EQ(probeBytes(tiny, &info), 0);
    tiny.resize(132);
    EXPECT_EQ(probeBytes(tiny, &info), 1);
}

// 512 x 512 signed 16-bit: the pixel length's low 16 bits are 0, so no
// pixel byte is read and the offset is right after the header; every
// pixel type and the spacing and frame texts map as tabled.
TEST(imgDicom, PixelTypesAndTexts)
{
    std::vector<unsigned char> extra;
    element(extra, 0x0028, 0x0008, text("12 "));
    element(extra, 0x0028, 0x0030, text("0.5\\0.25"));
    std::vector<unsigned char> v = dataSet(512, 512, 16, 1, extra);
    size_t header = v.size();
    element(v, 0x7FE0, 0x0010, {}, 512 * 512 * 2);
    v.resize(v.size() + 1000);
    ImageInfo info;
    ASSERT_EQ(probeBytes(v, &info), 1);
    EXPECT_EQ(info.imgid, IMG_BIP);
    EXPECT_EQ(info.pixel, PIXEL_SHORT);
    EXPECT_EQ(info.nbands, 1);
    EXPECT_EQ(info.block, 1024);
    EXPECT_EQ(info.offset, (int)header + 8);
    EXPECT_EQ(info.volumes, 12);
    EXPECT_DOUBLE_EQ(info.dx, 0.5);
    EXPECT_DOUBLE_EQ(info.dy, 0.25);

    struct { int bits, sign, pixel, block; } types[] = {
        {4, 0, PIXEL_4BITS, 5}, {8, 0, PIXEL_BYTE, 10}, {8, 2, PIXEL_SBYTE, 10},
        {16, 0, PIXEL_USHORT, 20}, {32, 0, PIXEL_ULONG, 40},
        {32, 1, PIXEL_LONG, 40},
    };
    for (const auto &t : types) {
        std::vector<unsigned char> w = dataSet(3, 10, t.bits, t.sign);
        element(w, 0x7FE0, 0x0010, std::vector<unsigned char>(400));
        ASSERT_EQ(probeBytes(w, &info), 1) << t.bits;
        EXPECT_EQ(info.pixel, t.pixel) << t.bits << "/" << t.sign;
        EXPECT_EQ(info.block, t.block) << t.bits;
        EXPECT_EQ(info.bits, t.bits);
    }
}

// The element table: sequences of undefined length chain their items and
// delimiters behind the sequence element in file order, an empty sequence
// leaves the level at the top, nested elements stay out of the table.
TEST(getDicomHashTable, SequenceChains)
{
    ImageInfo info;
    Tcl_HashTable *t = nullptr;
    ASSERT_EQ(probeFile(dicomFixture("rgb8.dcm"), &info, &t), 1);
    EXPECT_EQ(chainOf(t, 0x0008, 0x1140),
              (std::vector<std::string>{
                  "0008,1140", "fffe,e000", "0008,1150", "0008,1155",
                  "fffe,e00d", "fffe,e000", "0008,1150", "0008,1155",
                  "fffe,e00d", "fffe,e0dd"}));
    EXPECT_EQ(chainOf(t, 0x0008, 0x2112),
              (std::vector<std::string>{"0008,2112", "fffe,e0dd"}));
    EXPECT_EQ(getDicomEntry(t, 0x0008, 0x1150), nullptr);
    EXPECT_EQ(getDicomEntry(t, 0xFFFE, 0xE000), nullptr);
    DicomEntry *name = getDicomEntry(t, 0x0010, 0x0010);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->size, 12u);
    EXPECT_STREQ(reinterpret_cast<char *>(name->value), "Velk^Fixture");
    DicomEntry *uid = getDicomEntry(t, 0x0008, 0x1140);
    for (int i = 0; i < 3 && uid; i++)
        uid = uid->next;
    ASSERT_NE(uid, nullptr);
    EXPECT_STREQ(reinterpret_cast<char *>(uid->value), "1.2.3.4.5");
    deleteDicomHashTable(t);

    // With explicit lengths the sequence is one value of its own.
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
    std::vector<unsigned char> extra;
    element(extra, 0x0028, 0x0010, us(99));
    std::vector<unsigned char> big(0x10004, 'x');
    element(extra, 0x0029, 0x0010, big);
    element(extra, 0x0029, 0x1000, {}, 0xFFFFFFFF);
    std::vector<unsigned char> item;
    element(item, 0x0008, 0x0100, text("ABC"));
    element(extra, 0xFFFE, 0xE000, item);
    element(extra, 0xFFFE, 0xE0DD, {});
    std::vector<unsigned char> v = dataSet(5, 6, 8, 0, extra);
    element(v, 0x7FE0, 0x0010, std::vector<unsigned char>(30));
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
    std::vector<unsigned char> v = dataSet(2, 2, 8, 0);
    element(v, 0x0009, 0x0010, std::vector<unsigned char>(120, 'p'));
    ScratchDir dir;
    std::string path = dir.path("nopix.dcm");
    for (size_t cut : {v.size(), v.size() - 3, v.size() - 124}) {
        writeFileBytes(path, std::vector<unsigned char>(v.begin(),
                                                        v.begin() + cut));
        int fd = open(path.c_str(), O_RDONLY);
        long offset = 0;
        Tcl_HashTable *t = getDicomHashTable(fd, &offset);
        close(fd);
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
    for (const char *name : {"mono8", "mono16p", "mono16s", "rgb8", "rgb8e",
                             "planar", "jpeg", "meta"}) {
        std::vector<unsigned char> bytes =
            readFileBytes(dicomFixture(std::string(name) + ".dcm"));
        CapturedOutput quiet;
        for (size_t n = 0; n < bytes.size(); n++) {
            std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + n);
            ImageInfo info;
            int rc = probeBytes(cut, &info);
            if (rc) {
                EXPECT_LE((size_t)info.offset, n) << name << " cut at " << n;
            }
        }
    }
    for (const char *name : {"rgb8", "mono16s"}) {
        std::vector<unsigned char> bytes =
            readFileBytes(dicomFixture(std::string(name) + ".dcm"));
        CapturedOutput quiet;
        for (size_t i = 0; i < bytes.size(); i++) {
            for (unsigned char b : {0x00, 0xFF, 0x80}) {
                std::vector<unsigned char> bad = bytes;
                bad[i] = b;
                ImageInfo info;
                if (probeBytes(bad, &info)) {
                    EXPECT_GE(info.rows, 1);
                    EXPECT_GE(info.block, 1);
                }
            }
        }
    }
}

// `dicom data` on open rasters: by tag and by file name the record's own
// table is listed; a raster of another kind is refused.
TEST(dicomCmd, DataOfOpenRasters)
{
    Tcl_Interp *interp = testInterp();
    ASSERT_EQ(Dicom_Init(interp), 0);
    ScratchDir dir;
    std::string path = dir.path("open.dcm");
    writeFileBytes(path, readFileBytes(dicomFixture("mono16s.dcm")));
    RAMImage *r = openRAMImage("dcmTag", path.c_str(), nullptr, nullptr,
                               nullptr);
    ASSERT_NE(r, nullptr);
    // The file is changed on disk: only the record's table can answer.
    writeFileBytes(path, {});
    ASSERT_EQ(Tcl_Eval(interp, "dicom data dcmTag 28"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(interp),
                 "0000 0002 0004 0008 0010 0011 0100 0101 0102 0103");
    std::string byName = "dicom data " + path + " 0028 0008";
    ASSERT_EQ(Tcl_Eval(interp, byName.c_str()), TCL_OK);
    // Not in the dictionary: two bytes ("2 ") read as a 16-bit number.
    EXPECT_STREQ(Tcl_GetStringResult(interp), "0028 0008 RT ?? 8242");

    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.imgid = IMG_MBIP;
    info.pixel = PIXEL_BYTE;
    info.bits = 8;
    info.rows = info.columns = info.nbands = 1;
    info.transparent = info.extraFd = -1;
    RAMImage *m = openRAMImage("memTag", nullptr, &info, nullptr, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(Tcl_Eval(interp, "dicom data memTag"), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "Not a DICOM imagememTag");
    closeRAMImage(m, nullptr);
    closeRAMImage(r, nullptr);
}
