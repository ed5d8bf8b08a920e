// The functions of bitplane trace that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae_extract.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void bilevel_bits_line_neighbours(const uint8_t* plane, int width, int rows, int column, int row,
                                  int* codes, int* column_steps, int* row_steps, int* count);
int bilevel_bits_step(const uint8_t* plane, int width, int rows, int* code, int* column, int* row);
void bilevel_bits_take_pixel(uint8_t* plane, uint8_t* counts, int width, int rows, int row,
                             int column);
void bilevel_bits_trace_minutiae(uint8_t* plane, int rows, int width, int kind,
                                 const uint8_t* quality, MinutiaEntry* minutiae, uint8_t* count,
                                 uint8_t* counts, int s1, int s2);
int bilevel_bits_check_endings(MinutiaEntry* minutiae, int count, const uint8_t* plane,
                               const uint8_t* counts, const uint8_t* block_frequency, int rows,
                               int width, int scale, int cell);

}  // namespace zyl::matchlib
