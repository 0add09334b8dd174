/*
 * fmt.h --
 *
 *	The scratch formatter: printf into a 16384-byte ring and return a
 *	pointer into it.  A result stays valid for the next few calls only and
 *	must stay under 1024 bytes; scripts the package composes are built with
 *	it.  fmtString formats text of any length (numbers such as "%f" of
 *	1e308 run to hundreds of digits) for results and list elements.
 */
#ifndef VELK_FMT_H
#define VELK_FMT_H

#include <string>

const char *fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string fmtString(const char *format, ...)
    __attribute__((format(printf, 1, 2)));

#endif
