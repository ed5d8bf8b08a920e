#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "device/crc8.h"
#include "zylscan/crc8.h"

namespace {

// Bit-at-a-time CRC-8 (polynomial 0xD5, initial 0, MSB first, no final XOR),
// independent of the table.
uint8_t reference_crc8(const std::vector<uint8_t>& data) {
  uint8_t crc = 0;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80) ? uint8_t((crc << 1) ^ 0xD5) : uint8_t(crc << 1);
  }
  return crc;
}

TEST(Crc8, KnownAnswers) {
  struct Case {
    std::string data;
    uint8_t crc;
  };
  const Case cases[] = {
      {"123456789", 0xBC},
      {"abc", 0x5A},
      {"", 0x00},
      {std::string(1, '\0'), 0x00},
      {std::string(1, '\x01'), 0xD5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CRC8_BlockChecksum(c.data.data(), int(c.data.size())), c.crc) << c.data;
    EXPECT_EQ(zyl::device::crc8({reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size()}),
              c.crc);
  }
}

TEST(Crc8, TableMatchesBitwiseDefinition) {
  const auto& table = zyl::device::crc8_table();
  for (int j = 0; j < 256; ++j) ASSERT_EQ(table[j], reference_crc8({uint8_t(j)})) << j;

  std::mt19937 rng(7);
  std::vector<uint8_t> data(1000);
  for (auto& b : data) b = uint8_t(rng());
  EXPECT_EQ(CRC8_BlockChecksum(data.data(), int(data.size())), reference_crc8(data));
}

TEST(Crc8, WorksWithAndWithoutMakeCrcTable) {
  // Callers are told to build the table first; one that forgets must still
  // get the right checksum, and building it again changes nothing.
  EXPECT_EQ(CRC8_BlockChecksum("123456789", 9), 0xBC);
  make_crc_table();
  make_crc_table();
  EXPECT_EQ(CRC8_BlockChecksum("123456789", 9), 0xBC);
}

TEST(Crc8, IncrementalUpdatesEqualOneBlock) {
  const std::string data = "123456789";
  for (size_t split = 0; split <= data.size(); ++split) {
    uint8_t state = 0xEE;
    CRC8_InitChecksum(&state);
    CRC8_UpdateChecksum(&state, data.data(), int(split));
    CRC8_UpdateChecksum(&state, data.data() + split, int(data.size() - split));
    CRC8_FinishChecksum(&state);
    EXPECT_EQ(state, 0xBC) << "split at " << split;
  }

  uint8_t state;
  CRC8_InitChecksum(&state);
  for (char c : data) CRC8_Update(&state, uint8_t(c));
  CRC8_FinishChecksum(&state);
  EXPECT_EQ(state, 0xBC);
}

TEST(Crc8, AppendedChecksumLeavesZeroRemainder) {
  // With no final XOR a record followed by its own check byte sums to 0,
  // which is how containers that close with the CRC byte verify themselves.
  std::vector<uint8_t> record = {0x51, 0x58, 0x45, 0x00, 0x19, 0xFF, 0x80};
  record.push_back(CRC8_BlockChecksum(record.data(), int(record.size())));
  EXPECT_EQ(CRC8_BlockChecksum(record.data(), int(record.size())), 0);
}

TEST(Crc8, BadArgumentsLeaveStateAlone) {
  uint8_t state = 0x42;
  CRC8_UpdateChecksum(&state, nullptr, 5);
  CRC8_UpdateChecksum(&state, "abc", -3);
  CRC8_UpdateChecksum(&state, "abc", 0);
  EXPECT_EQ(state, 0x42);
  EXPECT_EQ(CRC8_BlockChecksum(nullptr, 10), 0);
  EXPECT_EQ(CRC8_BlockChecksum("abc", -1), 0);
  // Null state: ignored, no crash.
  CRC8_InitChecksum(nullptr);
  CRC8_Update(nullptr, 1);
  CRC8_UpdateChecksum(nullptr, "abc", 3);
  CRC8_FinishChecksum(nullptr);
}

}  // namespace
