/*
 * etranToken.h --
 *
 *	The words of the expression language: the token definition table
 *	(text, type, operand count, priority; the index is the token id),
 *	the process-wide tokenizer over one text at a time, and the older
 *	classifier and priority table of the stack-based test driver, both
 *	replaceable.
 */
#ifndef VELK_ETRANTOKEN_H
#define VELK_ETRANTOKEN_H

/* Token types. */
enum {
    TOKEN_OPERATOR = 1,
    TOKEN_OPEN_PAREN = 2,
    TOKEN_CLOSE_PAREN = 4,
    TOKEN_NUMBER = 8,
    TOKEN_NAME = 16,
    TOKEN_END = 32,
    TOKEN_OPEN_BRACE = 64,
    TOKEN_CLOSE_BRACE = 128
};

/* Ids of the entries the parser names. */
enum {
    TOKEN_ID_ASSIGN = 1,
    TOKEN_ID_NEG = 27,
    TOKEN_ID_NAME = 33,
    TOKEN_ID_NUMBER = 34
};

/* Priority of a leaf (name or number). */
#define TOKEN_LEAF_PRIORITY 6

/* Starts tokenising text: the next nextToken(null) gives its first
 * token. */
void tokenStart(const char *text);
/* Starts tokenising text when it is not null; returns the next token,
 * null at the end.  A token stays valid until the next text starts. */
const char *nextToken(const char *text);
/* The token before the current one, null when there is none. */
const char *prevToken(void);
/* Reads the next token and joins it to the current one; returns the
 * joined token (now the current one), null at the end. */
const char *concatToken(void);
/* The text being tokenised and the read position after the current
 * token (the end of the last token when the text is used up). */
const char *tokenText(void);
int tokenPosition(void);

/* Table lookups.  tokenGetID gives 33 for any other word not starting
 * with a digit and 34 for one starting with a digit; the getters give
 * 0 for an id outside the table. */
int tokenGetID(const char *text);
int tokenGetType(int id);
int tokenGetnVars(int id);
int tokenGetPriority(int id);
const char *tokenGetText(int id);

/* The older routines: class of a token (4 closing, 2 opening, 1
 * operator, 32 ";", 16 anything else) and its priority in the second
 * table.  The set functions install a replacement (null restores the
 * built-in one) and return the routine in use before. */
typedef int (TokenClassProc)(const char *token);
typedef int (TokenPriorityProc)(const char *token);
int getTClass(const char *token);
int getPriority(const char *token);
TokenClassProc *setTClassProc(TokenClassProc *proc);
TokenPriorityProc *setPriorityProc(TokenPriorityProc *proc);

#endif
