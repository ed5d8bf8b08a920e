// Placement-checking enrolment: impressions compared with the accepted
// ones, refused at the place of a matching accepted impression, linked by
// their pairwise alignments into trees that give the covered share of the
// finger and a picture of the placements, and merged into a multi-view
// template.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/image/blob.h"
#include "matchlib/template/grid_coverage.h"
#include "zylscan/matchlib_align.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_drawing.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_placed_enrol.h"
#include "zylscan/matchlib_verify.h"
#include "matchlib/template/align_tree.h"
#include "matchlib/engine/engine_extract.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/template/pair_result.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/polygon.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/image/drawing.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/match/verify_views.h"
#include "matchlib/template/multi_view.h"
#include "matchlib/template/multi_view_select.h"
#include "matchlib/engine/placed_enrol.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kFarLevel = 15;
constexpr int kMostCompared = 8;         // results asked for when adding
constexpr int kBestMatchResults = 3;     // results asked for by enrol_best_match
constexpr int kFingerArea = 87500;       // square pixels at 500 dpi that count as 100 %
constexpr int kPictureMargin = 50;       // on each side of the base image
constexpr int kPictureLighten = 75;      // percent
constexpr int kPictureImpressionType = 29;
constexpr std::uint8_t kOutsideBase = 254;
constexpr std::int32_t kObserverKey = 9;  // context attachment the capture drivers use
constexpr std::uint32_t kViewRuleKey = 0xac395352u;

struct Offered {
  DataBlob* blob;  // one reference
  bool refused;
};

struct PlacedEnrol {
  EnrolSession head;  // operation slots, observer and the transform flag (head.setting)
  MatchEngine* engine;
  MatchContext* context;
  FingerInfo* finger;
  const EnrolHooks* hooks;
  std::uint32_t format;
  EnrolSettings settings;
  GrayImage* picture;  // padded picture, or null
  GrayImage* base;     // the settings' base image, retained, or null
  DataBlob** samples;  // capacity entries, one reference each
  std::uint16_t count;
  HookedVector<Offered> offered;  // every template offered, oldest first
  PairResult** matrix;            // capacity x capacity; (r, c) = sample r against sample c
  PairList matches;               // matching pair results, best first
  std::uint16_t capacity;
  AlignForest forest;
  bool has_forest;
  DataBlob* forest_root;  // root of the first tree when the display offset was set (retained)
  std::int32_t sample_height, sample_width;  // at 500 dpi
  std::uint32_t height, width, resolution;   // of the last image
  std::int32_t display_x, display_y;
  std::uint32_t far_level;
  std::uint8_t coverage;  // largest reported since the last reset
};

// The head is reached as the object itself.
static_assert(std::is_standard_layout_v<PlacedEnrol>);
PlacedEnrol* self(EnrolSession* s) { return reinterpret_cast<PlacedEnrol*>(s); }

// A forest released when it goes out of scope unless handed on.
struct OwnedForest {
  AlignForest forest{};
  OwnedForest() = default;
  OwnedForest(const OwnedForest&) = delete;
  OwnedForest& operator=(const OwnedForest&) = delete;
  ~OwnedForest() { zyl::matchlib::align_forest_clear(&forest); }
  AlignForest release() { return std::exchange(forest, AlignForest{}); }
};

void raise(const PlacedEnrol& e, int code, FingerInfo* finger) {
  if (e.hooks && e.hooks->event) e.hooks->event(e.context, code, finger);
}

PairResult*& cell(PlacedEnrol& e, int r, int c) { return e.matrix[r * e.capacity + c]; }

// Releases and clears row and column k of the pair matrix.
void clear_cross(PlacedEnrol& e, int k) {
  for (int i = 0; i < e.capacity; ++i) {
    zyl::matchlib::pair_result_release(std::exchange(cell(e, k, i), nullptr));
    zyl::matchlib::pair_result_release(std::exchange(cell(e, i, k), nullptr));
  }
}

void forest_drop(PlacedEnrol& e) {
  zyl::matchlib::align_forest_clear(&e.forest);
  e.has_forest = false;
}

// ---- the padded picture ----

// The base image lightened inside a white margin, at 500 dpi.
GrayImage* padded_picture(const GrayImage* base) {
  const int h = zyl::matchlib::image_height(base), w = zyl::matchlib::image_width(base);
  const int ph = h + 2 * kPictureMargin, pw = w + 2 * kPictureMargin;
  HookedVector<std::uint8_t> pixels(static_cast<std::size_t>(ph) * pw, 255);
  const std::uint8_t* src = zyl::matchlib::image_pixels(base);
  for (int r = 0; r < h; ++r)
    std::memcpy(&pixels[static_cast<std::size_t>(r + kPictureMargin) * pw + kPictureMargin],
                src + static_cast<std::size_t>(r) * w, static_cast<std::size_t>(w));
  zyl::matchlib::draw_lighten(pixels.data(), ph, pw, kPictureLighten, pixels.data());
  return zyl::matchlib::image_create(ph, pw, 500, 500, pixels.data(), kPictureImpressionType);
}

// Shows the base image inside the placement's quadrilateral (paler for all
// but the newest placement) and outlines it.
void draw_placement(const PlacedEnrol& e, std::uint8_t* out, int ph, int pw,
                    const EnrolPlacement& p) {
  PolyPoint quad[4];
  int min_x = INT_MAX, max_x = INT_MIN, min_y = INT_MAX, max_y = INT_MIN;
  for (int i = 0; i < 4; ++i) {
    const int x = p.corners[i].x + e.display_x, y = p.corners[i].y + e.display_y;
    quad[i] = PolyPoint{static_cast<std::int16_t>(std::clamp(x, -32768, 32767)),
                        static_cast<std::int16_t>(std::clamp(y, -32768, 32767))};
    min_x = std::min(min_x, x), max_x = std::max(max_x, x);
    min_y = std::min(min_y, y), max_y = std::max(max_y, y);
  }
  const int bh = zyl::matchlib::image_height(e.base), bw = zyl::matchlib::image_width(e.base);
  const std::uint8_t* base = zyl::matchlib::image_pixels(e.base);
  const bool newest = (p.flags & ENROL_PLACEMENT_NEWEST) != 0;
  for (int row = std::max(min_y, 0); row <= std::min(max_y, ph - 1); ++row) {
    for (int col = std::max(min_x, 0); col <= std::min(max_x, pw - 1); ++col) {
      const PolyPoint pt{static_cast<std::int16_t>(col), static_cast<std::int16_t>(row)};
      if (!zyl::matchlib::polygon_contains_point(pt, quad, 4)) continue;
      const int br = row - kPictureMargin, bc = col - kPictureMargin;
      int b = (br >= 0 && br < bh && bc >= 0 && bc < bw)
                  ? base[static_cast<std::size_t>(br) * bw + bc]
                  : kOutsideBase;
      if (!newest) b += 127 - b / 2;
      out[static_cast<std::size_t>(row) * pw + col] = static_cast<std::uint8_t>(b);
    }
  }
  for (int i = 0; i < 4; ++i) {
    const PolyPoint a = quad[i], b = quad[(i + 1) % 4];
    zyl::matchlib::draw_line(out, ph, pw, a.x, a.y, b.x, b.y, 0);
  }
}

// ---- placement work ----

using CornerLists = HookedVector<HookedVector<EnrolPlacement>>;

struct WalkState {
  const PlacedEnrol* e;
  HookedVector<EnrolPlacement>* out;
  int status;  // the walk itself cannot carry a failure of the callback
};

int place_node(AlignTreeNode**, AlignTreeNode* node, RigidTransform* accumulated, void* user) {
  auto& w = *static_cast<WalkState*>(user);
  const PlacedEnrol& e = *w.e;
  const DataBlob* blob = zyl::matchlib::align_node_get_blob(node->node);
  EnrolPlacement p{};
  const std::int16_t sw = static_cast<std::int16_t>(std::clamp(e.sample_width, 0, 32767));
  const std::int16_t sh = static_cast<std::int16_t>(std::clamp(e.sample_height, 0, 32767));
  const PolyPoint corners[4] = {{0, 0}, {sw, 0}, {sw, sh}, {0, sh}};
  for (int i = 0; i < 4; ++i) {
    std::int32_t x = 0, y = 0;
    zyl::matchlib::xform_apply_inverse(accumulated, corners[i].x, corners[i].y, &x, &y);
    p.corners[i] = PolyPoint{static_cast<std::int16_t>(std::clamp(x, -32768, 32767)),
                             static_cast<std::int16_t>(std::clamp(y, -32768, 32767))};
  }
  if (!e.offered.empty() && e.offered.back().blob == blob) p.flags |= ENROL_PLACEMENT_NEWEST;
  for (const Offered& o : e.offered)
    if (o.blob == blob && o.refused) p.flags |= ENROL_PLACEMENT_REFUSED;
  // No exception may pass through the walk: it would leak the walk's
  // transforms.
  if (const int st = zyl::GuardedCall(ML_NO_MEMORY, [&] {
        w.out->push_back(p);
        return ML_OK;
      })) {
    w.status = st;
    return 1;
  }
  return 0;
}

bool in_forest(AlignForest& forest, const DataBlob* blob) {
  for (AlignForestItem* it = forest.first; it; it = it->next)
    if (zyl::matchlib::align_tree_find(zyl::matchlib::align_tree_root_slot(it->tree), blob))
      return true;
  return false;
}

// A one-node tree for an offered template that no matching pair holds.
int append_single(AlignForest& forest, DataBlob* blob, bool toggle) {
  AlignTree* tree = zyl::matchlib::align_tree_create();
  AlignNode* node = tree ? zyl::matchlib::align_node_create(blob, tree, nullptr) : nullptr;
  auto* item = node ? static_cast<AlignForestItem*>(ml_malloc(sizeof(AlignForestItem))) : nullptr;
  const int status = item ? zyl::matchlib::align_tree_set_root(tree, node) : ML_NO_MEMORY;
  zyl::matchlib::align_node_release(node);
  if (status != ML_OK) {
    std::free(item);
    zyl::matchlib::align_tree_release(tree);
    return ML_NO_MEMORY;
  }
  if (toggle) zyl::matchlib::align_tree_toggle_flags(zyl::matchlib::align_tree_root_slot(tree));
  *item = AlignForestItem{nullptr, forest.last, tree};
  (forest.last ? forest.last->next : forest.first) = item;
  forest.last = item;
  ++forest.count;
  return ML_OK;
}

// The forest of the current matches and offered templates, re-rooted at the
// previous forest's root template so the placements do not jump.
int build_forest(PlacedEnrol& e, AlignForest& forest) {
  const bool flag = e.head.setting != 0;
  if (const int st = zyl::matchlib::align_forest_build(&e.matches, flag ? 1 : 0, &forest);
      st != ML_OK)
    return st;
  zyl::matchlib::align_forest_sort(&forest);
  for (const Offered& o : e.offered) {
    if (in_forest(forest, o.blob)) continue;
    if (const int st = append_single(forest, o.blob, flag); st != ML_OK) return st;
  }
  const DataBlob* previous_root =
      e.has_forest && e.forest.first ? zyl::matchlib::align_node_get_blob(
                                           zyl::matchlib::align_tree_get_root(e.forest.first->tree))
                                     : nullptr;
  if (previous_root) {
    for (AlignForestItem* it = forest.first; it; it = it->next) {
      AlignTreeNode** slot = zyl::matchlib::align_tree_root_slot(it->tree);
      if (AlignTreeNode* n = zyl::matchlib::align_tree_find(slot, previous_root))
        if (const int st = zyl::matchlib::align_tree_reroot(slot, n); st != ML_OK) return st;
    }
  }
  return ML_OK;
}

void set_display_offset(PlacedEnrol& e, const AlignForest& forest,
                        const HookedVector<EnrolPlacement>& first) {
  DataBlob* root =
      zyl::matchlib::align_node_get_blob(zyl::matchlib::align_tree_get_root(forest.first->tree));
  if (first.size() % 5 != 0 && root == e.forest_root) return;
  int min_x = INT_MAX, max_x = INT_MIN, min_y = INT_MAX, max_y = INT_MIN;
  for (const EnrolPlacement& p : first)
    for (const PolyPoint& c : p.corners) {
      min_x = std::min<int>(min_x, c.x), max_x = std::max<int>(max_x, c.x);
      min_y = std::min<int>(min_y, c.y), max_y = std::max<int>(max_y, c.y);
    }
  const int w = e.sample_width, h = e.sample_height;
  e.display_x = (zyl::matchlib::image_width(e.base) - w + 2 * kPictureMargin) / 2 -
                ((min_x + max_x) / 2 - w / 2);
  e.display_y = (zyl::matchlib::image_height(e.base) - h + 2 * kPictureMargin) / 2 -
                ((min_y + max_y) / 2 - h / 2);
  zyl::matchlib::blob_release(e.forest_root);
  e.forest_root = zyl::matchlib::blob_retain(root);
}

int redraw(PlacedEnrol& e, const CornerLists& lists) {
  GrayImage* picture = padded_picture(e.base);
  if (!picture) return ML_NO_MEMORY;
  std::uint8_t* px = zyl::matchlib::image_pixels(picture);
  const int ph = zyl::matchlib::image_height(picture), pw = zyl::matchlib::image_width(picture);
  const EnrolPlacement* newest = nullptr;
  for (const auto& list : lists)
    for (const EnrolPlacement& p : list) {
      if (p.flags & ENROL_PLACEMENT_NEWEST)
        newest = &p;
      else
        draw_placement(e, px, ph, pw, p);
    }
  if (newest) draw_placement(e, px, ph, pw, *newest);
  zyl::matchlib::image_release(e.picture);
  e.picture = picture;
  if (e.hooks && e.hooks->picture) e.hooks->picture(e.context, e.picture);
  return ML_OK;
}

std::uint8_t covered_percent(const HookedVector<EnrolPlacement>& first) {
  HookedVector<PolyPoint> points;
  for (const EnrolPlacement& p : first)
    if (!(p.flags & ENROL_PLACEMENT_REFUSED)) points.insert(points.end(), p.corners, p.corners + 4);
  Polygon hull{};
  zyl::matchlib::polygon_hull_init(&hull, points.data(), static_cast<std::uint32_t>(points.size()));
  const std::int64_t area = zyl::matchlib::polygon_area(&hull);
  zyl::matchlib::polygon_hull_clear(&hull);
  return static_cast<std::uint8_t>(std::min<std::int64_t>(100, area * 100 / kFingerArea));
}

// Hands the lists to the layout hook as the C records it expects.
void report_layout(const PlacedEnrol& e, const CornerLists& lists) {
  const int n = static_cast<int>(lists.size());
  HookedVector<EnrolCornerList> records(lists.size());
  for (int i = 0; i < n; ++i)
    records[i] = EnrolCornerList{const_cast<EnrolPlacement*>(lists[i].data()),
                                 static_cast<std::int32_t>(lists[i].size())};
  e.hooks->layout(e.context, records.data(), n);
}

int placement_work(PlacedEnrol& e, int* coverage) {
  OwnedForest owned;
  AlignForest& forest = owned.forest;
  CornerLists lists;
  int status = build_forest(e, forest);
  for (AlignForestItem* it = forest.first; status == ML_OK && it; it = it->next) {
    lists.emplace_back();
    WalkState w{&e, &lists.back(), ML_OK};
    status = zyl::matchlib::align_tree_walk(zyl::matchlib::align_tree_root_slot(it->tree),
                                            place_node, &w);
    if (status == ML_OK) status = w.status;
  }
  if (status == ML_OK && e.base && e.count > 0 && !lists.empty()) {
    set_display_offset(e, forest, lists.front());
    status = redraw(e, lists);
  }
  if (status != ML_OK) return status;
  const std::uint8_t covered = lists.empty() ? 0 : covered_percent(lists.front());
  e.coverage = std::max(e.coverage, covered);
  if (coverage) *coverage = e.coverage;
  if (e.hooks && e.hooks->layout) report_layout(e, lists);
  zyl::matchlib::align_forest_clear(&e.forest);
  e.forest = owned.release();
  e.has_forest = true;
  if (e.hooks && e.hooks->progress) e.hooks->progress(e.context, e.count, e.capacity);
  return ML_OK;
}

// ---- adding ----

int take_geometry(PlacedEnrol& e, GrayImage* image, DataBlob* tmpl) {
  if (image) {
    const int ry = zyl::matchlib::image_resolution_y(image),
              rx = zyl::matchlib::image_resolution_x(image);
    // The 500-dpi sizes divide by the resolutions.
    if (ry <= 0 || rx <= 0) return ML_BAD_ARGUMENT;
    e.sample_height = zyl::matchlib::image_height(image) * 500 / ry;
    e.sample_width = zyl::matchlib::image_width(image) * 500 / rx;
    e.height = static_cast<std::uint32_t>(zyl::matchlib::image_height(image));
    e.width = static_cast<std::uint32_t>(zyl::matchlib::image_width(image));
    e.resolution = static_cast<std::uint32_t>(zyl::matchlib::image_resolution(image));
  } else {
    std::uint16_t rows = 0, columns = 0;
    if (template_image_size(tmpl, rows, columns)) {
      e.sample_height = rows;
      e.sample_width = columns;
    }
  }
  return ML_OK;
}

int extract(PlacedEnrol& e, GrayImage* image, DataBlob** out) {
  FingerInfo* finger = zyl::matchlib::image_finger_info(image);
  int status;
  if (zyl::matchlib::engine_uses_image_input(e.engine)) {
    status = zyl::matchlib::engine_extract_image(e.engine, image, finger, out);
  } else {
    const std::size_t n = static_cast<std::size_t>(zyl::matchlib::image_height(image)) *
                          zyl::matchlib::image_width(image);
    HookedVector<std::uint8_t> copy(zyl::matchlib::image_pixels(image),
                                    zyl::matchlib::image_pixels(image) + n);
    status = zyl::matchlib::engine_extract_pixels(
        e.engine, copy.data(), zyl::matchlib::image_height(image),
        zyl::matchlib::image_width(image), zyl::matchlib::image_resolution(image), finger, out);
  }
  if (status != ML_OK) return status;
  if (!*out) return ML_NO_MEMORY;
  raise(e, ENROL_EVENT_EXTRACTED, finger);
  return ML_OK;
}

// Compares the new template (index n) with the samples and stores the pair
// results in the matrix; matching ones join the match list.
int compare(PlacedEnrol& e, DataBlob* tmpl, int n) {
  ViewVerdict verdicts[kMostCompared] = {};
  int rows = std::min<int>(e.count, kMostCompared);
  int status = zyl::matchlib::verify_against_views(
      e.samples, static_cast<std::uint8_t>(e.count), zyl::matchlib::engine_get_chain(e.engine),
      e.context, tmpl, static_cast<int>(e.far_level), &rows, verdicts);
  int i = 0;
  for (; status == ML_OK && i < rows; ++i) {
    const ViewVerdict& v = verdicts[i];
    const int k = v.view_index;
    if (k < 0 || k >= e.count) continue;
    PairResult* pair =
        zyl::matchlib::pair_result_create(e.samples[k], tmpl, v.score, v.decision, v.transform);
    PairResult* reverse = pair ? zyl::matchlib::pair_result_reverse(pair) : nullptr;
    if (!reverse) {
      zyl::matchlib::pair_result_release(pair);
      status = ML_NO_MEMORY;
      break;
    }
    zyl::matchlib::pair_result_release(std::exchange(cell(e, k, n), pair));
    zyl::matchlib::pair_result_release(std::exchange(cell(e, n, k), reverse));
    if (zyl::matchlib::pair_result_is_match(pair))
      status = zyl::matchlib::pair_result_list_insert(pair, &e.matches);
  }
  for (int j = 0; j < rows; ++j) zyl::matchlib::xform_release(verdicts[j].transform);
  if (status != ML_OK) clear_cross(e, n);
  return status;
}

enum class Verdict { Accept, Refuse };

// Examines the samples from the most recent backwards for one that the new
// impression (index n) duplicates.
Verdict decide(PlacedEnrol& e, GrayImage* image, int n) {
  // Without an image there is no flag word to read.
  const std::uint32_t image_flags = image ? zyl::matchlib::image_flag_word(image) : 0;
  int matched = 0;
  for (int k = e.count - 1; k >= 0; --k) {
    PairResult* pair = cell(e, k, n);
    if (!pair || !zyl::matchlib::pair_result_is_match(pair)) continue;
    ++matched;
    if (image_flags != 0 ||
        !zyl::matchlib::xform_within(zyl::matchlib::pair_result_transform(pair),
                                     e.settings.shift_tolerance, e.settings.angle_tolerance))
      continue;
    const bool accept = e.settings.accept_duplicates != 0;
    if (k != e.count - 1) {
      if (accept) return Verdict::Accept;
      raise(e, ENROL_EVENT_REFUSED, nullptr);
      return Verdict::Refuse;
    }
    raise(e, ENROL_EVENT_SAME_PLACE, e.finger);
    if (accept && !(e.hooks && e.hooks->veto && e.hooks->veto(e.context, &e) == 0))
      return Verdict::Accept;
    raise(e, ENROL_EVENT_REFUSED, nullptr);
    return Verdict::Refuse;
  }
  if (matched == 0) raise(e, ENROL_EVENT_UNMATCHED, e.finger);
  return Verdict::Accept;
}

int add(PlacedEnrol& e, GrayImage* image, DataBlob* given, int* coverage) {
  if (e.count >= e.capacity) return ML_TOO_MANY;
  if (!image && !given) return ML_BAD_ARGUMENT;
  if (const int st = take_geometry(e, image, given); st != ML_OK) return st;
  if (coverage) *coverage = 0;
  Ref<DataBlob> owned = Ref<DataBlob>::share(given);
  if (!owned) {
    DataBlob* extracted = nullptr;
    const int st = extract(e, image, &extracted);
    owned = Ref<DataBlob>::adopt(extracted);
    if (st != ML_OK) return st;
  }
  DataBlob* tmpl = owned.get();
  e.offered.reserve(e.offered.size() + 1);  // may throw; nothing changed yet
  e.offered.push_back(Offered{owned.release(), false});
  const int n = e.count;
  if (n > 0) {
    if (const int st = compare(e, tmpl, n); st != ML_OK) {
      e.offered.back().refused = true;  // never became a sample
      return st;
    }
  }
  if (n == 0 || decide(e, image, n) == Verdict::Accept) {
    e.samples[e.count++] = zyl::matchlib::blob_retain(tmpl);
  } else {
    clear_cross(e, n);
    e.offered.back().refused = true;
  }
  const bool placement = coverage || e.base || (e.hooks && e.hooks->layout);
  if (!placement) {
    forest_drop(e);
    return ML_OK;
  }
  return placement_work(e, coverage);
}

// ---- finalising ----

// What a merge holds while it runs.
struct MergeWork {
  MultiViewTemplate* t = nullptr;
  HookedVector<MvtCandidate*> candidates;
  PairList pairs{};
  MergeWork() = default;
  MergeWork(const MergeWork&) = delete;
  MergeWork& operator=(const MergeWork&) = delete;
  ~MergeWork() {
    zyl::matchlib::pair_result_list_clear(&pairs);
    for (MvtCandidate* c : candidates) zyl::matchlib::mvt_candidate_free(c);
    zyl::matchlib::mvt_release(t);
  }
};

int finalise(PlacedEnrol& e, std::uint8_t maximum_views, DataBlob** out) {
  MergeWork w;
  w.t = zyl::matchlib::mvt_create(maximum_views);
  if (!w.t) return ML_NO_MEMORY;
  MultiViewTemplate* t = w.t;
  HookedVector<MvtCandidate*>& candidates = w.candidates;
  PairList& pairs = w.pairs;
  zyl::matchlib::mvt_set_size_limit(t, e.settings.size_limit);
  const MvtSectionLimit quality{e.settings.quality_value, e.settings.quality_limit};
  int status = zyl::matchlib::mvt_set_quality_table(t, &quality, 1);
  candidates.reserve(e.count);
  for (int k = 0; status == ML_OK && k < e.count; ++k) {
    candidates.push_back(zyl::matchlib::mvt_candidate_create(e.samples[k]));
    if (!candidates.back()) status = ML_NO_MEMORY;
  }
  // Each compared pair once, older sample first.
  for (int r = 0; status == ML_OK && r < e.count; ++r)
    for (int c = r + 1; status == ML_OK && c < e.count; ++c)
      if (PairResult* p = cell(e, r, c)) status = zyl::matchlib::pair_result_list_insert(p, &pairs);
  if (status == ML_OK) {
    const EngineConfig* config = zyl::matchlib::engine_get_config(e.engine);
    int options = MVT_OPTION_KEEP;
    if (config && config->view_selection != 0 &&
        zyl::matchlib::param_get(e.context, kViewRuleKey, 2) != 0)
      options |= MVT_OPTION_DROP_MARKED;
    if (e.settings.merge_flag == 0) options &= ~MVT_OPTION_KEEP;
    if (e.head.setting != 0) options |= MVT_OPTION_FOREST;
    status = zyl::matchlib::mvt_organize(t, e.engine, &pairs, candidates.data(),
                                         static_cast<int>(candidates.size()), options, nullptr);
  }
  if (status == ML_OK) {
    *out = zyl::matchlib::mvt_serialize(t, static_cast<int>(e.settings.serialise_flag));
    if (!*out) status = ML_NO_MEMORY;
  }
  if (status == ML_OK && e.base && e.hooks && e.hooks->picture && e.picture)
    e.hooks->picture(e.context, e.picture);
  return status;
}

int best_match(PlacedEnrol& e, DataBlob* tmpl, std::uint8_t* overlap, std::uint16_t* score) {
  ViewVerdict verdicts[kBestMatchResults] = {};
  int rows = std::min<int>(e.count, kBestMatchResults);
  const int status = zyl::matchlib::verify_against_views(
      e.samples, static_cast<std::uint8_t>(e.count), zyl::matchlib::engine_get_chain(e.engine),
      e.context, tmpl, static_cast<int>(e.far_level), &rows, verdicts);
  std::uint16_t best = 0;
  int most = 0;
  for (int i = 0; status == ML_OK && i < rows; ++i) {
    best = std::max(best, verdicts[i].score);
    if (verdicts[i].decision == 1)
      most = std::max(most, zyl::matchlib::xform_overlap_percent(
                                verdicts[i].transform, static_cast<int>(e.height),
                                static_cast<int>(e.width), static_cast<int>(e.resolution)));
  }
  for (int i = 0; i < rows; ++i) zyl::matchlib::xform_release(verdicts[i].transform);
  if (status != ML_OK) return status;
  if (score) *score = best;
  if (overlap) *overlap = static_cast<std::uint8_t>(std::clamp(most, 0, 100));
  return ML_OK;
}

void release_samples(PlacedEnrol& e) {
  for (int k = 0; k < e.capacity; ++k)
    zyl::matchlib::blob_release(std::exchange(e.samples[k], nullptr));
  for (int k = 0; k < e.capacity * e.capacity; ++k)
    zyl::matchlib::pair_result_release(std::exchange(e.matrix[k], nullptr));
  e.count = 0;
}

void destroy(PlacedEnrol* e) {
  release_samples(*e);
  std::free(e->samples);
  std::free(e->matrix);
  for (const Offered& o : e->offered) zyl::matchlib::blob_release(o.blob);
  zyl::matchlib::pair_result_list_clear(&e->matches);
  zyl::matchlib::align_forest_clear(&e->forest);
  zyl::matchlib::blob_release(e->forest_root);
  zyl::matchlib::image_release(e->picture);
  zyl::matchlib::image_release(e->base);
  zyl::matchlib::finger_info_release(e->finger);
  zyl::matchlib::ctx_detach(e->context, kObserverKey);
  zyl::matchlib::ctx_release(e->context);
  zyl::matchlib::engine_release(e->engine);
  delete e;
}

int optional_hooks(EnrolSession* s, void* a, void*, void*, void*, void*) {
  if (!s || !a) return ML_BAD_ARGUMENT;
  *static_cast<const EnrolHooks**>(a) = self(s)->hooks;
  return ML_OK;
}

int add_slot(EnrolSession* s, GrayImage* image, DataBlob* tmpl, void* coverage) {
  return zyl::matchlib::placed_enrol_add(s, image, tmpl, coverage);
}

bool is_placed(EnrolSession* s) { return s && s->add_sample == add_slot; }

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API void enrol_corner_lists_free(EnrolCornerList* lists, int n) {
  if (!lists) return;
  for (int i = 0; i < n; ++i) std::free(lists[i].placements);
  std::free(lists);
}

EnrolSession* zyl::matchlib::enrol_create(MatchEngine* engine, MatchContext* context,
                                          FingerInfo* finger, const EnrolHooks* hooks,
                                          uint32_t format, const EnrolSettings* settings) {
  if (!settings || settings->capacity == 0) return nullptr;
  PlacedEnrol* e = ml_new<PlacedEnrol>();
  if (!e) return nullptr;
  // A comparison and a multi-view template take at most 255 views.
  e->capacity = std::min<std::uint16_t>(settings->capacity, 255);
  e->samples = static_cast<DataBlob**>(ml_calloc(e->capacity, sizeof(DataBlob*)));
  e->matrix = static_cast<PairResult**>(
      ml_calloc(static_cast<std::size_t>(e->capacity) * e->capacity, sizeof(PairResult*)));
  if (!e->samples || !e->matrix) {
    std::free(e->samples);
    std::free(e->matrix);
    delete e;
    return nullptr;
  }
  e->head.add_sample = add_slot;
  e->head.count = placed_enrol_count;
  e->head.finalise = ::placed_enrol_finalise;
  e->head.finalise_engine = placed_enrol_finalise_engine;
  e->head.destroy = ::placed_enrol_destroy;
  e->head.optional = optional_hooks;
  e->head.set_limits = placed_enrol_set_tolerance;
  e->head.context = placed_enrol_context;
  e->head.reset = placed_enrol_reset;
  e->engine = zyl::matchlib::engine_retain(engine);
  e->context = zyl::matchlib::ctx_retain(context);
  e->finger = zyl::matchlib::finger_info_retain(finger);
  e->hooks = hooks;
  e->format = format;
  e->settings = *settings;
  e->far_level = kFarLevel;
  e->base = zyl::matchlib::image_retain(settings->base_image);
  if (e->base) {
    const int made = zyl::GuardedCall(ML_NO_MEMORY, [&] {
      e->picture = padded_picture(e->base);
      return e->picture ? ML_OK : ML_NO_MEMORY;
    });
    if (made != ML_OK) {
      zyl::matchlib::placed_enrol_destroy(&e->head);
      return nullptr;
    }
    if (hooks && hooks->picture) hooks->picture(context, e->picture);
  }
  return &e->head;
}

EnrolSession* zyl::matchlib::enrol_create_default(MatchEngine* engine, FingerInfo* finger,
                                                  const EnrolHooks* hooks, GrayImage* image) {
  const EngineConfig* config = zyl::matchlib::engine_get_config(engine);
  if (!config) return nullptr;
  EnrolSettings s{};
  s.further[0] = 20;
  s.further[1] = 121;
  s.further[2] = 50;
  s.further[3] = 1;
  s.further_limit = 30000;
  // The configuration's sample count, as for the multi-sample enrolment.
  s.capacity = config->unnamed_u8_1;
  s.serialise_flag = static_cast<uint32_t>(config->serialize_flag);
  s.size_limit = static_cast<uint32_t>(config->size_limit);
  s.merge_flag = static_cast<uint32_t>(config->view_mode_keep);
  s.base_image = image;
  // Near copies are kept only where the engine keeps marked views; every
  // preset leaves that switch off, so a repeated impression is refused.
  s.accept_duplicates = config->view_selection != 0 ? 1u : 0u;
  s.shift_tolerance = 10;
  s.angle_tolerance = 16;
  s.quality_limit = config->quality_limit;
  s.quality_value = config->quality_value;
  return zyl::matchlib::enrol_create(
      engine, zyl::matchlib::engine_get_context(engine), finger, hooks,
      static_cast<uint32_t>(zyl::matchlib::engine_get_format(engine)), &s);
}

int zyl::matchlib::placed_enrol_add(EnrolSession* e, GrayImage* image, DataBlob* tmpl,
                                    void* coverage) {
  if (!is_placed(e)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return add(*self(e), image, tmpl, static_cast<int*>(coverage)); });
}

extern "C" ZYL_API int placed_enrol_count(EnrolSession* e) {
  return is_placed(e) ? self(e)->count : 0;
}

extern "C" ZYL_API int placed_enrol_set_tolerance(EnrolSession* e, uint16_t shift, uint8_t angle,
                                                  void*) {
  if (!is_placed(e)) return ML_BAD_ARGUMENT;
  self(e)->settings.shift_tolerance = shift;
  self(e)->settings.angle_tolerance = angle;
  return ML_OK;
}

extern "C" ZYL_API const EnrolHooks* placed_enrol_hooks(EnrolSession* e) {
  return is_placed(e) ? self(e)->hooks : nullptr;
}

extern "C" ZYL_API MatchContext* placed_enrol_context(EnrolSession* e) {
  return is_placed(e) ? self(e)->context : nullptr;
}

extern "C" ZYL_API int placed_enrol_reset(EnrolSession* e) {
  if (!is_placed(e)) return ML_BAD_ARGUMENT;
  PlacedEnrol& p = *self(e);
  release_samples(p);
  forest_drop(p);
  p.coverage = 0;
  return ML_OK;
}

int zyl::matchlib::placed_enrol_finalise(EnrolSession* e, uint8_t maximum_views, DataBlob** out,
                                         void*) {
  if (!is_placed(e) || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (self(e)->count == 0) return ML_WRONG_KIND;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const int status = finalise(*self(e), maximum_views, out);
    if (status != ML_OK) zyl::matchlib::blob_release(std::exchange(*out, nullptr));
    return status;
  });
}

extern "C" ZYL_API int placed_enrol_finalise_engine(MatchEngine* engine, EnrolSession* e,
                                                    DataBlob** out) {
  const EngineConfig* config = zyl::matchlib::engine_get_config(engine);
  return zyl::matchlib::placed_enrol_finalise(e, config ? config->most_views : 0, out, nullptr);
}

void zyl::matchlib::placed_enrol_destroy(EnrolSession* e) {
  if (is_placed(e)) destroy(self(e));
}

int zyl::matchlib::enrol_best_match(EnrolSession* e, DataBlob* tmpl, uint8_t* out_overlap,
                                    uint16_t* out_score) {
  if (out_overlap) *out_overlap = 0;
  if (out_score) *out_score = 0;
  if (!is_placed(e) || !tmpl) return ML_BAD_ARGUMENT;
  if (self(e)->count == 0) return ML_OK;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return best_match(*self(e), tmpl, out_overlap, out_score); });
}

extern "C" ZYL_API uint32_t enrol_image_resolution(EnrolSession* e) {
  return is_placed(e) ? self(e)->resolution : 0;
}

extern "C" {

ZYL_API EnrolSession* enrol_create(MatchEngine* engine, MatchContext* context, FingerInfo* finger,
                                   const EnrolHooks* hooks, uint32_t format,
                                   const EnrolSettings* settings) {
  return zyl::matchlib::enrol_create(engine, context, finger, hooks, format, settings);
}
ZYL_API EnrolSession* enrol_create_default(MatchEngine* engine, FingerInfo* finger,
                                           const EnrolHooks* hooks, GrayImage* image) {
  return zyl::matchlib::enrol_create_default(engine, finger, hooks, image);
}
ZYL_API int placed_enrol_add(EnrolSession* e, GrayImage* image, DataBlob* tmpl, void* coverage) {
  return zyl::matchlib::placed_enrol_add(e, image, tmpl, coverage);
}
ZYL_API int placed_enrol_finalise(EnrolSession* e, uint8_t maximum_views, DataBlob** out,
                                  void* arg3) {
  return zyl::matchlib::placed_enrol_finalise(e, maximum_views, out, arg3);
}
ZYL_API void placed_enrol_destroy(EnrolSession* e) { zyl::matchlib::placed_enrol_destroy(e); }
ZYL_API int enrol_best_match(EnrolSession* e, DataBlob* tmpl, uint8_t* out_overlap,
                             uint16_t* out_score) {
  return zyl::matchlib::enrol_best_match(e, tmpl, out_overlap, out_score);
}

}  // extern "C"
