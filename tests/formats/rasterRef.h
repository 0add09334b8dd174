/*
 * rasterRef.h --
 *
 *	Shared by the raster format tests: netpbm pictures (P4, P5, P6 as
 *	netpbm and ImageMagick write them) as references, independent tools
 *	run as oracles, and records opened through the store.
 */
#ifndef VELK_TESTS_RASTERREF_H
#define VELK_TESTS_RASTERREF_H

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/imgtype.h"
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

/* The oracle commands that are installed, each with the file name
 * appended; /usr/local/bin may hold a stand-in of convert. */
inline std::vector<std::string> oracles(std::vector<std::string> cmds,
                                        const std::string &path)
{
    std::vector<std::string> have;
    for (std::string &c : cmds) {
        if (c.rfind("convert", 0) == 0 && haveTool("/usr/bin/convert"))
            c = "/usr/bin/" + c;
        std::string tool = c.substr(0, c.find(' '));
        if (haveTool(tool)) {
            size_t at = c.find('@');
            have.push_back(c.replace(at, 1, path));
        }
    }
    return have;
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

/* Writes a file anew.  Unlinking first spares ext4 the flush it makes
 * when a file with data is truncated and rewritten, which would make the
 * truncation loops slow. */
inline void rewriteFile(const std::string &path,
                        const std::vector<unsigned char> &bytes)
{
    unlink(path.c_str());
    writeFileBytes(path, bytes);
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
