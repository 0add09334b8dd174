/*
 * fmt.h --
 *
 *	The scratch formatter: printf into a 16384-byte ring and return a
 *	pointer into it.  A result stays valid for the next few calls only and
 *	must stay under 1024 bytes; scripts the package composes are built with
 *	it.
 */
#ifndef VELK_FMT_H
#define VELK_FMT_H

const char *fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
