/*
 * stdstream.cpp --
 *
 *	The package's standard output and error: formats the text and hands
 *	it to consolePuts (or to the test sink).
 */
#include "core/stdstream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "console/conStream.h"

static StdStreamSink *sink = nullptr;

StdStreamSink *setStdStreamSink(StdStreamSink *s)
{
    StdStreamSink *old = sink;
    sink = s;
    return old;
}

static int emit(int which, const char *format, va_list args)
{
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return n;
    const char *text = small;
    std::vector<char> big;
    if (n >= (int)sizeof small) {
        big.resize((size_t)n + 1);
        std::vsnprintf(big.data(), big.size(), format, args);
        text = big.data();
    }
    if (sink)
        sink(which, text, n);
    else
        consolePuts(which, text, n);
    return n;
}

int stdoutPrintf(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = emit(CON_STDOUT, format, ap);
    va_end(ap);
    return n;
}

int stderrPrintf(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = emit(CON_STDERR, format, ap);
    va_end(ap);
    return n;
}

int stderrVPrintf(const char *format, va_list args)
{
    return emit(CON_STDERR, format, args);
}

void stderrPerror(const char *what)
{
    const char *err = std::strerror(errno);
    if (what && *what)
        stderrPrintf("%s: %s\n", what, err);
    else
        stderrPrintf("%s\n", err);
}
