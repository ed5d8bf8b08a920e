// Stage match and fuse operations on keypoint sections: settings from the
// parameter store, the frame around the global and paired matchers, the
// orientation-histogram comparison and scoring of stored pairings.
#include "zylscan/matchlib_match_ops.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/match/match_op_failure.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/keypoint_match_ops.h"
#include "matchlib/match/pair_matcher.h"
#include "matchlib/keypoint/block_record.h"
#include "matchlib/template/container.h"
#include "matchlib/template/sample_info.h"

using zyl::matchlib::fail_match_op;

namespace {

constexpr std::uint32_t kSectionKeypoints = 79;

std::int32_t get(const MatchContext* c, std::int32_t key, std::int32_t fallback) {
  return zyl::matchlib::param_get(c, static_cast<std::uint32_t>(key), fallback);
}

// An absent or unreadable-as-absent sample section reads as zeros.
int read_info(MatchContext* ctx, DataBlob* blob, SampleInfo& info) {
  info = SampleInfo{};
  const int st = zyl::matchlib::sample_info_read(ctx, blob, &info);
  if (st == ML_UNAVAILABLE || st == ML_NOT_FOUND) {
    info = SampleInfo{};
    return ML_OK;
  }
  return st;
}

struct Sections {
  const std::uint8_t* a = nullptr;
  std::uint32_t a_length = 0;
  const std::uint8_t* b = nullptr;
  std::uint32_t b_length = 0;
  SampleInfo ia{};
  SampleInfo ib{};
};

int get_sections(MatchContext* ctx, DataBlob* a, DataBlob* b, Sections& s) {
  if (const int st = zyl::matchlib::tmpl_get_section(a, kSectionKeypoints, &s.a, &s.a_length))
    return st;
  if (const int st = zyl::matchlib::tmpl_get_section(b, kSectionKeypoints, &s.b, &s.b_length))
    return st;
  if (const int st = read_info(ctx, a, s.ia)) return st;
  return read_info(ctx, b, s.ib);
}

struct MatcherOutput {
  std::uint16_t* scores = nullptr;
  int count = 0;
  ~MatcherOutput() { std::free(scores); }
};

// Keeps the first n sub-scores; 17 when there are fewer.
int cut_to(MatcherOutput& m, int n, uint16_t** out_scores, uint16_t* out_count) {
  if (m.count < n) return ML_CORRUPT;
  *out_scores = std::exchange(m.scores, nullptr);
  *out_count = static_cast<std::uint16_t>(n);
  return ML_OK;
}

enum class Matcher { global, paired };

int keypoints_core(MatchContext* ctx, DataBlob* a, DataBlob* b, const MatcherSettings& settings,
                   Matcher which, uint16_t** out_scores, uint16_t* out_count,
                   RigidTransform** alignment) {
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (!out_scores || !out_count) return fail_match_op(ML_BAD_ARGUMENT, out_scores, out_count, alignment);
  // The required count sizes the answer; a count below 1 is no answer.
  const int n = get(ctx, KP_KEY_REQUIRED, settings.required_count);
  if (n < 1) return fail_match_op(ML_BAD_ARGUMENT, out_scores, out_count, alignment);
  Sections s;
  if (const int st = get_sections(ctx, a, b, s)) return fail_match_op(st, out_scores, out_count, alignment);
  const int r = get(ctx, KP_KEY_RESOLUTION, 500);
  PairAlignment al;
  zyl::matchlib::alignment_from_xform(alignment ? *alignment : nullptr, r, &al);
  if (alignment) {
    zyl::matchlib::xform_release(*alignment);
    *alignment = nullptr;
  }
  MatcherOutput m;
  int flag = 0;
  const int st =
      which == Matcher::global
          ? zyl::matchlib::pairs_match_global(s.a, s.a_length, &s.ia, s.b, s.b_length, &s.ib,
                                              &settings, &m.scores, &m.count, &al)
          : zyl::matchlib::pairs_match_and_score(s.a, s.a_length, &s.ia, s.b, s.b_length, &s.ib,
                                                 &settings, &m.scores, &m.count, &al, &flag);
  if (st) return fail_match_op(st, out_scores, out_count, alignment);
  if (const int c = cut_to(m, n, out_scores, out_count)) return fail_match_op(c, out_scores, out_count, alignment);
  if (alignment) {
    *alignment = zyl::matchlib::alignment_to_xform(&al, r);
    if (!*alignment) return fail_match_op(ML_NO_MEMORY, out_scores, out_count, alignment);
    if (which == Matcher::paired) zyl::matchlib::xform_set_flag(*alignment, flag);
  }
  return ML_OK;
}

MatcherSettings global_base() {
  MatcherSettings s{};
  s.refined_search = 1;
  s.hypothesis_limit = 200;
  s.extension_types = 16;
  s.direction_tolerance = 32;
  s.mutual = 1;
  s.required_count = 1;
  return s;
}

void global_common_keys(const MatchContext* c, MatcherSettings& s) {
  s.extension_types = get(c, KP_KEY_EXTENSIONS, s.extension_types);
  s.refined_search = get(c, KP_KEY_REFINED, s.refined_search);
  s.two_run = get(c, KP_KEY_TWO_RUN, s.two_run);
  s.direction_tolerance = get(c, KP_KEY_TOLERANCE, s.direction_tolerance);
}

void light_keys(const MatchContext* c, MatcherSettings& s) {
  s.hypothesis_limit = get(c, KP_KEY_LIGHT_HYPOTHESES, 25);
  s.parse_selection = get(c, KP_KEY_LIGHT_SELECTION, 0);
  s.distance_mode = get(c, KP_KEY_LIGHT_MODE, 64);
}

// (direction, second angle) histogram of a keypoint section: 16 rows of
// the second angle by 32 columns of the first.
int angle_histogram(MatchContext* ctx, DataBlob* t, std::array<std::uint16_t, 512>& h) {
  (void)ctx;
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  if (const int st = zyl::matchlib::tmpl_get_section(t, kSectionKeypoints, &data, &length))
    return st;
  std::uint8_t* pairs = nullptr;
  int count = 0;
  if (const int st = zyl::matchlib::blockrec_read_points(data, length, &pairs, &count)) return st;
  h.fill(0);
  for (int k = 0; k < count; ++k) {
    const int first = pairs[2 * k], second = pairs[2 * k + 1];
    const int row = second < 248 ? (second + 8) >> 4 : 0;
    const int col = first <= 251 ? (first + 4) >> 3 : 0;
    std::uint16_t& bin = h[static_cast<std::size_t>(row * 32 + col)];
    if (bin < 0xffff) ++bin;
  }
  std::free(pairs);
  return ML_OK;
}

}  // namespace

void zyl::matchlib::matcher_settings_defaults(MatcherSettings* s, const MatchContext* c) {
  if (!s) return;
  *s = MatcherSettings{};
  s->refined_search = get(c, KP_KEY_REFINED, 1);
  s->hypothesis_limit = get(c, KP_KEY_HYPOTHESES, 200);
  s->extension_types = get(c, KP_KEY_EXTENSIONS, 2);
  s->two_run = get(c, KP_KEY_TWO_RUN, 0);
  s->distance_setting = get(c, KP_KEY_DISTANCE, 0);
  s->direction_tolerance = get(c, KP_KEY_TOLERANCE, 32);
  s->mutual = get(c, KP_KEY_MUTUAL, 1);
  s->required_count = get(c, KP_KEY_REQUIRED, 1);
}

int zyl::matchlib::keypoints_paired_core(MatchContext* context, DataBlob* a, DataBlob* b,
                                         const MatcherSettings* settings, uint16_t** out_scores,
                                         uint16_t* out_count, RigidTransform** alignment) {
  if (!settings) return fail_match_op(ML_BAD_ARGUMENT, out_scores, out_count, alignment);
  return keypoints_core(context, a, b, *settings, Matcher::paired, out_scores, out_count, alignment);
}

extern "C" ZYL_API int match_keypoints_global(MatchContext* context, DataBlob* a, DataBlob* b,
                                              uint16_t** out_scores, uint16_t* out_count,
                                              RigidTransform** alignment) {
  MatcherSettings s = global_base();
  global_common_keys(context, s);
  return keypoints_core(context, a, b, s, Matcher::global, out_scores, out_count, alignment);
}

extern "C" ZYL_API int match_keypoints_global_light(MatchContext* context, DataBlob* a, DataBlob* b,
                                                    uint16_t** out_scores, uint16_t* out_count,
                                                    RigidTransform** alignment) {
  MatcherSettings s = global_base();
  light_keys(context, s);
  s.extension_types = get(context, KP_KEY_EXTENSIONS, 16);
  s.refined_search = get(context, KP_KEY_REFINED, 0);
  s.two_run = get(context, KP_KEY_TWO_RUN, s.two_run);
  s.distance_setting = get(context, KP_KEY_DISTANCE, s.distance_setting);
  s.direction_tolerance = get(context, KP_KEY_TOLERANCE, s.direction_tolerance);
  return keypoints_core(context, a, b, s, Matcher::global, out_scores, out_count, alignment);
}

extern "C" ZYL_API int match_keypoints_global_limited(MatchContext* context, DataBlob* a,
                                                      DataBlob* b, uint16_t** out_scores,
                                                      uint16_t* out_count,
                                                      RigidTransform** alignment) {
  MatcherSettings s = global_base();
  s.hypothesis_limit = get(context, KP_KEY_HYPOTHESES, 200);
  global_common_keys(context, s);
  return keypoints_core(context, a, b, s, Matcher::global, out_scores, out_count, alignment);
}

extern "C" ZYL_API int match_keypoints_light(MatchContext* context, DataBlob* a, DataBlob* b,
                                             uint16_t** out_scores, uint16_t* out_count,
                                             RigidTransform** alignment) {
  MatcherSettings s;
  zyl::matchlib::matcher_settings_defaults(&s, context);
  light_keys(context, s);
  s.refined_search = get(context, KP_KEY_REFINED, 0);
  return keypoints_core(context, a, b, s, Matcher::paired, out_scores, out_count, alignment);
}

int zyl::matchlib::match_keypoints(MatchContext* context, DataBlob* a, DataBlob* b,
                                    uint16_t** out_scores, uint16_t* out_count,
                                    RigidTransform** alignment) {
  MatcherSettings s;
  zyl::matchlib::matcher_settings_defaults(&s, context);
  return keypoints_core(context, a, b, s, Matcher::paired, out_scores, out_count, alignment);
}

extern "C" ZYL_API int match_orientation_histogram(MatchContext* context, DataBlob* a, DataBlob* b,
                                                   uint16_t** out_scores, uint16_t* out_count,
                                                   RigidTransform** alignment) {
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (alignment) {
    zyl::matchlib::xform_release(*alignment);
    *alignment = nullptr;
  }
  if (!out_scores || !out_count) return ML_BAD_ARGUMENT;
  std::unique_ptr<std::array<std::uint16_t, 512>[]> h(new (std::nothrow) std::array<std::uint16_t, 512>[2]);
  if (!h) return ML_NO_MEMORY;
  if (const int st = angle_histogram(context, a, h[0])) return st;
  if (const int st = angle_histogram(context, b, h[1])) return st;
  std::uint32_t best = 0;
  for (int s = 0; s < 16; ++s) {
    std::uint32_t sum = 0;
    for (int i = 0; i < 512; ++i) sum += std::min(h[0][i], h[1][(i + 32 * s) % 512]);
    best = std::max(best, sum);
  }
  auto* v = static_cast<std::uint16_t*>(std::calloc(2, sizeof(std::uint16_t)));
  if (!v) return ML_NO_MEMORY;
  v[0] = static_cast<std::uint16_t>(std::min<std::uint32_t>(best, 0xffff));
  *out_scores = v;
  *out_count = 2;
  return ML_OK;
}

int zyl::matchlib::match_keypoint_pairs(MatchContext* context, DataBlob* a, DataBlob* b,
                                        MinutiaPairing** out_pairing) {
  if (!out_pairing) return ML_BAD_ARGUMENT;
  *out_pairing = nullptr;
  MatcherSettings s;
  zyl::matchlib::matcher_settings_defaults(&s, context);
  Sections sec;
  if (const int st = zyl::matchlib::tmpl_get_section(a, kSectionKeypoints, &sec.a, &sec.a_length))
    return st;
  if (const int st = zyl::matchlib::tmpl_get_section(b, kSectionKeypoints, &sec.b, &sec.b_length))
    return st;
  BlockRecord* ra = nullptr;
  BlockRecord* rb = nullptr;
  int st =
      zyl::matchlib::blockrec_parse(sec.a, sec.a_length, s.parse_selection, s.point_limit, &ra);
  if (!st)
    st = zyl::matchlib::blockrec_parse(sec.b, sec.b_length, s.parse_selection, s.point_limit, &rb);
  const auto need = static_cast<std::uint32_t>(s.extension_types);
  if (!st &&
      (!zyl::matchlib::extension_mask_covers(need, zyl::matchlib::blockrec_extension_mask(ra)) ||
       !zyl::matchlib::extension_mask_covers(need, zyl::matchlib::blockrec_extension_mask(rb))))
    st = ML_WRONG_KIND;
  MinutiaPairing* p = nullptr;
  if (!st) {
    p = zyl::matchlib::pairing_create(&s);
    st = p ? zyl::matchlib::pairs_match(ra, rb, p) : ML_NO_MEMORY;
  }
  zyl::matchlib::blockrec_free(ra);
  zyl::matchlib::blockrec_free(rb);
  if (st) {
    zyl::matchlib::pairing_free(p);
    return st;
  }
  *out_pairing = p;
  return ML_OK;
}

int zyl::matchlib::match_keypoints_with_pairing(
    MatchContext* context, DataBlob* a, const uint8_t* ext_a, uint32_t ext_a_length, DataBlob* b,
    const uint8_t* ext_b, uint32_t ext_b_length, const MinutiaPairing* pairing,
    uint16_t** out_scores, uint16_t* out_count, RigidTransform** alignment) {
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (alignment) {
    zyl::matchlib::xform_release(*alignment);
    *alignment = nullptr;
  }
  if (!pairing || !out_scores || !out_count) return ML_BAD_ARGUMENT;
  const MatcherSettings& s = pairing->settings;
  const int n = get(context, KP_KEY_REQUIRED, s.required_count);
  if (n < 1) return ML_BAD_ARGUMENT;
  Sections sec;
  if (const int st = get_sections(context, a, b, sec)) return st;
  BlockRecord* ra = nullptr;
  BlockRecord* rb = nullptr;
  int st =
      zyl::matchlib::blockrec_parse(sec.a, sec.a_length, s.parse_selection, s.point_limit, &ra);
  if (!st)
    st = zyl::matchlib::blockrec_parse(sec.b, sec.b_length, s.parse_selection, s.point_limit, &rb);
  if (!st && ext_a) st = zyl::matchlib::blockrec_read_extensions(ra, ext_a, ext_a_length);
  if (!st && ext_b) st = zyl::matchlib::blockrec_read_extensions(rb, ext_b, ext_b_length);
  const auto need = static_cast<std::uint32_t>(s.extension_types);
  if (!st &&
      (!zyl::matchlib::extension_mask_covers(need, zyl::matchlib::blockrec_extension_mask(ra)) ||
       !zyl::matchlib::extension_mask_covers(need, zyl::matchlib::blockrec_extension_mask(rb))))
    st = ML_WRONG_KIND;
  MatcherOutput m;
  PairAlignment al;
  zyl::matchlib::pair_alignment_identity(&al);
  if (!st)
    st = zyl::matchlib::pairs_score(ra, rb, &sec.ia, &sec.ib, pairing, &m.scores, &m.count, &al);
  zyl::matchlib::blockrec_free(ra);
  zyl::matchlib::blockrec_free(rb);
  if (!st) st = cut_to(m, n, out_scores, out_count);
  if (!st && alignment) {
    *alignment = zyl::matchlib::alignment_to_xform(&al, 500);
    if (!*alignment) st = ML_NO_MEMORY;
    else
      zyl::matchlib::xform_set_flag(*alignment, pairing->alignment_flag);
  }
  return st ? fail_match_op(st, out_scores, out_count, alignment) : ML_OK;
}

extern "C" ZYL_API int fuse_with_profile(MatchContext* context, DataBlob* a, DataBlob* b,
                                         const uint16_t* scores, uint16_t count,
                                         const ScoreProfile* profile, uint16_t* out_score) {
  (void)context, (void)a, (void)b;
  return zyl::matchlib::score_profile_fuse(scores, static_cast<std::int16_t>(count), profile,
                                           out_score);
}

extern "C" ZYL_API int fuse_orientation_histogram(MatchContext* context, DataBlob* a, DataBlob* b,
                                                  const uint16_t* scores, uint16_t count,
                                                  const ScoreProfile* profile,
                                                  uint16_t* out_score) {
  (void)context, (void)a, (void)b, (void)profile;
  if (count != 2 || !scores || !out_score) return ML_CORRUPT;
  *out_score = static_cast<std::uint16_t>(4 * scores[0] + 3 * scores[1]);
  return ML_OK;
}

extern "C" {

ZYL_API void matcher_settings_defaults(MatcherSettings* s, const MatchContext* c) {
  zyl::matchlib::matcher_settings_defaults(s, c);
}
ZYL_API int keypoints_paired_core(MatchContext* context, DataBlob* a, DataBlob* b,
                                  const MatcherSettings* settings, uint16_t** out_scores,
                                  uint16_t* out_count, RigidTransform** alignment) {
  return zyl::matchlib::keypoints_paired_core(context, a, b, settings, out_scores, out_count,
                                              alignment);
}
ZYL_API int match_keypoints(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                            uint16_t* out_count, RigidTransform** alignment) {
  return zyl::matchlib::match_keypoints(context, a, b, out_scores, out_count, alignment);
}
ZYL_API int match_keypoint_pairs(MatchContext* context, DataBlob* a, DataBlob* b,
                                 MinutiaPairing** out_pairing) {
  return zyl::matchlib::match_keypoint_pairs(context, a, b, out_pairing);
}
ZYL_API int match_keypoints_with_pairing(MatchContext* context, DataBlob* a, const uint8_t* ext_a,
                                         uint32_t ext_a_length, DataBlob* b, const uint8_t* ext_b,
                                         uint32_t ext_b_length, const MinutiaPairing* pairing,
                                         uint16_t** out_scores, uint16_t* out_count,
                                         RigidTransform** alignment) {
  return zyl::matchlib::match_keypoints_with_pairing(context, a, ext_a, ext_a_length, b, ext_b,
                                                     ext_b_length, pairing, out_scores, out_count,
                                                     alignment);
}

}  // extern "C"
