/*
 * scriptLib.h --
 *
 *	Compressed script library files ("SCRBCOMP"): zlib-compressed text
 *	passed through the package's byte substitution, behind a 33-byte
 *	header.
 *
 *	Offset Size Content
 *	     0    8 "SCRBCOMP"
 *	     8    1 substitution flag: 1 when the data were substituted
 *	     9   12 compressed length, decimal text, NUL-padded
 *	    21   12 uncompressed length including the NUL, decimal, NUL-padded
 */
#ifndef VELK_SCRIPTLIB_H
#define VELK_SCRIPTLIB_H

#include <string>

#define SCRB_HEADER_SIZE 33

/* The substitution table and its inverse. */
unsigned char scrbSubstitute(unsigned char byte);
unsigned char scrbRestore(unsigned char byte);

/* Writes text (length bytes, the terminating NUL included) as a
 * compressed script file, mode 0600.  Returns 0 and the ratio of the
 * compressed to the uncompressed length, or -1 with *message set to the
 * failure text. */
int scriptLibSave(const char *fileName, const char *text, size_t length,
                  double *ratio, const char **message);

/* Reads a script library file: a plain file's text as it is, a
 * compressed one decompressed (without its NUL).  Returns 0, or -1 with
 * *message set. */
int scriptLibLoad(const char *fileName, std::string *text,
                  const char **message);

#endif
