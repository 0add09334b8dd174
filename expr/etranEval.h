/*
 * etranEval.h --
 *
 *	The evaluator of the expression language: a parser object translates
 *	statements into instructions over a table of named double values
 *	(variables, constants and temporaries) and runs them.  Only the
 *	arithmetic operators (= + - * / ^ neg) have evaluation routines.
 */
#ifndef VELK_ETRANEVAL_H
#define VELK_ETRANEVAL_H

#define PARSER_MAX_ITEMS 256

struct ParserObj;

/* A new empty parser object, or null when out of memory. */
ParserObj *parserOpen(void);
void parserClose(ParserObj *p);

/*
 * parserExpr --
 *	Translates every statement of text and appends its instructions;
 *	prints each statement's symbol list on standard output.
 * Results:
 *	The index in the variable list of the name assigned by the last
 *	assignment (the variable count when there is none), -1 when a
 *	statement cannot be translated (the instructions of the statements
 *	before it stay), -2 when the text holds no statement.
 */
int parserExpr(ParserObj *p, const char *text);
/* Runs every instruction once. */
void parserExec(ParserObj *p);

int parserGetVarCount(ParserObj *p);
/* The n-th variable's name and the address of its value (null when n
 * is out of range). */
const char *parserGetNthVarName(ParserObj *p, int n);
double *parserGetNthDataPtr(ParserObj *p, int n);
/* The value of the item with this name, null when there is none. */
double *getDataPtByName(ParserObj *p, const char *name);

/* Every item (constants and temporaries too), for the test drivers. */
int parserGetItemCount(ParserObj *p);
const char *parserGetItemName(ParserObj *p, int i);
double *parserGetItemPtr(ParserObj *p, int i);
/* True when the item name is a variable: not a number ("1.5", "-2"),
 * not a temporary ("~t0"). */
int parserIsVarName(const char *name);
int parserGetInstrCount(ParserObj *p);

#endif
