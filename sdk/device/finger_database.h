// The on-host finger database: named files of ten finger records, enciphered
// whole with 3DES under the stored key, and the enrolment and identification
// flows that fill and consult them.
//
// The exported calls work on files "/usr/ZYL_<database name>"; the C++ face
// below takes the directory so that tests can point it elsewhere, and takes
// the device calls (capture, quality, extraction, comparison) and the clock
// as a DeviceCalls value so that the flows can be driven without a scanner.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zyl::device {

namespace fingerdb {

// Record layout (offsets within one record).
constexpr std::size_t kRecordCount = 10;
constexpr std::size_t kRecordSize = 307264;
constexpr std::size_t kPlainSize = kRecordCount * kRecordSize;  // 3072640, a multiple of 8

constexpr std::size_t kMagicOffset = 0;     // "QXE", 1, 1, 0x20, 0xA5
constexpr std::size_t kMagicSize = 7;
constexpr std::size_t kInUseOffset = 7;     // 0 free, 1 enrolled
constexpr std::size_t kFillOffset = 8;      // eleven 0xFF bytes
constexpr std::size_t kFillSize = 11;
constexpr std::size_t kNameOffset = 19;
constexpr std::size_t kNameSize = 24;
constexpr std::size_t kSlotsOffset = 43;
constexpr std::size_t kSlotSize = 20480;
constexpr std::size_t kSlotCount = 15;
// A feature as the database handles it: one whole slot. The engines of
// modes 0 to 2 fill its first 1024 bytes and leave the rest zero; the
// matcher library's templates (modes 3 and 4) take up to the whole slot.
constexpr std::size_t kFeatureSize = kSlotSize;
constexpr std::size_t kEnrolSlots = 10;
// A blank record keeps the 8-bit sum of the bytes before it here, which is
// the first byte of slot 10.
constexpr std::size_t kBlankSumOffset = kSlotsOffset + kEnrolSlots * kSlotSize;  // 204843
constexpr std::size_t kEnrolledMarkOffset = 307244;  // ten 0xA5 bytes once enrolled
constexpr std::size_t kEnrolledMarkSize = 10;
constexpr std::size_t kTemplateCountOffset = 307259;

static_assert(kSlotsOffset + kSlotCount * kSlotSize == 307243);
static_assert(kTemplateCountOffset + 5 == kRecordSize);
static_assert(kPlainSize % 8 == 0, "the plain image enciphers without padding");

constexpr std::array<std::uint8_t, kMagicSize> kMagic = {'Q', 'X', 'E', 1, 1, 0x20, 0xA5};
constexpr std::uint8_t kEnrolledMark = 0xA5;
constexpr std::uint8_t kBlankName = 0xFF;

// File names are "ZYL_" and the database name, in a path buffer of 200
// bytes (terminating zero included) under "/usr".
constexpr std::string_view kProductDirectory = "/usr";
constexpr std::string_view kFilePrefix = "ZYL_";
constexpr std::size_t kPathBufferSize = 200;
constexpr std::size_t kMaxDatabaseName =
    kPathBufferSize - 1 - kProductDirectory.size() - 1 - kFilePrefix.size();  // 190

// Thresholds of the capture loops and of learning.
constexpr int kMinQuality = 50;
constexpr int kEnrolLevel = 5;
constexpr int kTooSimilarScore = 400;
constexpr int kLearnAbove = 200;
constexpr int kLearnBelow = 400;
constexpr int kLoopGraceMs = 10;
constexpr std::uint16_t kSimilarityCheckedProduct = 0x1061;

using Plain = std::span<std::uint8_t, kPlainSize>;
using RecordBytes = std::span<std::uint8_t, kRecordSize>;
using StagingArea = std::array<std::uint8_t, kEnrolSlots * kSlotSize>;

// One record of a plain database image. Every field lies at a fixed offset
// inside the record's fixed-extent span, so no access can leave it.
class RecordView {
 public:
  explicit RecordView(RecordBytes bytes) : bytes_(bytes) {}

  bool in_use() const { return bytes_[kInUseOffset] == 1; }
  bool is_free() const { return bytes_[kInUseOffset] == 0; }
  std::span<const std::uint8_t, kNameSize> name() const {
    return bytes_.subspan<kNameOffset, kNameSize>();
  }
  // True when the name field starts with the bytes of name (at most
  // kNameSize of them; callers refuse longer names).
  bool name_starts_with(std::string_view prefix) const;
  // The template count, capped at kSlotCount; the cap is written back.
  int capped_template_count();
  int template_count() const { return bytes_[kTemplateCountOffset]; }
  // Slots 0..count-1 as one contiguous run.
  std::span<const std::uint8_t> slots(std::size_t count) const {
    return bytes_.subspan(kSlotsOffset, count * kSlotSize);
  }
  std::span<const std::uint8_t, kSlotSize> slot(std::size_t k) const {
    return std::span<const std::uint8_t, kSlotSize>(bytes_.data() + kSlotsOffset + k * kSlotSize,
                                                    kSlotSize);
  }

  void make_blank();
  // Flag 1, the staged slots in slots 0..9, the enrolled mark, count 10 and
  // the name (at most kNameSize bytes, zero-filled).
  void enrol(std::string_view name, const StagingArea& staged);
  // Stores feature as the slot numbered by the count and counts it; false
  // when the record already holds kSlotCount templates.
  bool learn(std::span<const std::uint8_t, kFeatureSize> feature);
  // Frees the record: flag 0, every slot zeroed; with clear_name the name
  // field becomes blank. Count and enrolled mark stay.
  void release(bool clear_name);
  void set_name(std::string_view name);

 private:
  RecordBytes bytes_;
};

inline RecordView RecordAt(Plain plain, std::size_t index) {
  return RecordView(RecordBytes(plain.data() + index * kRecordSize, kRecordSize));
}

// Ten blank records.
void FormatBlank(Plain plain);
// The first in-use record whose name starts with name, if any.
std::optional<std::size_t> FindByName(Plain plain, std::string_view name);
// The first free record, if any.
std::optional<std::size_t> FirstFree(Plain plain);
// Copies the name field of every in-use record, in order, 24 bytes each,
// into names (room for kRecordCount names); returns how many.
int ListNames(Plain plain, std::span<std::uint8_t, kRecordCount * kNameSize> names);

// Name rules: a database name is non-null, holds no '/' and fits the path
// buffer; a finger name is non-null and fits the name field.
bool ValidDatabaseName(const char* name);
bool ValidFingerName(const char* name);
std::string DatabasePath(std::string_view directory, std::string_view name);

// 3DES-ECB under the stored key over the whole image, exactly as one
// triple_des_ecb_encrypt / _decrypt call over it would give. ECB enciphers
// equal blocks alike and most of a database is zero (blank records, the
// unused tails of the slots), so zero blocks are mapped through one
// precomputed block and only the rest goes through the cipher.
void EncipherDatabase(Plain plain, std::span<std::uint8_t, kPlainSize> file);
void DecipherDatabase(std::span<const std::uint8_t, kPlainSize> file, Plain plain);

// Deciphers the bytes of a database file: -232 when empty, -231 when
// shorter than kPlainSize; bytes beyond kPlainSize are ignored.
int DecodeDatabase(std::span<const std::uint8_t> file, Plain plain);
// Reads and deciphers the file at path. A missing file counts as empty
// (-232) and is not created; -1 (with "open file fail" on standard output)
// when it cannot be opened; -231 when short.
int ReadDatabase(const std::string& path, Plain plain);
// Enciphers plain into a new file in the same directory and renames it over
// path, so a failed write leaves the previous file as it was: 0 or -233.
int WriteDatabase(const std::string& path, Plain plain);

}  // namespace fingerdb

// The device calls and the clock that enrolment and identification use.
struct DeviceCalls {
  std::function<int(void* handle, int t, std::uint8_t* image)> capture;
  std::function<int(int width, int height, const std::uint8_t* image, int* quality)> quality;
  std::function<int(void* handle, int count, std::uint8_t* feature)> extract;
  std::function<int(void* handle, int level, const std::uint8_t* feature, int count,
                    const std::uint8_t* slots, int* best_score, int* result)>
      verify_ext;
  std::function<std::chrono::steady_clock::time_point()> now;
};

// The samples of the enrolment under way, shared by every handle.
fingerdb::StagingArea& EnrolmentStaging();

// The database calls on files in directory. The exported calls use
// fingerdb::kProductDirectory.
int DeleteFinger(std::string_view directory, const char* database, const char* finger);
int DeleteAllFinger(std::string_view directory, const char* database);
int EnrollListFingers(std::string_view directory, const char* database, char* names, int* count);
int RenameFinger(std::string_view directory, const char* database, const char* old_name,
                 const char* new_name);
int FindEnrolledFinger(std::string_view directory, const DeviceCalls& calls, void* handle, int level,
                       const std::uint8_t* feature, const char* database, const char* finger);
int Enroll(std::string_view directory, const DeviceCalls& calls, void* handle, int timeout_ms,
           int step, const char* database, const char* finger);
int Identify(std::string_view directory, const DeviceCalls& calls, void* handle, int level,
             int timeout_ms, const char* database, char* name, int* score);

}  // namespace zyl::device
