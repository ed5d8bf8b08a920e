// Stage operations that compare two templates by their cards and their
// compact block maps: the card comparison chooses or supports the
// alignment, the grid map comparison scores the overlap, and one vector of
// 30 sub-scores carries both with their agreement and the image qualities.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/card_grid_ops.h"
#include "matchlib/match/card_match_ops.h"
#include "matchlib/match/gridmap_match.h"
#include "matchlib/template/block_maps.h"
#include "matchlib/template/card_extended.h"
#include "matchlib/template/container.h"
#include "matchlib/image/packed_image.h"

namespace {

constexpr std::int32_t kFormatCard = 2;
constexpr std::int32_t kFormatCompactMap = 66;
constexpr std::int32_t kFormatExtendedCard = 67;
constexpr std::int32_t kFormatMapElement = 83;
constexpr std::uint32_t kKeyCardSmallSensor = 0x392ab58c;
constexpr std::uint32_t kKeyCardAlways = 0x8a4a9dcd;
constexpr std::uint32_t kKeyStrict = 0xb6623030;
constexpr const char* kKeyWideDetail = "vn.ehm.spectral_increase_hr_search_range";

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

int fail(int status, uint16_t** scores, uint16_t* count) {
  if (scores) {
    std::free(*scores);
    *scores = nullptr;
  }
  if (count) *count = 0;
  return status;
}

enum class Variant { search, detail, fixed, grid_only };

struct Pose {
  int angle = 0, dx = 0, dy = 0;
};

// 25 x sqrt(q) rounded: the quality divisor of the raw grid score.
int quality_divisor(int q) { return static_cast<int>(std::lround(25.0 * std::sqrt(q))); }

struct Map {
  Owned<std::uint8_t> bytes;
  std::uint32_t size = 0;
  int vertical = 0, horizontal = 0;
};

int expand(const std::uint8_t* c1, std::uint32_t length, const std::uint8_t* element, bool detail, Map& m) {
  std::uint8_t* out = nullptr;
  int rows = 0, columns = 0;
  const int st =
      zyl::matchlib::gridmap_from_compact(c1, length, &out, &m.size, &m.vertical, &m.horizontal,
                                          &rows, &columns, detail ? 0 : 1, nullptr, element);
  m.bytes.reset(out);
  if (st) return st;
  // The matcher reads map lengths as 16 bits.
  return m.size > 0xFFFF ? ML_WRONG_KIND : ML_OK;
}

// (dx, dy) from the image frame into the maps' frames (to = true) or back.
void frame(Pose& p, int angle, const Map& a, const Map& b, bool to) {
  const int c = zyl::matchlib::fx_cos256(angle), s = zyl::matchlib::fx_sin256(angle);
  const int rx = (a.horizontal * c - a.vertical * s) >> 14;
  const int ry = (a.vertical * c + a.horizontal * s) >> 14;
  if (to) {
    p.dx = p.dx + rx - b.horizontal;
    p.dy = p.dy + ry - b.vertical;
  } else {
    p.dx = p.dx + b.horizontal - rx;
    p.dy = p.dy + b.vertical - ry;
  }
}

int card_grid(MatchContext* ctx, DataBlob* a, DataBlob* b, uint16_t** out_scores, uint16_t* out_count,
              RigidTransform** alignment, Variant variant) {
  Pose incoming;
  const bool had_alignment = alignment != nullptr;
  if (alignment && *alignment) {
    std::int16_t x = 0, y = 0;
    std::uint8_t direction = 0;
    zyl::matchlib::xform_get_dpi(*alignment, &x, &y, &direction, 500);
    incoming = {direction, x, y};
  }
  if (alignment) {
    zyl::matchlib::xform_release(*alignment);
    *alignment = nullptr;
  }
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (!ctx || !a || !b || !out_scores || !out_count || (variant == Variant::grid_only && !had_alignment))
    return fail(ML_BAD_ARGUMENT, out_scores, out_count);
  int d = zyl::matchlib::param_get_sensor_size(ctx);
  if (d == 0) d = 5;
  const bool turn = zyl::matchlib::param_get_360(ctx) != 0;
  const bool small_sensor = d == 1 || d == 2;
  const bool card_part = variant != Variant::grid_only;

  const std::uint8_t *card_a = nullptr, *card_b = nullptr, *c1_a = nullptr, *c1_b = nullptr;
  std::uint32_t card_a_length = 0, card_b_length = 0, c1_a_length = 0, c1_b_length = 0;
  if (card_part) {
    if (const int st = zyl::matchlib::tmpl_get_section(a, kFormatCard, &card_a, &card_a_length))
      return fail(st, out_scores, out_count);
    if (const int st = zyl::matchlib::tmpl_get_section(b, kFormatCard, &card_b, &card_b_length))
      return fail(st, out_scores, out_count);
  }
  if (const int st = zyl::matchlib::tmpl_get_section(a, kFormatCompactMap, &c1_a, &c1_a_length))
    return fail(st, out_scores, out_count);
  if (const int st = zyl::matchlib::tmpl_get_section(b, kFormatCompactMap, &c1_b, &c1_b_length))
    return fail(st, out_scores, out_count);
  // The 4-byte map elements count only when both templates carry one.
  const std::uint8_t *e_a = nullptr, *e_b = nullptr;
  if (card_part) {
    std::uint32_t la = 0, lb = 0;
    if (zyl::matchlib::tmpl_get_section(a, kFormatMapElement, &e_a, &la) != ML_OK || la != 4 ||
        zyl::matchlib::tmpl_get_section(b, kFormatMapElement, &e_b, &lb) != ML_OK || lb != 4)
      e_a = e_b = nullptr;
  }

  CardMatchResult card{};
  card.kind = CARD_RESULT_KIND;
  Pose card_pose;
  if (card_part) {
    CardAlignment ca{};
    if (const int st = zyl::matchlib::match_card_local64(card_a, card_a_length, card_b,
                                                         card_b_length, &card, &ca, turn ? 3 : 2))
      return fail(st, out_scores, out_count);
    // Card offsets are in 0.1 mm; 197 / 100 brings them to pixels at 500 dpi.
    card_pose = {ca.angle, ca.dx * 197 / 100, ca.dy * 197 / 100};
  }

  Map map_a, map_b;
  if (const int st = expand(c1_a, c1_a_length, e_a, variant == Variant::detail, map_a)) return fail(st, out_scores, out_count);
  if (const int st = expand(c1_b, c1_b_length, e_b, variant == Variant::detail, map_b)) return fail(st, out_scores, out_count);

  // The card alignment replaces the incoming one for the grid search when
  // the sensor size asks for it or the card paired 8 minutiae or more.
  const bool card_alignment =
      card_part &&
      (((d < 4 || d > 9) && zyl::matchlib::param_get(ctx, kKeyCardSmallSensor, 0) == 0 &&
        zyl::matchlib::param_get(ctx, kKeyCardAlways, 0) == 0) ||
       card.sub[1] >= 8);
  // The fixed variant scores the grid only at the alignment chosen above
  // and always hands the card alignment back.
  const bool return_card = variant == Variant::fixed || card_alignment;
  std::uint32_t flags = 0;
  if (variant == Variant::fixed) {
    flags = GRIDMAP_GIVEN_ONLY | (small_sensor ? 0 : GRIDMAP_NO_COARSE) | (turn ? GRIDMAP_FULL_TURN : 0);
  } else if (variant == Variant::grid_only) {
    flags = GRIDMAP_GIVEN_ONLY | (small_sensor ? 0 : GRIDMAP_NO_COARSE);
  } else {
    if (small_sensor)
      flags = card_alignment ? GRIDMAP_GIVEN_ONLY : 0;
    else
      flags = GRIDMAP_NO_COARSE | (card_alignment ? GRIDMAP_GIVEN_ONLY : 0);
    if (turn) {
      if ((d == 8 || d == 9) && !(flags & GRIDMAP_GIVEN_ONLY)) flags |= GRIDMAP_SQUARE;
      flags |= GRIDMAP_FULL_TURN;
    }
  }
  if (zyl::matchlib::param_get_text(ctx, kKeyWideDetail, 1)) flags |= GRIDMAP_WIDE_DETAIL;
  flags |= GRIDMAP_DETAIL | GRIDMAP_RAW_SCORE;
  if (zyl::matchlib::param_get(ctx, kKeyStrict, 0)) flags |= GRIDMAP_STRICT;

  const auto la = static_cast<std::uint16_t>(map_a.size), lb = static_cast<std::uint16_t>(map_b.size);
  const std::uint32_t work_size =
      zyl::matchlib::gridmap_match_work_size(map_a.bytes.get(), la, map_b.bytes.get(), lb, flags);
  if (work_size == 0) return fail(ML_CORRUPT, out_scores, out_count);
  const Owned<std::uint8_t> work(static_cast<std::uint8_t*>(std::malloc(work_size)));
  if (!work) return fail(ML_NO_MEMORY, out_scores, out_count);

  Pose pose = card_alignment ? card_pose : incoming;
  frame(pose, pose.angle, map_a, map_b, true);
  GridAlignment ga{static_cast<std::uint8_t>(pose.angle), pose.dx, pose.dy};
  GridMatchDetail detail{};
  detail.kind = GRIDMAP_DETAIL_KIND;
  if (const int st = zyl::matchlib::gridmap_match(
          work.get(), work_size, map_a.bytes.get(), la, map_b.bytes.get(), lb, 0,
          reinterpret_cast<std::uint16_t*>(&detail), nullptr, &ga, flags))
    return fail(st, out_scores, out_count);
  Pose grid_pose{ga.angle, ga.dx, ga.dy};
  frame(grid_pose, grid_pose.angle, map_a, map_b, false);

  std::uint8_t qa = 0, qb = 0;
  if (const int st = zyl::matchlib::card_template_image_info(b, nullptr, nullptr, &qb))
    return fail(st, out_scores, out_count);
  if (const int st = zyl::matchlib::card_template_image_info(a, nullptr, nullptr, &qa))
    return fail(st, out_scores, out_count);
  const int q1 = std::min<int>(qa, 100), q2 = std::min<int>(qb, 100);
  const int q = std::min(std::max({q1, q2, 60}), 100);

  if (card_part && card.count != 1 && card.count != 9) return fail(ML_CORRUPT, out_scores, out_count);
  if (detail.count != 1 && detail.count != 17) return fail(ML_CORRUPT, out_scores, out_count);

  auto* v = static_cast<std::uint16_t*>(std::calloc(CARD_GRID_SUBSCORES, sizeof(std::uint16_t)));
  if (!v) return fail(ML_NO_MEMORY, out_scores, out_count);
  if (card_part) {
    v[0] = card.score;
    if (card.count == 9) std::memcpy(v + 1, card.sub, sizeof card.sub);
  }
  v[9] = static_cast<std::uint16_t>(std::min<std::uint32_t>(
      std::uint32_t{detail.score} * 232 / static_cast<std::uint32_t>(quality_divisor(q)), 0xFFFF));
  if (detail.count == 17) std::memcpy(v + 10, detail.values, sizeof detail.values);
  if (card_part && v[0] != 0 && v[9] != 0) {
    const std::int64_t ddx = card_pose.dx - grid_pose.dx, ddy = card_pose.dy - grid_pose.dy;
    v[26] = static_cast<std::uint16_t>(std::min<std::uint64_t>(
        zyl::matchlib::fx_isqrt32(
            static_cast<std::uint32_t>(std::min<std::int64_t>(ddx * ddx + ddy * ddy, 0xFFFFFFFF))),
        0xFFFF));
    v[27] = static_cast<std::uint16_t>(std::abs(static_cast<std::int8_t>(card_pose.angle - grid_pose.angle)));
  }
  v[28] = static_cast<std::uint16_t>(std::abs(q1 - q2));
  v[29] = static_cast<std::uint16_t>(
      zyl::matchlib::fx_isqrt32(static_cast<std::uint32_t>((100 - std::max(q1, q2)) * 64)));
  *out_scores = v;
  *out_count = CARD_GRID_SUBSCORES;

  if (alignment && variant != Variant::grid_only) {
    const Pose& out = return_card ? card_pose : grid_pose;
    const int dpi =
        zyl::matchlib::param_get(ctx, static_cast<std::uint32_t>(CARD_KEY_RESOLUTION), 500);
    *alignment = zyl::matchlib::xform_create_dpi(
        static_cast<std::int16_t>(out.dx), static_cast<std::int16_t>(out.dy),
        static_cast<std::uint8_t>(out.angle), static_cast<std::int16_t>(dpi));
    if (!*alignment) return fail(ML_NO_MEMORY, out_scores, out_count);
  }
  return ML_OK;
}

}  // namespace

int zyl::matchlib::card_template_image_info(const DataBlob* blob, uint16_t* width, uint16_t* height,
                                            uint8_t* quality) {
  if (width) *width = 192;
  if (height) *height = 192;
  if (quality) *quality = 0;
  if (!blob) return ML_BAD_ARGUMENT;
  const std::uint8_t* bytes = zyl::matchlib::blob_data(blob);
  std::uint32_t length = zyl::matchlib::blob_size(blob);
  if (zyl::matchlib::blob_type(blob) == CONTAINER_FORMAT)
    if (const int st = zyl::matchlib::tmpl_get_section(blob, kFormatExtendedCard, &bytes, &length))
      return st;
  TlvElement c3{};
  if (const int st = zyl::matchlib::card_parse_extended(bytes, length, nullptr, nullptr, nullptr,
                                                        nullptr, &c3))
    return st;
  // A card without an image-information element keeps the defaults.
  if (!c3.value) return ML_OK;
  std::uint16_t rows = 0, columns = 0;
  std::uint8_t flag = 0;
  if (const int st =
          zyl::matchlib::card_parse_image_info(c3.value, c3.length, &rows, &columns, &flag))
    return st;
  if (width) *width = columns;
  if (height) *height = rows;
  if (quality) *quality = flag;
  return ML_OK;
}

int zyl::matchlib::match_card_grid(MatchContext* context, DataBlob* a, DataBlob* b,
                                    uint16_t** out_scores, uint16_t* out_count,
                                    RigidTransform** alignment) {
  return card_grid(context, a, b, out_scores, out_count, alignment, Variant::search);
}
int zyl::matchlib::match_card_grid_detail(MatchContext* context, DataBlob* a, DataBlob* b,
                                           uint16_t** out_scores, uint16_t* out_count,
                                           RigidTransform** alignment) {
  return card_grid(context, a, b, out_scores, out_count, alignment, Variant::detail);
}
int zyl::matchlib::match_card_grid_fixed(MatchContext* context, DataBlob* a, DataBlob* b,
                                          uint16_t** out_scores, uint16_t* out_count,
                                          RigidTransform** alignment) {
  return card_grid(context, a, b, out_scores, out_count, alignment, Variant::fixed);
}
int zyl::matchlib::match_grid_map(MatchContext* context, DataBlob* a, DataBlob* b,
                                   uint16_t** out_scores, uint16_t* out_count,
                                   RigidTransform** alignment) {
  return card_grid(context, a, b, out_scores, out_count, alignment, Variant::grid_only);
}

extern "C" {

ZYL_API int card_template_image_info(const DataBlob* blob, uint16_t* width, uint16_t* height,
                                     uint8_t* quality) {
  return zyl::matchlib::card_template_image_info(blob, width, height, quality);
}
ZYL_API int match_card_grid(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                            uint16_t* out_count, RigidTransform** alignment) {
  return zyl::matchlib::match_card_grid(context, a, b, out_scores, out_count, alignment);
}
ZYL_API int match_card_grid_detail(MatchContext* context, DataBlob* a, DataBlob* b,
                                   uint16_t** out_scores, uint16_t* out_count,
                                   RigidTransform** alignment) {
  return zyl::matchlib::match_card_grid_detail(context, a, b, out_scores, out_count, alignment);
}
ZYL_API int match_card_grid_fixed(MatchContext* context, DataBlob* a, DataBlob* b,
                                  uint16_t** out_scores, uint16_t* out_count,
                                  RigidTransform** alignment) {
  return zyl::matchlib::match_card_grid_fixed(context, a, b, out_scores, out_count, alignment);
}
ZYL_API int match_grid_map(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                           uint16_t* out_count, RigidTransform** alignment) {
  return zyl::matchlib::match_grid_map(context, a, b, out_scores, out_count, alignment);
}

}  // extern "C"
