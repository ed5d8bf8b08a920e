// The functions of container that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_container.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int container_find_entry(const DataBlob* blob, int32_t format, const uint8_t** data,
                         uint32_t* length);
int container_is_empty(const DataBlob* blob);
DataBlob* container_put_entry(DataBlob* blob, int32_t format, const uint8_t* data, uint32_t length);
DataBlob* container_take_entry(DataBlob* blob, int32_t format, const uint8_t** data,
                               uint32_t* length);
DataBlob* container_remove_entry(DataBlob* blob, int32_t format);
DataBlob* container_merge(DataBlob* first, DataBlob* second);
int tmpl_get_section(const DataBlob* blob, int32_t format, const uint8_t** data, uint32_t* length);
int tmpl_has_section(const DataBlob* blob, int32_t format);

}  // namespace zyl::matchlib
