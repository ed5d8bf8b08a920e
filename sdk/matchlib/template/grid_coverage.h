// Measures of a template that the enrolment objects check before taking it:
// the share of its grid cells holding a feature, and the image size its
// image-information element records.
#pragma once

#include <cstdint>

#include "zylscan/matchlib_blob.h"

namespace zyl::matchlib {

// Percentage of the cells of the template's grid section (66) whose second
// byte is non-zero; -1 when the template has none (status 0) or when its
// expansion fails (status set). An empty grid covers 0 percent.
int grid_coverage(const DataBlob* tmpl, int& status);

// Rows and columns of the image-information element of the template's
// extended card section (67); false (outputs 0) when there is none.
bool template_image_size(const DataBlob* tmpl, std::uint16_t& rows, std::uint16_t& columns);

}  // namespace zyl::matchlib
