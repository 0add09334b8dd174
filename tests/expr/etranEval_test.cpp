// The parser object: statements translated and run against Python's
// values of the same arithmetic (fixtures/etran_python.txt, made by
// make_etran.sh), translation failures and what they keep, the item
// table's limit, and the expression fuzz corpus replayed whole and cut.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "expr/etranEval.h"
#include "fuzz/exerciseExpr.h"
#include "tests/support/testSupport.h"

TEST(parserExpr, AgreesWithPython)
{
    std::ifstream in(fixturePath("etran_python.txt"));
    ASSERT_TRUE(in) << "fixture missing";
    CapturedOutput quiet;
    std::string line;
    int cases = 0;
    while (std::getline(in, line)) {
        size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        std::string text = line.substr(0, tab1);
        std::string var = line.substr(tab1 + 1, tab2 - tab1 - 1);
        double expected = std::strtod(line.c_str() + tab2 + 1, nullptr);
        SCOPED_TRACE(text);
        ParserObj *p = parserOpen();
        int rc = parserExpr(p, text.c_str());
        ASSERT_GE(rc, 0);
        EXPECT_STREQ(parserGetNthVarName(p, rc), var.c_str());
        for (auto [name, value] : {std::pair<const char *, double>{"b", 2.5},
                                   {"c", -3.0}, {"d", 7.25}})
            if (double *v = getDataPtByName(p, name))
                *v = value;
        parserExec(p);
        EXPECT_DOUBLE_EQ(*getDataPtByName(p, var.c_str()), expected);
        parserClose(p);
        cases++;
    }
    EXPECT_GE(cases, 25);
}

TEST(parserExpr, SymbolListsFailuresAndWhatIsKept)
{
    CapturedOutput out;
    ParserObj *p = parserOpen();
    EXPECT_EQ(parserExpr(p, "a = 1 + 2 * 3"), 0);
    EXPECT_EQ(out.out(), "~t0 2 * 3\n~t0 1 + ~t0\n~t0 a = ~t0\n");
    // The variables in order of first appearance; constants and
    // temporaries are items only.
    out.clear();
    EXPECT_EQ(parserExpr(p, "q = a * k; r = -q; s = b min c"), -1);
    EXPECT_EQ(out.err(),
              "fail to solve opr: min\nfail to create instrunction\n");
    ASSERT_EQ(parserGetVarCount(p), 7);
    const char *names[] = {"a", "k", "q", "r", "b", "c", "s"};
    for (int n = 0; n < 7; n++)
        EXPECT_STREQ(parserGetNthVarName(p, n), names[n]);
    EXPECT_EQ(parserGetNthVarName(p, 7), nullptr);
    EXPECT_EQ(parserGetInstrCount(p), 3 + 2 + 2);
    *getDataPtByName(p, "k") = 4;
    parserExec(p);
    EXPECT_EQ(*getDataPtByName(p, "a"), 7);
    EXPECT_EQ(*getDataPtByName(p, "r"), -28);
    EXPECT_EQ(*getDataPtByName(p, "s"), 0);
    // No assignment: the variable count; nothing at all: -2.
    out.clear();
    EXPECT_EQ(parserExpr(p, "k ^ 2"), 7);
    EXPECT_EQ(out.err(), "incomplete expression\n");
    EXPECT_EQ(parserExpr(p, " \n\t"), -2);
    EXPECT_EQ(parserExpr(p, "a = (1"), -1);
    EXPECT_EQ(parserExpr(p, "7"), -1);
    EXPECT_NE(out.err().find("fail to create symbol list\n"),
              std::string::npos);
    parserClose(p);
}

TEST(parserExpr, ItemTableOverflow)
{
    CapturedOutput out;
    ParserObj *p = parserOpen();
    // ~t0, v0 ... v252 and a fill 255 items; of w2, 1 and w1 only w2
    // fits, the others go to item 0, so w1 has no place among the
    // variables.
    std::string text = "a = v0";
    for (int i = 1; i < 253; i++)
        text += " + v" + std::to_string(i);
    EXPECT_EQ(parserExpr(p, text.c_str()), 253);
    EXPECT_EQ(parserGetItemCount(p), 255);
    EXPECT_EQ(out.err(), "");
    EXPECT_EQ(parserExpr(p, "w1 = w2 + 1"), 255);
    EXPECT_EQ(out.err(), "Items overlow.\nItems overlow.\n");
    EXPECT_EQ(parserGetItemCount(p), 256);
    parserClose(p);
}

TEST(exerciseExpression, CorpusWholeAndCut)
{
    std::string dir = std::string(VELK_SOURCE_DIR) + "/fuzz/corpus-expr";
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (struct dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    ASSERT_GE(names.size(), 9u);
    CapturedOutput quiet;
    for (const std::string &name : names) {
        std::vector<unsigned char> bytes = readFileBytes(dir + "/" + name);
        std::string text(bytes.begin(), bytes.end());
        for (size_t cut = 0; cut <= text.size(); cut++) {
            SCOPED_TRACE(name + " cut at " + std::to_string(cut));
            int rc = exerciseExpression(text.substr(0, cut).c_str());
            EXPECT_GE(rc, -2);
        }
    }
    // Deep nesting stops at the bracket stack's limit; long chains of
    // operators are flattened without recursion.
    EXPECT_EQ(exerciseExpression((std::string(65, '(') + "a").c_str()), -1);
    std::string chain = "a = b";
    for (int i = 0; i < 20000; i++)
        chain += "+b";
    EXPECT_EQ(exerciseExpression(chain.c_str()), 1);
}
