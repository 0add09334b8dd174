/*
 * probeSupport.h --
 *
 *	Shared by the format and store tests: one line that shows every field
 *	a probe fills (so a whole description is checked at once), a probe run
 *	that checks the file position is kept, memory files for many variants
 *	of a file, and the package's streams sent to the real descriptors in
 *	death-test children.
 */
#ifndef VELK_TESTS_PROBESUPPORT_H
#define VELK_TESTS_PROBESUPPORT_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"

/* Every field a probe fills, keywords for the type numbers, coordinates
 * exact to float precision. */
inline std::string infoLine(const ImageInfo &i)
{
    char s[320];
    std::snprintf(s, sizeof s, "%s %s/%d %dx%dx%d off %d block %d msbf %d %s"
                  " nind %d tr %d frame %d,%d vol %d map %.10g,%.10g"
                  " cell %.10g,%.10g", strImgID(i.imgid), strPixelID(i.pixel),
                  i.bits, i.columns, i.rows, i.nbands, i.offset, i.block,
                  i.msbf, strMapID(i.mapid), i.nindices, i.transparent, i.top,
                  i.left, i.volumes, i.x0, i.y0, i.dx, i.dy);
    return s;
}

/* Runs probe(fd, info) with the file positioned at `start`, and checks
 * that the probe leaves the position there.  info starts as 0x55 bytes,
 * but for the volume count, which the registry zeroes before probing: a
 * field the probe leaves unset shows. */
template <typename Probe>
int probeAt(const std::string &path, ImageInfo *info, Probe probe,
            off_t start = 0)
{
    int fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << path;
    lseek(fd, start, SEEK_SET);
    std::memset(info, 0x55, sizeof *info);
    info->volumes = 0;
    int rc = probe(fd, info);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), start) << "file position moved";
    close(fd);
    return rc;
}

/* A file in memory (no disk traffic for thousands of variants), opened by
 * path like any other. */
struct MemoryFile {
    int fd = memfd_create("velktest", 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    MemoryFile() = default;
    explicit MemoryFile(const std::vector<unsigned char> &bytes) { set(bytes); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;
    ~MemoryFile() { close(fd); }
    void set(const std::vector<unsigned char> &bytes)
    {
        EXPECT_EQ(ftruncate(fd, 0), 0);
        EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0),
                  (ssize_t)bytes.size());
    }
};

/* Stream sink for death-test children: the package's output goes to
 * descriptors 1 and 2, where EXPECT_EXIT looks for it. */
inline void streamsToDescriptors(int which, const char *text, int length)
{
    if (write(which == 8 ? 2 : 1, text, (size_t)length) < 0)
        _exit(99);
}

#endif
