// Grey image object: construction forms, counting and destruction,
// accessors, and the early hand-back of pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_reorient.h"

namespace {

using zyl::matchlib::Ref;
using Bytes = std::vector<uint8_t>;

Ref<GrayImage> adopt(GrayImage* img) { return Ref<GrayImage>::adopt(img); }

struct ReleaseLog {
  int calls = 0;
  void* last_user = nullptr;
};
ReleaseLog g_log;
void log_release(void* user) {
  ++g_log.calls;
  g_log.last_user = user;
}

TEST(GreyImage, CreateWithoutPixelsIsWhiteUnmeasuredAndMaskless) {
  auto img = adopt(image_create(7, 5, 500, 500, nullptr, 0));
  ASSERT_TRUE(img);
  EXPECT_EQ(image_height(img.get()), 7);
  EXPECT_EQ(image_width(img.get()), 5);
  EXPECT_EQ(image_pixel_count(img.get()), 35u);
  EXPECT_EQ(image_capacity(img.get()), 35);
  for (int i = 0; i < 35; ++i) ASSERT_EQ(image_pixels(img.get())[i], 255);
  EXPECT_EQ(img->stats.quality, -1);
  EXPECT_EQ(img->stats.laplacian_spread, -1);
  EXPECT_EQ(image_stored_quality(img.get()), 0xFFFF);
  EXPECT_EQ(image_mask_plane(img.get()), nullptr);
  EXPECT_EQ(image_impression_type(img.get()), 0);
  EXPECT_EQ(object_refcount(img.get()), 1);
  EXPECT_EQ(image_is_writable(img.get()), 1);
  EXPECT_EQ(image_finger_info(img.get()), finger_info_default());
}

TEST(GreyImage, CreateCopiesAndWrapSharesTheCallersBuffer) {
  Bytes px = {1, 2, 3, 4, 5, 6};
  auto copy = adopt(image_create(2, 3, 500, 500, px.data(), 0));
  auto wrap = adopt(image_wrap(2, 3, 500, 500, px.data(), 0));
  ASSERT_TRUE(copy && wrap);
  px[0] = 99;
  EXPECT_EQ(image_pixels(copy.get())[0], 1);
  EXPECT_EQ(image_pixels(wrap.get()), px.data());
  EXPECT_EQ(image_is_writable(wrap.get()), 0);
  EXPECT_EQ(wrap->borrowed, 1);
  wrap.reset();  // must not free the vector's buffer (the sanitizers would tell)
  EXPECT_EQ(px[5], 6);
}

TEST(GreyImage, RefusesSizesTheRecordCannotHold) {
  struct Case {
    int h, w, ry, rx;
  } cases[] = {{-1, 4, 500, 500},     {4, -1, 500, 500}, {65536, 1, 500, 500},
               {1, 65536, 500, 500}, {4, 4, -5, 500},   {4, 4, 500, 70000},
               {65535, 65535, 500, 500}};
  for (const auto& c : cases) {
    GrayImage* img = image_create(c.h, c.w, c.ry, c.rx, nullptr, 0);
    EXPECT_EQ(img, nullptr) << c.h << "x" << c.w << " @" << c.ry << "/" << c.rx;
    image_release(img);
  }
  auto empty = adopt(image_create(0, 0, 500, 500, nullptr, 0));
  EXPECT_TRUE(empty);
}

TEST(GreyImage, GeneralFormsHonourCapacityCopyAndWritableFlags) {
  Bytes px(12, 7);
  // A capacity below height x width is refused without allocating.
  EXPECT_EQ(image_create_general(3, 4, 500, 500, px.data(), 0, 11, 0, nullptr, nullptr, 1),
            nullptr);
  EXPECT_EQ(image_wrap_general(3, 4, 500, 500, px.data(), 0, -1, 1, nullptr, nullptr), nullptr);

  auto big = adopt(image_create_general(3, 4, 500, 500, px.data(), 0, 20, 1, nullptr, nullptr, 1));
  ASSERT_TRUE(big);
  EXPECT_EQ(image_capacity(big.get()), 20);
  EXPECT_EQ(big->borrowed, 0);
  EXPECT_EQ(image_is_writable(big.get()), 0);
  EXPECT_NE(image_pixels(big.get()), px.data());
  EXPECT_EQ(image_pixels(big.get())[11], 7);

  auto wrapped = adopt(image_wrap_general(3, 4, 500, 500, px.data(), 3, 0, 1, nullptr, nullptr));
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(image_capacity(wrapped.get()), 12);
  EXPECT_EQ(image_is_writable(wrapped.get()), 1);
  EXPECT_EQ(wrapped->borrowed, 1);
  EXPECT_EQ(image_impression_type(wrapped.get()), 3);
}

TEST(GreyImage, LastReleaseCallsTheUserRoutineExactlyOnce) {
  g_log = {};
  Bytes px(4, 0);
  int user_tag = 0;
  GrayImage* img =
      image_wrap_general(2, 2, 500, 500, px.data(), 0, 0, 0, log_release, &user_tag);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(image_retain(img), img);
  EXPECT_EQ(object_refcount(img), 2);
  image_release(img);
  EXPECT_EQ(g_log.calls, 0);
  image_release(img);
  EXPECT_EQ(g_log.calls, 1);
  EXPECT_EQ(g_log.last_user, &user_tag);
  image_release(nullptr);
  EXPECT_EQ(image_retain(nullptr), nullptr);
  EXPECT_EQ(object_refcount(nullptr), 0);
}

TEST(GreyImage, NullImageAnswersTheNeutralValues) {
  EXPECT_EQ(image_height(nullptr), 0);
  EXPECT_EQ(image_width(nullptr), 0);
  EXPECT_EQ(image_pixel_count(nullptr), 0u);
  EXPECT_EQ(image_resolution(nullptr), 0);
  EXPECT_EQ(image_impression_type(nullptr), 29);
  EXPECT_EQ(image_pixels(nullptr), nullptr);
  EXPECT_EQ(image_mask_plane_ensure(nullptr), nullptr);
  EXPECT_EQ(image_flag_word(nullptr), 0u);
  EXPECT_EQ(image_property_byte(nullptr), 0);
  EXPECT_EQ(image_set_property_byte(nullptr, 40), ML_OK);
  EXPECT_EQ(image_finger_info(nullptr), finger_info_default());
  EXPECT_EQ(image_stored_quality(nullptr), 0);
  EXPECT_EQ(image_clone(nullptr), nullptr);
  uint8_t* map = reinterpret_cast<uint8_t*>(1);
  EXPECT_EQ(image_usable_mask_bytes(nullptr, &map), ML_OK);
}

TEST(GreyImage, CommonResolutionOnlyWhenBothAxesAgree) {
  struct Case {
    int ry, rx, common;
  } cases[] = {{500, 500, 500}, {500, 508, 0}, {0, 0, 0}, {1000, 999, 0}};
  for (const auto& c : cases) {
    auto img = adopt(image_create(2, 2, c.ry, c.rx, nullptr, 0));
    EXPECT_EQ(image_resolution(img.get()), c.common) << c.ry << "/" << c.rx;
    EXPECT_EQ(image_resolution_y(img.get()), c.ry);
    EXPECT_EQ(image_resolution_x(img.get()), c.rx);
  }
}

TEST(GreyImage, PropertyByteTakesOnlyValuesBelow32) {
  auto img = adopt(image_create(1, 1, 500, 500, nullptr, 0));
  struct Case {
    int value, status, stored;
  } cases[] = {{31, ML_OK, 31},
               {32, ML_WRONG_KIND, 31},
               {255, ML_WRONG_KIND, 31},
               {-1, ML_WRONG_KIND, 31},
               {0, ML_OK, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(image_set_property_byte(img.get(), c.value), c.status) << c.value;
    EXPECT_EQ(image_property_byte(img.get()), c.stored) << c.value;
  }
}

TEST(GreyImage, MaskPlaneIsSharedEnsuredAndMustMatchTheSize) {
  auto img = adopt(image_create(3, 4, 500, 500, nullptr, 0));
  MaskPlane* ensured = image_mask_plane_ensure(img.get());
  ASSERT_NE(ensured, nullptr);
  EXPECT_EQ(mask_height(ensured), 3);
  EXPECT_EQ(mask_width(ensured), 4);
  EXPECT_EQ(image_mask_plane_ensure(img.get()), ensured);

  MaskPlane* other = mask_create(3, 4);
  image_set_mask_plane(img.get(), other);
  EXPECT_EQ(image_mask_plane(img.get()), other);
  EXPECT_EQ(object_refcount(other), 2);
  mask_release(other);

  MaskPlane* wrong = mask_create(4, 3);
  image_set_mask_plane(img.get(), wrong);
  EXPECT_EQ(image_mask_plane(img.get()), other);
  EXPECT_EQ(image_create_with_mask(3, 4, 500, 500, nullptr, 0, wrong), nullptr);
  auto with = adopt(image_create_with_mask(4, 3, 500, 500, nullptr, 0, wrong));
  ASSERT_TRUE(with);
  EXPECT_EQ(object_refcount(wrong), 2);
  mask_release(wrong);

  image_set_mask_plane(img.get(), nullptr);
  EXPECT_EQ(image_mask_plane(img.get()), nullptr);
}

TEST(GreyImage, UsableMaskBytesFollowTheValidTest) {
  auto img = adopt(image_create(1, 6, 500, 500, nullptr, 0));
  uint8_t* map = nullptr;
  ASSERT_EQ(image_usable_mask_bytes(img.get(), &map), ML_OK);
  EXPECT_EQ(Bytes(map, map + 6), Bytes(6, 255));
  std::free(map);

  MaskPlane* m = image_mask_plane_ensure(img.get());
  const uint8_t cells[6] = {0x00, 0x01, 0x02, 0x10, 0x20, 0x40};
  std::memcpy(mask_cells(m), cells, 6);
  ASSERT_EQ(image_usable_mask_bytes(img.get(), &map), ML_OK);
  EXPECT_EQ(Bytes(map, map + 6), (Bytes{255, 0, 0, 0, 255, 0}));
  std::free(map);
  EXPECT_EQ(image_usable_mask_bytes(img.get(), nullptr), ML_BAD_ARGUMENT);
}

TEST(GreyImage, CloneOfAWrappedImageOwnsAWritableDeepCopy) {
  Bytes px = {10, 20, 30, 40};
  auto src = adopt(image_wrap(2, 2, 500, 508, px.data(), 8));
  ASSERT_TRUE(src);
  MaskPlane* m = image_mask_plane_ensure(src.get());
  mask_set_cell_bits(m, 0x02, 3);
  AttributeValue* a = attribute_create_full(77, 5, 1);
  FingerInfo* fi = finger_info_create_full(4, a, 9);
  image_set_finger_info(src.get(), fi);
  finger_info_release(fi);
  attribute_release(a);
  image_set_flag_word(src.get(), 0x1234);
  image_set_property_byte(src.get(), 17);
  image_set_stored_quality(src.get(), 321);
  src->stats.quality = 55;
  src->region_built = 1;
  src->mask_settings.circle_radius = 12;
  image_begin_use(src.get());

  auto c = adopt(image_clone(src.get()));
  ASSERT_TRUE(c);
  EXPECT_EQ(image_is_writable(c.get()), 1);
  EXPECT_EQ(c->borrowed, 0);
  EXPECT_NE(image_pixels(c.get()), px.data());
  EXPECT_EQ(Bytes(image_pixels(c.get()), image_pixels(c.get()) + 4), px);
  EXPECT_EQ(image_resolution_x(c.get()), 508);
  EXPECT_EQ(image_impression_type(c.get()), 8);
  EXPECT_NE(image_mask_plane(c.get()), m);
  EXPECT_EQ(mask_equal(image_mask_plane(c.get()), m), 1);
  EXPECT_NE(image_finger_info(c.get()), image_finger_info(src.get()));
  EXPECT_EQ(finger_info_equal(image_finger_info(c.get()), image_finger_info(src.get())), 1);
  EXPECT_EQ(image_flag_word(c.get()), 0x1234u);
  EXPECT_EQ(image_property_byte(c.get()), 17);
  EXPECT_EQ(image_stored_quality(c.get()), 321);
  EXPECT_EQ(c->stats.quality, 55);
  EXPECT_EQ(c->region_built, 1);
  EXPECT_EQ(c->mask_settings.circle_radius, 12);
  EXPECT_EQ(c->lifecycle, IMAGE_STATE_NEW);
}

TEST(GreyImage, LifecycleMovesOnlyForward) {
  auto img = adopt(image_create(1, 1, 500, 500, nullptr, 0));
  EXPECT_EQ(image_end_use(img.get()), IMAGE_STATE_NEW);  // new does not jump to finished
  EXPECT_EQ(image_is_finished(img.get()), 0);
  EXPECT_EQ(image_begin_use(img.get()), IMAGE_STATE_NEW);
  EXPECT_EQ(image_begin_use(img.get()), IMAGE_STATE_IN_USE);
  EXPECT_EQ(image_end_use(img.get()), IMAGE_STATE_IN_USE);
  EXPECT_EQ(image_is_finished(img.get()), 1);
  auto other = adopt(image_create(1, 1, 500, 500, nullptr, 0));
  image_mark_releasable(other.get());
  EXPECT_EQ(image_is_finished(other.get()), 1);
}

TEST(GreyImage, ReleasePixelsRefusedUnlessFinishedAndUnshared) {
  struct Case {
    int state;
    bool shared;
  } cases[] = {{IMAGE_STATE_NEW, false}, {IMAGE_STATE_IN_USE, false}, {IMAGE_STATE_FINISHED, true}};
  for (const auto& c : cases) {
    auto img = adopt(image_create(2, 2, 500, 500, nullptr, 0));
    image_mask_plane_ensure(img.get());
    img->lifecycle = c.state;
    if (c.shared) image_retain(img.get());
    uint8_t* before = image_pixels(img.get());
    EXPECT_EQ(image_release_pixels(img.get(), nullptr), 0) << c.state;
    EXPECT_EQ(image_pixels(img.get()), before);
    EXPECT_NE(image_mask_plane(img.get()), nullptr);
    if (c.shared) image_release(img.get());
  }
  EXPECT_EQ(image_release_pixels(nullptr, nullptr), 0);
}

TEST(GreyImage, ReleasePixelsFreesOwnPixelsOrHandsThemOver) {
  auto own = adopt(image_create(2, 2, 500, 500, nullptr, 0));
  image_mask_plane_ensure(own.get());
  image_mark_releasable(own.get());
  EXPECT_EQ(image_release_pixels(own.get(), nullptr), 1);
  EXPECT_EQ(image_pixels(own.get()), nullptr);
  EXPECT_EQ(image_mask_plane(own.get()), nullptr);
  EXPECT_EQ(image_release_pixels(own.get(), nullptr), 0);  // nothing left

  auto taken = adopt(image_create(2, 2, 500, 500, nullptr, 0));
  image_mark_releasable(taken.get());
  EXPECT_EQ(image_release_pixels(taken.get(), log_release), 0);  // not the allocator
  uint8_t* px = image_pixels(taken.get());
  EXPECT_EQ(image_release_pixels(taken.get(), std::free), 1);
  EXPECT_EQ(image_pixels(taken.get()), nullptr);
  std::free(px);  // the caller owns it now

  // Borrowed pixels: without a deallocator the user routine gives them
  // back; with one, it must be that routine and the pixels its data.
  g_log = {};
  Bytes buf(4, 0);
  auto borrowed = adopt(
      image_wrap_general(2, 2, 500, 500, buf.data(), 0, 0, 0, log_release, buf.data()));
  image_mark_releasable(borrowed.get());
  EXPECT_EQ(image_release_pixels(borrowed.get(), std::free), 0);
  EXPECT_EQ(image_release_pixels(borrowed.get(), log_release), 1);
  EXPECT_EQ(g_log.calls, 0);
  borrowed.reset();
  EXPECT_EQ(g_log.calls, 0);  // the routine was handed over, not called

  auto given = adopt(
      image_wrap_general(2, 2, 500, 500, buf.data(), 0, 0, 0, log_release, buf.data()));
  image_mark_releasable(given.get());
  EXPECT_EQ(image_release_pixels(given.get(), nullptr), 1);
  EXPECT_EQ(g_log.calls, 1);
  given.reset();
  EXPECT_EQ(g_log.calls, 1);

  auto plain = adopt(image_wrap(2, 2, 500, 500, buf.data(), 0));
  image_mark_releasable(plain.get());
  EXPECT_EQ(image_release_pixels(plain.get(), nullptr), 0);  // nobody to give them to
}

TEST(GreyImage, OrientedCreationTurnsPixelsAndExchangesQuarterTurnAxes) {
  const Bytes px = {1, 2, 3, 4, 5, 6};  // 2 rows of 3
  struct Case {
    int code, h, w, ry, rx;
  } cases[] = {{0, 2, 3, 500, 250}, {1, 2, 3, 500, 250}, {2, 2, 3, 500, 250},
               {3, 2, 3, 500, 250}, {4, 3, 2, 250, 500}, {5, 3, 2, 250, 500}};
  for (const auto& c : cases) {
    auto img = adopt(image_create_oriented(2, 3, 500, 250, px.data(), 7, c.code));
    ASSERT_TRUE(img) << c.code;
    EXPECT_EQ(image_height(img.get()), c.h);
    EXPECT_EQ(image_width(img.get()), c.w);
    EXPECT_EQ(image_resolution_y(img.get()), c.ry);
    EXPECT_EQ(image_resolution_x(img.get()), c.rx);
    EXPECT_EQ(image_impression_type(img.get()), 7);
    Bytes expected(6);
    img_flip_rotate_u8(px.data(), 2, 3, c.code, expected.data());
    EXPECT_EQ(Bytes(image_pixels(img.get()), image_pixels(img.get()) + 6), expected) << c.code;
  }
  auto white = adopt(image_create_oriented(2, 3, 500, 500, nullptr, 0, 4));
  EXPECT_EQ(image_height(white.get()), 3);
  EXPECT_EQ(Bytes(image_pixels(white.get()), image_pixels(white.get()) + 6), Bytes(6, 255));
}

TEST(GreyImage, CopyHeaderKeepsAttributesButNoPixelsOrMask) {
  auto src = adopt(image_create(3, 2, 400, 500, nullptr, 2));
  image_mask_plane_ensure(src.get());
  src->stats.block_contrast = 44;
  auto h = adopt(image_copy_header(src.get()));
  ASSERT_TRUE(h);
  EXPECT_EQ(image_pixels(h.get()), nullptr);
  EXPECT_EQ(image_mask_plane(h.get()), nullptr);
  EXPECT_EQ(image_capacity(h.get()), 6);
  EXPECT_EQ(h->stats.block_contrast, 44);
  EXPECT_EQ(image_resolution_y(h.get()), 400);
  EXPECT_EQ(image_impression_type(h.get()), 2);
}

}  // namespace
