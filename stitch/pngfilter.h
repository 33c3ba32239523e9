#ifndef PNGFILTER_H
#define PNGFILTER_H

#include <QtGlobal>

#include <cstddef>

/*
 * Filters one PNG row of n bytes (bpp bytes a pixel; prev the unfiltered
 * row above, or n zeros for the first row) into out[0] = the filter type and
 * out[1 .. n] = the filtered bytes. The filter is chosen as libpng chooses
 * it when all five are allowed: the smallest sum of the filtered bytes read
 * as signed distances from zero, the earlier filter on a tie, in the order
 * None, Sub, Up, Average, Paeth. bpp is 1 to 8. Pure.
 */
void filterPngRow(const uchar *row, const uchar *prev, std::size_t n, std::size_t bpp, uchar *out);

#endif // PNGFILTER_H
