// The device calls that enrolment and identification run on in the product,
// and the exported enrolment and identification calls of the finger
// database, which run on them.
#include "api/product_device_calls.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include "api/feature_calls.h"
#include "common/guarded_call.h"
#include "device/capture.h"
#include "device/finger_database.h"
#include "device/image_calls.h"
#include "zylscan/zylfpscan.h"
#include "zylscan/zylfpscan_database.h"
#include "zylscan/zylfpscan_status.h"

namespace zyl::device {

const DeviceCalls& ProductDeviceCalls() {
  // Lambdas rather than the bare function pointers: std::function would
  // otherwise emit type information for the pointer types, visible outside.
  static const DeviceCalls calls{
      [](void* handle, int t, std::uint8_t* image) { return zyl::device::CaptureRawData(handle, t, image); },
      [](int width, int height, const std::uint8_t* image, int* quality) {
        return zyl::device::ImgQuality(width, height, image, quality);
      },
      [](void* handle, int count, std::uint8_t* feature) {
        return zyl::device::ExtractFeature(handle, count, feature);
      },
      [](void* handle, int level, const std::uint8_t* feature, int count, const std::uint8_t* slots, int* best_score,
         int* result) { return zyl::device::VerifyExt(handle, level, feature, count, slots, best_score, result); },
      [] { return std::chrono::steady_clock::now(); },
  };
  return calls;
}

}  // namespace zyl::device

using zyl::device::fingerdb::kProductDirectory;

namespace {

// No exception leaves the library: the only ones these calls can meet are
// failed allocations.
template <typename Call>
int Guarded(Call&& call) {
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, std::forward<Call>(call));
}

}  // namespace

extern "C" ZYL_API int ZYLFPSCAN_Enroll(void* handle, int timeout_ms, int step, const char* database,
                                        const char* finger) {
  return Guarded([&] {
    return zyl::device::Enroll(kProductDirectory, zyl::device::ProductDeviceCalls(), handle, timeout_ms, step, database,
                               finger);
  });
}

extern "C" ZYL_API int ZYLFPSCAN_Identify(void* handle, int level, int timeout_ms, const char* database, char* name,
                                          int* score) {
  return Guarded([&] {
    return zyl::device::Identify(kProductDirectory, zyl::device::ProductDeviceCalls(), handle, level, timeout_ms,
                                 database, name, score);
  });
}
