/*
 * fmt.cpp --
 *
 *	The scratch formatter's 16384-byte ring, and formatting into a
 *	string of any length.
 */
#include "core/fmt.h"

#include <cstdarg>
#include <cstdio>

static char ring[16384];
static int ringOffset = 0;

/*
 * fmt --
 *	Formats into the ring at the current offset and advances past it;
 *	past 15360 the next call starts again at 0.
 */
const char *fmt(const char *format, ...)
{
    if (ringOffset > 15360)
        ringOffset = 0;
    char *s = ring + ringOffset;
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(s, sizeof ring - ringOffset, format, ap);
    va_end(ap);
    if (n < 0)
        n = 0;
    if (n > (int)sizeof ring - ringOffset - 1)
        n = (int)sizeof ring - ringOffset - 1;
    ringOffset += n + 1;
    return s;
}

/*
 * fmtString --
 *	Formats into a new string, as long as the text needs.
 */
std::string fmtString(const char *format, ...)
{
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    std::string out;
    if (n >= (int)sizeof small) {
        out.resize((size_t)n + 1);
        std::vsnprintf(&out[0], out.size(), format, again);
        out.resize((size_t)n);
    } else if (n > 0) {
        out.assign(small, (size_t)n);
    }
    va_end(again);
    return out;
}
