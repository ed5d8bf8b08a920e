// Images derived by pixel transforms, combinations of two images, the
// preprocessing copies and the packed-image blob conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "kernel_stand_ins.h"
#include "matchlib/image/grey_image.h"
#include "support/prefix_sweep.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_reorient.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/matchlib_xform.h"

namespace {

using zyl::matchlib::Ref;
using Bytes = std::vector<uint8_t>;

Ref<GrayImage> adopt(GrayImage* img) { return Ref<GrayImage>::adopt(img); }

Bytes pixels_of(const GrayImage* img) {
  return Bytes(image_pixels(img), image_pixels(img) + image_pixel_count(img));
}

Ref<GrayImage> image_of(int h, int w, const Bytes& px, int ry = 500, int rx = 500) {
  return adopt(image_create(h, w, ry, rx, px.data(), 0));
}

TEST(ImageTransforms, ReorientSwapsQuarterTurnsAndCarriesTheMask) {
  const Bytes px = {1, 2, 3, 4, 5, 6};
  auto img = image_of(2, 3, px, 500, 250);
  mask_set_cell_bits(image_mask_plane_ensure(img.get()), 0x02, 0);
  img->stats.quality = 70;
  for (int code = 0; code <= 5; ++code) {
    auto r = adopt(image_reorient(img.get(), code));
    ASSERT_TRUE(r);
    Bytes expected(6);
    img_flip_rotate_u8(px.data(), 2, 3, code, expected.data());
    EXPECT_EQ(pixels_of(r.get()), expected) << code;
    const bool quarter = code >= 4;
    EXPECT_EQ(image_height(r.get()), quarter ? 3 : 2);
    EXPECT_EQ(image_resolution_y(r.get()), quarter ? 250 : 500);
    EXPECT_EQ(mask_height(image_mask_plane(r.get())), image_height(r.get()));
    EXPECT_EQ(r->stats.quality, 70);
  }
}

TEST(ImageTransforms, RotationReportsWhereTheOriginWent) {
  const Bytes px(10 * 20, 100);
  auto img = image_of(10, 20, px);
  int first = -1, second = -1;
  auto quarter = adopt(image_rotate(img.get(), 64, &first, &second));
  ASSERT_TRUE(quarter);
  EXPECT_EQ(image_height(quarter.get()), 20);
  EXPECT_EQ(image_width(quarter.get()), 10);
  uint8_t* buf = nullptr;
  int h = 0, w = 0, row = 0, col = 0;
  ASSERT_EQ(img_rotate_u8(px.data(), 10, 20, 64, &buf, &h, &w, &row, &col), ML_OK);
  EXPECT_EQ(pixels_of(quarter.get()), Bytes(buf, buf + size_t(h) * w));
  std::free(buf);
  EXPECT_EQ(first, col);
  EXPECT_EQ(second, row);
  image_mask_plane_ensure(img.get());
  auto eighth = adopt(image_rotate(img.get(), 32, nullptr, nullptr));
  ASSERT_TRUE(eighth);
  EXPECT_EQ(mask_height(image_mask_plane(eighth.get())), image_height(eighth.get()));
  EXPECT_EQ(mask_test_bits(image_mask_plane(eighth.get()), 0xFF, 0), MASK_OUTSIDE_SOURCE);
}

TEST(ImageTransforms, InvertedAndFramedWindowCopies) {
  const Bytes px = {0, 10, 200, 255};
  auto img = image_of(2, 2, px);
  image_mask_plane_ensure(img.get());
  auto inv = adopt(image_create_inverted(img.get()));
  EXPECT_EQ(pixels_of(inv.get()), (Bytes{255, 245, 55, 0}));
  EXPECT_NE(image_mask_plane(inv.get()), image_mask_plane(img.get()));
  EXPECT_TRUE(image_mask_plane(inv.get()));
  EXPECT_EQ(image_window_frame(img.get(), 101), nullptr);
  EXPECT_TRUE(adopt(image_window_frame(img.get(), 50)));
}

TEST(ImageTransforms, PasteTreatsWhiteAsTransparentUnlessOpaque) {
  const Bytes base_px(4 * 4, 10);
  const Bytes other_px = {255, 1, 2, 255};
  auto base = image_of(4, 4, base_px);
  auto other = image_of(2, 2, other_px);
  auto pasted = adopt(image_paste(base.get(), other.get(), 1, 2));  // column 1, row 2
  Bytes expected = base_px;
  expected[2 * 4 + 2] = 1;
  expected[3 * 4 + 1] = 2;
  EXPECT_EQ(pixels_of(pasted.get()), expected);
  EXPECT_EQ(pixels_of(base.get()), base_px);
  auto opaque = adopt(image_paste_opaque(base.get(), other.get(), 1, 2));
  expected[2 * 4 + 1] = 254;
  expected[3 * 4 + 2] = 254;
  EXPECT_EQ(pixels_of(opaque.get()), expected);

  // Masks: both planes pasted; with one missing, base's plane is shared.
  MaskPlane* bm = image_mask_plane_ensure(base.get());
  auto shared = adopt(image_paste(base.get(), other.get(), 0, 0));
  EXPECT_EQ(image_mask_plane(shared.get()), bm);
  mask_set_cell_bits(image_mask_plane_ensure(other.get()), 0x40, 3);
  auto both = adopt(image_paste(base.get(), other.get(), 1, 2));
  EXPECT_EQ(mask_test_bits(image_mask_plane(both.get()), 0xFF, 3 * 4 + 2), 0x40);
}

TEST(ImageTransforms, OverlayBlendHalvesBothUnlessTheBaseIsWhite) {
  const Bytes base_px = {255, 100, 101, 255};
  const Bytes over_px = {51, 255, 31, 7};
  auto base = image_of(2, 2, base_px);
  auto over = image_of(2, 2, over_px);
  auto blended = adopt(image_overlay_blend(base.get(), over.get(), 0, 0));
  EXPECT_EQ(pixels_of(blended.get()), (Bytes{51, 100, 15 + 50, 7}));
  auto shifted = adopt(image_overlay_blend(base.get(), over.get(), 1, -1));
  EXPECT_EQ(pixels_of(shifted.get()), (Bytes{255, 31 / 2 + 100 / 2, 101, 255}));  // one overlay pixel lands
}

TEST(ImageTransforms, JoinCentresBothAndLeavesAGap) {
  auto a = image_of(2, 3, Bytes(6, 1), 500, 400);
  auto b = image_of(3, 5, Bytes(15, 2));
  auto v = adopt(image_join(a.get(), b.get(), 1, 1));
  ASSERT_TRUE(v);
  EXPECT_EQ(image_height(v.get()), 6);
  EXPECT_EQ(image_width(v.get()), 5);
  EXPECT_EQ(image_resolution_x(v.get()), 400);
  EXPECT_NE(image_mask_plane(v.get()), nullptr);
  const Bytes vexp = {254, 1, 1, 1, 254,    // the first centred in width 5 (white -> 254)
                      254, 1, 1, 1, 254,
                      255, 255, 255, 255, 255,  // the gap
                      2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
  EXPECT_EQ(pixels_of(v.get()), vexp);
  auto hz = adopt(image_join(a.get(), b.get(), 2, 0));
  EXPECT_EQ(image_height(hz.get()), 3);
  EXPECT_EQ(image_width(hz.get()), 10);
  EXPECT_EQ(pixels_of(hz.get())[5], 2);
  EXPECT_EQ(pixels_of(hz.get())[3], 255);
}

// Inverts the pixels, reports background where the source is 0, and
// nothing usable when the first pixel is 99.
int invert_routine(MatchContext*, const uint8_t* px, const uint8_t* usable, int h, int w, int,
                   const SourceWindow*, uint8_t* out, uint8_t** out_map, int* out_code) {
  const size_t n = size_t(h) * w;
  if (usable) zyl::test::kernel_fakes::last_usable.assign(usable, usable + n);
  auto* map = static_cast<uint8_t*>(std::malloc(n));
  for (size_t i = 0; i < n; ++i) {
    map[i] = px[i] ? 1 : 0;
    out[i] = uint8_t(255 - px[i]);
  }
  *out_map = map;
  *out_code = px[0] == 99 ? 1 : 0;
  return 0;
}
int failing_routine(MatchContext*, const uint8_t*, const uint8_t*, int, int, int,
                    const SourceWindow*, uint8_t*, uint8_t**, int*) {
  return 7;
}
int add_one_routine(MatchContext*, const uint8_t* px, const uint8_t*, int h, int w, int,
                    const SourceWindow*, uint8_t* out, uint8_t**, int*) {
  for (size_t i = 0; i < size_t(h) * w; ++i) out[i] = uint8_t(px[i] + 1);
  return 0;
}

TEST(ImagePreprocess, CopyAppliesTheRoutineItsMapAndItsCode) {
  zyl::test::kernel_fakes::reset();
  Bytes px(10 * 10);
  for (size_t i = 0; i < px.size(); ++i) px[i] = (i / 10 + i % 10) % 2 ? 240 : 0;
  auto img = image_of(10, 10, px);
  MaskPlane* m = image_mask_plane_ensure(img.get());
  mask_set_cell_bits(m, 0x40, 1);
  mask_set_cell_bits(m, 0x02, 3);
  img->stats.quality = 80;
  img->background_built = 1;
  img->region_built = 1;
  const ImagePrepDescriptor step{invert_routine};
  auto out = adopt(image_preprocess_copy(img.get(), nullptr, &step));
  ASSERT_TRUE(out);
  Bytes inverted(px.size());
  for (size_t i = 0; i < px.size(); ++i) inverted[i] = uint8_t(255 - px[i]);
  EXPECT_EQ(pixels_of(out.get()), inverted);
  EXPECT_EQ(zyl::test::kernel_fakes::last_usable[0], 255);
  EXPECT_EQ(zyl::test::kernel_fakes::last_usable[1], 0);  // 0x40 is not usable
  EXPECT_EQ(out->stats.quality, -1);
  const MaskPlane* om = image_mask_plane(out.get());
  ASSERT_NE(om, nullptr);
  EXPECT_EQ(mask_test_bits(om, 0xFF, 0), 0x02);  // source pixel 0: the routine's background
  EXPECT_EQ(mask_test_bits(om, 0xFF, 1), 0x40);  // 240 in a busy area; the mark stays
  EXPECT_EQ(mask_test_bits(om, 0xFF, 3), 0x00);  // the old background bit is rebuilt away
  EXPECT_EQ(mask_test_bits(m, 0xFF, 3), 0x02);   // the source is untouched
  EXPECT_EQ(out->background_built, 1);

  px[0] = 99;
  auto poor_src = image_of(10, 10, px);
  auto poor = adopt(image_preprocess_copy(poor_src.get(), nullptr, &step));
  ASSERT_TRUE(poor);
  EXPECT_EQ(poor->stats.quality, 0);
  EXPECT_EQ(poor->stats.bright_percent, 50);
  EXPECT_EQ(poor->stats.contrast_second, 100);
  EXPECT_EQ(poor->stats.foreground_area, -1);

  const ImagePrepDescriptor bad{failing_routine};
  EXPECT_EQ(image_preprocess_copy(img.get(), nullptr, &bad), nullptr);
  EXPECT_EQ(image_preprocess_copy(img.get(), nullptr, nullptr), nullptr);
}

TEST(ImagePreprocess, ListRunsInPlaceAndStopsAtTheFirstFailure) {
  auto img = image_of(2, 2, Bytes{1, 2, 3, 4});
  const ImagePrepRoutine twice[] = {add_one_routine, add_one_routine, nullptr};
  EXPECT_EQ(image_apply_preprocessors(img.get(), nullptr, twice), ML_OK);
  EXPECT_EQ(pixels_of(img.get()), (Bytes{3, 4, 5, 6}));
  const ImagePrepRoutine failing[] = {add_one_routine, failing_routine, add_one_routine, nullptr};
  EXPECT_EQ(image_apply_preprocessors(img.get(), nullptr, failing), 7);
  EXPECT_EQ(pixels_of(img.get()), (Bytes{4, 5, 6, 7}));
}

TEST(ImagePreprocess, InPlaceListRefusesAReadOnlyImage) {
  Bytes caller{1, 2, 3, 4};
  GrayImage* wrapped = image_wrap(2, 2, 500, 500, caller.data(), 0);
  ASSERT_NE(wrapped, nullptr);
  ASSERT_EQ(image_is_writable(wrapped), 0);
  const ImagePrepRoutine once[] = {add_one_routine, nullptr};
  EXPECT_EQ(image_apply_preprocessors(wrapped, nullptr, once), ML_WRONG_KIND);
  EXPECT_EQ(caller, (Bytes{1, 2, 3, 4}));
  image_set_writable(wrapped, 1);  // the caller lends its buffer for writing
  EXPECT_EQ(image_apply_preprocessors(wrapped, nullptr, once), ML_OK);
  EXPECT_EQ(caller, (Bytes{2, 3, 4, 5}));
  image_release(wrapped);
}

TEST(ImagePreprocess, AStageRoutineIsAPreprocessingRoutine) {
  // A stage's image routines run through the preprocessing copy, so they are
  // one routine type.
  const ImagePrepRoutine list[] = {add_one_routine, nullptr};
  StageObject* stage = stage_create(nullptr, 67, list, nullptr, 0, 0);
  ASSERT_NE(stage, nullptr);
  const ImagePrepDescriptor step{stage_get_image_routines(stage)[0]};
  auto img = image_of(2, 2, Bytes{1, 2, 3, 4});
  auto out = adopt(image_preprocess_copy(img.get(), nullptr, &step));
  ASSERT_TRUE(out);
  EXPECT_EQ(pixels_of(out.get()), (Bytes{2, 3, 4, 5}));
  EXPECT_EQ(image_apply_preprocessors(img.get(), nullptr, stage_get_image_routines(stage)), ML_OK);
  EXPECT_EQ(pixels_of(img.get()), (Bytes{2, 3, 4, 5}));
  stage_free(stage);
}

TEST(ImageBlob, PackedImageRoundTripAndRefusals) {
  auto img = image_of(2, 3, Bytes{1, 2, 3, 4, 5, 6}, 500, 508);
  img->impression_type = 8;
  DataBlob* blob = nullptr;
  ASSERT_EQ(image_to_blob(img.get(), &blob), ML_OK);
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(blob_type(blob), 71);
  // The packed image record: magic, version, rows, columns, vertical and
  // horizontal resolution, the impression type as its flag, the pixels.
  const Bytes record = {'K', 'W', 'I', 'M', 0, 1, 0, 2, 0, 3, 0x01, 0xF4, 0x01, 0xFC, 8,
                        1,   2,   3,   4,   5, 6};
  EXPECT_EQ(Bytes(blob_data(blob), blob_data(blob) + blob_size(blob)), record);
  GrayImage* back = nullptr;
  EXPECT_EQ(image_from_blob(blob, &back), ML_OK);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(pixels_of(back), pixels_of(img.get()));
  EXPECT_EQ(image_resolution_x(back), 508);
  EXPECT_EQ(image_resolution_y(back), 500);
  EXPECT_EQ(image_impression_type(back), 8);
  image_release(back);
  blob_release(blob);

  auto empty = adopt(image_create(0, 3, 500, 500, nullptr, 0));
  EXPECT_EQ(image_to_blob(empty.get(), &blob), ML_UNAVAILABLE);
  EXPECT_EQ(image_to_blob(nullptr, &blob), ML_UNAVAILABLE);
  const uint8_t junk[4] = {1, 2, 3, 4};
  for (int type : {66, 71}) {
    DataBlob* other = blob_create(type, junk, 4);
    back = reinterpret_cast<GrayImage*>(1);
    EXPECT_EQ(image_from_blob(other, &back), ML_OK) << type;
    EXPECT_EQ(back, nullptr) << type;
    blob_release(other);
  }
  // A record cut short, or of another version, gives no image.
  zyl::test::for_each_prefix(record, [&](std::span<const std::uint8_t> cut) {
    DataBlob* other = blob_create(71, cut.data(), static_cast<uint32_t>(cut.size()));
    back = reinterpret_cast<GrayImage*>(1);
    EXPECT_EQ(image_from_blob(other, &back), ML_OK);
    EXPECT_EQ(back, nullptr);
    blob_release(other);
  });
  for (Bytes bad : {record}) {
    bad[5] = 2;
    DataBlob* other = blob_create(71, bad.data(), static_cast<uint32_t>(bad.size()));
    back = reinterpret_cast<GrayImage*>(1);
    EXPECT_EQ(image_from_blob(other, &back), ML_OK);
    EXPECT_EQ(back, nullptr);
    blob_release(other);
  }
}

}  // namespace

namespace {

TEST(ImageComposite, PairBesideTheBlendWithDigits) {
  Bytes a_px(20 * 30), b_px(25 * 20);
  for (size_t i = 0; i < a_px.size(); ++i) a_px[i] = uint8_t(40 + i % 50);
  for (size_t i = 0; i < b_px.size(); ++i) b_px[i] = uint8_t(60 + i % 70);
  auto a = adopt(image_create(20, 30, 500, 500, a_px.data(), 0));
  auto b = adopt(image_create(25, 20, 500, 500, b_px.data(), 0));
  RigidTransform* t = xform_create(3, -2, 16);
  auto c = adopt(image_composite(a.get(), b.get(), t));
  ASSERT_TRUE(c);
  // Pair: 20 + 10 + 25 rows, 30 wide. Blend: the framed first (22 x 32)
  // widened by twice the framed second's larger side (27) both ways.
  EXPECT_EQ(image_width(c.get()), 30 + 2 + (32 + 2 * 27));
  EXPECT_EQ(image_height(c.get()), std::max(20 + 10 + 25, 22 + 2 * 27));
  auto plain = adopt(image_join(a.get(), b.get(), 10, 1));
  // The digits are drawn over the pair's corner in white.
  bool white_in_corner = false;
  for (int y = 5; y < 12; ++y)
    for (int x = 5; x < 10; ++x)
      white_in_corner |= image_pixels(c.get())[size_t(y) * image_width(c.get()) + x] == 255;
  EXPECT_TRUE(white_in_corner);
  EXPECT_EQ(image_composite(a.get(), nullptr, t), nullptr);
  EXPECT_EQ(image_composite(a.get(), b.get(), nullptr), nullptr);
  xform_release(t);
}

}  // namespace
