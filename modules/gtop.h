/*
 * gtop.h --
 *
 *	The orthorectification module (`rimage gtop`): converts images
 *	between the ground geometry of a map (with a plane or a terrain
 *	model) and the central perspective of a camera: polar views, views
 *	of the terrain, photographs back to the ground, orthorectification.
 */
#ifndef VELK_GTOP_H
#define VELK_GTOP_H

/* Module entry: command name for messages, words after the subcommand.
 * Results: 2 usage printed, 1 success, 0 failure. */
int gtopAp(const char *command, int argc, const char **argv);

#endif
