// Grid-block stage operations on blocks of a real print: the alignment is
// required, the plain form hands the caller's alignment back untouched,
// the in-place form a refined one, and failures leave nothing behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "support/pgm.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_object.h"

namespace {

struct BlobDeleter {
  void operator()(DataBlob* b) const { blob_release(b); }
};
using Blob = std::unique_ptr<DataBlob, BlobDeleter>;

Blob grid_blob(const char* file) {
  const auto p = zyl::test::read_pgm(zyl::test::test_data(file));
  GrayImage* img = image_create(p.height, p.width, 500, 500, p.pixels.data(), 0);
  DataBlob* out = nullptr;
  EXPECT_EQ(gridext_extract(nullptr, img, nullptr, 77, &out), ML_OK);
  image_release(img);
  return Blob(out);
}

TEST(GridBlockOps, PlainFormKeepsTheAlignmentInPlaceFormRefinesIt) {
  Blob a = grid_blob("fvc2004_102_1_160.pgm");
  ASSERT_TRUE(a);
  for (StageMatchRoutine op : {match_gridblock_refine, match_gridblock}) {
    RigidTransform* t = xform_create(0, 0, 0);
    std::uint16_t* v = nullptr;
    std::uint16_t n = 0;
    ASSERT_EQ(op(nullptr, a.get(), a.get(), &v, &n, &t), ML_OK);
    EXPECT_EQ(n, GRIDBLOCK_SUBSCORES);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->refcount, 1);
    EXPECT_EQ(t->dx | t->dy | t->angle, 0);
    std::free(v);
    xform_release(t);
  }
  RigidTransform* t = xform_create(3, -2, 0);
  std::uint16_t* v = nullptr;
  std::uint16_t n = 0;
  ASSERT_EQ(match_gridblock_refine_inplace(nullptr, a.get(), a.get(), &v, &n, &t), ML_OK);
  EXPECT_EQ(n, GRIDBLOCK_SUBSCORES);
  ASSERT_NE(t, nullptr);
  std::free(v);
  xform_release(t);
}

TEST(GridBlockOps, RefusalsLeaveNothingBehind) {
  Blob a = grid_blob("fvc2004_102_1_160.pgm");
  Blob other(blob_create(79, "x", 1));
  const StageMatchRoutine ops[] = {match_gridblock_refine, match_gridblock_refine_inplace, match_gridblock};
  for (StageMatchRoutine op : ops) {
    std::uint16_t* v = reinterpret_cast<std::uint16_t*>(1);
    std::uint16_t n = 5;
    RigidTransform* t = nullptr;
    EXPECT_EQ(op(nullptr, a.get(), a.get(), &v, &n, &t), ML_WRONG_KIND);  // no alignment
    EXPECT_EQ(op(nullptr, a.get(), a.get(), &v, &n, nullptr), ML_WRONG_KIND);
    EXPECT_EQ(v, nullptr);
    EXPECT_EQ(n, 0);
    t = xform_create(0, 0, 0);
    EXPECT_NE(op(nullptr, a.get(), other.get(), &v, &n, &t), ML_OK);  // no grid section in B
    EXPECT_EQ(v, nullptr);
    if (op == match_gridblock_refine_inplace) {
      EXPECT_EQ(t, nullptr);
    } else {
      ASSERT_NE(t, nullptr);
      xform_release(t);
    }
  }
}

}  // namespace
