/*
 * etranParse.h --
 *
 *	The priority parser of assignment statements and their three-address
 *	code.  exprToTree reads one statement of the tokenizer's text into a
 *	tree; treeToSymbList flattens a tree into a list of (result,
 *	operator, first, second) nodes over temporaries "~t0", "~t1", ...
 *	Parse errors print a diagnostic with a caret on standard error.
 *	Process-wide state (tokenizer, bracket stack, temporary counter):
 *	not reentrant.
 */
#ifndef VELK_ETRANPARSE_H
#define VELK_ETRANPARSE_H

/* Longest token text a tree or symbol node holds. */
#define EXPR_NAME_MAX 31

/* Priority of a parenthesised or braced subtree. */
#define EXPR_GROUP_PRIORITY 1000

struct ExprNode {
    char text[EXPR_NAME_MAX + 1];   /* token, or a temporary's name */
    int priority;
    ExprNode *left, *right;         /* both null for a leaf */
};

/* One instruction of three-address code; an absent operand is "". */
struct SymbNode {
    char result[EXPR_NAME_MAX + 1];
    char opr[EXPR_NAME_MAX + 1];
    char first[EXPR_NAME_MAX + 1];
    char second[EXPR_NAME_MAX + 1];
    SymbNode *next;
};

/* Outcome of the last exprToTree call. */
enum {
    EXPR_OK = 0,        /* a statement was read */
    EXPR_NONE = 1,      /* the text holds no further statement */
    EXPR_ERROR = 2      /* a parse error was reported */
};

/*
 * exprToTree --
 *	Parses the next statement, starting a new text when text is not null.
 * Results:
 *	The tree, or null (exprStatus tells the end of the text from an
 *	error; exprError holds the error's message).
 */
ExprNode *exprToTree(const char *text);
int exprStatus(void);
const char *exprError(void);
void freeExprTree(ExprNode *tree);

/*
 * treeToSymbList --
 *	Flattens tree (post-order) into a symbol list and frees the tree.
 * Results:
 *	The list; null for a tree without operators.
 */
SymbNode *treeToSymbList(ExprNode *tree);
void freeSymbList(SymbNode *list);
/* The operand as printed: "null" for an absent one. */
const char *symbText(const char *operand);

/* Restarts the temporaries at "~t0". */
void resetTempVar(void);

#endif
