/*
 * freeDisk.h --
 *
 *	Free space available to the user on the file system holding a path,
 *	as writers check it before creating large files.
 */
#ifndef VELK_FREEDISK_H
#define VELK_FREEDISK_H

/* Available blocks times block size (statfs), -1 when it cannot be
 * queried. */
double freeDiskSpace(const char *path);

#endif
