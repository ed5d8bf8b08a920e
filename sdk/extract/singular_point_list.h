// Moving singular points between a FeatureRecord and the SingularPointList
// that the singular-point and bad-area stages take.
#pragma once

#include <algorithm>

#include "zylscan/feature_record.h"
#include "zylscan/singular_points.h"

namespace zyl::extract {

inline SingularPointList singular_points_of(const FeatureRecord& record) {
  SingularPointList list{};
  list.count = std::clamp(record.singularCount, 0, ZYL_MAX_SINGULAR_POINTS);
  std::copy_n(record.singularX, list.count, list.x);
  std::copy_n(record.singularY, list.count, list.y);
  std::copy_n(record.singularAngle, list.count, list.angle);
  std::copy_n(record.singularKind, list.count, list.kind);
  return list;
}

inline void store_singular_points(FeatureRecord& record, const SingularPointList& list) {
  record.singularCount = std::clamp(list.count, 0, ZYL_MAX_SINGULAR_POINTS);
  std::copy_n(list.x, record.singularCount, record.singularX);
  std::copy_n(list.y, record.singularCount, record.singularY);
  std::copy_n(list.angle, record.singularCount, record.singularAngle);
  std::copy_n(list.kind, record.singularCount, record.singularKind);
}

}  // namespace zyl::extract
