/*
 * rimgOps.cpp --
 *
 *	The pixel functions of raster objects and their table.  Plain
 *	arithmetic stays in single precision; "/" by zero, "^", "rand" and
 *	"ring" are computed in double and rounded once.  "int" is a 32-bit
 *	integer by truncation toward zero; values beyond its range saturate
 *	and NaN counts as 0, so no conversion is undefined.
 */
#include "rimage/rimgOps.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/imgtype.h"

static int truncInt(float v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483648.0f)
        return INT_MAX;
    if (v < -2147483648.0f)
        return INT_MIN;
    return (int)v;
}

#define A (f[FRAME_A])
#define B (f[FRAME_B])
#define C (f[FRAME_B + 1])
#define D (f[FRAME_B + 2])
#define E (f[FRAME_B + 3])

static float opAssign(const float *f) { return B; }
static float opAdd(const float *f) { return A + B; }
static float opSubtract(const float *f) { return A - B; }
static float opMultiply(const float *f) { return A * B; }
static float opMultiplyAdd(const float *f) { return A * B + C; }
static float opNegate(const float *f) { return -A; }
static float opMin(const float *f) { return A <= B ? A : B; }
static float opMax(const float *f) { return A >= B ? A : B; }

static float opDivide(const float *f)
{
    if (B == 0)
        return (float)((double)A / 1e-30);
    return A / B;
}

static float opComplement(const float *f)
{
    int a = truncInt(A);
    switch ((int)f[FRAME_PIXEL]) {
    case PIXEL_1BIT:
        return A == 0 ? 1.0f : 0.0f;
    case PIXEL_4BITS:
        return (float)(~a & 0xF);
    case PIXEL_BYTE:
        return (float)(~a & 0xFF);
    case PIXEL_SHORT:
    case PIXEL_USHORT:
        return (float)(~a & 0xFFFF);
    default:
        return (float)(uint32_t)~a;
    }
}

static float opAnd(const float *f)
{
    return (float)(truncInt(A) & truncInt(B));
}

static float opOr(const float *f)
{
    return (float)(truncInt(A) | truncInt(B));
}

static float opXor(const float *f)
{
    return (float)(truncInt(A) ^ truncInt(B));
}

static float opPower(const float *f)
{
    return (float)std::pow(std::fabs((double)A), (double)B);
}

/* Linear stretch of [b, c] onto [d, e], held at d and e beyond. */
static float opLinear(const float *f)
{
    float a = A, b = B, c = C, d = D, e = E;
    if (c == b)
        return a;
    if (c > b ? a <= b : a >= b)
        return d;
    if (c > b ? a >= c : a <= c)
        return e;
    float t = (a - b) / (c - b);
    return (1 - t) * d + t * e;
}

/* A zero divisor gives 2^31, as does INT_MIN / -1 (its true quotient). */
static float opIntDivide(const float *f)
{
    int a = truncInt(A), b = truncInt(B);
    if (b == 0 || (a == INT_MIN && b == -1))
        return 2147483648.0f;
    return (float)(a / b);
}

/* A zero divisor leaves the pixel as it was. */
static float opRemainder(const float *f)
{
    int a = truncInt(A), b = truncInt(B);
    if (b == 0)
        return A;
    if (b == -1)
        return 0;
    return (float)(a % b);
}

/* True: c with two or more operands, else 255; false: d with three,
 * else the pixel unchanged. */
static float compared(const float *f, bool truth)
{
    int n = (int)f[FRAME_COUNT];
    if (truth)
        return n > 1 ? C : 255.0f;
    return n > 2 ? D : A;
}

static float opEqual(const float *f) { return compared(f, A == B); }
static float opLessEqual(const float *f) { return compared(f, A <= B); }
static float opLess(const float *f) { return compared(f, A < B); }
static float opGreaterEqual(const float *f) { return compared(f, A >= B); }
static float opGreater(const float *f) { return compared(f, A > B); }

/* A coordinate reduced to the range of the small pixel types. */
static float reduced(const float *f, double v)
{
    double m = 0;
    switch ((int)f[FRAME_PIXEL]) {
    case PIXEL_1BIT:
        m = 2;
        break;
    case PIXEL_4BITS:
        m = 16;
        break;
    case PIXEL_BYTE:
        m = 256;
        break;
    default:
        return (float)v;
    }
    return (float)std::fmod(v, m);
}

static float opInitX(const float *f)
{
    return reduced(f, f[FRAME_X]);
}

static float opInitY(const float *f)
{
    return reduced(f, f[FRAME_Y]);
}

static float opInitXY(const float *f)
{
    return reduced(f, (double)f[FRAME_X] + f[FRAME_Y]);
}

static float opRandom(const float *f)
{
    return (float)((double)std::rand() / 2147483648.0 * B);
}

/* Concentric waves around the raster's centre. */
static float opRing(const float *f)
{
    double w = f[FRAME_COLUMNS], h = f[FRAME_ROWS];
    double dx = f[FRAME_X] - w / 2, dy = f[FRAME_Y] - h / 2;
    double rho = std::sqrt((dx * dx + dy * dy) / ((w * w + h * h) / 4));
    return (float)(127.5 + 127.5 * std::sin(2 * M_PI * A * rho));
}

#undef A
#undef B
#undef C
#undef D
#undef E

const RimgOp rimgOp[] = {
    {"=", 1, opAssign},
    {"+", 1, opAdd},
    {"-", 1, opSubtract},
    {"*", 1, opMultiply},
    {"*", 2, opMultiplyAdd},
    {"/", 1, opDivide},
    {"!", 0, opComplement},
    {"&", 1, opAnd},
    {"|", 1, opOr},
    {"^", 1, opPower},
    {"lini", 4, opLinear},
    {"idiv", 1, opIntDivide},
    {"min", 1, opMin},
    {"max", 1, opMax},
    {"xor", 1, opXor},
    {"%", 1, opRemainder},
    {"==", 1, opEqual}, {"==", 2, opEqual}, {"==", 3, opEqual},
    {"<=", 1, opLessEqual}, {"<=", 2, opLessEqual}, {"<=", 3, opLessEqual},
    {"<", 1, opLess}, {"<", 2, opLess}, {"<", 3, opLess},
    {">=", 1, opGreaterEqual}, {">=", 2, opGreaterEqual},
    {">=", 3, opGreaterEqual},
    {">", 1, opGreater}, {">", 2, opGreater}, {">", 3, opGreater},
    {"neg", 0, opNegate},
    {"init", 1, opAssign},
    {"initx", 0, opInitX},
    {"inity", 0, opInitY},
    {"initxy", 0, opInitXY},
    {"rand", 1, opRandom},
    {"ring", 0, opRing},
};
const int rimgOpCount = (int)(sizeof rimgOp / sizeof rimgOp[0]);

const RimgOp *rimgObjParseOP(const char *word, int count)
{
    for (int i = 0; i < rimgOpCount; i++)
        if (rimgOp[i].operands == count
                && std::strcmp(rimgOp[i].word, word) == 0)
            return &rimgOp[i];
    return nullptr;
}
