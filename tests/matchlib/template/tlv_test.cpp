#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "support/prefix_sweep.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Tlv, LengthForms) {
  struct Case {
    uint32_t length;
    Bytes encoded;
  };
  const Case cases[] = {
      {0, {0x00}},
      {127, {0x7F}},
      {128, {0x81, 0x80}},
      {255, {0x81, 0xFF}},
      {256, {0x82, 0x01, 0x00}},
      {65535, {0x82, 0xFF, 0xFF}},
      {65536, {0x83, 0x01, 0x00, 0x00}},
      {0xFFFFFF, {0x83, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    uint8_t buf[8] = {};
    const int n = tlv_write_length(buf, c.length);
    EXPECT_EQ(tlv_length_size(c.length), n);
    EXPECT_EQ(Bytes(buf, buf + n), c.encoded) << c.length;
    uint32_t back = 1;
    EXPECT_EQ(tlv_read_length(c.encoded.data(), &back), n);
    EXPECT_EQ(back, c.length);
  }
  for (uint32_t too_long : {0x1000000u, 0xFFFFFFFFu}) {
    uint8_t buf[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(tlv_write_length(buf, too_long), 0) << too_long;
    EXPECT_EQ(Bytes(buf, buf + 8), Bytes(8, 7));
  }
  for (uint8_t bad : {0x80, 0x84, 0xFF}) {
    const uint8_t b[5] = {bad, 1, 1, 1, 1};
    uint32_t len = 9;
    EXPECT_EQ(tlv_read_length(b, &len), 0) << int(bad);
    EXPECT_EQ(len, 0u);
  }
}

TEST(Tlv, Tags) {
  struct Case {
    uint16_t tag;
    int size, cls, number, constructed;
  };
  const Case cases[] = {
      {0x7F2E, 2, 1, 46, 1}, {0xA1, 1, 2, 1, 1},  {0x81, 1, 2, 1, 0},
      {0x5F1F, 2, 1, 31, 0}, {0x00, 1, 0, 0, 0},  {0xC6, 1, 3, 6, 0},
      {0x1F80, 0, 3, 0, 0},  {0x1F00, 0, 3, 0, 0}, {0x1F, 0, 3, 0, 0},
  };
  for (const Case& c : cases) {
    int number = -1;
    EXPECT_EQ(tlv_tag_size(c.tag), c.size) << std::hex << c.tag;
    EXPECT_EQ(tlv_tag_class(c.tag, &number), c.cls) << std::hex << c.tag;
    EXPECT_EQ(number, c.number) << std::hex << c.tag;
    EXPECT_EQ(tlv_is_constructed(c.tag, nullptr) != 0, c.constructed != 0) << std::hex << c.tag;
    EXPECT_EQ(tlv_is_primitive(c.tag, nullptr), c.constructed ? 0 : 1);
    uint8_t buf[2] = {0xEE, 0xEE};
    EXPECT_EQ(tlv_write_tag(buf, c.tag), c.size);
    if (c.size == 0) {
      EXPECT_EQ(buf[0], 0xEE);  // invalid tags are not written
      continue;
    }
    uint16_t back = 0;
    EXPECT_EQ(tlv_read_tag(buf, &back), c.size);
    EXPECT_EQ(back, c.tag);
  }
  EXPECT_EQ(tlv_make_tag(1, 1, 46), 0x7F2E);
  EXPECT_EQ(tlv_make_tag(2, 1, 1), 0xA1);
  EXPECT_EQ(tlv_make_tag(2, 0, 1), 0x81);
  EXPECT_EQ(tlv_make_tag(0, 0, 30), 0x1E);
  EXPECT_EQ(tlv_make_tag(3, 0, 127), 0xDF7F);
  EXPECT_EQ(tlv_make_tag(0, 0, 128), 0);
  const uint8_t bad_second[2][2] = {{0x7F, 0x00}, {0x7F, 0x80}};
  for (const auto& b : bad_second) {
    uint16_t t = 1;
    EXPECT_EQ(tlv_read_tag(b, &t), 0);
    EXPECT_EQ(t, 0);
  }
}

// A nested card template: 7F2E { A1 { 81 <minutiae> } A2 { C6 <points> } }.
const Bytes kCard = {0x7F, 0x2E, 0x0C, 0xA1, 0x04, 0x81, 0x02, 0x11, 0x22,
                     0xA2, 0x04, 0xC6, 0x02, 0x33, 0x44};

TEST(Tlv, FindPathThroughNestedElements) {
  const uint16_t path[] = {0x7F2E, 0xA1, 0x81};
  TlvElement e{};
  ASSERT_EQ(tlv_find_path(kCard.data(), static_cast<uint32_t>(kCard.size()), path, 3, &e), 1);
  EXPECT_EQ(e.tag, 0x81);
  EXPECT_EQ(e.length, 2u);
  EXPECT_EQ(e.value, kCard.data() + 7);
  const uint16_t points[] = {0x7F2E, 0xA2, 0xC6};
  ASSERT_EQ(tlv_find_path(kCard.data(), static_cast<uint32_t>(kCard.size()), points, 3, &e), 1);
  EXPECT_EQ(e.value[0], 0x33);

  // Without A1 the minutiae are not found.
  const Bytes without = {0x7F, 0x2E, 0x06, 0xA2, 0x04, 0xC6, 0x02, 0x33, 0x44};
  EXPECT_EQ(tlv_find_path(without.data(), static_cast<uint32_t>(without.size()), path, 3, &e), 0);
  EXPECT_EQ(tlv_find_path(kCard.data(), 0, path, 3, &e), 0);
  EXPECT_EQ(tlv_find_path(kCard.data(), 5, path, 3, &e), 0);  // cut short
  e.tag = 0x55;
  EXPECT_EQ(tlv_find_path(kCard.data(), 5, path, 0, &e), 1);
  EXPECT_EQ(e.tag, 0x55);  // depth 0 leaves the output alone

  TlvElement n{};
  EXPECT_EQ(tlv_next_element(kCard.data() + 3, 12, 0xA2, &n), 1);
  EXPECT_EQ(n.length, 4u);
  EXPECT_EQ(tlv_next_element(kCard.data() + 3, 12, 0xA3, &n), 0);
}

TEST(Tlv, BoundedReaderRefusesCutElements) {
  TlvElement e{};
  EXPECT_EQ(tlv_read_element(kCard.data(), &e, static_cast<uint32_t>(kCard.size())), 15u);
  zyl::test::for_each_prefix(kCard, [&](std::span<const std::uint8_t> cut) {
    EXPECT_EQ(tlv_read_element(cut.data(), &e, static_cast<uint32_t>(cut.size())), 0u);
    EXPECT_EQ(e.value, nullptr);
  });
  const Bytes long_form = {0x04, 0x82, 0x01};  // length field cut
  EXPECT_EQ(tlv_read_element(long_form.data(), &e, 3), 0u);
  // The unbounded header reader on the same shapes.
  EXPECT_EQ(tlv_read_header(kCard.data(), &e), 15u);
  const Bytes bad_len = {0x04, 0x85, 0, 0};
  EXPECT_EQ(tlv_read_header(bad_len.data(), &e), 1u);
  EXPECT_EQ(e.length, 0u);
  EXPECT_EQ(tlv_element_size(bad_len.data()), 2u);
  EXPECT_EQ(tlv_element_size(kCard.data()), 15u);
}

// Every cut of a nested template: the tree parser, the validator and the
// path search refuse it and read nothing past the cut.
TEST(Tlv, TreeValidatorAndPathRefuseEveryCut) {
  const uint16_t path[] = {0x7F2E, 0xA2, 0xC6};
  zyl::test::for_each_prefix(kCard, [&](std::span<const std::uint8_t> cut) {
    const auto n = static_cast<uint32_t>(cut.size());
    TlvNode* root = reinterpret_cast<TlvNode*>(1);
    EXPECT_EQ(tlv_parse(cut.data(), n, &root), ML_UNAVAILABLE);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(tlv_validate(cut.data(), n), ML_UNAVAILABLE);
    TlvElement e{};
    EXPECT_EQ(tlv_find_path(cut.data(), n, path, 3, &e), 0);
  });
}

// n nested constructed elements around 81 00; with `sibling` each level
// also holds a primitive after its constructed child, so it stays open.
Bytes chain(int n, bool sibling) {
  Bytes b = {0x81, 0x00};
  for (int i = 0; i < n; ++i) {
    Bytes inner = b;
    if (sibling && i > 0) inner.insert(inner.end(), {0x82, 0x00});
    b = {0xA1, static_cast<uint8_t>(inner.size())};
    b.insert(b.end(), inner.begin(), inner.end());
  }
  return b;
}

TEST(Tlv, Validate) {
  struct Case {
    const char* what;
    Bytes bytes;
    int status;
  };
  const Case cases[] = {
      {"card", kCard, ML_OK},
      {"two primitives", {0x81, 0x01, 0xAA, 0x82, 0x00}, ML_OK},
      {"empty input", {}, ML_UNAVAILABLE},
      {"value past the end", {0x81, 0x05, 0xAA}, ML_UNAVAILABLE},
      {"child past its parent", {0xA1, 0x03, 0x81, 0x05, 0xAA, 0xBB, 0xCC}, ML_UNAVAILABLE},
      {"empty constructed", {0xA1, 0x00}, ML_UNAVAILABLE},
      {"bad length form", {0x81, 0x80}, ML_UNAVAILABLE},
      {"single chain closes each level at once", chain(12, false), ML_OK},
      {"eight open levels", chain(8, true), ML_OK},
      {"nine open levels", chain(9, true), ML_UNAVAILABLE},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tlv_validate(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())), c.status)
        << c.what;
}

TEST(Tlv, TreeBuildsEncodesAndParsesBack) {
  const uint8_t minutiae[] = {0x11, 0x22};
  const uint8_t points[200] = {};
  TlvNode* root = tlv_node_create(0x7F2E, 99, minutiae);
  EXPECT_EQ(root->length, 0u);  // constructed nodes keep no value
  EXPECT_EQ(root->value, nullptr);
  TlvNode* a1 = tlv_node_create(0xA1, 0, nullptr);
  TlvNode* a2 = tlv_node_create(0xA2, 0, nullptr);
  ASSERT_EQ(tlv_append_child(root, a2), ML_OK);
  ASSERT_EQ(tlv_prepend_child(root, a1), ML_OK);
  ASSERT_EQ(tlv_append_child(a1, tlv_node_create(0x81, 2, minutiae)), ML_OK);
  ASSERT_EQ(tlv_append_child(a2, tlv_node_create(0xC6, 200, points)), ML_OK);
  TlvNode* empty = tlv_node_create(0xA3, 0, nullptr);
  ASSERT_EQ(tlv_append_child(root, empty), ML_OK);
  EXPECT_EQ(root->child_count, 3u);

  uint32_t size = 0;
  ASSERT_EQ(tlv_encode(root, nullptr, &size), ML_OK);
  // 7F2E 81 D6 | A1 04 81 02 11 22 | A2 81 CB C6 81 C8 <200> | A3 00
  EXPECT_EQ(size, 4u + 6 + 206 + 2);
  uint8_t* out = nullptr;
  ASSERT_EQ(tlv_encode(root, &out, &size), ML_OK);
  EXPECT_EQ(Bytes(out, out + 9), (Bytes{0x7F, 0x2E, 0x81, 0xD6, 0xA1, 0x04, 0x81, 0x02, 0x11}));
  EXPECT_EQ(Bytes(out + size - 2, out + size), (Bytes{0xA3, 0x00}));
  EXPECT_EQ(tlv_validate(out, size), ML_UNAVAILABLE);  // the empty A3 is refused by validation only

  TlvNode* back = nullptr;
  ASSERT_EQ(tlv_parse(out, size, &back), ML_OK);
  EXPECT_EQ(back->child_count, 3u);
  TlvNode* c6 = tlv_find(back, 0xC6);
  ASSERT_NE(c6, nullptr);
  EXPECT_EQ(c6->length, 200u);
  EXPECT_EQ(c6->value, out + 4 + 6 + 3 + 3);  // points into the parsed bytes
  EXPECT_EQ(tlv_node_size(back), size - 4);
  EXPECT_EQ(tlv_find_child(back, 0xC6), nullptr);
  EXPECT_EQ(tlv_find_child(back, 0xA3), tlv_node_last_child(back));
  uint8_t again[300];
  EXPECT_EQ(tlv_encode_into(again, back), size);
  EXPECT_EQ(Bytes(again, again + size), Bytes(out, out + size));

  // Detaching the middle child relinks its neighbours.
  TlvNode* mid = tlv_node_next(tlv_node_first_child(back));
  tlv_detach(mid);
  EXPECT_EQ(back->child_count, 2u);
  EXPECT_EQ(tlv_node_next(tlv_node_first_child(back)), tlv_node_last_child(back));
  EXPECT_EQ(tlv_node_prev(tlv_node_last_child(back)), tlv_node_first_child(back));
  EXPECT_EQ(tlv_node_parent(mid), nullptr);
  tlv_node_free(mid);
  tlv_node_free(back);
  std::free(out);
  tlv_node_free(root);
}

TEST(Tlv, TreeErrors) {
  TlvNode* primitive = tlv_node_create(0x81, 0, nullptr);
  TlvNode* parent = tlv_node_create(0xA1, 0, nullptr);
  TlvNode* child = tlv_node_create(0x82, 0, nullptr);
  EXPECT_EQ(tlv_append_child(parent, nullptr), ML_NO_MEMORY);
  EXPECT_EQ(tlv_append_child(primitive, child), ML_BAD_ARGUMENT);
  EXPECT_EQ(tlv_append_child(parent, child), ML_OK);
  EXPECT_EQ(tlv_append_child(parent, child), ML_BAD_ARGUMENT);  // already has a parent
  EXPECT_EQ(tlv_append_child(parent, parent), ML_BAD_ARGUMENT);
  TlvNode* empty = tlv_node_create(0xA5, 0, nullptr);
  uint8_t buf[2];
  EXPECT_EQ(tlv_encode_into(buf, empty), 2u);
  EXPECT_EQ(buf[0], 0xA5);
  EXPECT_EQ(buf[1], 0x00);
  // A primitive node that claims bytes it has not got cannot be encoded.
  TlvNode* hollow = tlv_node_create(0x83, 4, nullptr);
  uint8_t* out = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(tlv_encode(hollow, &out, &size), ML_CORRUPT);
  EXPECT_EQ(out, nullptr);
  tlv_node_free(hollow);
  tlv_node_free(empty);
  tlv_node_free(parent);
  tlv_node_free(primitive);

  struct Case {
    const char* what;
    Bytes bytes;
  };
  Bytes deep;
  for (int i = 0; i < 40; ++i) deep.insert(deep.end(), {0xA1, static_cast<uint8_t>(2 * (39 - i))});
  const Case bad[] = {
      {"inner claims more than its parent", {0xA1, 0x03, 0x81, 0x05, 0xAA, 0xBB, 0xCC}},
      {"bad tag", {0x7F, 0x80, 0x00}},
      {"root past the end", {0x81, 0x09, 0x00}},
      {"nested too deep", deep},
  };
  for (const Case& c : bad) {
    TlvNode* root = reinterpret_cast<TlvNode*>(1);
    EXPECT_EQ(tlv_parse(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), &root), ML_UNAVAILABLE)
        << c.what;
    EXPECT_EQ(root, nullptr);
  }
}

}  // namespace
