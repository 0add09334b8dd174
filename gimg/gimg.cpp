/*
 * gimg.cpp --
 *
 *	Registration of the `gimg` image type.  The display is not built yet,
 *	so nothing is registered and there is nothing to delete.
 */
#include "gimg.h"

int Gimg_Init(void)
{
    return 0;
}

void gimgDeleteAll(void)
{
}
