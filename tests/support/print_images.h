// Test prints of tests/data as the matcher library's image objects, and
// their templates through an engine's image road.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/pgm.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {

// A print of tests/data as a 500-dpi image object; the caller releases it.
inline GrayImage* load_print_image(const std::string& name) {
  const GreyImage g = read_pgm(test_data(name));
  return image_create(g.height, g.width, 500, 500, g.pixels.data(), 0);
}

// The engine's template of a print of tests/data (null, with a test
// failure, when the extraction fails); the caller releases it.
inline DataBlob* extract_print(MatchEngine* engine, const std::string& name) {
  GrayImage* img = load_print_image(name);
  DataBlob* out = nullptr;
  EXPECT_EQ(engine_extract_image(engine, img, nullptr, &out), ML_OK) << name;
  image_release(img);
  return out;
}

}  // namespace zyl::test
