/*
 * stdstream.h --
 *
 *	The package's standard output and standard error.  Every diagnostic of
 *	the package is printed through these, which hand the text to the
 *	console output routine (console/conStream.h): into the stdio
 *	interpreter's stdout/stderr channels or a console window.
 */
#ifndef VELK_STDSTREAM_H
#define VELK_STDSTREAM_H

#include <cstdarg>

int stdoutPrintf(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
int stderrPrintf(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
int stderrVPrintf(const char *format, va_list args);
/* As perror: "what: <system error text>\n" on standard error. */
void stderrPerror(const char *what);

/* Test hook: when set, every text goes to sink(which, text, length)
 * instead of the console (which: 4 stdout, 8 stderr). */
typedef void (StdStreamSink)(int which, const char *text, int length);
StdStreamSink *setStdStreamSink(StdStreamSink *sink);

#endif
