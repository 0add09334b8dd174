/*
 * gimgPolygon_test.cpp --
 *
 *	Bit masks and polygons of the gimg masks: runs clipped into a mask
 *	across byte boundaries, screen rows written turned, lines read
 *	through a display port, bytewise combination of masks of different
 *	sizes; the scan conversion's edge rule worked by hand (top rows in,
 *	bottom rows out, extreme vertices out, monotone vertices once), the
 *	exclusive-or and union of overlapping shapes, the shape words with
 *	their rounding and messages, and the run-list operations.
 */
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gimg/gimgMask.h"
#include "tests/support/testSupport.h"

/* Runs as {y, x0, x1} triples. */
typedef std::vector<std::vector<int>> Runs;

static Runs runsOf(const Polyg *p)
{
    Runs out;
    for (int i = 0; p && i + 1 < p->count; i += 2)
        out.push_back({p->points[i].y, p->points[i].x, p->points[i + 1].x});
    return out;
}

static Polyg *polygon(std::initializer_list<int> xy)
{
    Polyg *p = polygCreate(0);
    for (auto it = xy.begin(); it != xy.end(); it += 2)
        polygAddPt(p, *it, *(it + 1));
    return p;
}

/* The mask as rows of '#' and '.'. */
static std::vector<std::string> picture(const BitMask &m)
{
    std::vector<std::string> rows;
    for (int y = 0; y < m.height; y++) {
        std::string s;
        for (int x = 0; x < m.width; x++) {
            unsigned char bit = m.bitOrder ? 0x80 >> (x & 7) : 1 << (x & 7);
            s += m.bits[y * m.bytesPerRow + x / 8] & bit ? '#' : '.';
        }
        rows.push_back(s);
    }
    return rows;
}

TEST(maskTurnOnSeg, clipsAndFillsAcrossBytes)
{
    BitMask m;
    maskInit(&m);
    ASSERT_NE(nullptr, maskOpen(&m, 21, 3, 0));
    EXPECT_EQ(3, m.bytesPerRow);
    maskTurnOnSeg(&m, 0, 3, 19);     /* partial, whole and partial bytes */
    maskTurnOnSeg(&m, 1, -5, 2);     /* clipped left */
    maskTurnOnSeg(&m, 1, 20, 99);    /* clipped right */
    maskTurnOnSeg(&m, 2, 21, 30);    /* right of the mask */
    maskTurnOnSeg(&m, 2, -9, -1);    /* left of the mask */
    maskTurnOnSeg(&m, 3, 0, 21);     /* below the mask */
    maskTurnOnSeg(&m, -1, 0, 21);
    EXPECT_EQ((std::vector<std::string>{"...################..",
                                        "##..................#",
                                        "....................."}),
              picture(m));
    /* Host order: bit 0 is the leftmost pixel on this machine. */
    EXPECT_EQ(0, m.bitOrder);
    EXPECT_EQ(0xf8, m.bits[0]);
    maskClose(&m);
    EXPECT_EQ(nullptr, m.bits);
    EXPECT_EQ(nullptr, maskOpen(&m, 0, 5, 0));
}

TEST(maskPutLine, screenRowsTurnedLikeThePixmap)
{
    /* An unturned screen of 4 columns x 3 rows; row 1 holds 1 0 1 1. */
    const unsigned char row1[4] = {1, 0, 1, 1};
    BitMask plain, right, left;
    maskInit(&plain);
    maskInit(&right);
    maskInit(&left);
    maskOpen(&plain, 4, 3, 0);
    maskOpen(&right, 3, 4, 0);
    maskOpen(&left, 3, 4, 0);
    maskPutLine(&plain, 1, row1, 0);
    maskPutLine(&right, 1, row1, 1);
    maskPutLine(&left, 1, row1, -1);
    EXPECT_EQ((std::vector<std::string>{"....", "#.##", "...."}),
              picture(plain));
    /* Clockwise: screen row y is pixmap column width-1-y, screen column j
     * pixmap row j. */
    EXPECT_EQ((std::vector<std::string>{".#.", "...", ".#.", ".#."}),
              picture(right));
    /* Counter-clockwise: row y is column y, column j row height-1-j. */
    EXPECT_EQ((std::vector<std::string>{".#.", ".#.", "...", ".#."}),
              picture(left));
    /* Values only set bits. */
    const unsigned char zeros[4] = {0, 0, 0, 0};
    maskPutLine(&plain, 1, zeros, 0);
    EXPECT_EQ("#.##", picture(plain)[1]);
    maskCopyLine(&plain, 1, 2);
    EXPECT_EQ("#.##", picture(plain)[2]);
    maskClose(&plain);
    maskClose(&right);
    maskClose(&left);
}

TEST(maskGetLine, throughTheDisplayPort)
{
    BitMask m;
    maskInit(&m);
    maskOpen(&m, 10, 2, 0);
    maskTurnOnSeg(&m, 0, 2, 5);
    DisplayPort p;
    dpInit(&p);
    dpOpen(&p, 8, 1, 0, 2.0);       /* columns 1 1 2 2 3 3 4 4 */
    std::vector<unsigned char> out(8, 7);
    maskGetLine(&m, 0, 1, 7, &p, out.data());
    EXPECT_EQ((std::vector<unsigned char>{0, 0, 1, 1, 1, 1, 1, 0}), out);
    dpOpen(&p, 8, 1, 1, 2.0);       /* mirrored */
    maskGetLine(&m, 0, 0, 8, &p, out.data());
    EXPECT_EQ((std::vector<unsigned char>{1, 1, 1, 1, 1, 1, 0, 0}), out);
    dpClose(&p);
    maskClose(&m);
}

TEST(clipMask, bytewiseAndOrOverTheCommonArea)
{
    BitMask a, b;
    maskInit(&a);
    maskInit(&b);
    maskOpen(&a, 16, 3, 0xff);
    maskOpen(&b, 8, 2, 0);
    maskTurnOnSeg(&b, 0, 0, 4);
    maskTurnOnSeg(&b, 1, 6, 8);
    clipMask(&a, &b, 1);
    /* What the smaller source does not cover is hidden under AND. */
    EXPECT_EQ((std::vector<std::string>{"####............",
                                        "......##........",
                                        "................"}),
              picture(a));
    maskTurnOnSeg(&b, 0, 4, 6);
    clipMask(&a, &b, 0);
    EXPECT_EQ("######..........", picture(a)[0]);
    maskClose(&a);
    maskClose(&b);
}

TEST(polygPolySeg, edgeRuleByHand)
{
    /* Triangle (2,0) (6,4) (0,4): the left edge crosses row 1 at 1.5,
     * row 3 at 0.5 (rounded away from zero), the right edge at y + 2; the
     * top vertex and the bottom edge add nothing. */
    Polyg *t = polygon({2, 0, 6, 4, 0, 4});
    Polyg *runs = polygPolySeg(t);
    EXPECT_EQ((Runs{{1, 2, 3}, {2, 1, 4}, {3, 1, 5}}), runsOf(runs));
    polygDelete(runs);
    polygDelete(t);

    /* Rectangle (10,10)..(20,20) either way round, closed or not: rows
     * 10..19, columns 10..19. */
    Runs expected;
    for (int y = 10; y < 20; y++)
        expected.push_back({y, 10, 20});
    for (Polyg *p : {rectToPolyg(10, 10, 20, 20),
                     polygon({10, 10, 20, 10, 20, 20, 10, 20}),
                     polygon({10, 10, 10, 20, 20, 20, 20, 10, 10, 10})}) {
        runs = polygPolySeg(p);
        EXPECT_EQ(expected, runsOf(runs));
        polygDelete(runs);
        polygDelete(p);
    }

    /* A step: the top of the lower part (row 2) is in, and its corner
     * (6,2), a vertex on a monotone side, counts once. */
    Polyg *s = polygon({0, 0, 3, 0, 3, 2, 6, 2, 6, 4, 0, 4});
    runs = polygPolySeg(s);
    EXPECT_EQ((Runs{{0, 0, 3}, {1, 0, 3}, {2, 0, 6}, {3, 0, 6}}),
              runsOf(runs));
    polygDelete(runs);
    polygDelete(s);

    /* A diamond: its side vertices lie on monotone sides. */
    Polyg *d = polygon({2, 0, 0, 2, 2, 4, 4, 2});
    runs = polygPolySeg(d);
    EXPECT_EQ((Runs{{1, 1, 3}, {2, 0, 4}, {3, 1, 3}}), runsOf(runs));
    polygDelete(runs);
    polygDelete(d);
}

TEST(polygMask, overlapHiddenByXorShownByOr)
{
    Polyg *list = rectToPolyg(0, 0, 4, 3);
    list->next = rectToPolyg(2, 1, 6, 4);
    BitMask m;
    maskInit(&m);
    maskOpen(&m, 7, 5, 0);
    polygMask(list, &m, 1);
    EXPECT_EQ((std::vector<std::string>{"####...", "##..##.", "##..##.",
                                        "..####.", "......."}),
              picture(m));
    maskOpen(&m, 7, 5, 0);
    polygMask(list, &m, 0);
    EXPECT_EQ((std::vector<std::string>{"####...", "######.", "######.",
                                        "..####.", "......."}),
              picture(m));
    /* The pooled runs agree with the exclusive or of the run lists. */
    Polyg *a = polygPolySeg(list), *b = polygPolySeg(list->next);
    Polyg *x = segXor(a, b), *pooled = polygComb(list);
    EXPECT_EQ(runsOf(x), runsOf(pooled));
    Polyg *o = segOr(a, b), *merged = polygMerge(list, 0);
    EXPECT_EQ(runsOf(o), runsOf(merged));
    for (Polyg *p : {a, b, x, pooled, o, merged})
        polygDelete(p);
    polygDelete(list);
    maskClose(&m);
}

TEST(segOps, intersectionComplementAndParsing)
{
    Polyg *a = polygCreate(0), *b = polygCreate(0);
    segAdd(a, 0, 0, 5);
    segAdd(a, 1, 2, 4);
    segAdd(b, 0, 3, 8);
    segAdd(b, 2, 0, 1);
    Polyg *n = segAnd(a, b);
    EXPECT_EQ((Runs{{0, 3, 5}}), runsOf(n));
    Polyg *c = segNot(a, 6, 2);
    EXPECT_EQ((Runs{{0, 5, 6}, {1, 0, 2}, {1, 4, 6}}), runsOf(c));
    EXPECT_EQ(0, segAppendXor(a, b));
    EXPECT_EQ((Runs{{0, 0, 3}, {0, 5, 8}, {1, 2, 4}, {2, 0, 1}}), runsOf(a));
    Polyg *zero = polygCreate(0);
    segAdd(zero, 0, 3, 3);
    segAdd(zero, 0, 4, 6);
    segRemoveDup(zero);
    EXPECT_EQ((Runs{{0, 4, 6}}), runsOf(zero));

    Tcl_Interp *interp = testInterp();
    int error;
    const char *words[] = {"rc", "0 0 4 2", "and", "rc", "2 1 6 3",
                           "or", "pl", "0 5 1 5 1 6"};
    Polyg *s = parseSegFromObj(interp, nullptr, 8, words, &error);
    EXPECT_EQ(0, error);
    EXPECT_EQ((Runs{{1, 2, 4}, {5, 0, 1}}), runsOf(s));
    const char *current[] = {"current", "rc"};
    Polyg *cur = parseSegFromObj(interp, s, 1, current, &error);
    EXPECT_EQ(runsOf(s), runsOf(cur));
    EXPECT_EQ(nullptr, parseSegFromObj(interp, s, 2, current, &error));
    EXPECT_EQ(1, error);
    EXPECT_STREQ("Syntax error.\n", Tcl_GetStringResult(interp));
    for (Polyg *p : {a, b, n, c, zero, s, cur})
        polygDelete(p);
}

TEST(parsePolygFromObj, shapesRoundingAndMessages)
{
    Tcl_Interp *interp = testInterp();
    /* Half away from zero: -0.5 -> -1, 2.5 -> 3; "ov" boxes of two
     * pixels are rectangles, three pixels already an ellipse. */
    const char *words[] = {"rc", "-0.5 2.5 3.4 4.5", "pl",
                           "0 0 10.5 0 5 -7.5", "ov", "2 2 0 0",
                           "ov", "0 0 3 3"};
    Polyg *list = parsePolygFromObj(interp, 8, words);
    ASSERT_NE(nullptr, list);
    std::vector<std::vector<int>> got;
    for (Polyg *p = list; p; p = p->next) {
        std::vector<int> v;
        for (int i = 0; i < p->count; i++) {
            v.push_back(p->points[i].x);
            v.push_back(p->points[i].y);
        }
        got.push_back(v);
    }
    /* Each pair went to the head of the list. */
    EXPECT_EQ((std::vector<std::vector<int>>{
                  {1, 0, 0, 1, 1, 2, 2, 1},
                  {0, 0, 0, 2, 2, 2, 2, 0},
                  {0, 0, 11, 0, 5, -8},
                  {-1, 3, -1, 5, 3, 5, 3, 3}}),
              got);
    polygDelete(list);

    struct {
        std::vector<const char *> words;
        const char *message;
    } bad[] = {
        {{"rc", "1 2 3"}, "Error in parsing rectangle.\n"},
        {{"pl", "0 0 1 1 2"}, "Error in parsing polygon.\n"},
        {{"pl", "0 0 1 1"}, "Error in parsing polygon.\n"},
        {{"pl", "0 0 1 x 2 2"}, "Error in parsing polygon.\n"},
        {{"pl", "{0 0 1"}, "Error in parsing polygon.\n"},
        {{"ov", "0 0 nan 1"}, "Error in parsing oval.\n"},
        {{"sq", "0 0 1 1"}, "Unknown obj type: sq"},
        {{"rc", "0 0 1 1", "rc"}, "error in parsing obj.\n"},
    };
    for (auto &b : bad) {
        EXPECT_EQ(nullptr, parsePolygFromObj(interp, (int)b.words.size(),
                                             b.words.data()));
        EXPECT_STREQ(b.message, Tcl_GetStringResult(interp));
    }
}

TEST(polygAllocPt, growsInBlocks)
{
    Polyg *p = polygCreate(1);
    EXPECT_EQ(POLYG_BLOCK, p->capacity);
    for (int i = 0; i < POLYG_BLOCK + 1; i++)
        polygAddPt(p, i, 100000);
    EXPECT_EQ(2 * POLYG_BLOCK, p->capacity);
    EXPECT_EQ(32767, p->points[0].y);
    Polyg *c = polygCopy(p);
    EXPECT_EQ(POLYG_BLOCK + 1, c->count);
    EXPECT_EQ(POLYG_BLOCK, c->points[POLYG_BLOCK].x);
    polygDelete(p);
    polygDelete(c);
}
