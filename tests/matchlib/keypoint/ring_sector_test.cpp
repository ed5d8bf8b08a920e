// Ring-and-sector descriptor: settings and sizes, refused patches, the
// sector clamp, and points near the image border.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_ring_sector.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ridges(int h, int w, int period = 10) {
  Bytes px(static_cast<std::size_t>(h) * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[y * w + x] = ((x + y) % period) < period / 2 ? 40 : 210;
  return px;
}

TEST(RingSector, DefaultsGiveA145PatchAnd644Bytes) {
  EXPECT_EQ(ring_sector_size(0, 0), 644);
  const Bytes patch = ridges(145, 145);
  Bytes out(644, 0xEE);
  ASSERT_EQ(ring_sector_compute(patch.data(), 145, 145, 0, 0, 0, 0, out.data()), ML_OK);
  EXPECT_EQ((Bytes{out[0], out[1], out[2], out[3]}), (Bytes{5, 12, 12, 16}));
  // Every cell holds pixels, so every byte was written; diagonal ridges
  // give a spread in some direction.
  int spread = 0;
  for (int i = 4; i < 644; ++i) spread += out[i] != 0xEE && out[i] > 0;
  EXPECT_GT(spread, 0);
}

TEST(RingSector, RefusesBadPatchesAndSettings) {
  const Bytes patch = ridges(145, 145);
  Bytes out(644);
  struct Case {
    int h, w, r, s;
  } cases[] = {{144, 145, 0, 0}, {145, 144, 0, 0}, {143, 143, 0, 0}, {145, 145, 6, 0},
               {145, 145, 0, 17}};
  for (const Case& c : cases)
    EXPECT_EQ(ring_sector_compute(patch.data(), c.h, c.w, c.r, 0, 0, c.s, out.data()),
              ML_BAD_ARGUMENT)
        << c.h << "x" << c.w << " R" << c.r << " S" << c.s;
  EXPECT_EQ(ring_sector_descriptor(patch.data(), 145, 145, 72, 72, 0, 0, 0, 0, 17, out.data()),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(ring_sector_descriptor(nullptr, 145, 145, 72, 72, 0, 0, 0, 0, 0, out.data()),
            ML_BAD_ARGUMENT);
}

TEST(RingSector, LastDirectionsStayInTheLastSector) {
  // With 3, 5, 9, 11, 12, 14 or 15 sectors the last directions divide to
  // the sector count itself; the cells stay inside an exact-size buffer.
  const Bytes patch = ridges(61, 61);
  for (int s : {3, 5, 9, 11, 12, 14, 15}) {
    const int size = ring_sector_size(1, s);
    auto out = std::make_unique<std::uint8_t[]>(size);
    EXPECT_EQ(ring_sector_compute(patch.data(), 61, 61, 1, 10, 10, s, out.get()), ML_OK) << s;
  }
}

TEST(RingSector, PointAtTheCornerReads128Outside) {
  // On an image of grey 128 the corner's window is all 128 like a central
  // one; on grey 200 it is not.
  const Bytes mid(300 * 300, 128), bright(300 * 300, 200);
  Bytes centre(644), corner(644), bright_corner(644), bright_centre(644);
  ASSERT_EQ(ring_sector_descriptor(mid.data(), 300, 300, 150, 150, 0, 0, 0, 0, 0, centre.data()),
            ML_OK);
  ASSERT_EQ(ring_sector_descriptor(mid.data(), 300, 300, 0, 0, 0, 0, 0, 0, 0, corner.data()),
            ML_OK);
  EXPECT_EQ(corner, centre);
  ASSERT_EQ(ring_sector_descriptor(bright.data(), 300, 300, 0, 0, 0, 0, 0, 0, 0,
                                   bright_corner.data()),
            ML_OK);
  ASSERT_EQ(ring_sector_descriptor(bright.data(), 300, 300, 150, 150, 0, 0, 0, 0, 0,
                                   bright_centre.data()),
            ML_OK);
  EXPECT_NE(bright_corner, bright_centre);
}

TEST(RingSector, TurningThePointTurnsThePatch) {
  // A grating turned by a quarter and described at angle 64 matches the
  // grating described at angle 0, up to interpolation.
  const int n = 301;
  Bytes a(n * n), b(n * n);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      a[y * n + x] = (x % 10) < 5 ? 40 : 210;
      b[y * n + x] = (y % 10) < 5 ? 40 : 210;
    }
  Bytes da(644), db(644), dc(644);
  ASSERT_EQ(ring_sector_descriptor(a.data(), n, n, 150, 150, 0, 0, 0, 0, 0, da.data()), ML_OK);
  ASSERT_EQ(ring_sector_descriptor(b.data(), n, n, 150, 150, 64, 0, 0, 0, 0, db.data()), ML_OK);
  ASSERT_EQ(ring_sector_descriptor(b.data(), n, n, 150, 150, 0, 0, 0, 0, 0, dc.data()), ML_OK);
  int near = 0, far = 0;
  for (int i = 4; i < 644; ++i) {
    near += std::abs(da[i] - db[i]);
    far += std::abs(da[i] - dc[i]);
  }
  EXPECT_LT(near, far);
}

TEST(RingSector, RingWidthAndInnerRadiusMustFitTheirHeaderBytes) {
  // Both settings are header bytes. Values past 255 used to be taken as
  // ints: 256 was described with a wrapped header, 20000 asked for a square
  // of several gigabytes, 2^30 overflowed the size check and never ended.
  const Bytes patch = ridges(601, 601), image = ridges(200, 200);
  Bytes out(static_cast<std::size_t>(ring_sector_size(1, 4)));
  struct Case {
    int width, inner, status;
  };
  const Case cases[] = {{255, 12, ML_OK},           {12, 255, ML_OK},
                        {256, 12, ML_BAD_ARGUMENT}, {12, 256, ML_BAD_ARGUMENT},
                        {12, 20000, ML_BAD_ARGUMENT}, {1 << 28, 12, ML_BAD_ARGUMENT},
                        {12, 1 << 30, ML_BAD_ARGUMENT}, {-1, 12, ML_BAD_ARGUMENT},
                        {12, -1, ML_BAD_ARGUMENT}};
  for (const Case& c : cases) {
    EXPECT_EQ(ring_sector_compute(patch.data(), 601, 601, 1, c.width, c.inner, 4, out.data()), c.status)
        << c.width << " " << c.inner;
    EXPECT_EQ(ring_sector_descriptor(image.data(), 200, 200, 100, 100, 0, 1, c.width, c.inner, 4, out.data()),
              c.status)
        << c.width << " " << c.inner;
    if (c.status == ML_OK) {
      EXPECT_EQ(out[1], c.width);
      EXPECT_EQ(out[2], c.inner);
    }
  }
}

}  // namespace
