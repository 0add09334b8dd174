/*
 * etranToken.cpp --
 *
 *	The token definition table and the tokenizer of the expression
 *	language.  A new text is split into all of its tokens at once (each
 *	with the read position after it); nextToken then hands them out one
 *	by one.  The state is process-wide, as the parser built on it.  Also
 *	the older token classifier and priority table, kept for the stack
 *	driver of `etran parser0`.
 */
#include "expr/etranToken.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

struct TokenDef {
    const char *text;   /* null for the name and number entries */
    int type;
    int nvars;          /* operand count */
    int priority;
};

/* Searched in order; the index is the token id (entry 0 is unused). */
static const TokenDef tkDef[] = {
    {nullptr, 0, 0, 0},
    {"=", TOKEN_OPERATOR, 1, 0},
    {"+", TOKEN_OPERATOR, 1, 2},
    {"-", TOKEN_OPERATOR, 1, 2},
    {"*", TOKEN_OPERATOR, 2, 3},
    {"/", TOKEN_OPERATOR, 1, 3},
    {"idiv", TOKEN_OPERATOR, 1, 3},
    {"lini", TOKEN_OPERATOR, 4, 3},
    {"%", TOKEN_OPERATOR, 1, 3},
    {"rand", TOKEN_OPERATOR, 1, 3},
    {"==", TOKEN_OPERATOR, 3, 1},
    {">=", TOKEN_OPERATOR, 3, 1},
    {"<=", TOKEN_OPERATOR, 3, 1},
    {">", TOKEN_OPERATOR, 3, 1},
    {"<", TOKEN_OPERATOR, 3, 1},
    {"&", TOKEN_OPERATOR, 1, 4},
    {"|", TOKEN_OPERATOR, 1, 4},
    {"xor", TOKEN_OPERATOR, 1, 4},
    {"^", TOKEN_OPERATOR, 1, 4},
    {"init", TOKEN_OPERATOR, 1, 5},
    {"initx", TOKEN_OPERATOR, 0, 5},
    {"inity", TOKEN_OPERATOR, 0, 5},
    {"initxy", TOKEN_OPERATOR, 0, 5},
    {"ring", TOKEN_OPERATOR, 0, 5},
    {"!", TOKEN_OPERATOR, 0, 5},
    {"max", TOKEN_OPERATOR, 1, 5},
    {"min", TOKEN_OPERATOR, 1, 5},
    {"neg", TOKEN_OPERATOR, 1, 5},
    {"(", TOKEN_OPEN_PAREN, 0, 0},
    {")", TOKEN_CLOSE_PAREN, 0, 0},
    {"{", TOKEN_OPEN_BRACE, 0, 0},
    {"}", TOKEN_CLOSE_BRACE, 0, 0},
    {";", TOKEN_END, 0, 0},
    {nullptr, TOKEN_NAME, 0, TOKEN_LEAF_PRIORITY},
    {nullptr, TOKEN_NUMBER, 0, TOKEN_LEAF_PRIORITY},
};
static const int tkDefCount = (int)(sizeof tkDef / sizeof tkDef[0]);

/* ---------------------------------------------------------------------
 * Tokenizer state: the text, its tokens, and the index of the next one.
 * --------------------------------------------------------------------- */

struct Token {
    std::string text;
    int end;            /* read position after the token */
};

static std::string input;
static std::vector<Token> tokens;
static size_t nextIndex;

static bool isBlank(char c)
{
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

/* Splits text into tokens.  Blanks end a token; ! % & ( ) * / ; ^ { | }
 * are tokens of their own; < = > are too, joined with a following "=";
 * + and - stand alone except inside an exponent (a token of two or more
 * characters that starts with a digit and ends in e or E) and after a
 * token of two or more characters ending in ",", where they are part of
 * the token; everything else is part of the current token. */
static void tokenise(const std::string &s)
{
    tokens.clear();
    std::string cur;
    auto endCurrent = [&](size_t at) {
        if (!cur.empty()) {
            tokens.push_back({cur, (int)at});
            cur.clear();
        }
    };
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i];
        if (isBlank(c)) {
            endCurrent(i);
        } else if (std::strchr("!%&()*/;^{|}", c)) {
            endCurrent(i);
            tokens.push_back({std::string(1, c), (int)i + 1});
        } else if (c == '<' || c == '=' || c == '>') {
            endCurrent(i);
            if (i + 1 < s.size() && s[i + 1] == '=') {
                tokens.push_back({std::string(1, c) + "=", (int)i + 2});
                i++;
            } else {
                tokens.push_back({std::string(1, c), (int)i + 1});
            }
        } else if (c == '+' || c == '-') {
            bool exponent = cur.size() >= 2
                            && std::isdigit((unsigned char)cur[0])
                            && (cur.back() == 'e' || cur.back() == 'E');
            bool afterComma = cur.size() >= 2 && cur.back() == ',';
            if (exponent || afterComma) {
                cur += c;
            } else {
                endCurrent(i);
                tokens.push_back({std::string(1, c), (int)i + 1});
            }
        } else {
            cur += c;
        }
    }
    endCurrent(s.size());
}

void tokenStart(const char *text)
{
    input = text;
    tokenise(input);
    nextIndex = 0;
}

const char *nextToken(const char *text)
{
    if (text)
        tokenStart(text);
    if (nextIndex >= tokens.size())
        return nullptr;
    return tokens[nextIndex++].text.c_str();
}

const char *prevToken(void)
{
    return nextIndex >= 2 ? tokens[nextIndex - 2].text.c_str() : nullptr;
}

const char *concatToken(void)
{
    if (nextIndex == 0 || nextIndex >= tokens.size())
        return nullptr;
    Token &current = tokens[nextIndex - 1];
    current.text += tokens[nextIndex].text;
    current.end = tokens[nextIndex].end;
    tokens.erase(tokens.begin() + (long)nextIndex);
    return current.text.c_str();
}

const char *tokenText(void)
{
    return input.c_str();
}

int tokenPosition(void)
{
    if (nextIndex == 0)
        return 0;
    return tokens[nextIndex - 1].end;
}

/* ---------------------------------------------------------------------
 * Table lookups
 * --------------------------------------------------------------------- */

int tokenGetID(const char *text)
{
    for (int id = 1; id < tkDefCount; id++)
        if (tkDef[id].text && std::strcmp(tkDef[id].text, text) == 0)
            return id;
    return std::isdigit((unsigned char)text[0]) ? TOKEN_ID_NUMBER
                                                : TOKEN_ID_NAME;
}

int tokenGetType(int id)
{
    return id > 0 && id < tkDefCount ? tkDef[id].type : 0;
}

int tokenGetnVars(int id)
{
    return id > 0 && id < tkDefCount ? tkDef[id].nvars : 0;
}

int tokenGetPriority(int id)
{
    return id > 0 && id < tkDefCount ? tkDef[id].priority : 0;
}

const char *tokenGetText(int id)
{
    return id > 0 && id < tkDefCount ? tkDef[id].text : nullptr;
}

/* ---------------------------------------------------------------------
 * The older classifier and priority table
 * --------------------------------------------------------------------- */

static bool isOneOf(const char *token, const char *const *words)
{
    for (; *words; words++)
        if (std::strcmp(token, *words) == 0)
            return true;
    return false;
}

static int builtinTClass(const char *token)
{
    static const char *const operators[] = {
        "+", "-", "*", "/", "^", "=", "%", "!", "==", ">", ">=", "<", "<=",
        "rand", "inity", "initx", "initxy", "ring", "min", "max", nullptr};
    if (std::strcmp(token, ")") == 0 || std::strcmp(token, "}") == 0)
        return 4;
    if (std::strcmp(token, "(") == 0 || std::strcmp(token, "{") == 0)
        return 2;
    if (std::strcmp(token, ";") == 0)
        return 32;
    return isOneOf(token, operators) ? 1 : 16;
}

static int builtinPriority(const char *token)
{
    static const struct {
        const char *const words[9];
        int priority;
    } levels[] = {
        {{"=", nullptr}, 0},
        {{"+", "-", nullptr}, 2},
        {{"*", "/", "idiv", "%", "rand", nullptr}, 3},
        {{"==", ">=", "<=", ">", "<", nullptr}, 1},
        {{"&", "|", "^", nullptr}, 4},
        {{"initx", "inity", "initxy", "ring", "!", "max", "min", "neg",
          nullptr}, 5},
    };
    for (const auto &level : levels)
        if (isOneOf(token, level.words))
            return level.priority;
    return TOKEN_LEAF_PRIORITY;
}

static TokenClassProc *classProc = builtinTClass;
static TokenPriorityProc *priorityProc = builtinPriority;

int getTClass(const char *token)
{
    return classProc(token);
}

int getPriority(const char *token)
{
    return priorityProc(token);
}

TokenClassProc *setTClassProc(TokenClassProc *proc)
{
    TokenClassProc *old = classProc;
    classProc = proc ? proc : builtinTClass;
    return old;
}

TokenPriorityProc *setPriorityProc(TokenPriorityProc *proc)
{
    TokenPriorityProc *old = priorityProc;
    priorityProc = proc ? proc : builtinPriority;
    return old;
}
