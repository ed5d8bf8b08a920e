// Test-local stage routines of the matcher engine over a scripted score
// table: templates are containers whose format-79 section starts with an
// id byte; the match routine answers the table's sub-scores for the pair of
// ids and records the order of its calls; the fuse routine answers the
// newest sub-score (or the sum with fuse_sum).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {

struct ScoreScript {
  // (view id, probe id) -> sub-scores of one stage.
  std::map<std::pair<int, int>, std::vector<std::uint16_t>> table;
  std::vector<std::pair<int, int>> calls;  // (view id, probe id) in call order
  int fail_status = 0;                     // answered by the match routine when non-zero
  bool fuse_sum = false;
  int extract_calls = 0;
  int extract_status = 0;
  std::uint16_t default_score = 0;
  std::int16_t transform_dx = 0;  // the match routine's transform moves by this many pixels
  // When not empty: the sub-scores of the n-th call, whatever the pair.
  std::vector<std::vector<std::uint16_t>> sequence;
};

inline ScoreScript& script() {
  static ScoreScript s;
  return s;
}

inline int template_id(const DataBlob* blob) {
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  if (tmpl_get_section(blob, 79, &data, &length) != ML_OK || length == 0) return -1;
  return data[0];
}

// A container with a format-79 section {id} and the sample information of
// a view of the given quality.
inline DataBlob* make_template(int id, std::uint8_t quality = 0, int extra_format = 0) {
  const std::uint8_t section[2] = {static_cast<std::uint8_t>(id), 0x55};
  DataBlob* blob = container_put_entry(nullptr, 79, section, sizeof section);
  if (extra_format) {
    DataBlob* more = container_put_entry(blob, extra_format, section, sizeof section);
    blob_release(blob);
    blob = more;
  }
  SampleInfo info{};
  info.height = 300;
  info.width = 260;
  info.resolution = 500;
  info.quality = quality;
  DataBlob* with_info = blob;
  sample_info_write(nullptr, &info, &with_info);
  if (with_info != blob) blob_release(blob);
  return with_info;
}

inline int scripted_match(MatchContext*, DataBlob* view, DataBlob* probe, std::uint16_t** out_scores,
                          std::uint16_t* out_count, RigidTransform** transform) {
  ScoreScript& s = script();
  const std::pair<int, int> key{template_id(view), template_id(probe)};
  s.calls.push_back(key);
  if (s.fail_status) return s.fail_status;
  auto it = s.table.find(key);
  const std::size_t call = s.calls.size() - 1;
  const std::vector<std::uint16_t> scores =
      call < s.sequence.size() ? s.sequence[call]
      : it != s.table.end()    ? it->second
                               : std::vector<std::uint16_t>{s.default_score};
  *out_count = static_cast<std::uint16_t>(scores.size());
  *out_scores = static_cast<std::uint16_t*>(std::malloc(scores.size() * 2 + 2));
  if (!*out_scores) return ML_NO_MEMORY;
  if (!scores.empty()) std::memcpy(*out_scores, scores.data(), scores.size() * 2);
  xform_release(*transform);
  *transform = xform_create(s.transform_dx, 0, 0);
  return *transform ? ML_OK : ML_NO_MEMORY;
}

inline int scripted_fuse(MatchContext*, DataBlob*, DataBlob*, const std::uint16_t* scores,
                         std::uint16_t count, const ScoreProfile*, std::uint16_t* out_score) {
  if (count == 0) {
    *out_score = 0;
    return ML_OK;
  }
  if (script().fuse_sum) {
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) sum += scores[i];
    *out_score = static_cast<std::uint16_t>(sum > 0xffff ? 0xffff : sum);
  } else {
    *out_score = scores[count - 1];
  }
  return ML_OK;
}

// Extraction: a section of the stage's kind holding the image's first
// pixel and its size, so a test sees which image reached the stage.
inline int scripted_extract(MatchContext*, GrayImage* image, void*, std::int32_t kind,
                            DataBlob** out) {
  ScoreScript& s = script();
  ++s.extract_calls;
  if (s.extract_status) return s.extract_status;
  const std::uint8_t bytes[4] = {image_pixels(image)[0], static_cast<std::uint8_t>(kind),
                                 static_cast<std::uint8_t>(image_height(image) & 0xff),
                                 static_cast<std::uint8_t>(image_width(image) & 0xff)};
  *out = blob_create(kind, bytes, sizeof bytes);
  return *out ? ML_OK : ML_NO_MEMORY;
}

inline const StageMatchOps kScriptedOps{scripted_match, scripted_fuse};
inline const StageMatchOps kScriptedOps2{scripted_match, scripted_fuse};
inline const StageMatchOps kScriptedOps3{scripted_match, scripted_fuse};
inline const StageExtractor kScriptedExtractor{scripted_extract};

inline const ScoreProfile kScriptedProfile{&kScriptedOps, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
inline const ScoreProfile* const kScriptedProfiles[] = {&kScriptedProfile, nullptr};

// An engine (format 84) of one kind-79 stage that extracts with
// scripted_extract and matches with the scripted table.
inline MatchEngine* scripted_engine(MatchContext* ctx, const EngineConfig& config) {
  StageChain* chain = chain_create();
  chain_append(chain, stage_create(&kScriptedExtractor, 79, nullptr, &kScriptedOps, 0, 0));
  MatchEngine* engine = engine_create(ctx, chain, 84, 0, 0, nullptr, 0, nullptr, 0, &config);
  engine_set_score_profiles(engine, kScriptedProfiles);
  return engine;
}

// The number of views of a multi-view template blob, -1 when it does not parse.
inline int view_count(DataBlob* blob) {
  MultiViewTemplate* t = nullptr;
  if (mvt_from_blob(blob, &t) != ML_OK) return -1;
  const int n = kwzd_record_count(mvt_store(t));
  mvt_release(t);
  return n;
}

}  // namespace zyl::test
