/*
 * elas.cpp --
 *
 *	ELAS files.  Not built yet: the probe recognises nothing.
 */
#include "formats/elas.h"
#include "core/ramimg.h"

int imgElas(int, ImageInfo *) { return 0; }
