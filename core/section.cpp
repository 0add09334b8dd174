/*
 * section.cpp --
 *
 *	Sections and profiles.  Not built yet.
 */
#include "core/lineAccess.h"
