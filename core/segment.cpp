/*
 * segment.cpp --
 *
 *	Segment and pixel-interleaved access.  Not built yet.
 */
#include "core/lineAccess.h"
