// Every allocation of the container and record readers may fail: the call
// answers its out-of-memory status with no object, leaks nothing (the
// sanitizer build checks) and leaves the caller's objects as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/allocation_sweep.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_gridblock.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using zyl::test::allocation_failed;
using zyl::test::sweep_allocation_failures;

int expected_status() { return allocation_failed() ? ML_NO_MEMORY : ML_OK; }

DataBlob* text_blob(int code, const std::string& s) {
  return blob_create(code, s.data(), static_cast<std::uint32_t>(s.size()));
}

Bytes serialize(KwzdContainer* c) {
  DataBlob* out = nullptr;
  EXPECT_EQ(kwzd_serialize(c, &out), ML_OK);
  Bytes b(blob_data(out), blob_data(out) + blob_size(out));
  blob_release(out);
  return b;
}

// Two records with sections, a header section and a next-key section.
KwzdContainer* sample_container() {
  KwzdContainer* c = kwzd_create();
  const std::uint8_t info[] = {1, 2, 3};
  for (int key : {4, 9}) {
    DataBlob* b = text_blob(79, "record " + std::to_string(key));
    EXPECT_EQ(kwzd_add_record(c, key, b), ML_OK);
    blob_release(b);
    EXPECT_EQ(kwzd_add_section(c, key, 1, info, sizeof info), ML_OK);
  }
  EXPECT_EQ(kwzd_add_section(c, KWZD_HEADER_KEY, 2, info, 2), ML_OK);
  EXPECT_EQ(kwzd_remove(c, 9), ML_OK);
  DataBlob* b = text_blob(79, "last");
  EXPECT_EQ(kwzd_add_record(c, 5, b), ML_OK);
  blob_release(b);
  return c;
}

TEST(ReaderAllocationFailure, KwzdParse) {
  KwzdContainer* c = sample_container();
  const Bytes stored = serialize(c);
  kwzd_free(c);
  DataBlob* blob =
      blob_create(KWZD_FORMAT, stored.data(), static_cast<std::uint32_t>(stored.size()));
  sweep_allocation_failures([&] {
    KwzdContainer* back = reinterpret_cast<KwzdContainer*>(&back);
    const int status = kwzd_parse(blob, &back);
    EXPECT_EQ(status, expected_status());
    if (allocation_failed()) {
      EXPECT_EQ(back, nullptr);
    } else {
      EXPECT_EQ(kwzd_record_count(back), 2);
      EXPECT_EQ(serialize(back), stored);
    }
    kwzd_free(back);
    EXPECT_EQ(blob_refcount(blob), 1u);
  });
  blob_release(blob);
}

TEST(ReaderAllocationFailure, KwzdEditsKeepTheContainer) {
  KwzdContainer* c = sample_container();
  DataBlob* blob = text_blob(79, "new");
  const std::uint8_t info[] = {7};
  sweep_allocation_failures([&] {
    const int status = kwzd_add_record(c, 12, blob);
    EXPECT_EQ(status, expected_status());
    EXPECT_EQ(blob_refcount(blob), allocation_failed() ? 1u : 2u);
    if (status == ML_OK) {
      EXPECT_EQ(kwzd_remove(c, 12), ML_OK);
    }
  });
  sweep_allocation_failures([&] {
    const int status = kwzd_add_section(c, 4, 9, info, sizeof info);
    EXPECT_EQ(status, expected_status());
    if (status == ML_OK) {
      EXPECT_EQ(kwzd_remove_section(c, 4, 9), ML_OK);
    }
  });
  sweep_allocation_failures([&] {
    DataBlob* out = reinterpret_cast<DataBlob*>(&out);
    const int status = kwzd_serialize(c, &out);
    EXPECT_EQ(status, expected_status());
    if (allocation_failed()) {
      EXPECT_EQ(out, nullptr);
    }
    blob_release(out);
  });
  blob_release(blob);
  EXPECT_EQ(kwzd_record_count(c), 2);
  EXPECT_EQ(kwzd_find(c, 12), nullptr);
  std::uint16_t length = 0;
  EXPECT_NE(kwzd_get_section(c, 4, 1, &length), nullptr);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(kwzd_get_section(c, 4, 9, &length), nullptr);
  kwzd_free(c);
}

TEST(ReaderAllocationFailure, TlvParse) {
  const std::uint8_t value[] = {0x11, 0x22};
  TlvNode* root = tlv_node_create(0x7F2E, 0, nullptr);
  TlvNode* a1 = tlv_node_create(0xA1, 0, nullptr);
  ASSERT_EQ(tlv_append_child(root, a1), ML_OK);
  ASSERT_EQ(tlv_append_child(a1, tlv_node_create(0x81, 2, value)), ML_OK);
  ASSERT_EQ(tlv_append_child(root, tlv_node_create(0x82, 1, value)), ML_OK);
  std::uint8_t* encoded = nullptr;
  std::uint32_t size = 0;
  ASSERT_EQ(tlv_encode(root, &encoded, &size), ML_OK);
  tlv_node_free(root);
  sweep_allocation_failures([&] {
    TlvNode* back = reinterpret_cast<TlvNode*>(&back);
    EXPECT_EQ(tlv_parse(encoded, size, &back), expected_status());
    if (allocation_failed())
      EXPECT_EQ(back, nullptr);
    else
      EXPECT_NE(tlv_find(back, 0x81), nullptr);
    tlv_node_free(back);
  });
  std::free(encoded);
}

TEST(ReaderAllocationFailure, GridBlockParse) {
  GridFeatureBlock* block = gridblock_create(3, 4, 500, 7, 9);
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 12; ++i) {
    block->cells[i].valid = i % 2;
    for (auto& v : block->cells[i].values) v = static_cast<std::uint8_t>(20 * i);
  }
  std::uint8_t* stored = nullptr;
  std::uint16_t length = 0;
  ASSERT_EQ(gridblock_serialize(block, &stored, &length, nullptr), ML_OK);
  gridblock_free(block);
  sweep_allocation_failures([&] {
    GridFeatureBlock* back = reinterpret_cast<GridFeatureBlock*>(&back);
    EXPECT_EQ(gridblock_parse(stored, length, &back), expected_status());
    if (allocation_failed())
      EXPECT_EQ(back, nullptr);
    else
      EXPECT_EQ(back->rows, 3);
    gridblock_free(back);
  });
  std::free(stored);
}

}  // namespace
