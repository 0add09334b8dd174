/*
 * conStream.h --
 *
 *	Console input and output routines: text for standard output or error
 *	is evaluated as "puts -nonewline" (or, in console mode, the console's
 *	output script) in the stdio interpreter.
 */
#ifndef VELK_CONSTREAM_H
#define VELK_CONSTREAM_H

#include <tcl.h>

#define CON_STDIN 2
#define CON_STDOUT 4
#define CON_STDERR 8

extern int consoleApp;              /* 1: console mode */
extern int unblockConsolePrint;     /* 1: pump events after each print */

int consolePuts(int which, const char *text, int length);
int consoleGets(Tcl_DString *line);
/* Deletes all console windows and interpreters (exit handler). */
void conDeleteAll(void);

#endif
