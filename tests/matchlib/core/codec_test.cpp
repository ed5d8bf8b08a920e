// Byte-order codec: big-endian fields, size-or-write, block chains.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "zylscan/matchlib_codec.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Codec, WritersPutTheLowBitsHighByteFirstAndOnlyCountWithoutOutput) {
  struct Case {
    int (*write)(uint8_t*, int);
    int value;
    Bytes expected;
  };
  const Case cases[] = {
      {bytes_write_u8, 0x1FF, {0xFF}},
      {bytes_write_be16, 74565, {0x23, 0x45}},
      {bytes_write_be16_alt, -2, {0xFF, 0xFE}},
  };
  for (const Case& c : cases) {
    Bytes out(c.expected.size() + 1, 0xEE);
    EXPECT_EQ(c.write(nullptr, c.value), static_cast<int>(c.expected.size()));
    EXPECT_EQ(c.write(out.data(), c.value), static_cast<int>(c.expected.size()));
    EXPECT_EQ(Bytes(out.begin(), out.end() - 1), c.expected) << c.value;
    EXPECT_EQ(out.back(), 0xEE);
  }
  Bytes out(4);
  EXPECT_EQ(bytes_write_be32(out.data(), 0x01234567u), 4);
  EXPECT_EQ(out, (Bytes{0x01, 0x23, 0x45, 0x67}));
  EXPECT_EQ(bytes_write_be32_alt(nullptr, 5u), 4);
}

TEST(Codec, ReadersAreUnsigned) {
  const Bytes b = {0xFF, 0xFE, 0x80, 0x01};
  EXPECT_EQ(bytes_read_u8(b.data()), 255);
  EXPECT_EQ(bytes_read_be16(b.data()), 65534);
  EXPECT_EQ(bytes_read_be16_alt(b.data() + 2), 0x8001);
  EXPECT_EQ(bytes_read_be32(b.data()), 0xFFFE8001u);
  EXPECT_EQ(bytes_read_be32_alt(b.data()), 0xFFFE8001u);
}

TEST(Codec, FloatTravelsAsItsBigEndianBitPattern) {
  Bytes out(4);
  EXPECT_EQ(bytes_write_be_f32(out.data(), 1.0f), 4);
  EXPECT_EQ(out, (Bytes{0x3F, 0x80, 0x00, 0x00}));
  for (float v : {0.0f, -2.5f, 3.1415926f, 1e-30f}) {
    bytes_write_be_f32(out.data(), v);
    EXPECT_EQ(bytes_read_be_f32(out.data()), v);
  }
}

TEST(Codec, RawWriteAndDuplicate) {
  const Bytes src = {1, 2, 3};
  Bytes out(3);
  EXPECT_EQ(bytes_write_raw(nullptr, src.data(), 3), 3u);
  EXPECT_EQ(bytes_write_raw(out.data(), src.data(), 3), 3u);
  EXPECT_EQ(out, src);

  void* copy = reinterpret_cast<void*>(1);
  ASSERT_EQ(bytes_dup(&copy, src.data(), 3), ML_OK);
  EXPECT_EQ(Bytes(static_cast<uint8_t*>(copy), static_cast<uint8_t*>(copy) + 3), src);
  std::free(copy);
  ASSERT_EQ(bytes_dup(&copy, nullptr, 0), ML_OK);
  std::free(copy);
  EXPECT_EQ(bytes_dup(&copy, nullptr, 3), ML_BAD_ARGUMENT);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(bytes_dup(nullptr, src.data(), 3), ML_BAD_ARGUMENT);
}

TEST(Codec, BlockHeaderLayouts) {
  Bytes h6(6), h4(4);
  EXPECT_EQ(block_write_header6(nullptr, 1, 2), 6);
  EXPECT_EQ(block_write_header6(h6.data(), 0x12345, 0x01020304u), 6);
  EXPECT_EQ(h6, (Bytes{0x23, 0x45, 0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(block_write_header4(nullptr, 1, 2), 4);
  EXPECT_EQ(block_write_header4(h4.data(), 0x0102, 10), 4);
  EXPECT_EQ(h4, (Bytes{0x01, 0x02, 0x00, 0x06}));  // body length = total - 4
}

// Records every routine call: (type from the header, body length, first body byte).
struct Call {
  int type;
  uint32_t body_length;
  int first;
  bool operator==(const Call&) const = default;
};
struct Log {
  std::vector<Call> calls;
  int fail_on_call = -1;  // index of the call that answers 3
};

int record(void* target, const uint8_t* body, uint32_t len, void* user, const uint8_t* header) {
  auto* log = static_cast<Log*>(target);
  EXPECT_EQ(user, &log->calls);
  log->calls.push_back({header[0] * 256 + header[1], len, len ? body[0] : -1});
  return static_cast<int>(log->calls.size()) - 1 == log->fail_on_call ? 3 : 0;
}

const BlockHandler kTable[] = {{1, record}, {2, record}, {0, nullptr}};

// Runs a walker over bytes held in a heap block of exactly their size.
int walk(int (*dispatch)(void*, const BlockHandler*, const uint8_t*, uint32_t, void*),
         const Bytes& bytes, Log& log) {
  std::unique_ptr<uint8_t[]> buf(new uint8_t[bytes.size() + 1]);
  std::copy(bytes.begin(), bytes.end(), buf.get());
  return dispatch(&log, kTable, buf.get(), static_cast<uint32_t>(bytes.size()), &log.calls);
}

TEST(BlockChain, Walks6ByteHeaderChains) {
  struct Case {
    const char* name;
    Bytes bytes;
    int fail_on_call;
    int expected;
    std::vector<Call> calls;
  };
  const Case cases[] = {
      {"one block of 12", {0, 1, 0, 0, 0, 12, 9, 0, 0, 0, 0, 0}, -1, 0, {{1, 6, 9}}},
      {"empty bodies and an unlisted type skipped",
       {0, 2, 0, 0, 0, 6, 0, 7, 0, 0, 0, 6, 0, 1, 0, 0, 0, 7, 5},
       -1,
       0,
       {{2, 0, -1}, {1, 1, 5}}},
      {"last block claims one byte more", {0, 1, 0, 0, 0, 6, 0, 2, 0, 0, 0, 8, 1}, -1, 17, {}},
      {"stored length below 6", {0, 1, 0, 0, 0, 5, 0}, -1, 17, {}},
      {"trailing bytes shorter than a header", {0, 1, 0, 0, 0, 6, 0, 1}, -1, 17, {}},
      {"routine stops the walk",
       {0, 1, 0, 0, 0, 7, 1, 0, 2, 0, 0, 0, 7, 2, 0, 1, 0, 0, 0, 7, 3},
       1,
       3,
       {{1, 1, 1}, {2, 1, 2}}},
      {"empty buffer", {}, -1, 0, {}},
  };
  for (const Case& c : cases) {
    Log log;
    log.fail_on_call = c.fail_on_call;
    EXPECT_EQ(walk(blocks_dispatch6, c.bytes, log), c.expected) << c.name;
    EXPECT_EQ(log.calls, c.calls) << c.name;
  }
}

TEST(BlockChain, Walks4ByteHeaderChains) {
  struct Case {
    const char* name;
    Bytes bytes;
    int expected;
    std::vector<Call> calls;
  };
  const Case cases[] = {
      {"one block with a 2-byte body", {0, 2, 0, 2, 8, 9}, 0, {{2, 2, 8}}},
      {"two blocks", {0, 1, 0, 3, 1, 2, 3, 0, 2, 0, 2, 4, 5}, 0, {{1, 3, 1}, {2, 2, 4}}},
      {"ends in a header with an empty body", {0, 1, 0, 2, 1, 2, 0, 2, 0, 0}, 17, {}},
      {"ends in a block with a 1-byte body", {0, 1, 0, 1, 1}, 17, {}},
      {"body runs past the end", {0, 1, 0, 9, 1, 2, 3}, 17, {}},
  };
  for (const Case& c : cases) {
    Log log;
    EXPECT_EQ(walk(blocks_dispatch4, c.bytes, log), c.expected) << c.name;
    EXPECT_EQ(log.calls, c.calls) << c.name;
  }
}

TEST(BlockChain, NullArgumentsAreRefused) {
  const Bytes b = {0, 1, 0, 0, 0, 6};
  Log log;
  for (auto dispatch : {blocks_dispatch6, blocks_dispatch4}) {
    EXPECT_EQ(dispatch(nullptr, kTable, b.data(), 6, nullptr), ML_BAD_ARGUMENT);
    EXPECT_EQ(dispatch(&log, nullptr, b.data(), 6, nullptr), ML_BAD_ARGUMENT);
    EXPECT_EQ(dispatch(&log, kTable, nullptr, 0, nullptr), ML_BAD_ARGUMENT);
  }
  EXPECT_TRUE(log.calls.empty());
}

}  // namespace
