// Engine dispatch: rules shared with the tests.
#pragma once

#include <cstdint>

#include "zylscan/devalg.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t DevAlgExtract(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                      int32_t* out_length, XWContext* context);
int32_t DevAlgExtract_ISO(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                          int32_t* out_length, uint8_t finger_position, XWContext* context);
int32_t DevAlgExtract_ANSI(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                           int32_t* out_length, uint8_t finger_position, XWContext* context);
int32_t DevAlgVerify(const uint8_t* template_a, const uint8_t* template_b, XWContext* context);

}  // namespace zyl::api

namespace zyl::api {

// The answer of the type-line road (mode 1) for a type-line score: a score
// of 100 or more stands only when the native templates confirm it, and the
// result is lowered by 40.
std::int32_t TypelineVerdict(std::int32_t score, bool confirmed);

// True when DevAlgExtract sends a width x height image to the type-line
// engine under the current AlgMode. Its answer on that road is the
// template's minutiae count, 0 for a failure, not a status.
bool ExtractsByTypeline(std::int32_t width, std::int32_t height);

// True when DevAlgExtract sends a width x height image to the matcher
// library under the current AlgMode (modes 3 and 4, images of at most
// 192 x 192). Its output is then a wrapped template of up to one template
// slot (ZYLFPSCAN_TEMPLATE_SLOT_SIZE bytes).
bool ExtractsByMatcher(std::int32_t width, std::int32_t height);

}  // namespace zyl::api
