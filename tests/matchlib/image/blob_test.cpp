// Data blob: storage forms, counting and release routines, format aliases,
// the serialised form, and the CRC-32.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "matchlib/image/blob.h"
#include "support/prefix_sweep.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct ReleaseLog {
  int calls = 0;
  void* last_user = nullptr;
};
ReleaseLog g_release_log;
void log_release(void* user) {
  ++g_release_log.calls;
  g_release_log.last_user = user;
}

TEST(Blob, CreateCopiesTheBytesIntoA16ByteAlignedPayload) {
  const Bytes src = {1, 2, 3, 4, 5};
  DataBlob* b = blob_create(84, src.data(), 5);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(blob_data(b), src.data());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(blob_data(b)) % 16, 0u);
  EXPECT_EQ(Bytes(blob_data(b), blob_data(b) + 5), src);
  EXPECT_EQ(blob_size(b), 5u);
  EXPECT_EQ(blob_refcount(b), 1u);
  EXPECT_EQ(blob_owns_data(b), 1);
  blob_release(b);
}

TEST(Blob, EmptyBlobIsValid) {
  DataBlob* b = blob_create(7, nullptr, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(blob_size(b), 0u);
  blob_release(b);
}

TEST(Blob, RefusesANullSourceWithALength) {
  EXPECT_EQ(blob_create(1, nullptr, 4), nullptr);
  EXPECT_EQ(blob_view(1, nullptr, 4), nullptr);
  EXPECT_EQ(blob_wrap(1, nullptr, 4, 1, nullptr, nullptr), nullptr);
}

TEST(Blob, NullArgumentsAreHarmless) {
  EXPECT_EQ(blob_retain(nullptr), nullptr);
  blob_release(nullptr);
  EXPECT_EQ(blob_refcount(nullptr), 0u);
  EXPECT_EQ(blob_size(nullptr), 0u);
  EXPECT_EQ(blob_get_image(nullptr), nullptr);
  EXPECT_EQ(blob_copy(nullptr), nullptr);
}

TEST(Blob, ViewBorrowsTheCallersMemory) {
  Bytes mem = {9, 8, 7};
  DataBlob* b = blob_view(3, mem.data(), 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(blob_data(b), mem.data());
  EXPECT_EQ(blob_owns_data(b), 0);
  blob_set_owns_data(b, 1);
  EXPECT_EQ(blob_owns_data(b), 1);
  blob_release(b);
  EXPECT_EQ(mem[0], 9);
}

TEST(Blob, WrapCallsItsReleaseRoutineOnceAtTheLastRelease) {
  g_release_log = {};
  Bytes mem = {1, 2};
  int user = 0;
  DataBlob* b = blob_wrap(80, mem.data(), 2, 0, log_release, &user);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(blob_owns_data(b), 0);
  EXPECT_EQ(blob_retain(b), b);
  EXPECT_EQ(blob_refcount(b), 2u);
  blob_release(b);
  EXPECT_EQ(g_release_log.calls, 0);
  blob_release(b);
  EXPECT_EQ(g_release_log.calls, 1);
  EXPECT_EQ(g_release_log.last_user, &user);
}

TEST(Blob, CopyOfAWrappedBlobOwnsItsBytesAndSharesTheImage) {
  g_release_log = {};
  GrayImage* image = image_create(4, 4, 500, 500, nullptr, 0);
  ASSERT_NE(image, nullptr);
  Bytes mem = {4, 5, 6};
  DataBlob* src = blob_wrap(74, mem.data(), 3, 1, log_release, nullptr);
  blob_set_image(src, image);
  DataBlob* copy = blob_copy(src);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(object_refcount(image), 3);
  EXPECT_NE(blob_data(copy), mem.data());
  EXPECT_EQ(blob_equal(src, copy), 1);
  EXPECT_EQ(blob_get_image(copy), image);
  blob_release(copy);
  EXPECT_EQ(g_release_log.calls, 0);
  EXPECT_EQ(object_refcount(image), 2);
  blob_release(src);
  EXPECT_EQ(g_release_log.calls, 1);
  EXPECT_EQ(object_refcount(image), 1);
  image_release(image);
}

TEST(Blob, SetImageRetainsTheNewReleasesTheOldAndIgnoresTheSame) {
  GrayImage* first = image_create(4, 4, 500, 500, nullptr, 0);
  GrayImage* second = image_create(4, 4, 500, 500, nullptr, 0);
  ASSERT_TRUE(first && second);
  DataBlob* b = blob_create(1, nullptr, 0);
  blob_set_image(b, first);
  EXPECT_EQ(object_refcount(first), 2);
  blob_set_image(b, first);
  EXPECT_EQ(object_refcount(first), 2);
  EXPECT_EQ(blob_get_image(b), first);
  EXPECT_EQ(object_refcount(first), 2);  // a getter adds no reference
  blob_set_image(b, second);
  EXPECT_EQ(object_refcount(first), 1);
  EXPECT_EQ(object_refcount(second), 2);
  blob_set_image(b, nullptr);
  EXPECT_EQ(object_refcount(second), 1);
  blob_set_image(b, second);
  blob_release(b);
  EXPECT_EQ(object_refcount(second), 1);
  image_release(first);
  image_release(second);
}

TEST(Blob, TypeResolvesOnlyTheAliasTable) {
  struct Case {
    int32_t stored, answered;
  };
  const Case cases[] = {{5, 2}, {4, 1}, {6, 3}, {73, 67}, {74, 67}, {7, 7},
                        {1, 1}, {67, 67}, {84, 84}, {-4, -4}, {300, 300}};
  for (const Case& c : cases) {
    DataBlob* b = blob_create(c.stored, nullptr, 0);
    EXPECT_EQ(blob_type(b), c.answered) << c.stored;
    blob_set_type(b, c.stored + 1000);
    EXPECT_EQ(blob_type(b), c.stored + 1000);
    blob_release(b);
  }
}

TEST(Blob, EqualComparesLengthStoredCodeAndBytes) {
  const Bytes x = {1, 2, 3}, y = {1, 2, 4};
  DataBlob* a = blob_create(73, x.data(), 3);
  DataBlob* same = blob_create(73, x.data(), 3);
  DataBlob* alias = blob_create(74, x.data(), 3);  // same blob_type, other stored code
  DataBlob* other = blob_create(73, y.data(), 3);
  DataBlob* shorter = blob_create(73, x.data(), 2);
  EXPECT_EQ(blob_equal(a, same), 1);
  EXPECT_EQ(blob_equal(a, alias), 0);
  EXPECT_EQ(blob_equal(a, other), 0);
  EXPECT_EQ(blob_equal(a, shorter), 0);
  EXPECT_EQ(blob_equal(a, nullptr), 0);
  for (DataBlob* b : {a, same, alias, other, shorter}) blob_release(b);
}

TEST(BlobSerialised, WritesMarkerLowCodeByteBigEndianLengthAndPayload) {
  struct Case {
    int32_t code;
    Bytes payload;
    Bytes expected;
  };
  const Case cases[] = {
      {84, {}, {0x01, 0x54, 0, 0, 0, 0}},
      {300, {0xAA}, {0x01, 0x2C, 0, 0, 0, 1, 0xAA}},
      {74, {1, 2, 3}, {0x01, 0x4A, 0, 0, 0, 3, 1, 2, 3}},  // stored code, not the alias
  };
  for (const Case& c : cases) {
    DataBlob* b = blob_create(c.code, c.payload.data(), static_cast<uint32_t>(c.payload.size()));
    const uint32_t size = blob_write(nullptr, b);
    Bytes out(size + 4, 0xEE);
    EXPECT_EQ(blob_write(out.data(), b), size);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + size), c.expected) << c.code;
    EXPECT_EQ(out[size], 0xEE);
    blob_release(b);
  }
  uint8_t none = 0xEE;
  EXPECT_EQ(blob_write(nullptr, nullptr), 1u);
  EXPECT_EQ(blob_write(&none, nullptr), 1u);
  EXPECT_EQ(none, 0);
}

TEST(BlobSerialised, ReadRoundTripsAndOwnsItsCopy) {
  const Bytes payload = {10, 20, 30, 40};
  DataBlob* b = blob_create(79, payload.data(), 4);
  Bytes stream(blob_write(nullptr, b));
  blob_write(stream.data(), b);
  blob_release(b);

  DataBlob* back = nullptr;
  EXPECT_EQ(blob_read(stream.data(), &back), 10u);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(blob_type(back), 79);
  EXPECT_EQ(blob_owns_data(back), 1);
  EXPECT_EQ(Bytes(blob_data(back), blob_data(back) + 4), payload);
  stream.assign(stream.size(), 0);  // the blob keeps its own copy
  EXPECT_EQ(blob_data(back)[0], 10);
  blob_release(back);
}

TEST(BlobSerialised, AbsentMarkerAndAnyNonZeroMarker) {
  const Bytes absent = {0};
  DataBlob* out = reinterpret_cast<DataBlob*>(1);
  EXPECT_EQ(blob_read(absent.data(), &out), 1u);
  EXPECT_EQ(out, nullptr);
  const Bytes present = {7, 3, 0, 0, 0, 1, 0x55};
  EXPECT_EQ(blob_read(present.data(), &out), 7u);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(blob_data(out)[0], 0x55);
  blob_release(out);
}

TEST(BlobSerialised, BoundedReadRefusesEveryTruncation) {
  const Bytes stream = {1, 66, 0, 0, 0, 3, 1, 2, 3};
  zyl::test::for_each_prefix(stream, [](std::span<const std::uint8_t> cut) {
    DataBlob* out = nullptr;
    EXPECT_EQ(blob_read_bounded(cut.data(), static_cast<uint32_t>(cut.size()), &out), 0u);
    EXPECT_EQ(out, nullptr);
  });
  DataBlob* out = nullptr;
  EXPECT_EQ(blob_read_bounded(stream.data(), 9, &out), 9u);
  blob_release(out);
  const Bytes huge = {1, 66, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(blob_read_bounded(huge.data(), 6, &out), 0u);
  EXPECT_EQ(out, nullptr);
}

TEST(Crc32, KnownAnswers) {
  struct Case {
    const char* text;
    uint32_t crc;
  };
  const Case cases[] = {
      {"123456789", 0xCBF43926u},
      {"a", 0xE8B7BE43u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases)
    EXPECT_EQ(crc32_compute(c.text, static_cast<uint32_t>(std::strlen(c.text))), c.crc) << c.text;
  EXPECT_EQ(crc32_compute(nullptr, 9), 0u);
  EXPECT_EQ(crc32_compute("123", 0), 0u);
}

TEST(Crc32, SplitUpdatesEqualOneComputation) {
  Bytes data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  const uint32_t whole = crc32_compute(data.data(), 1000);
  for (uint32_t cut : {0u, 1u, 333u, 999u, 1000u}) {
    uint32_t state;
    crc32_init(&state);
    crc32_update(data.data(), cut, &state);
    crc32_update(nullptr, 5, &state);  // ignored
    crc32_update(data.data() + cut, 1000 - cut, &state);
    EXPECT_EQ(crc32_final(&state), whole) << cut;
  }
}

}  // namespace
