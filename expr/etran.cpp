/*
 * etran.cpp --
 *
 *	Start-up of the expression evaluator.  The evaluator is not built yet,
 *	so nothing is registered.
 */
#include "etran.h"

int Etran_Init(Tcl_Interp *)
{
    return 0;
}
