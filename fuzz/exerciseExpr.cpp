/*
 * exerciseExpr.cpp --
 *
 *	The body of the expression fuzz target (see exerciseExpr.h).  Every
 *	token, tree node and symbol node handed out is read, so a bad length
 *	or a dangling pointer shows up under AddressSanitizer.
 */
#include "fuzz/exerciseExpr.h"

#include <cstring>

#include "expr/etranEval.h"
#include "expr/etranParse.h"
#include "expr/etranToken.h"

int exerciseExpression(const char *text)
{
    volatile size_t sum = 0;
    for (const char *t = nextToken(text); t; t = nextToken(nullptr)) {
        sum += std::strlen(t);
        if (const char *p = prevToken())
            sum += std::strlen(p);
    }
    for (ExprNode *tree = exprToTree(text); tree; tree = exprToTree(nullptr)) {
        SymbNode *list = treeToSymbList(tree);
        for (const SymbNode *s = list; s; s = s->next)
            sum += std::strlen(s->result) + std::strlen(s->opr)
                   + std::strlen(s->first) + std::strlen(s->second);
        freeSymbList(list);
    }
    sum += std::strlen(exprError());

    ParserObj *p = parserOpen();
    if (!p)
        return -1;
    int rc = parserExpr(p, text);
    for (int n = 0; n < parserGetVarCount(p); n++)
        *parserGetNthDataPtr(p, n) = n + 0.5;
    parserExec(p);
    for (int n = 0; n < parserGetVarCount(p); n++) {
        double *v = getDataPtByName(p, parserGetNthVarName(p, n));
        sum += v && *v == *v;
    }
    parserClose(p);
    (void)sum;
    return rc;
}
