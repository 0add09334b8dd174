/*
 * etranDrivers.cpp --
 *
 *	Interactive test drivers of the expression parser, reading lines from
 *	the process's standard input channel and printing through the
 *	package's standard output.  parser0 runs the older two-stack parser
 *	(token classes and priorities of etranToken.h); parser1 to parser3
 *	show the trees, the symbol lists, the items and timed runs of the
 *	parser object.
 */
#include "expr/etranDrivers.h"

#include <tcl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/stdstream.h"
#include "expr/etranEval.h"
#include "expr/etranParse.h"
#include "expr/etranToken.h"

/* Prints prompt, then reads one line of standard input into line.
 * Returns false at the end of the input. */
static bool promptLine(const char *prompt, std::string &line)
{
    stdoutPrintf("%s", prompt);
    Tcl_Channel out = Tcl_GetStdChannel(TCL_STDOUT);
    if (out)
        Tcl_Flush(out);
    Tcl_Channel in = Tcl_GetStdChannel(TCL_STDIN);
    if (!in)
        return false;
    Tcl_Obj *obj = Tcl_NewObj();
    Tcl_IncrRefCount(obj);
    bool ok = Tcl_GetsObj(in, obj) >= 0;
    if (ok)
        line = Tcl_GetString(obj);
    Tcl_DecrRefCount(obj);
    return ok;
}

static double promptValue(const char *prompt)
{
    std::string line;
    return promptLine(prompt, line) ? std::atof(line.c_str()) : 0.0;
}

/* ---------------------------------------------------------------------
 * parser0: the older two-stack parser
 * --------------------------------------------------------------------- */

/* Pops an operator and its operands and pushes "(a op b)". */
static void reduce(std::vector<std::string> &operators,
                   std::vector<std::string> &operands)
{
    std::string op = operators.back();
    operators.pop_back();
    std::string b, a;
    if (!operands.empty()) {
        b = operands.back();
        operands.pop_back();
    }
    if (!operands.empty()) {
        a = operands.back();
        operands.pop_back();
    }
    operands.push_back("(" + a + " " + op + " " + b + ")");
}

static void printStacks(const std::vector<std::string> &operators,
                        const std::vector<std::string> &operands)
{
    stdoutPrintf("Operator stack:");
    for (const std::string &s : operators)
        stdoutPrintf(" %s", s.c_str());
    stdoutPrintf("\nOperand stack:");
    for (const std::string &s : operands)
        stdoutPrintf(" %s", s.c_str());
    stdoutPrintf("\n");
}

void etranStackDriver(void)
{
    std::string line;
    if (!promptLine("Input expression: ", line))
        return;
    std::vector<std::string> operators, operands;
    for (const char *t = nextToken(line.c_str()); t; t = nextToken(nullptr)) {
        switch (getTClass(t)) {
        case 1:
            while (!operators.empty() && getTClass(operators.back().c_str())
                       == 1
                   && getPriority(operators.back().c_str()) >= getPriority(t))
                reduce(operators, operands);
            operators.push_back(t);
            break;
        case 2:
            operators.push_back(t);
            break;
        case 4:
            while (!operators.empty()
                   && getTClass(operators.back().c_str()) != 2)
                reduce(operators, operands);
            if (!operators.empty())
                operators.pop_back();
            break;
        case 32:
            while (!operators.empty()
                   && getTClass(operators.back().c_str()) != 2)
                reduce(operators, operands);
            printStacks(operators, operands);
            operators.clear();
            operands.clear();
            break;
        default:
            operands.push_back(t);
            break;
        }
    }
    while (!operators.empty() && getTClass(operators.back().c_str()) != 2)
        reduce(operators, operands);
    printStacks(operators, operands);
}

/* ---------------------------------------------------------------------
 * parser1 .. parser3
 * --------------------------------------------------------------------- */

/* The tree sideways: right subtree above, left below, two blanks of
 * indentation per level.  Without recursion: a chain of operators makes
 * a deep tree. */
static void printTree(const ExprNode *root)
{
    struct Pending {
        const ExprNode *node;
        int depth;
        bool expanded;
    };
    std::vector<Pending> stack;
    if (root)
        stack.push_back({root, 1, false});
    while (!stack.empty()) {
        Pending top = stack.back();
        stack.pop_back();
        if (top.expanded) {
            stdoutPrintf("%*s%s (%d)\n", top.depth * 2, "", top.node->text,
                         top.node->priority);
            continue;
        }
        if (top.node->left)
            stack.push_back({top.node->left, top.depth + 1, false});
        stack.push_back({top.node, top.depth, true});
        if (top.node->right)
            stack.push_back({top.node->right, top.depth + 1, false});
    }
}

static void printSymbList(const SymbNode *list)
{
    for (const SymbNode *s = list; s; s = s->next)
        stdoutPrintf("%s %s %s %s\n", s->result, symbText(s->first), s->opr,
                     symbText(s->second));
}

void etranTreeDriver(void)
{
    std::string line;
    if (!promptLine("Input expression: ", line))
        return;
    stdoutPrintf("Expression: %s\n", line.c_str());
    for (ExprNode *tree = exprToTree(line.c_str()); tree;
         tree = exprToTree(nullptr)) {
        stdoutPrintf("Tree:\n");
        printTree(tree);
        stdoutPrintf("Symbol list:\n");
        SymbNode *list = treeToSymbList(tree);
        printSymbList(list);
        freeSymbList(list);
    }
}

static void printVariables(ParserObj *p)
{
    for (int n = 0; n < parserGetVarCount(p); n++)
        stdoutPrintf("%s = %13.3f\n", parserGetNthVarName(p, n),
                     *parserGetNthDataPtr(p, n));
}

/* Asks for the value of every variable. */
static void readVariables(ParserObj *p, const char *format)
{
    for (int n = 0; n < parserGetVarCount(p); n++) {
        std::string prompt(64 + EXPR_NAME_MAX, '\0');
        prompt.resize((size_t)std::snprintf(&prompt[0], prompt.size(), format,
                                            parserGetNthVarName(p, n)));
        *parserGetNthDataPtr(p, n) = promptValue(prompt.c_str());
    }
}

void etranItemDriver(void)
{
    std::string line;
    if (!promptLine("Input expression: ", line))
        return;
    ParserObj *p = parserOpen();
    if (!p)
        return;
    if (parserExpr(p, line.c_str()) == -1) {
        stdoutPrintf("parser error.\n");
    } else {
        readVariables(p, "Input value for %s: ");
        parserExec(p);
        for (int i = 0; i < parserGetItemCount(p); i++)
            stdoutPrintf("%s = %13.3f\n", parserGetItemName(p, i),
                         *parserGetItemPtr(p, i));
    }
    parserClose(p);
}

void etranProgramDriver(void)
{
    ParserObj *p = parserOpen();
    if (!p)
        return;
    int left = -2;
    std::string line;
    while (promptLine("Statement: ", line) && line != "end") {
        int rc = parserExpr(p, line.c_str());
        if (rc == -1) {
            stdoutPrintf("parser error.\n");
            parserClose(p);
            return;
        }
        if (rc >= 0)
            left = rc;
    }
    readVariables(p, "%s ? ");
    int count = (int)promptValue("Repetitions ? ");
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; i++)
        parserExec(p);
    std::chrono::duration<double> used =
        std::chrono::steady_clock::now() - start;
    long long operations = (long long)count * parserGetInstrCount(p);
    stdoutPrintf("Time used: %13.3f for total of %d operations\n",
                 used.count(),
                 (int)std::min<long long>(operations, INT_MAX));
    printVariables(p);
    if (left >= 0 && left < parserGetVarCount(p))
        stdoutPrintf("leftVar: %s = %13.3f\n", parserGetNthVarName(p, left),
                     *parserGetNthDataPtr(p, left));
    parserClose(p);
}
