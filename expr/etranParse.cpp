/*
 * etranParse.cpp --
 *
 *	Priority parser and three-address code of the expression language,
 *	over the tokenizer of etranToken.cpp.  A statement's tree grows one
 *	operator at a time: an operator that binds no tighter than the root
 *	becomes the new root; otherwise it descends the right spine past the
 *	looser nodes and takes over the right child of the last of them.
 *	Equal priorities therefore associate to the left, and a bracketed
 *	subtree (priority 1000) is never entered.  Brackets nest at most 64
 *	deep, so the recursion is bounded; flattening and freeing walk the
 *	tree without recursion, as a long chain of operators makes a deep
 *	left spine.
 */
#include "expr/etranParse.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/stdstream.h"
#include "expr/etranToken.h"

#define BRACKET_MAX 64

static int status = EXPR_NONE;
static std::string errorText;
static char brackets[BRACKET_MAX];   /* 1 parenthesis, 0 brace */
static int bracketDepth;
static int tempCounter;

int exprStatus(void)
{
    return status;
}

const char *exprError(void)
{
    return errorText.c_str();
}

void resetTempVar(void)
{
    tempCounter = 0;
}

/* Prints "\nError: message\n<text>\n" and a caret under the last
 * character of the current token (counted from the start of its line);
 * marks the parse failed.  Returns null for the callers' convenience. */
static ExprNode *parseError(const char *message)
{
    status = EXPR_ERROR;
    errorText = message;
    const char *text = tokenText();
    int position = tokenPosition();
    int lineStart = position;
    while (lineStart > 0 && text[lineStart - 1] != '\n')
        lineStart--;
    int blanks = position - lineStart - 1;
    std::string caret(blanks > 0 ? (size_t)blanks : 0, ' ');
    stderrPrintf("\nError: %s\n%s\n%s^\n", message, text, caret.c_str());
    return nullptr;
}

static ExprNode *newNode(const char *text, int priority, ExprNode *left,
                         ExprNode *right)
{
    ExprNode *n = new ExprNode;
    std::snprintf(n->text, sizeof n->text, "%s", text);
    n->priority = priority;
    n->left = left;
    n->right = right;
    return n;
}

void freeExprTree(ExprNode *tree)
{
    std::vector<ExprNode *> pending;
    if (tree)
        pending.push_back(tree);
    while (!pending.empty()) {
        ExprNode *n = pending.back();
        pending.pop_back();
        if (n->left)
            pending.push_back(n->left);
        if (n->right)
            pending.push_back(n->right);
        delete n;
    }
}

/* A leaf of a name or number; a text too long for a node is an error. */
static ExprNode *leaf(const std::string &text)
{
    if (text.size() > EXPR_NAME_MAX)
        return parseError("name too long.");
    return newNode(text.c_str(), TOKEN_LEAF_PRIORITY, nullptr, nullptr);
}

static ExprNode *exprTree(bool nested);

/* Parses the term starting with token (not null). */
static ExprNode *exprTerm(const char *token)
{
    int id = tokenGetID(token);
    /* A unary "+" changes nothing. */
    while (id == 2) {
        token = nextToken(nullptr);
        if (!token)
            return parseError("unary operator missing variable.");
        id = tokenGetID(token);
    }
    int type = tokenGetType(id);
    switch (type) {
    case TOKEN_NAME:
    case TOKEN_NUMBER:
        return leaf(token);
    case TOKEN_OPEN_PAREN:
    case TOKEN_OPEN_BRACE: {
        if (bracketDepth >= BRACKET_MAX)
            return parseError("too many nested brackets.");
        brackets[bracketDepth++] = type == TOKEN_OPEN_PAREN ? 1 : 0;
        ExprNode *sub = exprTree(true);
        if (sub)
            sub->priority = EXPR_GROUP_PRIORITY;
        return sub;
    }
    case TOKEN_CLOSE_PAREN:
    case TOKEN_CLOSE_BRACE:
        return parseError(
            "Unexpected right parenthese or bracket in exprTerm");
    case TOKEN_END:
        return parseError("opr syntax.");
    default:
        break;
    }
    if (id == 3) {
        const char *next = nextToken(nullptr);
        if (!next)
            return parseError("unary operator missing variable.");
        int nextType = tokenGetType(tokenGetID(next));
        if (nextType == TOKEN_NUMBER)
            return leaf(std::string("-") + next);
        if (nextType == TOKEN_NAME) {
            ExprNode *operand = leaf(next);
            if (!operand)
                return nullptr;
            return newNode("neg", tokenGetPriority(TOKEN_ID_NEG), operand,
                           nullptr);
        }
        return parseError("expected a NUM or a VAR");
    }
    return parseError("unexpected operator.");
}

/* Puts operator node op (its left still empty) into tree; returns the
 * new root. */
static ExprNode *insertOperator(ExprNode *tree, ExprNode *op)
{
    if (tree->priority >= op->priority) {
        op->left = tree;
        return op;
    }
    ExprNode *parent = tree;
    while (parent->right && parent->right->priority < op->priority)
        parent = parent->right;
    op->left = parent->right;
    parent->right = op;
    return tree;
}

/* Reads a close bracket of type (TOKEN_CLOSE_PAREN or _BRACE) against
 * the bracket stack.  Returns false after reporting a mismatch. */
static bool closeBracket(int type)
{
    if (bracketDepth <= 0) {
        parseError("Unexpected right parenthese or bracket in exprTree");
        return false;
    }
    char open = brackets[bracketDepth - 1];
    if (type == TOKEN_CLOSE_PAREN && open != 1) {
        parseError("unmatch right parenthses");
        return false;
    }
    if (type == TOKEN_CLOSE_BRACE && open != 0) {
        parseError("unmatch right bracket");
        return false;
    }
    bracketDepth--;
    return true;
}

/* Parses a statement (nested: a bracketed subtree, up to its close). */
static ExprNode *exprTree(bool nested)
{
    const char *token = nextToken(nullptr);
    if (!token) {
        if (nested)
            return parseError("missing right parenthese or bracket");
        status = EXPR_NONE;
        return nullptr;
    }
    if (!nested && tokenGetType(tokenGetID(token)) == TOKEN_END)
        return parseError("empty line.");
    ExprNode *tree = exprTerm(token);
    if (!tree)
        return nullptr;
    for (;;) {
        token = nextToken(nullptr);
        int id = token ? tokenGetID(token) : 0;
        int type = token ? tokenGetType(id) : TOKEN_END;
        if (type == TOKEN_END) {
            if (!nested)
                return tree;
            freeExprTree(tree);
            return parseError("missing right parenthese or bracket");
        }
        if (type == TOKEN_CLOSE_PAREN || type == TOKEN_CLOSE_BRACE) {
            /* At the outer level the stack is empty: always an error. */
            if (!closeBracket(type)) {
                freeExprTree(tree);
                return nullptr;
            }
            return tree;
        }
        if (type != TOKEN_OPERATOR) {
            freeExprTree(tree);
            return parseError("unexpected token in exprTree");
        }
        ExprNode *term = nullptr;
        if (tokenGetnVars(id) >= 1) {
            const char *next = nextToken(nullptr);
            term = next ? exprTerm(next) : parseError("opr syntax.");
            if (!term) {
                freeExprTree(tree);
                return nullptr;
            }
        }
        ExprNode *op = newNode(token, tokenGetPriority(id), nullptr, term);
        tree = insertOperator(tree, op);
    }
}

ExprNode *exprToTree(const char *text)
{
    if (text)
        tokenStart(text);
    status = EXPR_OK;
    errorText.clear();
    bracketDepth = 0;
    return exprTree(false);
}

/* ---------------------------------------------------------------------
 * Three-address code
 * --------------------------------------------------------------------- */

static bool isLeaf(const ExprNode *n)
{
    return !n->left && !n->right;
}

static bool isTemporary(const ExprNode *n)
{
    return n && n->text[0] == '~';
}

/* Turns operator node n, whose children are leaves, into a leaf holding
 * its result; the instruction goes to *tail. */
static void emitNode(ExprNode *n, SymbNode ***tail)
{
    SymbNode *s = new SymbNode;
    std::snprintf(s->opr, sizeof s->opr, "%s", n->text);
    std::snprintf(s->first, sizeof s->first, "%s",
                  n->left ? n->left->text : "");
    std::snprintf(s->second, sizeof s->second, "%s",
                  n->right ? n->right->text : "");
    if (isTemporary(n->left))
        std::snprintf(s->result, sizeof s->result, "%s", n->left->text);
    else if (isTemporary(n->right))
        std::snprintf(s->result, sizeof s->result, "%s", n->right->text);
    else
        std::snprintf(s->result, sizeof s->result, "~t%d", tempCounter++);
    s->next = nullptr;
    **tail = s;
    *tail = &s->next;
    delete n->left;
    delete n->right;
    n->left = n->right = nullptr;
    std::snprintf(n->text, sizeof n->text, "%s", s->result);
}

SymbNode *treeToSymbList(ExprNode *tree)
{
    SymbNode *list = nullptr, **tail = &list;
    /* Post-order without recursion: a node is emitted when both of its
     * children have become leaves. */
    std::vector<ExprNode *> stack;
    if (tree && !isLeaf(tree))
        stack.push_back(tree);
    while (!stack.empty()) {
        ExprNode *n = stack.back();
        if (n->left && !isLeaf(n->left)) {
            stack.push_back(n->left);
        } else if (n->right && !isLeaf(n->right)) {
            stack.push_back(n->right);
        } else {
            emitNode(n, &tail);
            stack.pop_back();
        }
    }
    freeExprTree(tree);
    return list;
}

void freeSymbList(SymbNode *list)
{
    while (list) {
        SymbNode *next = list->next;
        delete list;
        list = next;
    }
}

const char *symbText(const char *operand)
{
    return operand[0] ? operand : "null";
}
