// Dense-descriptor similarity of two point records that carry the same grid
// of points with type-0x8 descriptors: a per-pixel map of how far the two
// impressions differ around each grid point, and a one-value summary.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_pair_matcher.h"
#include "matchlib/image/blob.h"
#include "matchlib/keypoint/hamming_match.h"
#include "matchlib/match/similarity_map.h"
#include "matchlib/keypoint/block_record.h"

namespace {

constexpr std::uint32_t kDenseType = 0x8;
constexpr int kDescriptorBits = 128;

struct RecordFree {
  void operator()(BlockRecord* r) const { zyl::matchlib::blockrec_free(r); }
};
using RecordPtr = std::unique_ptr<BlockRecord, RecordFree>;

int dense_extension(const BlockRecord& r) {
  for (int k = 0; k < r.extension_type_count && k < BLOCKREC_MAX_EXTENSIONS; ++k)
    if (r.extension_types[k] && r.extension_types[k]->type_id == kDenseType) return k;
  return -1;
}

// Both records parsed whole, with their dense descriptors and one distance
// (0..128) per grid point.
struct DensePair {
  RecordPtr a, b;
  std::vector<std::uint8_t> distance;
};

int dense_distances(const std::uint8_t* a, std::uint32_t a_length, const std::uint8_t* b,
                    std::uint32_t b_length, DensePair& out) {
  if (!a || !b) return ML_BAD_ARGUMENT;
  BlockRecord* r = nullptr;
  if (const int s = zyl::matchlib::blockrec_parse(a, a_length, 0, 0, &r)) return s;
  out.a.reset(r);
  r = nullptr;
  if (const int s = zyl::matchlib::blockrec_parse(b, b_length, 0, 0, &r)) return s;
  out.b.reset(r);
  const int ea = dense_extension(*out.a), eb = dense_extension(*out.b);
  if (ea < 0 || eb < 0 || out.a->point_count != out.b->point_count) return ML_WRONG_KIND;
  const int n = out.a->point_count;
  out.distance.assign(static_cast<std::size_t>(n), 0);
  const std::uint8_t* da = out.a->extension_arrays[ea];
  const std::uint8_t* db = out.b->extension_arrays[eb];
  for (int i = 0; i < n; ++i)
    if (const int s = zyl::matchlib::desc8_distance(i, i, 1, da, db, 0, 0, &out.distance[i]))
      return s;
  return ML_OK;
}

// Unpainted cells (0) take the value of the nearest painted cell of their
// row, the left one on a tie; rows without any painted cell then copy the
// nearest row that has one, the upper on a tie. The strips along the border
// that the grid's patches do not reach so continue the edge of the painted
// area instead of reading as a perfect match (0) or as unknown. A map with
// no painted cell at all (no grid point inside it) says nothing about
// similarity and is filled with 255, the value of the largest distance.
void fill_unpainted(std::uint8_t* map, int rows, int columns) {
  const std::size_t w = static_cast<std::size_t>(columns);
  std::vector<char> row_painted(static_cast<std::size_t>(rows), 0);
  std::vector<int> left(w);
  for (int y = 0; y < rows; ++y) {
    std::uint8_t* row = map + y * w;
    int last = -1;
    for (int x = 0; x < columns; ++x) {
      if (row[x]) last = x;
      left[x] = last;
    }
    if (last < 0) continue;
    row_painted[y] = 1;
    int next = -1;
    for (int x = columns - 1; x >= 0; --x) {
      if (row[x]) {
        next = x;
        continue;
      }
      const int l = left[x];
      const bool take_left = l >= 0 && (next < 0 || x - l <= next - x);
      row[x] = row[take_left ? l : next];
    }
  }
  std::vector<int> above(static_cast<std::size_t>(rows));
  int last = -1;
  for (int y = 0; y < rows; ++y) {
    if (row_painted[y]) last = y;
    above[y] = last;
  }
  if (last < 0) {
    std::memset(map, 255, w * rows);
    return;
  }
  int next = -1;
  for (int y = rows - 1; y >= 0; --y) {
    if (row_painted[y]) {
      next = y;
      continue;
    }
    const int u = above[y];
    const int from = u >= 0 && (next < 0 || y - u <= next - y) ? u : next;
    std::memcpy(map + y * w, map + from * w, w);
  }
}

}  // namespace

int zyl::matchlib::blockrec_similarity_map(const uint8_t* a, uint32_t a_length, const uint8_t* b,
                                           uint32_t b_length, uint8_t* out, int rows, int columns,
                                           int y_shift, int x_shift, int invert_check) {
  if (!out || rows <= 0 || columns <= 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    DensePair pair;
    if (const int s = dense_distances(a, a_length, b, b_length, pair)) return s;
    const int n = pair.a->point_count;
    std::vector<std::uint8_t>& d = pair.distance;
    if (invert_check && n > 0) {
      // An impression taken with inverted contrast matches with most
      // comparisons reversed; read its distances the other way round.
      long sum = 0;
      for (std::uint8_t v : d) sum += v;
      if (sum / n > kDescriptorBits / 2)
        for (std::uint8_t& v : d) v = static_cast<std::uint8_t>(kDescriptorBits - v);
    }
    const std::size_t w = static_cast<std::size_t>(columns);
    std::memset(out, 0, w * rows);
    if (n > 0) {
      // Patches of side 2u - 1 so that neighbouring grid points (the first
      // lies at half the spacing less 2) tile the painted area.
      const int u = (pair.a->points[0].x + 2) / 2;
      const int half = u - 1;
      for (int i = 0; i < n; ++i) {
        const int v = d[i] == 0 ? 1 : d[i] >= kDescriptorBits ? 255 : 2 * d[i];
        const int cx = pair.a->points[i].x - x_shift, cy = pair.a->points[i].y - y_shift;
        // Only the part of the patch inside the map (a stored first point far
        // out makes huge patches).
        const int y0 = std::max(cy - half, 0), y1 = std::min(cy + half, rows - 1);
        const int x0 = std::max(cx - half, 0), x1 = std::min(cx + half, columns - 1);
        for (int y = y0; y <= y1; ++y) {
          std::uint8_t* row = out + y * w;
          for (int x = x0; x <= x1; ++x)
            row[x] = static_cast<std::uint8_t>(row[x] ? (row[x] + v) >> 1 : v);
        }
      }
    }
    fill_unpainted(out, rows, columns);
    return ML_OK;
  });
}

extern "C" ZYL_API int desc8_similarity_blob(const DataBlob* a, const DataBlob* b,
                                             uint16_t** out_scores, int* out_count) {
  if (!a || !b || !out_scores || !out_count) return ML_BAD_ARGUMENT;
  *out_scores = nullptr;
  *out_count = 0;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    DensePair pair;
    if (const int s =
            dense_distances(zyl::matchlib::blob_data(a), zyl::matchlib::blob_size(a),
                            zyl::matchlib::blob_data(b), zyl::matchlib::blob_size(b), pair))
      return s;
    const int n = pair.a->point_count;
    // Records without points have nothing to compare.
    if (n == 0) return ML_NOTHING_TO_COMPARE;
    long sum = 0;
    for (std::uint8_t v : pair.distance) sum += v;
    auto* scores = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t)));
    if (!scores) return ML_NO_MEMORY;
    scores[0] = static_cast<uint16_t>(sum * 256 / n);
    *out_scores = scores;
    *out_count = 1;
    return ML_OK;
  });
}

extern "C" {

ZYL_API int blockrec_similarity_map(const uint8_t* a, uint32_t a_length, const uint8_t* b,
                                    uint32_t b_length, uint8_t* out, int rows, int columns,
                                    int y_shift, int x_shift, int invert_check) {
  return zyl::matchlib::blockrec_similarity_map(a, a_length, b, b_length, out, rows, columns,
                                                y_shift, x_shift, invert_check);
}

}  // extern "C"
