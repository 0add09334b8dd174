/*
 * exerciseExpr.h --
 *
 *	Runs one text through every stage of the expression parser: the
 *	tokenizer, the trees and symbol lists of its statements, and a parser
 *	object that translates and executes it.  Shared by the expression
 *	fuzz target and the unit test that replays its corpus.
 */
#ifndef VELK_FUZZ_EXERCISEEXPR_H
#define VELK_FUZZ_EXERCISEEXPR_H

/*
 * exerciseExpression --
 *	Tokenises, parses, translates and runs text.
 * Results:
 *	What parserExpr returned for it.
 */
int exerciseExpression(const char *text);

#endif
