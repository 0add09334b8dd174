/*
 * rasterRef.h --
 *
 *	Shared by the raster format tests: netpbm pictures (P4, P5, P6 as
 *	netpbm and ImageMagick write them) as references, independent tools
 *	run as oracles, probes run on files, descriptions of new files, and
 *	records opened through the store.
 */
#ifndef VELK_TESTS_RASTERREF_H
#define VELK_TESTS_RASTERREF_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "tests/support/testSupport.h"

/* w x h pixels of `channels` bytes; P4 gives one byte 0/1 (1 black). */
struct RefPicture {
    int w = 0, h = 0, channels = 0;
    std::vector<unsigned char> data;
    int at(int x, int y, int c) const
    {
        return data[((size_t)y * w + x) * channels + c];
    }
};

inline RefPicture parseRefPicture(const std::vector<unsigned char> &b)
{
    RefPicture p;
    int kind = b.size() > 2 && b[0] == 'P' ? b[1] - '0' : 0, v[3] = {};
    size_t i = 2;
    for (int k = 0; k < (kind == 4 ? 2 : 3); k++) {
        while (i < b.size() && std::isspace(b[i]))
            i++;
        while (i < b.size() && std::isdigit(b[i]))
            v[k] = v[k] * 10 + (b[i++] - '0');
    }
    i++;
    p.w = v[0];
    p.h = v[1];
    size_t rowBytes = kind == 4 ? ((size_t)p.w + 7) / 8
                      : (size_t)p.w * (kind == 6 ? 3 : 1);
    if (kind < 4 || kind > 6 || b.size() < i + rowBytes * p.h)
        return p;
    p.channels = kind == 6 ? 3 : 1;
    if (kind != 4) {
        p.data.assign(b.begin() + (long)i, b.begin() + (long)(i + rowBytes * p.h));
        return p;
    }
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++)
            p.data.push_back((b[i + y * rowBytes + x / 8] >> (7 - x % 8)) & 1);
    return p;
}

inline RefPicture readRefPicture(const std::string &path)
{
    return parseRefPicture(readFileBytes(path));
}

/* What a shell command prints on standard output. */
inline std::vector<unsigned char> runTool(const std::string &cmd)
{
    std::vector<unsigned char> out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        unsigned char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.insert(out.end(), buf, buf + n);
        pclose(p);
    }
    return out;
}

inline bool haveTool(const std::string &name)
{
    return std::system(("command -v " + name + " >/dev/null").c_str()) == 0;
}

/* The value of pixel (x, y) in band or channel c. */
using PixelValue = std::function<int(int x, int y, int c)>;

/* Runs each oracle command that is installed, "@" standing for path (a
 * stand-in of convert may be in /usr/local/bin: /usr/bin/convert is
 * preferred), and checks the picture it prints: its shape, and no value
 * further than tolerance from value(x, y, c). */
inline void expectOracles(const std::vector<std::string> &cmds,
                          const std::string &path, int w, int h, int channels,
                          const PixelValue &value, int tolerance = 0)
{
    for (std::string cmd : cmds) {
        if (cmd.rfind("convert", 0) == 0 && haveTool("/usr/bin/convert"))
            cmd = "/usr/bin/" + cmd;
        if (!haveTool(cmd.substr(0, cmd.find(' '))))
            continue;
        cmd.replace(cmd.find('@'), 1, path);
        RefPicture got = parseRefPicture(runTool(cmd));
        EXPECT_EQ(std::vector<int>({got.w, got.h, got.channels}),
                  std::vector<int>({w, h, channels})) << cmd;
        int worst = 0;
        for (int y = 0; y < got.h && got.channels == channels; y++)
            for (int x = 0; x < got.w; x++)
                for (int c = 0; c < channels; c++)
                    worst = std::max(worst, std::abs(got.at(x, y, c)
                                                     - value(x, y, c)));
        EXPECT_LE(worst, tolerance) << cmd;
    }
}

struct RecordDeleter {
    void operator()(RAMImage *r) const { destroyRAMImage(r); }
};
using Record = std::unique_ptr<RAMImage, RecordDeleter>;

/* A record of the file, probed by the registry, outside the store. */
inline Record openRecord(const std::string &path)
{
    int err;
    return Record(createRAMImage(path.c_str(), nullptr, nullptr, &err));
}

/* Writes value(x, y, band) into every pixel through the line access. */
inline void putValues(RAMImage *r, const PixelValue &value)
{
    for (int y = 0; y < r->info.rows; y++)
        for (int b = 0; b < r->info.nbands; b++)
            for (int x = 0; x < r->info.columns; x++) {
                unsigned char v = (unsigned char)value(x, y, b);
                putByteBILData(r, y, x, 1, b, &v);
            }
}

/* How many pixels read through the line access differ from
 * value(x, y, band) times scale; the first one is reported. */
inline int storeMismatches(RAMImage *r, const PixelValue &value,
                           float scale = 1)
{
    int wrong = 0;
    std::vector<float> line((size_t)r->info.columns);
    for (int y = 0; y < r->info.rows; y++)
        for (int b = 0; b < r->info.nbands; b++) {
            getFloatBILData(r, y, 0, r->info.columns, b, line.data());
            for (int x = 0; x < r->info.columns; x++)
                if (line[x] != value(x, y, b) * scale && wrong++ == 0)
                    ADD_FAILURE() << "first at x " << x << " y " << y
                                  << " band " << b << ": " << line[x];
        }
    return wrong;
}

/* Writes a file anew.  Unlinking first spares ext4 the flush it makes
 * when a file with data is truncated and rewritten, which would make the
 * truncation loops slow. */
inline void rewriteFile(const std::string &path,
                        const std::vector<unsigned char> &bytes)
{
    unlink(path.c_str());
    writeFileBytes(path, bytes);
}

/* Runs a format probe on the file from position 3, which it must keep.
 * info starts as 0x55 bytes, so a field the probe leaves unset shows. */
inline int probeFile(int (*probe)(int, ImageInfo *), const std::string &path,
                     ImageInfo *info)
{
    std::memset(info, 0x55, sizeof *info);
    int fd = open(path.c_str(), O_RDONLY);
    lseek(fd, 3, SEEK_SET);
    int rc = probe(fd, info);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 3) << path;
    close(fd);
    return rc;
}

/* The same on a fresh file of these bytes. */
inline int probeBytes(int (*probe)(int, ImageInfo *), const std::string &path,
                      const std::vector<unsigned char> &bytes,
                      ImageInfo *info)
{
    rewriteFile(path, bytes);
    return probeFile(probe, path, info);
}

/* The description of a new file, as createImage and openRAMImageNew take
 * it: every other field zero. */
inline ImageInfo newImageInfo(const std::string &path, int imgid, int pixel,
                              int columns, int rows, int nbands)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.imgid = imgid;
    info.pixel = pixel;
    info.columns = columns;
    info.rows = rows;
    info.nbands = nbands;
    return info;
}

inline std::vector<unsigned char> bytesOf(const std::string &s)
{
    return std::vector<unsigned char>(s.begin(), s.end());
}

/* The fields of a description that the probes fill, as one line. */
inline std::string describe(const ImageInfo &i)
{
    char s[200];
    std::snprintf(s, sizeof s, "%s %s/%d %dx%dx%d off %d block %d nind %d"
                  " msbf %d %s tr %d at %g,%g by %g,%g", strImgID(i.imgid),
                  strPixelID(i.pixel), i.bits, i.columns, i.rows, i.nbands,
                  i.offset, i.block, i.nindices, i.msbf, strMapID(i.mapid),
                  i.transparent, i.x0, i.y0, i.dx, i.dy);
    return s;
}

#endif
