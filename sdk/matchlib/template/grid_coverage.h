// Share of a template's grid cells that hold a feature, used by the
// enrolment objects to refuse impressions that cover too little.
#pragma once

#include "zylscan/matchlib_blob.h"

namespace zyl::matchlib {

// Percentage of the cells of the template's grid section (66) whose second
// byte is non-zero; -1 when the template has none (status 0) or when its
// expansion fails (status set). An empty grid covers 0 percent.
int grid_coverage(const DataBlob* tmpl, int& status);

}  // namespace zyl::matchlib
