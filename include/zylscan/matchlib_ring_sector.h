/* Matcher library ring-and-sector texture descriptor of the neighbourhood
 * of a point: a patch around the point, turned by the point's angle, is
 * split into R rings of width W outside an inner radius E and into S
 * sectors; the patch is enhanced at a fixed ridge frequency in eight
 * directions and each ring-sector cell stores the spread of every enhanced
 * version as a byte. Descriptor: R, W, E, S (bytes 0-3, defaults applied),
 * then at 4 + 8*cell + k the spread of version k in cell (ring-1)*S +
 * sector. Settings of 0 select R 5, W 12, E 12, S 16 (a 145 x 145 patch,
 * 644 bytes). */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  RING_SECTOR_DEFAULT_RINGS = 5,
  RING_SECTOR_DEFAULT_WIDTH = 12,
  RING_SECTOR_DEFAULT_INNER = 12,
  RING_SECTOR_DEFAULT_SECTORS = 16
};

/* Descriptor bytes for the given settings (0 defaults), 4 + 8 * R * S. */
ZYL_API int ring_sector_size(int rings, int sectors);
/* The patch of side 2 * (E + W * R) + 1 around (row, column), turned by
 * angle + 64 (256 steps a turn); image pixels outside the image read 128.
 * 2 for a null image or output, more than 16 sectors or 5 rings, a ring
 * width or inner radius outside 0..255 (they are header bytes); 9 out of
 * memory. */
ZYL_API int ring_sector_descriptor(const uint8_t* pixels, int height, int width, int row,
                                   int column, int angle, int rings, int ring_width, int inner,
                                   int sectors, uint8_t* out);
/* The descriptor of a patch of odd height and width. 2 for a null
 * argument, more than 16 sectors or 5 rings, a ring width or inner radius
 * outside 0..255, an even side, or an outer
 * radius whose double is not below the smaller side; 9 out of memory.
 * Cells that hold no pixel keep what the buffer held. */
ZYL_API int ring_sector_compute(const uint8_t* patch, int patch_height, int patch_width, int rings,
                                int ring_width, int inner, int sectors, uint8_t* out);

ZYL_EXTERN_C_END
