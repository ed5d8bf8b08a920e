// Enrolment, identification and the record calls of the finger database.
// The exported enrolment and identification, with the device calls they run
// on, are in api/product_device_calls.cpp.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "common/guarded_call.h"
#include "device/device_record.h"
#include "device/finger_database.h"
#include "zylscan/zylfpscan.h"
#include "zylscan/zylfpscan_database.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylfpscan_image.h"
#include "zylscan/zylfpscan_status.h"

namespace zyl::device {

using namespace fingerdb;

namespace {

// A plain database image for one call. The process keeps none between
// calls: every call reads the file afresh.
class PlainImage {
 public:
  PlainImage() : bytes_(new (std::nothrow) std::uint8_t[kPlainSize]) {}
  bool ok() const { return bytes_ != nullptr; }
  Plain span() { return Plain(bytes_.get(), kPlainSize); }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
};

DeviceRecord* RecordOf(void* handle) { return static_cast<DeviceRecord*>(handle); }

bool HasAlgorithm(void* handle) { return handle && RecordOf(handle)->algorithmContext; }

// The wall-clock window of a capture loop: the caller's time-out plus a
// grace of 10 ms, so that a time-out of 0 still allows one attempt.
class CaptureWindow {
 public:
  CaptureWindow(const DeviceCalls& calls, int timeout_ms)
      : calls_(calls),
        end_(calls.now() + std::chrono::milliseconds(static_cast<long long>(timeout_ms) + kLoopGraceMs)) {}
  bool open() const { return calls_.now() < end_; }

 private:
  const DeviceCalls& calls_;
  std::chrono::steady_clock::time_point end_;
};

// Room for one capture of the device's image size.
std::unique_ptr<std::uint8_t[]> ImageBuffer(const DeviceRecord& record) {
  const std::size_t size = static_cast<std::size_t>(std::max(record.width, 1)) *
                           static_cast<std::size_t>(std::max(record.height, 1));
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]);
}

}  // namespace

StagingArea& EnrolmentStaging() {
  static StagingArea staging{};
  return staging;
}

int DeleteFinger(std::string_view directory, const char* database, const char* finger) {
  if (!ValidDatabaseName(database) || !ValidFingerName(finger)) return ZYLFPSCAN_ERR_PARAM;
  PlainImage plain;
  if (!plain.ok()) return ZYLFPSCAN_ERR_NO_MEMORY;
  const std::string path = DatabasePath(directory, database);
  if (const int rc = ReadDatabase(path, plain.span())) return rc;
  const auto found = FindByName(plain.span(), finger);
  if (found) RecordAt(plain.span(), *found).release(/*clear_name=*/true);
  if (const int rc = WriteDatabase(path, plain.span())) return rc;
  return found ? ZYLFPSCAN_OK : ZYLFPSCAN_NO_MATCH;
}

int DeleteAllFinger(std::string_view directory, const char* database) {
  if (!ValidDatabaseName(database)) return ZYLFPSCAN_ERR_PARAM;
  PlainImage plain;
  if (!plain.ok()) return ZYLFPSCAN_ERR_NO_MEMORY;
  const std::string path = DatabasePath(directory, database);
  if (const int rc = ReadDatabase(path, plain.span())) return rc;
  for (std::size_t r = 0; r < kRecordCount; ++r) {
    RecordView record = RecordAt(plain.span(), r);
    if (record.in_use()) record.release(/*clear_name=*/false);
  }
  return WriteDatabase(path, plain.span());
}

int EnrollListFingers(std::string_view directory, const char* database, char* names, int* count) {
  if (!names || !count) return ZYLFPSCAN_ERR_NULL_BUFFER;
  if (!ValidDatabaseName(database)) return ZYLFPSCAN_ERR_PARAM;
  PlainImage plain;
  if (!plain.ok()) return ZYLFPSCAN_ERR_NO_MEMORY;
  if (const int rc = ReadDatabase(DatabasePath(directory, database), plain.span())) return rc;
  std::array<std::uint8_t, kRecordCount * kNameSize> found{};
  const int n = ListNames(plain.span(), found);
  std::memcpy(names, found.data(), static_cast<std::size_t>(n) * kNameSize);
  *count = n;
  return ZYLFPSCAN_OK;
}

int RenameFinger(std::string_view directory, const char* database, const char* old_name,
                 const char* new_name) {
  if (!ValidDatabaseName(database) || !ValidFingerName(old_name) || !ValidFingerName(new_name))
    return ZYLFPSCAN_ERR_PARAM;
  PlainImage plain;
  if (!plain.ok()) return ZYLFPSCAN_ERR_NO_MEMORY;
  const std::string path = DatabasePath(directory, database);
  if (const int rc = ReadDatabase(path, plain.span())) return rc;
  if (const auto found = FindByName(plain.span(), old_name))
    RecordAt(plain.span(), *found).set_name(new_name);
  return WriteDatabase(path, plain.span());
}

int FindEnrolledFinger(std::string_view directory, const DeviceCalls& calls, void* handle, int level,
                       const std::uint8_t* feature, const char* database, const char* finger) {
  if (!HasAlgorithm(handle)) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!ValidDatabaseName(database) || !finger || !feature) return ZYLFPSCAN_ERR_PARAM;
  PlainImage plain;
  if (!plain.ok()) return ZYLFPSCAN_ERR_NO_MEMORY;
  const int rc = ReadDatabase(DatabasePath(directory, database), plain.span());
  if (rc == ZYLFPSCAN_ERR_DB_OPEN || rc == ZYLFPSCAN_ERR_DB_EMPTY) return ZYLFPSCAN_ERR_DB_NO_MATCH;
  if (rc) return rc;
  for (std::size_t r = 0; r < kRecordCount; ++r) {
    RecordView record = RecordAt(plain.span(), r);
    if (!record.in_use()) continue;
    const int count = record.capped_template_count();
    int best = 0;
    int result = ZYLFPSCAN_NO_MATCH;
    calls.verify_ext(handle, level, feature, count, record.slots(count).data(), &best, &result);
    if (result == ZYLFPSCAN_OK) return ZYLFPSCAN_OK;
  }
  return ZYLFPSCAN_ERR_DB_NO_MATCH;
}

int Enroll(std::string_view directory, const DeviceCalls& calls, void* handle, int timeout_ms,
           int step, const char* database, const char* finger) {
  if (!HasAlgorithm(handle)) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (step < 1 || step > static_cast<int>(kEnrolSlots) || !ValidDatabaseName(database) ||
      !ValidFingerName(finger))
    return ZYLFPSCAN_ERR_PARAM;
  const DeviceRecord& device = *RecordOf(handle);

  auto image = ImageBuffer(device);
  if (!image) return ZYLFPSCAN_ERR_NO_MEMORY;
  bool good = false;
  for (CaptureWindow window(calls, timeout_ms); !good && window.open();) {
    if (const int rc = calls.capture(handle, 0, image.get())) return rc;
    int quality = 0;
    calls.quality(device.width, device.height, image.get(), &quality);
    good = quality >= kMinQuality;
  }
  if (!good) return ZYLFPSCAN_ERR_QUALITY_TIMEOUT;

  // A whole slot: the matcher library's templates fill more than 1024 bytes.
  std::vector<std::uint8_t> feature(kFeatureSize);
  if (const int rc = calls.extract(handle, 0, feature.data())) return rc;

  // A file problem here does not stop the enrolment; only a match does.
  if (FindEnrolledFinger(directory, calls, handle, kEnrolLevel, feature.data(), database, finger) ==
      ZYLFPSCAN_OK)
    return ZYLFPSCAN_ERR_DB_ENROLLED;

  StagingArea& staging = EnrolmentStaging();
  if (device.productId == kSimilarityCheckedProduct && step >= 2) {
    int best = 0;
    int result = ZYLFPSCAN_NO_MATCH;
    calls.verify_ext(handle, kEnrolLevel, feature.data(), step - 1, staging.data(), &best, &result);
    if (best > kTooSimilarScore) return ZYLFPSCAN_ERR_DB_TOO_SIMILAR;
  }

  std::copy(feature.begin(), feature.end(), staging.begin() + static_cast<std::ptrdiff_t>((step - 1) * kSlotSize));
  if (step < static_cast<int>(kEnrolSlots)) return ZYLFPSCAN_OK;

  PlainImage plain;
  if (!plain.ok()) return ZYLFPSCAN_ERR_NO_MEMORY;
  const std::string path = DatabasePath(directory, database);
  const int rc = ReadDatabase(path, plain.span());
  if (rc == ZYLFPSCAN_ERR_DB_EMPTY)
    FormatBlank(plain.span());
  else if (rc)
    return rc;
  const auto vacant = FirstFree(plain.span());
  if (!vacant) return ZYLFPSCAN_ERR_DB_FULL;
  RecordAt(plain.span(), *vacant).enrol(finger, staging);
  return WriteDatabase(path, plain.span());
}

int Identify(std::string_view directory, const DeviceCalls& calls, void* handle, int level,
             int timeout_ms, const char* database, char* name, int* score) {
  if (!HasAlgorithm(handle)) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!ValidDatabaseName(database) || !name || !score) return ZYLFPSCAN_ERR_PARAM;
  const DeviceRecord& device = *RecordOf(handle);

  PlainImage plain;
  if (!plain.ok()) return ZYLFPSCAN_ERR_NO_MEMORY;
  const std::string path = DatabasePath(directory, database);
  if (const int rc = ReadDatabase(path, plain.span())) return rc;
  auto image = ImageBuffer(device);
  if (!image) return ZYLFPSCAN_ERR_NO_MEMORY;

  // The last capture of good quality decides: a later capture that matches
  // nothing undoes an earlier identification.
  enum class Outcome { NoGoodImage, NotIdentified, Identified } outcome = Outcome::NoGoodImage;
  int last_code = ZYLFPSCAN_ERR_LOW_QUALITY;
  std::size_t identified = 0;
  // A whole slot: the matcher library's templates fill more than 1024 bytes.
  std::vector<std::uint8_t> feature(kFeatureSize);
  for (CaptureWindow window(calls, timeout_ms); window.open();) {
    if (const int rc = calls.capture(handle, 0, image.get())) return rc;
    int quality = 0;
    calls.quality(device.width, device.height, image.get(), &quality);
    if (quality < kMinQuality) {
      last_code = ZYLFPSCAN_ERR_LOW_QUALITY;
      continue;
    }
    outcome = Outcome::NotIdentified;
    if (calls.extract(handle, 0, feature.data()) != ZYLFPSCAN_OK) continue;

    for (std::size_t r = 0; r < kRecordCount; ++r) {
      RecordView record = RecordAt(plain.span(), r);
      if (!record.in_use()) continue;
      const int count = record.capped_template_count();
      int result = ZYLFPSCAN_NO_MATCH;
      calls.verify_ext(handle, level, feature.data(), count, record.slots(count).data(), score, &result);
      if (result != ZYLFPSCAN_OK) continue;
      outcome = Outcome::Identified;
      identified = r;
      // A match that is sure but not too close teaches the record a new
      // view of the finger, up to its 15 slots.
      if (*score > kLearnAbove && *score < kLearnBelow &&
          record.learn(std::span<const std::uint8_t, kFeatureSize>(feature.data(), kFeatureSize))) {
        if (const int rc = WriteDatabase(path, plain.span())) return rc;
      }
      break;
    }
  }

  switch (outcome) {
    case Outcome::Identified: {
      const auto field = RecordAt(plain.span(), identified).name();
      std::memcpy(name, field.data(), field.size());
      return ZYLFPSCAN_OK;
    }
    case Outcome::NotIdentified:
      return ZYLFPSCAN_ERR_DB_NO_MATCH;
    case Outcome::NoGoodImage:
      break;
  }
  return last_code;
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

extern "C" ZYL_API int ZYLFPSCAN_DeleteFinger(void* /*handle*/, const char* database, const char* finger) {
  return Guarded([&] { return zyl::device::DeleteFinger(kProductDirectory, database, finger); });
}

extern "C" ZYL_API int ZYLFPSCAN_DeleteAllFinger(void* /*handle*/, const char* database) {
  return Guarded([&] { return zyl::device::DeleteAllFinger(kProductDirectory, database); });
}

extern "C" ZYL_API int ZYLFPSCAN_EnrollListFingers(void* /*handle*/, const char* database, char* names, int* count) {
  return Guarded([&] { return zyl::device::EnrollListFingers(kProductDirectory, database, names, count); });
}

extern "C" ZYL_API int ZYLFPSCAN_RenameFinger(void* /*handle*/, const char* database, const char* old_name,
                                              const char* new_name) {
  return Guarded(
      [&] { return zyl::device::RenameFinger(kProductDirectory, database, old_name, new_name); });
}

static_assert(ZYLFPSCAN_DATABASE_FILE_SIZE == zyl::device::fingerdb::kPlainSize);
static_assert(ZYLFPSCAN_DATABASE_RECORDS == zyl::device::fingerdb::kRecordCount);
static_assert(ZYLFPSCAN_DATABASE_NAME_MAX == zyl::device::fingerdb::kMaxDatabaseName);
static_assert(ZYLFPSCAN_FINGER_NAME_SIZE == zyl::device::fingerdb::kNameSize);
static_assert(ZYLFPSCAN_ENROLL_STEPS == zyl::device::fingerdb::kEnrolSlots);
