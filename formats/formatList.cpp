/*
 * formatList.cpp --
 *
 *	The image file formats in the order their probes are tried.  Each
 *	format's own file fills its record (core/imgFormat.h); the registry
 *	finds a format here by image type number.  A new format adds its
 *	record's name to the declarations and one line to the list.
 */
#include "core/imgFormat.h"

extern const ImgFormat dicomFormat, dibFormat, xbmFormat, erdasFormat,
    gif87Format, gif89Format, fftFormat, elasFormat, tiffFormat, jpegFormat,
    basicFormat, ppmFormat, mpegFormat, memoryFormat;

const ImgFormat *const imgFormatList[] = {
    &dicomFormat,       /* reports the type of its pixel layout */
    &dibFormat,
    &xbmFormat,
    &erdasFormat,
    &gif87Format,       /* recognises GIF89a files too */
    &gif89Format,
    &fftFormat,
    &elasFormat,
    &tiffFormat,
    &jpegFormat,
    &basicFormat,       /* BSQ, BIL and BIP behind an "IMAGEDEF" header */
    &ppmFormat,
    nullptr,            /* the probes added at run time with atEnd */
    &mpegFormat,
    &memoryFormat,      /* no probe: the memory-resident types */
};

const int imgFormatCount = sizeof imgFormatList / sizeof imgFormatList[0];
