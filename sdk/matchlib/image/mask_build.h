// The functions of mask build that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_mask.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int mask_settings_from_params(const GrayImage* image, const MatchContext* ctx, MaskSettings* out);
int image_build_masks(GrayImage* image, const MaskSettings* settings, int force);
int image_build_masks_from_params(GrayImage* image, const MatchContext* ctx);

}  // namespace zyl::matchlib
