/*
 * exprFuzz.cpp --
 *
 *	libFuzzer target of the expression parser: each input, cut at its
 *	first NUL, goes through exerciseExpression.  The parser needs no
 *	interpreter; its printed diagnostics and symbol lists are dropped.
 */
#include <cstdint>
#include <string>

#include "core/stdstream.h"
#include "fuzz/exerciseExpr.h"

static void dropOutput(int, const char *, int)
{
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setStdStreamSink(dropOutput);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    exerciseExpression(text.c_str());
    return 0;
}
