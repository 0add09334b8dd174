/*
 * hostField.h --
 *
 *	Numbers at a byte offset of a header buffer, in the host's byte order
 *	(headers of other orders are reversed before or after).  memcpy keeps
 *	unaligned offsets legal.
 */
#ifndef VELK_HOSTFIELD_H
#define VELK_HOSTFIELD_H

#include <cstring>

template <typename T>
inline T hostField(const unsigned char *header, int offset)
{
    T v;
    std::memcpy(&v, header + offset, sizeof v);
    return v;
}

template <typename T>
inline void putHostField(unsigned char *header, int offset, T v)
{
    std::memcpy(header + offset, &v, sizeof v);
}

#endif
