// Stored image record: exact layout, what a read gives back, and refusal of
// short, newer or inconsistent records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_image.h"

namespace {

using zyl::matchlib::Ref;
using Bytes = std::vector<uint8_t>;

Bytes write_record(const GrayImage* img) {
  Bytes out(image_write(nullptr, img), 0xEE);
  EXPECT_EQ(image_write(out.data(), img), out.size());
  return out;
}

Ref<GrayImage> read_record(const Bytes& in, uint32_t expected_consumed) {
  GrayImage* img = nullptr;
  EXPECT_EQ(image_read_bounded(in.data(), in.size(), &img), expected_consumed);
  return Ref<GrayImage>::adopt(img);
}

TEST(ImageRecord, NullImageIsTheTwoBytesOneZero) {
  EXPECT_EQ(image_write(nullptr, nullptr), 2u);
  EXPECT_EQ(write_record(nullptr), (Bytes{1, 0}));
  GrayImage* img = reinterpret_cast<GrayImage*>(1);
  const Bytes rec = {1, 0};
  EXPECT_EQ(image_read(rec.data(), &img), 2u);
  EXPECT_EQ(img, nullptr);
}

TEST(ImageRecord, PlainImageLayoutIsExact) {
  const Bytes px = {1, 2, 3, 4, 5, 6};
  auto img = Ref<GrayImage>::adopt(image_create(2, 3, 500, 508, px.data(), 0x1A5));
  // height, width, then the horizontal resolution before the vertical one
  const Bytes expected = {1, 1, 0, 2, 0, 3, 0x01, 0xFC, 0x01, 0xF4,
                          0,                                   // no source window
                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // quality, area, fg %, bright %
                          0xFF, 0xFF, 0xFF, 0xFF,              // contrast and companions, spread
                          0xFF, 0xA5, 0, 0xFF, 0xFF, 0,        // range mean, impression, property,
                                                               // stored quality, flag word
                          0,                                   // no finger information
                          1, 2, 3, 4, 5, 6,
                          0};                                  // no mask plane
  const Bytes rec = write_record(img.get());
  EXPECT_EQ(rec.size(), 1 + 1 + 8 + 1 + 15 + 1 + 6 + 1u);
  EXPECT_EQ(rec, expected);
}

TEST(ImageRecord, FullImageLayoutIsExact) {
  const Bytes px = {9, 8};
  auto img = Ref<GrayImage>::adopt(image_create(1, 2, 500, 500, px.data(), 3));
  img->stats = {70, 0x1234, 40, 55, 21, 22, 23, 24, 25};
  image_set_flag_word(img.get(), 0x1FF);
  image_set_property_byte(img.get(), 9);
  image_set_stored_quality(img.get(), 0x0102);
  img->source_window = static_cast<SourceWindow*>(std::malloc(sizeof(SourceWindow)));
  *img->source_window = {300, 400, 1, 2, -2, -3};
  AttributeValue* a = attribute_create_full(0x0A0B0C0D, 0x0E0F, 1);
  FingerInfo* fi = finger_info_create_full(6, a, 0x11223344);
  image_set_finger_info(img.get(), fi);
  finger_info_release(fi);
  attribute_release(a);
  mask_set_cell_bits(image_mask_plane_ensure(img.get()), 0x41, 1);

  const Bytes expected = {1, 1, 0, 1, 0, 2, 0x01, 0xF4, 0x01, 0xF4,
                          1, 0x01, 0x2C, 0x01, 0x90, 0, 1, 0, 2, 0xFF, 0xFE, 0xFF, 0xFD,
                          70, 0x12, 0x34, 40, 55, 21, 22, 23, 25, 24,  // spread before range mean
                          3, 9, 0x01, 0x02, 0xFF,                      // flag word: low byte only
                          2, 1, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 1, 6, 0x11, 0x22, 0x33, 0x44,
                          0, 0, 0, 0, 0,
                          9, 8,
                          1, 0, 1, 0, 2, 0x00, 0x41};
  const Bytes rec = write_record(img.get());
  EXPECT_EQ(rec, expected);

  auto back = read_record(rec, rec.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(write_record(back.get()), rec);
  EXPECT_EQ(image_flag_word(back.get()), 0xFFu);
  EXPECT_EQ(back->stats.foreground_area, 0x1234);
  EXPECT_EQ(back->stats.laplacian_spread, 25);
  EXPECT_EQ(back->stats.block_range_mean, 24);
  EXPECT_EQ(image_stored_quality(back.get()), 0x0102);
  ASSERT_NE(back->source_window, nullptr);
  EXPECT_EQ(back->source_window->row_offset, -2);
  EXPECT_EQ(back->source_window->column_offset, -3);
  EXPECT_EQ(finger_info_equal(image_finger_info(back.get()), image_finger_info(img.get())), 1);
  EXPECT_EQ(mask_equal(image_mask_plane(back.get()), image_mask_plane(img.get())), 1);
  EXPECT_EQ(image_is_writable(back.get()), 1);
}

TEST(ImageRecord, UnsetStatisticsReadBackAsTheirStoredNumbers) {
  auto img = Ref<GrayImage>::adopt(image_create(2, 2, 500, 500, nullptr, 0));
  auto back = read_record(write_record(img.get()), 32);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->stats.quality, 255);
  EXPECT_EQ(back->stats.foreground_area, 65535);
  EXPECT_EQ(back->stats.laplacian_spread, 255);
  EXPECT_EQ(image_stored_quality(back.get()), 0xFFFF);
  EXPECT_EQ(back->stored_quality, -1);
}

TEST(ImageRecord, RefusesNewerShortAndInconsistentRecords) {
  auto img = Ref<GrayImage>::adopt(image_create(2, 2, 500, 500, nullptr, 0));
  image_mask_plane_ensure(img.get());
  const Bytes good = write_record(img.get());
  ASSERT_TRUE(read_record(good, good.size()));

  Bytes newer = good;
  newer[0] = 2;
  EXPECT_FALSE(read_record(newer, 0));
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes prefix(good.begin(), good.begin() + n);
    EXPECT_FALSE(read_record(prefix, 0)) << n;
  }
  // The plane's header claims 1 x 4 cells for a 2 x 2 image.
  Bytes other_plane = good;
  const size_t plane_at = good.size() - 9;
  ASSERT_EQ(other_plane[plane_at], 1);
  other_plane[plane_at + 2] = 1;
  other_plane[plane_at + 4] = 4;
  EXPECT_FALSE(read_record(other_plane, 0));
}

TEST(ImageRecord, PropertyByteOf32OrMoreReadsAsZero) {
  auto img = Ref<GrayImage>::adopt(image_create(1, 1, 500, 500, nullptr, 0));
  Bytes rec = write_record(img.get());
  const size_t property_at = 2 + 8 + 1 + 11;
  rec[property_at] = 32;
  auto back = read_record(rec, rec.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(image_property_byte(back.get()), 0);
  rec[property_at] = 31;
  EXPECT_EQ(image_property_byte(read_record(rec, rec.size()).get()), 31);
}

TEST(ImageRecord, SourceWindowRecordRoundTrips) {
  EXPECT_EQ(source_window_write(nullptr, nullptr), 1u);
  const SourceWindow w = {65535, 1, 2, 3, -32768, 32767};
  Bytes out(source_window_write(nullptr, &w));
  ASSERT_EQ(out.size(), 13u);
  source_window_write(out.data(), &w);
  EXPECT_EQ(out, (Bytes{1, 0xFF, 0xFF, 0, 1, 0, 2, 0, 3, 0x80, 0x00, 0x7F, 0xFF}));
  SourceWindow* back = nullptr;
  EXPECT_EQ(source_window_read(out.data(), &back), 13u);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->row_offset, -32768);
  EXPECT_EQ(back->column_offset, 32767);
  EXPECT_EQ(back->source_height, 65535);
  std::free(back);
  const uint8_t none = 0;
  EXPECT_EQ(source_window_read(&none, &back), 1u);
  EXPECT_EQ(back, nullptr);
}

}  // namespace
