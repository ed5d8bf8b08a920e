// Rectification of the large sensor's raw frame into the output image.
#pragma once

#include <cstdint>
#include <span>

#include "zylscan/rectify.h"

namespace zyl::device {

// Flips the frame (the sensor sees the finger upside down) and maps it
// through the perspective transform the calibration parameters give onto
// an outputWidth x outputHeight image. 0, or -1 when the parameters give no
// usable transform. frameWidth, frameHeight > 0.
int RectifyFrame(std::span<const std::uint8_t> frame, int frameWidth, int frameHeight, std::span<std::uint8_t> output,
                 std::span<const std::uint8_t, ZYL_RECTIFY_PARAMETERS_SIZE> parameters, int outputWidth,
                 int outputHeight);

}  // namespace zyl::device
