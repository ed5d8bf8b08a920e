// The finger database reader and its record operations on arbitrary record
// headers: the input's first 640 bytes give each of the ten records its
// first 43 bytes (magic, in-use flag, fill, name) and its last 21 (mark,
// template count); what follows is a finger name (at most 24 bytes, up to
// a zero) and the bytes of a database name. Nothing may crash or leave a
// record, and the operations must keep their promises: listing counts the
// enrolled records, a found name is enrolled and starts with the name, a
// freed record is no longer listed, learning never goes past 15 templates.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "device/finger_database.h"
#include "fuzz_check.h"

namespace {

using namespace zyl::device::fingerdb;
using zyl::test::require;

constexpr std::size_t kHead = kSlotsOffset;               // 43
constexpr std::size_t kTail = kRecordSize - 307243;       // 21
constexpr std::size_t kChunk = kHead + kTail;             // 64 bytes a record

Plain Image() {
  static const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[kPlainSize]());
  return Plain(bytes.get(), kPlainSize);
}

int CountEnrolled(Plain plain) {
  int n = 0;
  for (std::size_t r = 0; r < kRecordCount; ++r) n += RecordAt(plain, r).in_use();
  return n;
}

int Listed(Plain plain) {
  std::array<std::uint8_t, kRecordCount * kNameSize> names{};
  const int n = ListNames(plain, names);
  require(n >= 0 && n <= static_cast<int>(kRecordCount));
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);

  // The file reader refuses what is not a whole database.
  require(DecodeDatabase(input, Image()) ==
          (size == 0 ? -232 : size < kPlainSize ? -231 : 0));

  const Plain plain = Image();
  for (std::size_t r = 0; r < kRecordCount; ++r) {
    std::uint8_t* record = plain.data() + r * kRecordSize;
    std::fill_n(record, kHead, 0);
    std::fill_n(record + kRecordSize - kTail, kTail, 0);
    const std::size_t from = r * kChunk;
    if (from >= size) continue;
    const std::size_t n = std::min(kChunk, size - from);
    std::copy_n(data + from, std::min(n, kHead), record);
    if (n > kHead) std::copy_n(data + from + kHead, n - kHead, record + kRecordSize - kTail);
  }
  const std::size_t rest = size > kRecordCount * kChunk ? kRecordCount * kChunk : size;
  const std::string tail(reinterpret_cast<const char*>(data + rest), size - rest);
  const std::string finger = tail.substr(0, std::min<std::size_t>(tail.find('\0'), kNameSize));
  const std::string database = tail.substr(finger.size());

  require(ValidFingerName(finger.c_str()));
  if (ValidDatabaseName(database.c_str())) {
    const std::string path = DatabasePath("/dir", database.c_str());
    require(path.size() < kPathBufferSize || database.size() > std::strlen(database.c_str()));
    require(path.find('/', 5) == std::string::npos);
  }

  const int enrolled = CountEnrolled(plain);
  require(Listed(plain) == enrolled);

  if (const auto found = FindByName(plain, finger)) {
    RecordView record = RecordAt(plain, *found);
    require(record.in_use() && record.name_starts_with(finger));
    for (std::size_t i = 0; i < finger.size(); ++i)
      require(record.name()[i] == static_cast<std::uint8_t>(finger[i]));

    const int before = record.template_count();
    const bool learnt = record.learn(std::array<std::uint8_t, kFeatureSize>{});
    require(record.template_count() <= static_cast<int>(kSlotCount));
    require(learnt == (std::min(before, static_cast<int>(kSlotCount)) < static_cast<int>(kSlotCount)));

    record.set_name("renamed");
    require(FindByName(plain, "renamed").value_or(kRecordCount) <= *found);

    record.release(/*clear_name=*/true);
    require(!record.in_use() && Listed(plain) == enrolled - 1);
    require(record.slot(0)[0] == 0 && record.slot(kSlotCount - 1)[kSlotSize - 1] == 0);
  }

  if (const auto vacant = FirstFree(plain)) {
    static const StagingArea staged{};
    const int now = CountEnrolled(plain);
    RecordAt(plain, *vacant).enrol(finger, staged);
    require(CountEnrolled(plain) == now + 1);
    require(FindByName(plain, finger).has_value());
    require(RecordAt(plain, *vacant).template_count() == static_cast<int>(kEnrolSlots));
  }
  return 0;
}
