// The functions of sample info that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_container.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int sample_info_read(void*, const DataBlob* blob, SampleInfo* out);
int sample_info_write(void*, const SampleInfo* info, DataBlob** blob);
uint8_t blob_get_quality(const DataBlob* blob);
DataBlob* blob_with_quality(DataBlob* blob, uint8_t quality);

}  // namespace zyl::matchlib
