/*
 * etranDrivers.h --
 *
 *	The interactive test drivers behind `etran parser0` ... `parser3`:
 *	they read from standard input and print on standard output.
 */
#ifndef VELK_ETRANDRIVERS_H
#define VELK_ETRANDRIVERS_H

/* parser0: the operator and operand stacks of the older stack parser. */
void etranStackDriver(void);
/* parser1: an expression, its trees and symbol lists. */
void etranTreeDriver(void);
/* parser2: translation, values of the variables, one run, the items. */
void etranItemDriver(void);
/* parser3: statements until "end", values, a repetition count, timed
 * runs and the variables. */
void etranProgramDriver(void);

#endif
