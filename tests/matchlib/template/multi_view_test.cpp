// Multi-view template: header layout and its older forms, view sections and
// queries, capacity, reference counting.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_xform.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Mvt {
  MultiViewTemplate* p;
  ~Mvt() { mvt_release(p); }
};
struct Blob {
  DataBlob* p;
  ~Blob() { blob_release(p); }
};
struct Xf {
  RigidTransform* p;
  ~Xf() { xform_release(p); }
};

Bytes header_of(MultiViewTemplate* t) {
  uint16_t n = 0;
  const uint8_t* h = kwzd_get_section(mvt_store(t), KWZD_HEADER_KEY, MVT_HEADER_SECTION, &n);
  return h ? Bytes(h, h + n) : Bytes{};
}

// A template whose stored header section is replaced by the given bytes.
int parse_with_header(const Bytes& header, Mvt& out) {
  Mvt t{mvt_create(5)};
  KwzdContainer* store = mvt_store(t.p);
  kwzd_remove_section(store, KWZD_HEADER_KEY, MVT_HEADER_SECTION);
  if (!header.empty())
    kwzd_add_section(store, KWZD_HEADER_KEY, MVT_HEADER_SECTION, header.data(), static_cast<uint16_t>(header.size()));
  DataBlob* blob = nullptr;
  EXPECT_EQ(kwzd_serialize(store, &blob), ML_OK);
  const int status = mvt_from_blob(blob, &out.p);
  blob_release(blob);
  return status;
}

TEST(MultiView, NewTemplateHeaderIsExactAndReadsBack) {
  Mvt t{mvt_create(5)};
  ASSERT_TRUE(t.p);
  Blob b{mvt_serialize(t.p, 0)};
  ASSERT_TRUE(b.p);
  EXPECT_EQ(blob_type(b.p), 80);
  EXPECT_EQ(header_of(t.p), (Bytes{0x05, 0x0C, 0x03, 0, 0, 0, 0, 0, 0, 0x02, 0x01, 0x00, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}));
  Mvt back{nullptr};
  ASSERT_EQ(mvt_from_blob(b.p, &back.p), ML_OK);
  EXPECT_EQ(mvt_max_views(back.p), 5);
  EXPECT_EQ(mvt_append_mode(back.p), 1);
  EXPECT_EQ(mvt_size_limit(back.p), 0u);
  EXPECT_EQ(mvt_all_unmarked(back.p), 0);  // empty store
  MvtSectionLimit limits[5];
  ASSERT_EQ(mvt_section_limits(back.p, limits), 1);
  EXPECT_EQ(limits[0].limit, 255);
  EXPECT_EQ(mvt_equal(t.p, back.p), 1);

  Blob cleared{mvt_serialize(t.p, 1)};
  EXPECT_EQ(header_of(t.p)[2], 0x01);
}

TEST(MultiView, HeaderFormsAndTheirSettings) {
  struct Case {
    const char* what;
    Bytes header;
    int status;
    uint8_t max_views;
    int append;
    uint32_t limit;
    int count;
    MvtSectionLimit first;
  };
  const Case cases[] = {
      {"missing", {}, ML_OK, 0, 0, 0, 1, {0, 255}},
      {"six bytes", {9, 12, 3, 0, 0, 1}, ML_OK, 0, 0, 0, 1, {0, 255}},
      {"seven bytes", {9, 12, 2, 0, 0, 1, 0}, ML_OK, 9, 1, 256, 1, {0, 255}},
      {"older nine-byte form", {9, 12, 0, 0, 0, 0, 0, 7, 66}, ML_OK, 9, 0, 0, 2, {66, 7}},
      {"version 1 at 21 bytes", {9, 12, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0}, ML_UNAVAILABLE, 0, 0, 0, 0, {0, 0}},
      {"count beyond the table", {9, 12, 0, 0, 0, 0, 0, 0, 0, 2, 6, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0}, ML_UNAVAILABLE, 0, 0, 0, 0, {0, 0}},
      {"two entries", {9, 12, 0, 0, 0, 0, 0, 0, 0, 2, 2, 79, 3, 0, 255, 0, 0, 0, 0, 0, 0}, ML_OK, 9, 0, 0, 2, {79, 3}},
  };
  for (const Case& c : cases) {
    Mvt t{nullptr};
    ASSERT_EQ(parse_with_header(c.header, t), c.status) << c.what;
    if (c.status != ML_OK) {
      EXPECT_EQ(t.p, nullptr);
      continue;
    }
    EXPECT_EQ(mvt_max_views(t.p), c.max_views) << c.what;
    EXPECT_EQ(mvt_append_mode(t.p), c.append) << c.what;
    EXPECT_EQ(mvt_size_limit(t.p), c.limit) << c.what;
    MvtSectionLimit limits[5];
    EXPECT_EQ(mvt_section_limits(t.p, limits), c.count) << c.what;
    EXPECT_EQ(limits[0].format, c.first.format) << c.what;
    EXPECT_EQ(limits[0].limit, c.first.limit) << c.what;
  }
}

TEST(MultiView, ViewSectionsAndQueries) {
  Mvt t{mvt_create(10)};
  KwzdContainer* store = mvt_store(t.p);
  Blob views[3] = {{blob_create(1, "aaaa", 4)}, {blob_create(1, "bb", 2)}, {blob_create(1, "c", 1)}};
  Xf moved{xform_create(12, -7, 40)};
  xform_set_flag(moved.p, 0);
  int32_t keys[3];
  ASSERT_EQ(mvt_add_view(store, views[0].p, nullptr, 0, 0, &keys[0]), ML_OK);
  ASSERT_EQ(mvt_add_view(store, views[1].p, moved.p, 3, 1, &keys[1]), ML_OK);
  ASSERT_EQ(mvt_add_view(store, views[2].p, nullptr, 4, 0, &keys[2]), ML_OK);
  uint16_t n = 0;
  const uint8_t* info = kwzd_get_section(store, keys[1], MVT_VIEW_INFO_SECTION, &n);
  ASSERT_EQ(n, 6);
  EXPECT_EQ(Bytes(info, info + 6), (Bytes{0x00, 0x0C, 0xFF, 0xF9, 40, 0}));
  EXPECT_EQ(mvt_view_flags(info, 6), 0);

  // Mark the first view: it leaves the unmarked views.
  ASSERT_EQ(mvt_write_view_sections(store, keys[0], nullptr, 0, 0, MVT_VIEW_MARKED | MVT_VIEW_KEEP), ML_OK);
  EXPECT_EQ(mvt_count_marked_views(t.p), 1);
  EXPECT_EQ(mvt_count_unmarked_views(t.p), 2);
  EXPECT_EQ(mvt_count_flagged_views(t.p, MVT_VIEW_KEEP), 1);
  EXPECT_EQ(mvt_unmarked_percent(t.p), 20);
  int32_t listed[255];
  int count = 0;
  ASSERT_EQ(mvt_list_unmarked_keys(t.p, listed, &count), ML_OK);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(listed[0], keys[1]);

  RigidTransform* xf = nullptr;
  uint8_t cls = 0;
  int32_t key = 0;
  Blob got{mvt_get_view(t.p, 0, &xf, &cls, &key)};
  Xf held{xf};
  EXPECT_EQ(got.p, views[1].p);
  EXPECT_EQ(cls, 3);
  EXPECT_EQ(key, keys[1]);
  EXPECT_EQ(xform_get_dx(xf), xform_get_dx(moved.p));
  EXPECT_EQ(xform_get_angle(xf), xform_get_angle(moved.p));
  EXPECT_EQ(xform_get_flag(xf), 1);
  EXPECT_EQ(mvt_get_view(t.p, 2, nullptr, nullptr, nullptr), nullptr);

  Xf aligned{mvt_view_alignment(t.p, views[2].p, &cls)};
  ASSERT_TRUE(aligned.p);
  EXPECT_EQ(cls, 4);
  Blob stranger{blob_create(1, "c", 1)};
  EXPECT_EQ(mvt_view_alignment(t.p, stranger.p, &cls), nullptr);

  RigidTransform* transforms[255] = {};
  uint8_t classes[255];
  uint32_t fingers[255];
  int detailed = 0;
  ASSERT_EQ(mvt_view_details(t.p, transforms, classes, fingers, &detailed), ML_OK);
  ASSERT_EQ(detailed, 3);
  EXPECT_EQ(classes[1], 3);
  EXPECT_EQ(xform_get_dy(transforms[1]), xform_get_dy(moved.p));
  EXPECT_EQ(fingers[0], 0u);  // plain blobs carry no sample information
  for (int i = 0; i < detailed; ++i) xform_release(transforms[i]);

  mvt_check_view_marks(t.p);
  EXPECT_EQ(mvt_all_unmarked(t.p), 0);  // views carry class bytes

  Blob stored{mvt_serialize(t.p, 0)};
  DataBlob* view = nullptr;
  int total = 0;
  EXPECT_EQ(mvt_blob_get_view(stored.p, 2, &view, &total), keys[2]);
  Blob v{view};
  EXPECT_EQ(total, 3);
  EXPECT_EQ(blob_size(view), 1u);
  EXPECT_EQ(mvt_blob_get_view(stored.p, 3, nullptr, &total), KWZD_HEADER_KEY);
  EXPECT_EQ(mvt_blob_get_view(views[0].p, 0, nullptr, &total), KWZD_HEADER_KEY);

  Mvt copy{mvt_reserialize(t.p)};
  ASSERT_TRUE(copy.p);
  EXPECT_EQ(mvt_equal(t.p, copy.p), 1);
  EXPECT_EQ(mvt_count_marked_views(copy.p), 1);
  ASSERT_EQ(mvt_drop_newest(copy.p, 1), ML_OK);
  EXPECT_EQ(mvt_equal(t.p, copy.p), 0);
}

TEST(MultiView, CapacityFollowsTheSizeLimit) {
  Mvt t{mvt_create(12)};
  std::vector<uint8_t> big(1000, 7);
  for (int i = 0; i < 3; ++i) {
    Blob b{blob_create(1, big.data(), big.size())};
    ASSERT_EQ(mvt_add_view(mvt_store(t.p), b.p, nullptr, 0, 0, nullptr), ML_OK);
  }
  EXPECT_EQ(mvt_capacity(t.p), 12);  // no limit
  mvt_set_size_limit(t.p, 10 * 1000 + 39);
  EXPECT_EQ(mvt_capacity(t.p), 10);
  mvt_set_size_limit(t.p, 20);  // less than the container itself
  EXPECT_EQ(mvt_capacity(t.p), 0);
  Mvt small{mvt_create(4)};
  mvt_set_size_limit(small.p, 100000);
  EXPECT_EQ(mvt_capacity(small.p), 4);  // no views: the maximum stands in for the mean
}

TEST(MultiView, QualityTableAndReferenceCounting) {
  Mvt t{mvt_create(3)};
  const MvtSectionLimit entries[5] = {{79, 2}, {77, 0}, {1, 1}, {2, 1}, {3, 1}};
  EXPECT_EQ(mvt_set_quality_table(t.p, entries, 5), ML_BAD_ARGUMENT);
  ASSERT_EQ(mvt_set_quality_table(t.p, entries, 2), ML_OK);
  MvtSectionLimit got[5];
  ASSERT_EQ(mvt_section_limits(t.p, got), 3);
  EXPECT_EQ(got[1].limit, 255);  // a limit of 0 means none
  EXPECT_EQ(got[2].format, 0);
  Blob b{mvt_serialize(t.p, 0)};
  const Bytes h = header_of(t.p);
  EXPECT_EQ(Bytes(h.begin() + 10, h.begin() + 17), (Bytes{3, 79, 2, 77, 255, 0, 255}));

  Xf ref{xform_create(1, 2, 3)};
  mvt_set_reference_transform(t.p, ref.p);
  EXPECT_EQ(ref.p->refcount, 2);
  mvt_retain(t.p);
  mvt_release(t.p);
  EXPECT_EQ(ref.p->refcount, 2);
  mvt_set_reference_transform(t.p, nullptr);
  EXPECT_EQ(ref.p->refcount, 1);
  Mvt bad{nullptr};
  EXPECT_EQ(mvt_from_blob(nullptr, &bad.p), ML_BAD_ARGUMENT);
}

}  // namespace
