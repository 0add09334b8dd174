/*
 * scriptLib.cpp --
 *
 *	Saving and loading compressed script library files.  The byte
 *	substitution is the affine permutation b -> 167 b + 91 (mod 256);
 *	files from another substitution table are not interchangeable.
 *	Lengths read from a header are checked before anything is allocated.
 */
#include "calc/scriptLib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static const char scrbMagic[8] = {'S', 'C', 'R', 'B', 'C', 'O', 'M', 'P'};
static const int chunkMax = 32767;
static const long lengthMax = 1L << 28;   /* no script library is larger */

unsigned char scrbSubstitute(unsigned char byte)
{
    return (unsigned char)(byte * 167u + 91u);
}

unsigned char scrbRestore(unsigned char byte)
{
    /* 167 * 23 = 3841 = 15 * 256 + 1: 23 is the inverse of 167. */
    return (unsigned char)((unsigned)(unsigned char)(byte - 91u) * 23u);
}

static int writeAll(int fd, const unsigned char *p, size_t n)
{
    while (n > 0) {
        size_t piece = n > (size_t)chunkMax ? (size_t)chunkMax : n;
        ssize_t w = write(fd, p, piece);
        if (w != (ssize_t)piece)
            return -1;
        p += piece;
        n -= piece;
    }
    return 0;
}

static int readAll(int fd, unsigned char *p, size_t n)
{
    while (n > 0) {
        size_t piece = n > (size_t)chunkMax ? (size_t)chunkMax : n;
        ssize_t got = read(fd, p, piece);
        if (got != (ssize_t)piece)
            return -1;
        p += piece;
        n -= piece;
    }
    return 0;
}

int scriptLibSave(const char *fileName, const char *text, size_t length,
                  double *ratio, const char **message)
{
    uLongf compLen = (uLongf)(1.2 * (double)length + 1024);
    std::vector<unsigned char> comp;
    try {
        comp.resize(compLen);
    } catch (...) {
        *message = "Error in malloc.\n";
        return -1;
    }
    if (compress(comp.data(), &compLen,
                 reinterpret_cast<const Bytef *>(text), (uLong)length)
            != Z_OK) {
        *message = "Error in compress";
        return -1;
    }
    for (uLongf i = 0; i < compLen; i++)
        comp[i] = scrbSubstitute(comp[i]);
    unsigned char header[SCRB_HEADER_SIZE] = {0};
    std::memcpy(header, scrbMagic, 8);
    header[8] = 1;
    std::snprintf(reinterpret_cast<char *>(header) + 9, 12, "%lu",
                  (unsigned long)compLen);
    std::snprintf(reinterpret_cast<char *>(header) + 21, 12, "%lu",
                  (unsigned long)length);
    int fd = open(fileName, O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        *message = "Error in open.\n";
        return -1;
    }
    int rc = writeAll(fd, header, sizeof header);
    if (rc == 0)
        rc = writeAll(fd, comp.data(), compLen);
    if (close(fd) != 0)
        rc = -1;
    if (rc != 0) {
        *message = "Error in writing.\n";
        return -1;
    }
    *ratio = length ? (double)compLen / (double)length : 0.0;
    return 0;
}

/* A decimal length field of the header, -1 when it is not one. */
static long headerLength(const unsigned char *field)
{
    char text[13];
    std::memcpy(text, field, 12);
    text[12] = '\0';
    char *end;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v <= 0 || v > lengthMax)
        return -1;
    return v;
}

int scriptLibLoad(const char *fileName, std::string *text,
                  const char **message)
{
    int fd = open(fileName, O_RDONLY);
    if (fd < 0) {
        *message = "Error in open.\n";
        return -1;
    }
    unsigned char header[SCRB_HEADER_SIZE];
    ssize_t got = read(fd, header, sizeof header);
    int magic = got >= 8 && std::memcmp(header, scrbMagic, 8) == 0;
    if (magic && got < (ssize_t)sizeof header) {
        /* A compressed file cut inside its header. */
        close(fd);
        *message = "Error in uncompress";
        return -1;
    }
    if (!magic) {
        /* An ordinary script: its text as it is. */
        text->assign(reinterpret_cast<char *>(header),
                     got > 0 ? (size_t)got : 0);
        char buf[65536];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            text->append(buf, (size_t)n);
        close(fd);
        if (n < 0) {
            *message = "Error in open.\n";
            return -1;
        }
        return 0;
    }
    long compLen = headerLength(header + 9);
    long origLen = headerLength(header + 21);
    std::vector<unsigned char> comp, orig;
    struct stat st;
    if (compLen < 0 || origLen < 0 || fstat(fd, &st) != 0
            || compLen > (long)st.st_size - SCRB_HEADER_SIZE) {
        close(fd);
        *message = "Error in uncompress";
        return -1;
    }
    comp.resize((size_t)compLen);
    int rc = readAll(fd, comp.data(), (size_t)compLen);
    close(fd);
    if (rc != 0) {
        *message = "Error in uncompress";
        return -1;
    }
    if (header[8] == 1)
        for (auto &b : comp)
            b = scrbRestore(b);
    orig.resize((size_t)origLen);
    uLongf outLen = (uLongf)origLen;
    if (uncompress(orig.data(), &outLen, comp.data(), (uLong)compLen) != Z_OK
            || outLen != (uLongf)origLen) {
        *message = "Error in uncompress";
        return -1;
    }
    size_t textLen = strnlen(reinterpret_cast<char *>(orig.data()), outLen);
    text->assign(reinterpret_cast<char *>(orig.data()), textLen);
    return 0;
}
