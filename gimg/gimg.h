/*
 * gimg.h --
 *
 *	The `gimg` Tk image type.  Not built yet: Gimg_Init registers nothing
 *	and there are no images to delete.
 */
#ifndef VELK_GIMG_H
#define VELK_GIMG_H

int Gimg_Init(void);
/* Deletes every gimg image (exit handler). */
void gimgDeleteAll(void);

#endif
