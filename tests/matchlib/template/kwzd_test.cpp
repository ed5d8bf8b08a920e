#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const DataBlob* b) { return Bytes(blob_data(b), blob_data(b) + blob_size(b)); }

struct Store {
  KwzdContainer* c = kwzd_create();
  ~Store() { kwzd_free(c); }
};

DataBlob* text_blob(int code, const std::string& s) {
  return blob_create(code, s.data(), static_cast<uint32_t>(s.size()));
}

int32_t append_text(KwzdContainer* c, const std::string& s) {
  DataBlob* b = text_blob(84, s);
  int32_t key = 0;
  EXPECT_EQ(kwzd_append(c, b, &key), ML_OK);
  blob_release(b);
  return key;
}

Bytes serialize(KwzdContainer* c) {
  DataBlob* out = nullptr;
  EXPECT_EQ(kwzd_serialize(c, &out), ML_OK);
  Bytes b = bytes_of(out);
  EXPECT_EQ(blob_type(out), 80);
  blob_release(out);
  return b;
}

int parse_bytes(const Bytes& b, KwzdContainer** out) {
  DataBlob* blob = blob_create(80, b.data(), static_cast<uint32_t>(b.size()));
  const int status = kwzd_parse(blob, out);
  blob_release(blob);
  return status;
}

TEST(Kwzd, EmptyContainerSerialisesToFifteenBytes) {
  Store s;
  const Bytes expected = {'K', 'W', 'Z', 'D', 0, 3, 0xFF, 1, 3, 0, 4, 0, 0, 0, 1};
  EXPECT_EQ(serialize(s.c), expected);
  EXPECT_EQ(kwzd_serialized_size(s.c), 15u);
}

TEST(Kwzd, RoundTripKeepsRecordsSectionsAndKeys) {
  Store s;
  DataBlob* a = text_blob(79, "alpha");
  ASSERT_EQ(kwzd_add_record(s.c, -1, a), ML_OK);
  blob_release(a);
  const int32_t k = append_text(s.c, "beta");
  EXPECT_EQ(k, 1);  // a lower key added by hand does not lower the next key
  const uint8_t info[] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(kwzd_add_section(s.c, -1, 1, info, 6), ML_OK);
  ASSERT_EQ(kwzd_add_section(s.c, -1, 2, info, 1), ML_OK);
  ASSERT_EQ(kwzd_add_section(s.c, KWZD_HEADER_KEY, 1, info, 3), ML_OK);
  EXPECT_EQ(kwzd_add_section(s.c, -1, 2, info, 1), ML_BAD_ARGUMENT);  // type already there
  EXPECT_EQ(kwzd_add_section(s.c, 42, 2, info, 1), ML_NOT_FOUND);  // no such record
  int t = 0;
  ASSERT_EQ(kwzd_next_section_type(s.c, -1, &t), 1);
  EXPECT_EQ(t, 2);  // added at the front
  ASSERT_EQ(kwzd_next_section_type(s.c, -1, &t), 1);
  EXPECT_EQ(t, 1);
  EXPECT_EQ(kwzd_next_section_type(s.c, -1, &t), 0);

  const Bytes stored = serialize(s.c);
  EXPECT_EQ(stored.size(), kwzd_serialized_size(s.c));
  // Next key 1 is not above largest + 1, so no next-key section: the
  // caller's header section (6 bytes) comes first, then the record whose
  // key -1 is stored as 0x80000000.
  ASSERT_EQ(stored[7], 1);
  EXPECT_EQ(Bytes(stored.begin() + 14, stored.begin() + 24),
            (Bytes{0x80, 0, 0, 0, 2, 79, 0, 0, 0, 5}));

  KwzdContainer* back = nullptr;
  ASSERT_EQ(parse_bytes(stored, &back), ML_OK);
  EXPECT_EQ(kwzd_record_count(back), 2);
  int32_t key = 7;
  DataBlob* first = kwzd_get_at(back, 0, &key);
  EXPECT_EQ(key, -1);
  EXPECT_EQ(blob_type(first), 79);
  EXPECT_EQ(bytes_of(first), (Bytes{'a', 'l', 'p', 'h', 'a'}));
  blob_release(first);
  uint16_t len = 0;
  const uint8_t* sec = kwzd_get_section(back, -1, 1, &len);
  ASSERT_NE(sec, nullptr);
  EXPECT_EQ(Bytes(sec, sec + len), Bytes(info, info + 6));
  EXPECT_EQ(serialize(back), stored);
  kwzd_free(back);
}

TEST(Kwzd, KeysAfterRemoval) {
  for (bool reuse : {false, true}) {
    Store s;
    EXPECT_EQ(append_text(s.c, "1"), 1);
    EXPECT_EQ(append_text(s.c, "2"), 2);
    EXPECT_EQ(append_text(s.c, "3"), 3);
    EXPECT_EQ(reuse ? kwzd_remove_reuse(s.c, 3) : kwzd_remove(s.c, 3), 0);
    EXPECT_EQ(append_text(s.c, "x"), reuse ? 3 : 4);
    EXPECT_EQ(kwzd_remove(s.c, 99), ML_NOT_FOUND);
  }
  Store s;
  for (int i = 0; i < 4; ++i) append_text(s.c, "v");
  ASSERT_EQ(kwzd_drop_newest(s.c, 2), ML_OK);
  EXPECT_EQ(kwzd_record_count(s.c), 2);
  EXPECT_EQ(append_text(s.c, "w"), 5);  // dropped keys are not handed out again
  // The next key travels with the stored form when it is above largest + 1.
  KwzdContainer* back = nullptr;
  ASSERT_EQ(kwzd_remove(s.c, 5), ML_OK);
  ASSERT_EQ(parse_bytes(serialize(s.c), &back), ML_OK);
  EXPECT_EQ(append_text(back, "z"), 6);
  kwzd_free(back);

  int32_t key = KWZD_HEADER_KEY;
  ASSERT_EQ(kwzd_next_key(s.c, &key), 1);
  EXPECT_EQ(key, 1);
  ASSERT_EQ(kwzd_next_key(s.c, &key), 1);
  EXPECT_EQ(key, 2);
  EXPECT_EQ(kwzd_next_key(s.c, &key), 0);
  key = 77;
  EXPECT_EQ(kwzd_next_key(s.c, &key), 0);
}

TEST(Kwzd, KeysHandedOutBeforeAreNotHandedOutAgain) {
  Store s;
  EXPECT_EQ(append_text(s.c, "1"), 1);
  EXPECT_EQ(append_text(s.c, "2"), 2);
  EXPECT_EQ(append_text(s.c, "3"), 3);
  ASSERT_EQ(kwzd_remove(s.c, 2), ML_OK);
  ASSERT_EQ(kwzd_remove(s.c, 3), ML_OK);
  DataBlob* b = text_blob(84, "again");
  ASSERT_EQ(kwzd_add_record(s.c, 2, b), ML_OK);  // a lower key, added by hand
  blob_release(b);
  EXPECT_EQ(append_text(s.c, "new"), 4);  // not 3 a second time

  // At the top of the key range appending stops instead of wrapping.
  b = text_blob(84, "top");
  ASSERT_EQ(kwzd_add_record(s.c, INT32_MAX, b), ML_OK);
  ASSERT_EQ(kwzd_add_record(s.c, 7, b), ML_OK);
  int32_t key = 0;
  EXPECT_EQ(kwzd_append(s.c, b, &key), ML_BAD_ARGUMENT);
  EXPECT_EQ(key, KWZD_HEADER_KEY);
  ASSERT_EQ(kwzd_remove(s.c, INT32_MAX), ML_OK);
  EXPECT_EQ(kwzd_append(s.c, b, &key), ML_BAD_ARGUMENT);  // INT32_MAX was handed out
  // The stored form keeps that state.
  KwzdContainer* back = nullptr;
  ASSERT_EQ(parse_bytes(serialize(s.c), &back), ML_OK);
  EXPECT_EQ(kwzd_append(back, b, &key), ML_BAD_ARGUMENT);
  kwzd_free(back);
  blob_release(b);
}

TEST(Kwzd, RecordAndBlobReferences) {
  Store s;
  DataBlob* a = text_blob(79, "a");
  DataBlob* b = text_blob(79, "b");
  ASSERT_EQ(kwzd_add_record(s.c, 5, a), ML_OK);
  EXPECT_EQ(blob_refcount(a), 2u);
  EXPECT_EQ(kwzd_add_record(s.c, 5, b), ML_BAD_ARGUMENT);
  EXPECT_EQ(kwzd_add_record(s.c, KWZD_HEADER_KEY, b), ML_BAD_ARGUMENT);
  EXPECT_EQ(kwzd_add_record(s.c, 6, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(kwzd_set_blob(s.c, nullptr, 5), ML_BAD_ARGUMENT);
  EXPECT_EQ(kwzd_replace(s.c, 9, b), ML_NOT_FOUND);
  ASSERT_EQ(kwzd_replace(s.c, 5, b), ML_OK);
  EXPECT_EQ(blob_refcount(a), 1u);
  EXPECT_EQ(blob_refcount(b), 2u);
  ASSERT_EQ(kwzd_replace(s.c, 5, b), ML_OK);  // the same blob changes nothing
  EXPECT_EQ(blob_refcount(b), 2u);
  DataBlob* found = kwzd_find(s.c, 5);
  EXPECT_EQ(found, b);
  EXPECT_EQ(blob_refcount(b), 3u);
  blob_release(found);
  kwzd_clear(s.c);
  EXPECT_EQ(blob_refcount(b), 1u);
  blob_release(a);
  blob_release(b);

  Store full;
  DataBlob* v = text_blob(1, "v");
  for (int i = 0; i < 255; ++i) ASSERT_EQ(kwzd_add_record(full.c, i, v), ML_OK);
  EXPECT_EQ(kwzd_add_record(full.c, 1000, v), ML_WRONG_KIND);
  blob_release(v);
}

TEST(Kwzd, ParsesVersionsAndEndings) {
  // Version 3, count 255, one record (key 1, no sections, format 79, 2 bytes).
  const Bytes v3 = {'K', 'W', 'Z', 'D', 0, 3, 255, 0, 0, 0, 0, 1, 0, 79, 0, 0, 0, 2, 'h', 'i'};
  struct Case {
    const char* what;
    Bytes tail;
    int status;
  };
  const Case cases[] = {
      {"ends after the last record", {}, ML_OK},
      {"end marker", {0xFF, 0xFF, 0xFF, 0xFF}, ML_OK},
      {"ff padding", {0xFF}, ML_OK},
      {"other trailing byte", {0xFF, 0xFE}, ML_UNAVAILABLE},
      {"zero trailing byte", {0}, ML_UNAVAILABLE},
  };
  for (const Case& c : cases) {
    Bytes b = v3;
    b.insert(b.end(), c.tail.begin(), c.tail.end());
    KwzdContainer* out = nullptr;
    EXPECT_EQ(parse_bytes(b, &out), c.status) << c.what;
    if (out) {
      EXPECT_EQ(kwzd_record_count(out), 1) << c.what;
    }
    EXPECT_EQ(out != nullptr, c.status == ML_OK);
    kwzd_free(out);
  }

  // Version 1: 8-byte record head with a 16-bit data length of 0x0102.
  Bytes v1 = {'K', 'W', 'Z', 'D', 0, 1, 1, 1, 0, 0, 0, 9, 0, 86, 0x01, 0x02};
  v1.insert(v1.end(), 258, 0xAB);
  v1.insert(v1.end(), {3, 0, 4, 0, 0, 0, 20});  // header section after the records
  KwzdContainer* out = nullptr;
  ASSERT_EQ(parse_bytes(v1, &out), ML_OK);
  DataBlob* r = kwzd_find(out, 9);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(blob_size(r), 258u);
  blob_release(r);
  int32_t key = 0;
  DataBlob* x = text_blob(1, "x");
  ASSERT_EQ(kwzd_append(out, x, &key), ML_OK);
  EXPECT_EQ(key, 20);
  blob_release(x);
  kwzd_free(out);

  // A next-key section that is not 4 bytes long is ignored.
  const Bytes odd = {'K', 'W', 'Z', 'D', 0, 3, 0, 1, 3, 0, 2, 0, 9};
  ASSERT_EQ(parse_bytes(odd, &out), ML_OK);
  ASSERT_EQ(kwzd_append(out, x = text_blob(1, "x"), &key), ML_OK);
  EXPECT_EQ(key, 1);
  blob_release(x);
  kwzd_free(out);
}

TEST(Kwzd, RejectsMalformedStoredForms) {
  const Bytes good = {'K', 'W', 'Z', 'D', 0, 3, 1, 0, 0, 0, 0, 1, 1, 79, 0, 0, 0, 1, 'h', 7, 0, 0};
  KwzdContainer* out = nullptr;
  ASSERT_EQ(parse_bytes(good, &out), ML_OK);
  kwzd_free(out);
  struct Case {
    const char* what;
    std::size_t at;
    int value;  // -1: cut at `at`
  };
  const Case cases[] = {
      {"magic", 0, 'X'},         {"byte four", 4, 1},       {"version 0", 5, 0},
      {"version 4", 5, 4},       {"count mismatch", 6, 2},  {"data past the end", 17, 9},
      {"section past the end", 21, 5}, {"cut head", 7, -1},  {"cut record head", 15, -1},
      {"version 2 short", 5, 2},
  };
  for (const Case& c : cases) {
    Bytes b = good;
    if (c.value < 0)
      b.resize(c.at);
    else
      b[c.at] = static_cast<uint8_t>(c.value);
    if (std::string(c.what) == "version 2 short") b.resize(b.size() - 1);
    EXPECT_EQ(parse_bytes(b, &out), ML_UNAVAILABLE) << c.what;
    EXPECT_EQ(out, nullptr);
  }
  // The same key twice.
  const Bytes twice = {'K', 'W', 'Z', 'D', 0, 3, 2, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0,
                       0, 0, 0, 1, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(parse_bytes(twice, &out), ML_UNAVAILABLE);

  DataBlob* wrong = blob_create(84, good.data(), static_cast<uint32_t>(good.size()));
  EXPECT_EQ(kwzd_parse(wrong, &out), ML_WRONG_KIND);
  EXPECT_EQ(kwzd_parse(nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(kwzd_parse(wrong, nullptr), ML_BAD_ARGUMENT);
  blob_release(wrong);
}

TEST(Kwzd, RecordsOfABorrowedParentAreViewsThatHoldIt) {
  const Bytes stored = {'K', 'W', 'Z', 'D', 0, 3, 255, 0, 0, 0, 0, 4, 0, 79, 0, 0, 0, 3, 'a', 'b', 'c'};
  DataBlob* parent = blob_view(80, stored.data(), static_cast<uint32_t>(stored.size()));
  KwzdContainer* out = nullptr;
  ASSERT_EQ(kwzd_parse(parent, &out), ML_OK);
  DataBlob* r = kwzd_find(out, 4);
  EXPECT_EQ(blob_data(r), stored.data() + 18);
  EXPECT_EQ(blob_refcount(parent), 2u);
  blob_release(parent);
  kwzd_free(out);  // the record view still holds the parent
  EXPECT_EQ(bytes_of(r), (Bytes{'a', 'b', 'c'}));
  blob_release(r);  // and lets it go now

  DataBlob* owned = blob_create(80, stored.data(), static_cast<uint32_t>(stored.size()));
  ASSERT_EQ(kwzd_parse(owned, &out), ML_OK);
  r = kwzd_find(out, 4);
  EXPECT_NE(blob_data(r), blob_data(owned) + 18);  // a copy
  EXPECT_EQ(blob_refcount(owned), 1u);
  blob_release(r);
  kwzd_free(out);
  blob_release(owned);
}

int failing_append(void*, const uint8_t*, uint32_t length) { return length > 8 ? 17 : 0; }
int released = 0;
void count_release(void* p) {
  ++released;
  std::free(p);
}
int test_allocate(void*, uint32_t total, uint8_t** buffer, int* owns, BlobReleaseRoutine* release,
                  void** argument) {
  *buffer = static_cast<uint8_t*>(std::malloc(total));
  *owns = 1;
  *release = count_release;
  *argument = *buffer;
  return 0;
}

TEST(Kwzd, WriterFailureReleasesTheBuffer) {
  Store s;
  append_text(s.c, "some record bytes");
  const KwzdWriter writer = {test_allocate, failing_append};
  DataBlob* out = reinterpret_cast<DataBlob*>(1);
  released = 0;
  EXPECT_EQ(kwzd_serialize_with(s.c, &out, &writer, nullptr), ML_CORRUPT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(released, 1);
  EXPECT_EQ(kwzd_serialize_with(s.c, &out, nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(kwzd_magic_ok(reinterpret_cast<const uint8_t*>("KWZD"), 4), 1);
  EXPECT_EQ(kwzd_magic_ok(reinterpret_cast<const uint8_t*>("KWZ"), 3), 0);
}

}  // namespace
