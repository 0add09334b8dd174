/*
 * rasterRef.h --
 *
 *	Reference pictures for the raster format tests: a reader of the
 *	netpbm files the fixtures were made from (P4, P5, P6 as netpbm writes
 *	them) and a runner of the independent tools the tests compare with.
 */
#ifndef VELK_TESTS_RASTERREF_H
#define VELK_TESTS_RASTERREF_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/testSupport.h"

/* A picture: w x h pixels of `channels` bytes (P4 gives 0/1 per pixel,
 * 1 = black). */
struct RefPicture {
    int w = 0, h = 0, channels = 0;
    std::vector<unsigned char> data;
    unsigned char at(int x, int y, int c) const
    {
        return data[((size_t)y * w + x) * channels + c];
    }
};

/* Parses a binary netpbm file (magic, width, height, maximum unless P4,
 * one whitespace, data); channels 0 when it cannot. */
inline RefPicture parseRefPicture(const std::vector<unsigned char> &b)
{
    RefPicture p;
    if (b.size() < 3 || b[0] != 'P')
        return p;
    int kind = b[1] - '0', words = kind == 4 ? 2 : 3, v[3] = {0, 0, 0};
    size_t i = 2;
    for (int k = 0; k < words; k++) {
        while (i < b.size() && (b[i] == ' ' || b[i] == '\n' || b[i] == '\t'
                                || b[i] == '\r'))
            i++;
        while (i < b.size() && b[i] >= '0' && b[i] <= '9')
            v[k] = v[k] * 10 + (b[i++] - '0');
    }
    i++;
    p.w = v[0];
    p.h = v[1];
    if (kind == 4) {
        size_t rowBytes = ((size_t)p.w + 7) / 8;
        if (b.size() < i + rowBytes * p.h)
            return p;
        p.channels = 1;
        p.data.resize((size_t)p.w * p.h);
        for (int y = 0; y < p.h; y++)
            for (int x = 0; x < p.w; x++)
                p.data[(size_t)y * p.w + x] =
                    (b[i + y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
        return p;
    }
    int ch = kind == 5 ? 1 : kind == 6 ? 3 : 0;
    if (!ch || b.size() < i + (size_t)p.w * p.h * ch)
        return p;
    p.channels = ch;
    p.data.assign(b.begin() + (long)i,
                  b.begin() + (long)(i + (size_t)p.w * p.h * ch));
    return p;
}

inline RefPicture readRefPicture(const std::string &path)
{
    return parseRefPicture(readFileBytes(path));
}

/* True when the named program is on the path. */
inline bool haveTool(const std::string &name)
{
    std::string cmd = "command -v " + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

/* Runs a shell command and returns what it printed on standard output. */
inline std::vector<unsigned char> runTool(const std::string &cmd)
{
    std::vector<unsigned char> out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    unsigned char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.insert(out.end(), buf, buf + n);
    pclose(p);
    return out;
}

/* ImageMagick itself: /usr/local/bin may hold a stand-in of convert. */
inline std::string imageMagick()
{
    return haveTool("/usr/bin/convert") ? "/usr/bin/convert" : "convert";
}

#endif
