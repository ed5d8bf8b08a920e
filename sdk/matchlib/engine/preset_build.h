// Pieces every preset builds its engine from: parameter defaults written in
// order, stage chains described as a list of stage settings, engines created
// from a configuration shape, and the extraction descriptors and image
// routine lists the stages of the presets reference.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_stage.h"

namespace zyl::matchlib {

// One default: by key text when `text` is set, else by key id; ensured
// (a value visible through the context stays) unless `set`.
struct PresetDefault {
  const char* text;
  uint32_t key;
  int32_t value;
  bool set = false;
};

// Writes the defaults in order; with `stop` the first failing write ends
// the run and its status is answered, else every write is tried and 0
// answered.
int write_defaults(MatchContext* ctx, std::span<const PresetDefault> defaults, bool stop = true);
int write_defaults(MatchContext* ctx, std::initializer_list<PresetDefault> defaults,
                   bool stop = true);

// The settings of one stage.
struct StageSpec {
  const StageExtractor* extractor = nullptr;
  int32_t kind = 0;
  const ImagePrepRoutine* images = nullptr;
  const StageMatchOps* ops = nullptr;
  int32_t offset = 0;
  int32_t level = 0;
  int limit = -1;  // candidate limit; -1 keeps the stage's 255
  uint16_t flags = 0;
  bool early = false;  // early rejection at early_level once early_count candidates remain
  int32_t early_level = 0;
  int early_count = 0;
};

// A new chain of the stages, or null (every stage made so far freed).
StageChain* chain_of(std::initializer_list<StageSpec> stages);

// The engine's fixed shape: output format, sensor type and size class, the
// configuration fields presets copy (A most views, B the byte that
// defaults to 32, D and E the preset-only fields, the low byte of F, H the
// first quality-table value) and the two option lists.
struct EngineShape {
  int32_t format = 79;
  int32_t sensor_type = 1;
  int32_t size_class = 0;
  uint8_t a = 0, b = 0;
  int32_t d = 0, e = 0, f = 0, h = 0;
  std::span<const int32_t> first;
  std::span<const int32_t> second;
};

// Creates the engine on the chain and installs the profile list and the
// hook (when given). Null when the engine cannot be made; the chain is
// then freed. A null chain answers null.
MatchEngine* engine_of(MatchContext* ctx, StageChain* chain, const EngineShape& shape,
                       const ScoreProfile* const* profiles, EngineHook hook);

// Extraction descriptors of the stages.
const StageExtractor* extractor_keypoints_full();
const StageExtractor* extractor_keypoints_light();
// Card-template routine 'A' .. 'E'.
const StageExtractor* extractor_card(char which);
const StageExtractor* extractor_gridblock();
const StageExtractor* extractor_gridblock_alt();
const StageExtractor* extractor_texture();
// {texture_match, texture_decide}: the grid-map comparison and decision of
// the texture algorithm.
const StageMatchOps* texture_stage_ops();

// Image routine lists: the keypoint stages' band filter, the same after
// destriping, the card stages' and the grid-block stages' normalisation.
extern const ImagePrepRoutine kKeypointImages[];
extern const ImagePrepRoutine kSmoothKeypointImages[];
extern const ImagePrepRoutine kCardImages[];
extern const ImagePrepRoutine kGridImages[];

// Converters of raw-pixel engines: global normalisation, and the second
// list, local normalisation.
extern const ImagePrepDescriptor* const kRawImageList[];
extern const ImagePrepDescriptor* const kSecondRawImageList[];

}  // namespace zyl::matchlib
