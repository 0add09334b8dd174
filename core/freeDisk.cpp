/*
 * freeDisk.cpp --
 *
 *	Free disk space through statfs.
 */
#include "core/freeDisk.h"

#include <sys/vfs.h>

double freeDiskSpace(const char *path)
{
    struct statfs fs;
    if (statfs(path, &fs) != 0)
        return -1.0;
    return (double)fs.f_bavail * (double)fs.f_bsize;
}
