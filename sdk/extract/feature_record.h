// The functions of feature record that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/feature_record.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

ByteImage CreateByteImage(int32_t width, int32_t height);
int32_t FreeImage(ByteImage image, int32_t height);
int32_t CopyByteImage(int32_t width, int32_t height, ByteImage source, ByteImage destination);
int32_t CopyFeatures(FeatureRecord* destination, const FeatureRecord* source);

}  // namespace zyl::extract
