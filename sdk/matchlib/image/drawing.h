// The functions of drawing that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_drawing.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void draw_line(uint8_t* image, int height, int width, int x0, int y0, int x1, int y1,
               uint8_t value);
void draw_rect(uint8_t* image, int height, int width, int x, int y, int rect_width, int rect_height,
               uint8_t value);
void draw_marker(uint8_t* image, int height, int width, int size, int x, int y, uint8_t value);
void draw_number(uint8_t* image, int height, int width, int32_t number, int min_digits, int x,
                 int y, uint8_t value);
void draw_lighten(const uint8_t* src, int height, int width, int percent, uint8_t* dst);

}  // namespace zyl::matchlib
