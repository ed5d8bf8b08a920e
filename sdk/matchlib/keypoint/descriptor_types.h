// The functions of descriptor types that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_descriptor_type.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int desc_types_select(const DescriptorType** list, uint32_t flags);

}  // namespace zyl::matchlib
