/*
 * hist.cpp --
 *
 *	Histogram records.  Only their release exists yet.
 */
#include "core/hist.h"

#include <cstdlib>

void deleteHist(Hist *array, int nbands)
{
    if (!array)
        return;
    for (int b = 0; b < nbands; b++)
        std::free(array[b].bins);
    std::free(array);
}
