// The functions of generalize that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/generalize.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t AverageAngle(int32_t* angles, int32_t n);
void SortMinutiae(FeatureRecord* record);
void EliminatePointFromIps(uint16_t* first, uint16_t* second, int32_t* count, int32_t position);
int32_t GeneralizeFeatures(const FeatureRecord* first, const FeatureRecord* second, const FeatureRecord* third,
                           FeatureRecord* result, const int32_t* threshold, XWContext* context);

}  // namespace zyl::api
