/*
 * etranEval.cpp --
 *
 *	Parser objects: the item table (at most 256 names with a double
 *	value each), the variable index (items that are variables, in order
 *	of first appearance) and the instruction list.  parserExpr drives
 *	the parser of etranParse.cpp statement by statement and turns each
 *	symbol node into an instruction; parserExec runs them.
 */
#include "expr/etranEval.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/stdstream.h"
#include "expr/etranParse.h"

struct ParserItem {
    char name[EXPR_NAME_MAX + 2];
    double value;
};

struct ParserInstr;
/* An evaluation routine; returns how many instructions to advance. */
typedef int (ParserRoutine)(ParserObj *p, const ParserInstr *in);

struct ParserInstr {
    ParserRoutine *routine;
    int result, first, second;  /* item numbers; -1 for an absent operand */
};

struct ParserObj {
    ParserItem items[PARSER_MAX_ITEMS];
    int itemCount;
    std::vector<int> variables;         /* item numbers of the variables */
    std::vector<ParserInstr> instrs;
    double absent;                      /* read for an absent operand */
};

ParserObj *parserOpen(void)
{
    ParserObj *p = new (std::nothrow) ParserObj;
    if (!p)
        return nullptr;
    p->itemCount = 0;
    p->absent = 0;
    return p;
}

void parserClose(ParserObj *p)
{
    delete p;
}

int parserIsVarName(const char *name)
{
    if (std::isdigit((unsigned char)name[0]) || name[0] == '~')
        return 0;
    if ((name[0] == '+' || name[0] == '-')
            && std::isdigit((unsigned char)name[1]))
        return 0;
    return 1;
}

/* ---------------------------------------------------------------------
 * Evaluation routines
 * --------------------------------------------------------------------- */

static double &item(ParserObj *p, int i)
{
    return i < 0 ? p->absent : p->items[i].value;
}

static int evalAdd(ParserObj *p, const ParserInstr *in)
{
    item(p, in->result) = item(p, in->first) + item(p, in->second);
    return 1;
}

static int evalSubtract(ParserObj *p, const ParserInstr *in)
{
    item(p, in->result) = item(p, in->first) - item(p, in->second);
    return 1;
}

static int evalMultiply(ParserObj *p, const ParserInstr *in)
{
    item(p, in->result) = item(p, in->first) * item(p, in->second);
    return 1;
}

static int evalDivide(ParserObj *p, const ParserInstr *in)
{
    item(p, in->result) = item(p, in->first) / item(p, in->second);
    return 1;
}

static int evalPower(ParserObj *p, const ParserInstr *in)
{
    item(p, in->result) = std::pow(item(p, in->first), item(p, in->second));
    return 1;
}

static int evalNegate(ParserObj *p, const ParserInstr *in)
{
    item(p, in->result) = -item(p, in->first);
    return 1;
}

static int evalAssign(ParserObj *p, const ParserInstr *in)
{
    item(p, in->first) = item(p, in->second);
    return 1;
}

static ParserRoutine *routineOf(const char *opr)
{
    static const struct {
        const char *opr;
        ParserRoutine *routine;
    } routines[] = {
        {"+", evalAdd}, {"-", evalSubtract}, {"*", evalMultiply},
        {"/", evalDivide}, {"^", evalPower}, {"neg", evalNegate},
        {"=", evalAssign},
    };
    for (const auto &r : routines)
        if (std::strcmp(r.opr, opr) == 0)
            return r.routine;
    return nullptr;
}

/* ---------------------------------------------------------------------
 * Translation
 * --------------------------------------------------------------------- */

/* The item of name, added when new; -1 for an absent operand, 0 (with
 * a message) when the table is full. */
static int itemOf(ParserObj *p, const char *name)
{
    if (!name[0])
        return -1;
    for (int i = 0; i < p->itemCount; i++)
        if (std::strcmp(p->items[i].name, name) == 0)
            return i;
    if (p->itemCount >= PARSER_MAX_ITEMS) {
        stderrPrintf("Items overlow.\n");
        return 0;
    }
    ParserItem &it = p->items[p->itemCount];
    std::strcpy(it.name, name);
    /* Constants start as their number; variables and temporaries at 0. */
    it.value = !parserIsVarName(name) && name[0] != '~'
                   ? std::strtod(name, nullptr) : 0.0;
    if (parserIsVarName(name))
        p->variables.push_back(p->itemCount);
    return p->itemCount++;
}

static int variablePosition(ParserObj *p, const char *name)
{
    for (size_t k = 0; k < p->variables.size(); k++)
        if (std::strcmp(p->items[p->variables[k]].name, name) == 0)
            return (int)k;
    return (int)p->variables.size();
}

/* Adds one statement's names to the items, then its instructions.
 * Returns false (instructions of the statement taken back) when an
 * operator has no routine. */
static bool addInstructions(ParserObj *p, const SymbNode *list)
{
    std::vector<ParserInstr> added;
    for (const SymbNode *s = list; s; s = s->next) {
        ParserInstr in;
        in.result = itemOf(p, s->result);
        in.first = itemOf(p, s->first);
        in.second = itemOf(p, s->second);
        in.routine = routineOf(s->opr);
        added.push_back(in);
    }
    const SymbNode *s = list;
    for (const ParserInstr &in : added) {
        if (!in.routine) {
            stderrPrintf("fail to solve opr: %s\n", s->opr);
            stderrPrintf("fail to create instrunction\n");
            return false;
        }
        s = s->next;
    }
    p->instrs.insert(p->instrs.end(), added.begin(), added.end());
    return true;
}

int parserExpr(ParserObj *p, const char *text)
{
    ExprNode *tree = exprToTree(text);
    if (!tree && exprStatus() == EXPR_NONE)
        return -2;
    std::string assigned;
    bool anyAssignment = false;
    while (tree) {
        if (std::strcmp(tree->text, "=") == 0 && tree->left
                && !tree->left->left && !tree->left->right) {
            assigned = tree->left->text;
            anyAssignment = true;
        } else {
            stderrPrintf("incomplete expression\n");
        }
        resetTempVar();
        SymbNode *list = treeToSymbList(tree);
        if (!list) {
            stderrPrintf("fail to create symbol list\n");
            return -1;
        }
        for (const SymbNode *s = list; s; s = s->next)
            stdoutPrintf("%s %s %s %s\n", s->result, symbText(s->first),
                         s->opr, symbText(s->second));
        bool ok = addInstructions(p, list);
        freeSymbList(list);
        if (!ok)
            return -1;
        tree = exprToTree(nullptr);
    }
    if (exprStatus() == EXPR_ERROR)
        return -1;
    if (!anyAssignment)
        return (int)p->variables.size();
    return variablePosition(p, assigned.c_str());
}

void parserExec(ParserObj *p)
{
    size_t n = p->instrs.size();
    for (size_t i = 0; i < n;) {
        const ParserInstr &in = p->instrs[i];
        i += (size_t)in.routine(p, &in);
    }
}

/* ---------------------------------------------------------------------
 * Access
 * --------------------------------------------------------------------- */

int parserGetVarCount(ParserObj *p)
{
    return (int)p->variables.size();
}

const char *parserGetNthVarName(ParserObj *p, int n)
{
    if (n < 0 || n >= (int)p->variables.size())
        return nullptr;
    return p->items[p->variables[n]].name;
}

double *parserGetNthDataPtr(ParserObj *p, int n)
{
    if (n < 0 || n >= (int)p->variables.size())
        return nullptr;
    return &p->items[p->variables[n]].value;
}

double *getDataPtByName(ParserObj *p, const char *name)
{
    for (int i = 0; i < p->itemCount; i++)
        if (std::strcmp(p->items[i].name, name) == 0)
            return &p->items[i].value;
    return nullptr;
}

int parserGetItemCount(ParserObj *p)
{
    return p->itemCount;
}

const char *parserGetItemName(ParserObj *p, int i)
{
    return i >= 0 && i < p->itemCount ? p->items[i].name : nullptr;
}

double *parserGetItemPtr(ParserObj *p, int i)
{
    return i >= 0 && i < p->itemCount ? &p->items[i].value : nullptr;
}

int parserGetInstrCount(ParserObj *p)
{
    return (int)p->instrs.size();
}
