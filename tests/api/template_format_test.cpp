#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "zylscan/crc8.h"
#include "zylscan/template_format.h"

namespace {

std::vector<uint8_t> fmr(std::size_t size, std::vector<std::pair<std::size_t, uint8_t>> bytes) {
  std::vector<uint8_t> d(size, 0);
  d[0] = 'F';
  d[1] = 'M';
  d[2] = 'R';
  for (auto [at, v] : bytes) d[at] = v;
  return d;
}

TEST(FormatDetection, RecognisesEveryFormat) {
  std::vector<uint8_t> card(512, 0);
  card[0] = 'C';
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    int length;  // -1: the data's size
    int format;
  } cases[] = {
      {"QXE container", {'Q', 'X', 'E', 0}, -1, 0},
      {"native flags 0", {0x00, 1, 2}, -1, 1},
      {"native flags 7", {0x07}, -1, 1},
      {"anything below 0x20", {0x1F, 0xFF}, -1, 1},
      {"card of 512 bytes", card, -1, 3},
      {"card declared 511 long", card, 511, -902},
      {"ISO: 2 minutiae, length 42", fmr(64, {{27, 2}, {11, 42}}), -1, 2},
      {"ANSI: 2 minutiae, length 44", fmr(64, {{29, 2}, {9, 44}}), -1, 4},
      {"ISO with length above 255", fmr(64, {{27, 100}, {10, 2}, {11, 118}}), -1, 2},
      {"FMR with both lengths wrong", fmr(64, {{27, 2}, {11, 43}, {29, 2}, {9, 45}}), -1, -902},
      {"FMR cut before its count", fmr(20, {{11, 30}}), -1, -902},
      {"QX only", {'Q', 'X'}, -1, -902},
      {"other text", {'A', 'B', 'C'}, -1, -902},
      {"empty", {}, -1, -902},
  };
  for (const Case& c : cases) {
    const int length = c.length < 0 ? int(c.data.size()) : c.length;
    EXPECT_EQ(ZYL_getFormatType(c.data.data(), length), c.format) << c.name;
  }
  EXPECT_EQ(ZYL_getFormatType(nullptr, 10), -902);
  EXPECT_EQ(CheckFeaFormat(), 0);
}

struct Wrapped {
  std::vector<uint8_t> bytes;
  int result;
};

Wrapped wrap(const std::vector<uint8_t>& nuvel, const QxeIdentifier& id, const QxeInfo& info) {
  Wrapped w{std::vector<uint8_t>(nuvel.size() + 26, 0xEE), 0};
  int32_t length = -1;
  w.result = ZYL_FromNuvelToQXE(nuvel.data(), int32_t(nuvel.size()), id, w.bytes.data(), &length, info);
  EXPECT_EQ(length, int32_t(nuvel.size() + 26));
  return w;
}

const QxeIdentifier kId = {{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}};
const QxeInfo kInfo = {0xA1, 0xA2, 0x12345678, {0x1234, 0x10005, -1}};

TEST(QxeContainer, HeaderLayout) {
  // A native template with curvature and singular flags, 3 minutiae, 2
  // singular points: the singular count sits at 7 + 3 x 5.
  std::vector<uint8_t> nuvel(200, 0x5A);
  nuvel[0] = 3;
  nuvel[5] = 3;
  nuvel[6] = 0;
  nuvel[22] = 2;
  const Wrapped w = wrap(nuvel, kId, kInfo);
  ASSERT_EQ(w.result, 1);
  ASSERT_EQ(w.bytes.size(), 226u);
  const std::vector<uint8_t> header = {'Q', 'X', 'E', 0x15, 0x16, 0x17, 0x18, 0xA1, 0x12, 0x34,
                                       0x00, 0x05, 0xFF, 0xFF, 0xA2, 0x78, 0x10, 0x11, 0x12, 0x13,
                                       0x14, 3, 2, 0x00, 0xC8};
  EXPECT_EQ(std::vector<uint8_t>(w.bytes.begin(), w.bytes.begin() + 25), header);
  EXPECT_EQ(0, memcmp(w.bytes.data() + 25, nuvel.data(), nuvel.size()));
  EXPECT_EQ(w.bytes[225], CRC8_BlockChecksum(w.bytes.data(), 225));
}

TEST(QxeContainer, SingularCountFollowsTheMinutiae) {
  struct Case {
    uint8_t flags;
    std::size_t size;
    uint8_t expected;
  } cases[] = {
      {2, 40, 9},   // no curvature: 7 + 2 x 4 = 15
      {3, 40, 4},   // curvature: 7 + 2 x 5 = 17
      {1, 40, 0},   // no singular points
      {2, 15, 0},   // template ends before the count byte
      {2, 16, 9},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> nuvel(c.size, 0);
    nuvel[0] = c.flags;
    nuvel[5] = 2;
    if (c.size > 15) nuvel[15] = 9;
    if (c.size > 17) nuvel[17] = 4;
    const Wrapped w = wrap(nuvel, kId, kInfo);
    EXPECT_EQ(w.bytes[21], 2) << int(c.flags) << " " << c.size;
    EXPECT_EQ(w.bytes[22], c.expected) << int(c.flags) << " " << c.size;
  }
}

TEST(QxeContainer, RoundTripReturnsWhatTheWriterWasGiven) {
  for (std::size_t n : {0u, 1u, 7u, 300u, 5000u}) {
    std::vector<uint8_t> nuvel(n);
    for (std::size_t i = 0; i < n; ++i) nuvel[i] = uint8_t(i * 7 + 1);
    const Wrapped w = wrap(nuvel, kId, kInfo);
    std::vector<uint8_t> out(n + 1, 0xEE);
    int32_t length = -1;
    QxeInfo info{};
    QxeIdentifier id{};
    ASSERT_EQ(ZYL_FromQXEToNuvel(w.bytes.data(), int32_t(w.bytes.size()), out.data(), &length,
                                 &info, &id),
              1);
    ASSERT_EQ(length, int32_t(n));
    EXPECT_TRUE(std::equal(nuvel.begin(), nuvel.end(), out.begin()));
    EXPECT_EQ(out[n], 0xEE);
    EXPECT_EQ(0, memcmp(id.bytes, kId.bytes, 9));
    EXPECT_EQ(info.infoByte1, 0xA1);
    EXPECT_EQ(info.infoByte2, 0xA2);
    // The container keeps 8 bits of value 3 and 16 bits of each number.
    EXPECT_EQ(info.infoValue3, 0x78);
    EXPECT_EQ(info.infoNumbers[0], 0x1234);
    EXPECT_EQ(info.infoNumbers[1], 0x0005);
    EXPECT_EQ(info.infoNumbers[2], 0xFFFF);
  }
}

int unwrap(const std::vector<uint8_t>& c, int length, std::vector<uint8_t>& out) {
  int32_t n = -7;
  QxeInfo info{};
  QxeIdentifier id{};
  return ZYL_FromQXEToNuvel(c.data(), length, out.data(), &n, &info, &id);
}

TEST(QxeContainer, DetectsEveryFlippedBit) {
  std::vector<uint8_t> nuvel(60);
  for (std::size_t i = 0; i < nuvel.size(); ++i) nuvel[i] = uint8_t(i * 13);
  const Wrapped w = wrap(nuvel, kId, kInfo);
  std::vector<uint8_t> out(70000, 0xEE);
  for (std::size_t i = 0; i < w.bytes.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      std::vector<uint8_t> bad = w.bytes;
      bad[i] ^= uint8_t(1 << bit);
      const int expected = (i == 23 || i == 24) ? -2 : -1;
      ASSERT_EQ(unwrap(bad, int(bad.size()), out), expected) << "byte " << i << " bit " << bit;
    }
  }
  EXPECT_EQ(out[0], 0xEE);  // nothing written on failure
}

TEST(QxeContainer, RefusesLengthsThatDoNotMatch) {
  const Wrapped w = wrap(std::vector<uint8_t>(10, 1), kId, kInfo);
  std::vector<uint8_t> out(64, 0xEE);
  std::vector<uint8_t> longer = w.bytes;
  longer.push_back(0);
  struct Case {
    const std::vector<uint8_t>* data;
    int length;
  } cases[] = {{&w.bytes, 35}, {&longer, 37}, {&w.bytes, 25}, {&w.bytes, 0}, {&w.bytes, -1}};
  for (const Case& c : cases) EXPECT_EQ(unwrap(*c.data, c.length, out), -2) << c.length;
  EXPECT_EQ(unwrap(w.bytes, 36, out), 1);

  int32_t n = 0;
  QxeInfo info{};
  QxeIdentifier id{};
  EXPECT_EQ(ZYL_FromQXEToNuvel(nullptr, 36, out.data(), &n, &info, &id), -4);
  EXPECT_EQ(ZYL_FromNuvelToQXE(out.data(), -1, kId, out.data(), &n, kInfo), -2);
  EXPECT_EQ(ZYL_FromNuvelToQXE(out.data(), 65510, kId, out.data(), &n, kInfo), -2);
  EXPECT_EQ(ZYL_FromNuvelToQXE(out.data(), 1, kId, nullptr, &n, kInfo), -4);
}

}  // namespace
