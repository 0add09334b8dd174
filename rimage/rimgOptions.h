/*
 * rimgOptions.h --
 *
 *	A configuration-table engine over Tk_ConfigSpec tables that behaves
 *	like Tk_ConfigureWidget, Tk_ConfigureInfo and Tk_ConfigureValue
 *	(same result texts and error messages) without calling Tk, so the
 *	rimage command works alike in tclsh and wish.  Supported option
 *	kinds: TK_CONFIG_INT, TK_CONFIG_DOUBLE and TK_CONFIG_CUSTOM.
 */
#ifndef VELK_RIMGOPTIONS_H
#define VELK_RIMGOPTIONS_H

#include <tcl.h>
#include <tk.h>

/* Applies every option's default value to record.  Results: TCL_OK, or
 * TCL_ERROR with the parse error in the result. */
int rimgConfigureDefaults(Tcl_Interp *interp, const Tk_ConfigSpec *entries,
                          char *record);

/* Applies argc words (option, value, ...) to record; stops at the first
 * error, which is left in the result (options before it are applied). */
int rimgConfigureWidget(Tcl_Interp *interp, const Tk_ConfigSpec *entries,
                        int argc, const char *const *argv, char *record);

/* Sets the result to every option's {name dbName dbClass default value}
 * entry, or to one option's entry when argvName is not null. */
int rimgConfigureInfo(Tcl_Interp *interp, const Tk_ConfigSpec *entries,
                      const char *record, const char *argvName);

/* Sets the result to one option's current value. */
int rimgConfigureValue(Tcl_Interp *interp, const Tk_ConfigSpec *entries,
                       const char *record, const char *argvName);

#endif
