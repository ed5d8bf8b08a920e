// Selection of the views a multi-view template keeps: candidates from the
// stored views and the new ones, limits by count, size and section format,
// victims by rule, and the commit into the store.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <vector>

#include "matchlib/core/allocation.h"
#include "common/guarded_call.h"
#include "matchlib/image/blob.h"
#include "matchlib/template/multi_view.h"
#include "zylscan/matchlib_align.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/template/align_tree.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/template/pair_result.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/template/card_template.h"
#include "matchlib/template/container.h"
#include "matchlib/template/kwzd_container.h"
#include "matchlib/template/minutiae_record.h"
#include "matchlib/template/multi_view_select.h"
#include "matchlib/template/sample_info.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kEvictionRuleKey = 0xac395352;
constexpr long long kNoSizeLimit = 0x40000000;
constexpr long long kViewOverhead = 27;  // record head and sections 1, 2 and 5

struct CandidateFree {
  void operator()(MvtCandidate* c) const { zyl::matchlib::mvt_candidate_free(c); }
};
using CandidatePtr = std::unique_ptr<MvtCandidate, CandidateFree>;

enum class State { Pending, Counted, Dropped };

// A candidate with its working state.
struct Slot {
  MvtCandidate* c = nullptr;
  int rank = 0;
  bool protect = false;
  State state = State::Pending;
  int round = -1;             // the limit entry in whose round it became counted
  bool replaced = false;      // its blob lost a section
};

// The engine's per-quality limit: qualities beyond its table have none.
int quality_limit(const MatchEngine* engine, std::uint8_t quality) {
  if (quality >= ENGINE_KIND_LIMITS) return 0;
  const int v = zyl::matchlib::engine_get_kind_limit(engine, quality);
  return v < 0 ? 0 : v;
}

// A candidate is protected while the engine asks for at least as many views
// of its quality as there are.
void mark_protected(const MatchEngine* engine, HookedVector<Slot>& slots) {
  int per_quality[256] = {};
  for (const Slot& s : slots) ++per_quality[s.c->quality];
  for (Slot& s : slots) s.protect = quality_limit(engine, s.c->quality) >= per_quality[s.c->quality];
}

// Random choice among the eligible slots of the lowest rank: p of 100 or 50.
int random_choice(std::uint32_t& state, const HookedVector<Slot>& slots,
                  const HookedVector<int>& eligible, int percent) {
  if (eligible.empty()) return -1;
  int lowest = INT32_MAX;
  for (const Slot& s : slots) lowest = std::min(lowest, s.rank);
  HookedVector<int> of_rank;
  for (int i : eligible)
    if (slots[static_cast<std::size_t>(i)].rank == lowest) of_rank.push_back(i);
  if (of_rank.empty()) return -1;
  const std::uint32_t span = static_cast<std::uint32_t>((percent * static_cast<int>(of_rank.size()) + 50) / 100);
  if (span == 0) return -1;
  zyl::matchlib::rng_next(&state);
  return of_rank[state % span];
}

long long estimate(const HookedVector<Slot>& slots) {
  long long size = 39;
  for (const Slot& s : slots)
    if (s.state == State::Counted) size += zyl::matchlib::blob_size(s.c->blob) + kViewOverhead;
  return size;
}

int counted(const HookedVector<Slot>& slots) {
  return static_cast<int>(std::count_if(slots.begin(), slots.end(),
                                        [](const Slot& s) { return s.state == State::Counted; }));
}

// Victim by coverage: from the class with the fewest counted candidates,
// the one whose removal leaves the most 20 x 20 cells covered by the
// others' points (later candidates win ties).
int coverage_victim(const HookedVector<Slot>& slots, const HookedVector<int>& eligible) {
  if (eligible.empty()) return -1;
  HookedVector<int> per_class(256, 0);
  for (const Slot& s : slots)
    if (s.state == State::Counted) ++per_class[s.c->view_class];
  int fewest = INT32_MAX;
  for (int i : eligible) fewest = std::min(fewest, per_class[slots[static_cast<std::size_t>(i)].c->view_class]);
  int victim = -1;
  std::size_t best = 0;
  for (int i : eligible) {
    const MvtCandidate* c = slots[static_cast<std::size_t>(i)].c;
    if (per_class[c->view_class] != fewest) continue;
    std::set<std::pair<int, int>, std::less<>, HookedAllocator<std::pair<int, int>>> cells;
    for (std::size_t j = 0; j < slots.size(); ++j) {
      const Slot& o = slots[j];
      if (static_cast<int>(j) == i || o.state != State::Counted) continue;
      for (int p = 0; p + 1 < o.c->point_count * 2; p += 2)
        cells.insert({o.c->points[p] / 20, o.c->points[p + 1] / 20});
    }
    if (victim < 0 || cells.size() >= best) {
      victim = i;
      best = cells.size();
    }
  }
  return victim;
}

// Chooses a victim among the slots counted in this round; -1 when none.
int choose_victim(MultiViewTemplate* t, const MatchEngine* engine, HookedVector<Slot>& slots,
                  int round, int& status) {
  HookedVector<int> eligible;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const Slot& s = slots[i];
    if (s.state == State::Counted && s.round == round && !s.c->keep && !s.protect)
      eligible.push_back(static_cast<int>(i));
  }
  if (t->replacement_key != -1) {
    for (int i : eligible)
      if (slots[static_cast<std::size_t>(i)].c->key == t->replacement_key) return i;
    status = ML_CORRUPT;
    return -1;
  }
  int victim = -1;
  switch (zyl::matchlib::param_get(engine ? zyl::matchlib::engine_get_context(engine) : nullptr,
                                   kEvictionRuleKey, 2)) {
    case 0:
    case 1: victim = coverage_victim(slots, eligible); break;
    case 2: victim = random_choice(t->random_state, slots, eligible, 100); break;
    case 3: victim = random_choice(t->random_state, slots, eligible, 50); break;
    default: status = ML_CORRUPT; return -1;
  }
  if (victim < 0) status = ML_CORRUPT;
  return victim;
}

int select_views(MultiViewTemplate* t, const MatchEngine* engine, HookedVector<Slot>& slots) {
  if (t->replacement_key >= 0 && t->size_limit) return ML_WRONG_KIND;
  for (Slot& s : slots)
    if (s.c->keep) s.state = State::Counted;
  if (t->selection_mode == 2 && !slots.empty()) t->random_state += leading_crc(slots.back().c->blob);
  const long long size_limit = t->size_limit ? t->size_limit : kNoSizeLimit;
  for (int e = 0; e < t->limit_count; ++e) {
    const MvtSectionLimit entry = t->limits[e];
    for (Slot& s : slots) {
      if (s.state == State::Pending &&
          (entry.format == 0 || zyl::matchlib::tmpl_has_section(s.c->blob, entry.format))) {
        s.state = State::Counted;
        s.round = e;
      }
    }
    const int most = std::min<int>(entry.limit, t->max_views);
    while (estimate(slots) > size_limit || counted(slots) > most) {
      int status = ML_OK;
      const int v = choose_victim(t, engine, slots, e, status);
      if (v < 0) return status == ML_OK ? ML_CORRUPT : status;
      Slot& victim = slots[static_cast<std::size_t>(v)];
      victim.state = State::Dropped;
      if (entry.format != 0 && zyl::matchlib::blob_type(victim.c->blob) == CONTAINER_FORMAT) {
        DataBlob* rest = zyl::matchlib::container_remove_entry(victim.c->blob, entry.format);
        if (!rest) return ML_NO_MEMORY;
        if (zyl::matchlib::container_is_empty(rest)) {
          zyl::matchlib::blob_release(rest);
        } else {
          zyl::matchlib::blob_release(victim.c->blob);
          victim.c->blob = rest;
          victim.replaced = true;
          victim.state = State::Pending;
        }
      }
    }
  }
  // Every candidate must end counted with a class, or dropped. One that no
  // limit entry ever counted (a table without a format-0 entry, or a header
  // whose entry count is 0) has no outcome: committing it would remove a
  // stored view that nothing chose to drop, so the selection is refused and
  // the store stays as it was.
  for (const Slot& s : slots) {
    if (s.state == State::Counted && s.c->view_class == MVT_NO_CLASS) return ML_CORRUPT;
    if (s.state == State::Pending) return ML_CORRUPT;
  }
  return ML_OK;
}

int write_sections(KwzdContainer* store, int32_t key, const MvtCandidate* c, std::uint8_t flags) {
  return zyl::matchlib::mvt_write_view_sections(store, key, c->alignment, c->flag_byte,
                                                c->view_class, flags);
}

// A deep copy of a store, through its stored form; null when memory runs out.
using StorePtr = std::unique_ptr<KwzdContainer, decltype(&zyl::matchlib::kwzd_free)>;
StorePtr copy_store(KwzdContainer* store) {
  DataBlob* stored = nullptr;
  KwzdContainer* copy = nullptr;
  if (zyl::matchlib::kwzd_serialize(store, &stored) == ML_OK)
    zyl::matchlib::kwzd_parse(stored, &copy);
  zyl::matchlib::blob_release(stored);
  return StorePtr(copy, &zyl::matchlib::kwzd_free);
}

// Writes the outcome into a copy of the store and puts the copy in place
// only when every step succeeded, so a failure leaves the template as it was.
int commit_into(KwzdContainer* store, const MatchEngine* engine, HookedVector<Slot>& slots,
                int options, int* out_taken);

int commit(MultiViewTemplate* t, const MatchEngine* engine, HookedVector<Slot>& slots, int options,
           int* out_taken) {
  StorePtr copy = copy_store(t->store);
  if (!copy) return ML_NO_MEMORY;
  int taken = 0;
  if (const int st = commit_into(copy.get(), engine, slots, options, &taken); st != ML_OK) return st;
  zyl::matchlib::kwzd_free(t->store);
  t->store = copy.release();
  if (out_taken) *out_taken = taken;
  return ML_OK;
}

int commit_into(KwzdContainer* store, const MatchEngine* engine, HookedVector<Slot>& slots,
                int options, int* out_taken) {
  const EngineConfig* config = zyl::matchlib::engine_get_config(engine);
  const bool mark_classed = config && config->view_selection != 0;
  int taken = 0;
  bool stored_changed = false;
  for (Slot& s : slots) {
    MvtCandidate* c = s.c;
    bool keep = s.state == State::Counted;
    bool mark = false;
    if (keep && mark_classed && c->view_class != 0) {
      if (options & MVT_OPTION_DROP_MARKED)
        keep = false;
      else
        mark = true;
    }
    const std::uint8_t flags = static_cast<std::uint8_t>(
        (mark ? MVT_VIEW_MARKED : 0) | ((options & MVT_OPTION_KEEP) || c->keep ? MVT_VIEW_KEEP : 0));
    if (c->origin == MVT_ORIGIN_NEW) {
      if (!keep) continue;
      int32_t key = 0;
      if (int st = zyl::matchlib::kwzd_append(store, c->blob, &key); st != ML_OK) return st;
      if (int st = write_sections(store, key, c, flags); st != ML_OK) return st;
      taken = mark ? (taken == 1 ? 1 : 2) : 1;
      continue;
    }
    stored_changed = true;
    if (!keep) {
      zyl::matchlib::kwzd_remove(store, c->key);
      continue;
    }
    if (s.replaced) {
      zyl::matchlib::kwzd_remove(store, c->key);
      if (int st = zyl::matchlib::kwzd_add_record(store, c->key, c->blob); st != ML_OK) return st;
    }
    if (int st = write_sections(store, c->key, c, flags); st != ML_OK) return st;
  }
  if (out_taken) *out_taken = taken ? taken : stored_changed ? 3 : 0;
  return ML_OK;
}

// Every blob of the inputs, format-80 blobs expanded into their views.
int expand_inputs(DataBlob* const* blobs, int n, HookedVector<Ref<DataBlob>>& out) {
  for (int i = 0; i < n; ++i) {
    DataBlob* b = blobs[i];
    if (!b) return ML_BAD_ARGUMENT;
    if (zyl::matchlib::blob_type(b) != KWZD_FORMAT) {
      out.push_back(Ref<DataBlob>::share(b));
      continue;
    }
    KwzdContainer* parsed = nullptr;
    if (const int st = zyl::matchlib::kwzd_parse(b, &parsed); st != ML_OK) return st;
    std::unique_ptr<KwzdContainer, decltype(&zyl::matchlib::kwzd_free)> store(
        parsed, &zyl::matchlib::kwzd_free);
    const int count = zyl::matchlib::kwzd_record_count(store.get());
    for (int j = 0; j < count; ++j) {
      Ref<DataBlob> v = Ref<DataBlob>::adopt(zyl::matchlib::kwzd_get_at(store.get(), j, nullptr));
      if (!v) return ML_NO_MEMORY;
      out.push_back(std::move(v));
    }
  }
  return ML_OK;
}

int append_views(MultiViewTemplate* t, const HookedVector<Ref<DataBlob>>& blobs, int* out_taken) {
  bool any = false;
  for (const Ref<DataBlob>& b : blobs) {
    if (zyl::matchlib::kwzd_record_count(t->store) >= t->max_views) break;
    int32_t key = 0;
    if (const int st = zyl::matchlib::mvt_add_view(t->store, b.get(), nullptr, 0, 0, &key);
        st != ML_OK)
      return st;
    if (t->size_limit && zyl::matchlib::kwzd_serialized_size(t->store) > t->size_limit) {
      zyl::matchlib::kwzd_remove_reuse(t->store, key);
      break;
    }
    any = true;
  }
  if (out_taken) *out_taken = any ? 1 : 0;
  if (zyl::matchlib::kwzd_record_count(t->store) == 0 ||
      (t->size_limit && zyl::matchlib::kwzd_serialized_size(t->store) > t->size_limit))
    return ML_TOO_MANY;
  // Views were offered and none went in (the template is full, or the first
  // one alone passes the size limit): the template cannot take them, which
  // is no success for a caller that asked to add.
  if (!blobs.empty() && !any) return ML_TOO_MANY;
  return ML_OK;
}

// Classes and alignments of candidates that have none.
int assign_classes(MultiViewTemplate* t, HookedVector<Slot>& slots) {
  int smallest = MVT_NO_CLASS;
  int largest = -1;
  for (const Slot& s : slots)
    if (s.c->view_class != MVT_NO_CLASS) {
      smallest = std::min<int>(smallest, s.c->view_class);
      largest = std::max<int>(largest, s.c->view_class);
    }
  std::uint8_t reference_class = MVT_NO_CLASS;
  if (t->reference_key && t->reference)
    reference_class = class_byte(t->store, t->reference_key);
  for (Slot& s : slots) {
    MvtCandidate* c = s.c;
    if (c->view_class != MVT_NO_CLASS) continue;
    if (c->origin == MVT_ORIGIN_MARKED) {
      largest = std::min(largest + 1, 254);
      c->view_class = static_cast<std::uint8_t>(largest);
      s.rank = 2;
      continue;
    }
    if (t->reference_key && t->reference && reference_class != MVT_NO_CLASS) {
      c->view_class = reference_class;
      zyl::matchlib::xform_release(c->alignment);
      c->alignment = zyl::matchlib::xform_copy(t->reference);
    } else {
      c->view_class = static_cast<std::uint8_t>(smallest == MVT_NO_CLASS ? 0 : smallest);
      if (!c->alignment) c->alignment = zyl::matchlib::xform_create(0, 0, 0);
    }
    if (!c->alignment) return ML_NO_MEMORY;
  }
  return ML_OK;
}

int load_stored(const MultiViewTemplate* t, HookedVector<CandidatePtr>& owned) {
  const int n = zyl::matchlib::kwzd_record_count(t->store);
  for (int i = 0; i < n; ++i) {
    // A stored view without its information section is a malformed
    // template, not a lack of memory.
    int32_t key = 0;
    Ref<DataBlob> view = Ref<DataBlob>::adopt(zyl::matchlib::kwzd_get_at(t->store, i, &key));
    if (view && !view_info(t->store, key).info) return ML_CORRUPT;
    CandidatePtr c(zyl::matchlib::mvt_load_candidate(t->store, i));
    if (!c) return ML_NO_MEMORY;
    owned.push_back(std::move(c));
  }
  return ML_OK;
}

int add_views(MultiViewTemplate* t, MatchEngine* engine, DataBlob* const* blobs, int n, int options,
              int* out_taken) {
  HookedVector<Ref<DataBlob>> inputs;
  if (const int st = expand_inputs(blobs, n, inputs); st != ML_OK) return st;
  if (inputs.size() + static_cast<std::size_t>(zyl::matchlib::kwzd_record_count(t->store)) > 255)
    return ML_WRONG_KIND;
  // Append mode applies while the template's all-unmarked flag is set (by
  // mvt_check_view_marks, or on parsing a store whose views carry no class);
  // otherwise the views are selected, which places a new view in the class
  // and alignment of the reference view.
  if (t->append_mode && t->all_unmarked) return append_views(t, inputs, out_taken);
  HookedVector<CandidatePtr> owned;
  if (const int st = load_stored(t, owned); st != ML_OK) return st;
  for (const Ref<DataBlob>& b : inputs) {
    CandidatePtr c(zyl::matchlib::mvt_candidate_create(b.get()));
    if (!c) return ML_NO_MEMORY;
    owned.push_back(std::move(c));
  }
  HookedVector<Slot> slots;
  for (const CandidatePtr& c : owned) slots.push_back(Slot{c.get()});
  mark_protected(engine, slots);
  if (const int st = assign_classes(t, slots); st != ML_OK) return st;
  if (const int st = select_views(t, engine, slots); st != ML_OK) return st;
  return commit(t, engine, slots, options, out_taken);
}

// Each tree of the forest becomes a class; its members take their
// transforms to the tree's root.
struct WalkState {
  HookedVector<Slot>* slots;
  std::uint8_t view_class;
};

int take_node(AlignTreeNode**, AlignTreeNode* node, RigidTransform* accumulated, void* user) {
  auto* w = static_cast<WalkState*>(user);
  for (Slot& s : *w->slots) {
    if (s.c->blob != zyl::matchlib::align_node_get_blob(node->node)) continue;
    s.c->view_class = w->view_class;
    zyl::matchlib::xform_release(s.c->alignment);
    s.c->alignment = zyl::matchlib::xform_copy(accumulated);
  }
  return 0;
}

// Minutia positions (500 dpi pixels) of a template, read with the standard
// record and card readers: 0 with the points; formats that carry no
// minutiae give none; 17 for a template that should carry them and cannot
// be read, or a format of no known kind.
int minutiae_points(const DataBlob* blob, HookedVector<std::pair<int, int>>& out) {
  std::int32_t format = zyl::matchlib::blob_type(blob);
  const std::uint8_t* data = zyl::matchlib::blob_data(blob);
  std::uint32_t length = zyl::matchlib::blob_size(blob);
  if (format == CONTAINER_FORMAT) {
    // A container carries minutiae only in a card-template entry.
    if (zyl::matchlib::tmpl_get_section(blob, 67, &data, &length) != ML_OK) return ML_OK;
    format = 67;
  }
  switch (format) {
    case 66:
    case 68:
    case 79:
      return ML_OK;
    case 1:
    case 3: {
      std::unique_ptr<MinutiaeRecord, decltype(&zyl::matchlib::minrec_free)> rec(
          zyl::matchlib::minrec_create(), &zyl::matchlib::minrec_free);
      if (!rec) return ML_NO_MEMORY;
      if (zyl::matchlib::fmr_parse_iso(data, length, rec.get()) != ML_OK &&
          zyl::matchlib::fmr_parse_ansi(data, length, rec.get()) != ML_OK)
        return ML_CORRUPT;
      for (int i = 0; i < rec->count; ++i) out.push_back({rec->minutiae[i].x, rec->minutiae[i].y});
      return ML_OK;
    }
    case 2:
    case 67:
    case 78: {
      CompactMinutia m[CARD_MAX_MINUTIAE];
      std::uint32_t count = 0;
      int has_quality = 0;
      if (zyl::matchlib::card_read_minutiae(data, length, CARD_MAX_MINUTIAE, 0, nullptr, m, &count,
                                            &has_quality) != ML_OK)
        return ML_CORRUPT;
      // Card coordinates are in 0.1 mm.
      for (std::uint32_t i = 0; i < count; ++i)
        out.push_back({(m[i].x * 197 + 50) / 100, (m[i].y * 197 + 50) / 100});
      return ML_OK;
    }
    default:
      return ML_CORRUPT;
  }
}

// Each candidate's minutiae through its alignment: the points the coverage
// rule counts.
int coverage_points(HookedVector<Slot>& slots) {
  for (Slot& s : slots) {
    HookedVector<std::pair<int, int>> pts;
    if (const int st = minutiae_points(s.c->blob, pts); st != ML_OK) return st;
    std::free(s.c->points);
    s.c->points = nullptr;
    s.c->point_count = 0;
    if (pts.empty()) continue;
    s.c->points = static_cast<std::int32_t*>(ml_malloc(pts.size() * 2 * sizeof(std::int32_t)));
    if (!s.c->points) return ML_NO_MEMORY;
    for (std::size_t i = 0; i < pts.size(); ++i)
      zyl::matchlib::xform_apply(s.c->alignment, static_cast<std::int16_t>(pts[i].first),
                                 static_cast<std::int16_t>(pts[i].second), &s.c->points[2 * i],
                                 &s.c->points[2 * i + 1]);
    s.c->point_count = static_cast<std::int32_t>(pts.size());
  }
  return ML_OK;
}

int organize(MultiViewTemplate* t, MatchEngine* engine, PairList* pairs,
             MvtCandidate* const* candidates, int n, int options, int* out_taken) {
  HookedVector<Slot> slots;
  for (int i = 0; i < n; ++i) {
    if (!candidates[i]) return ML_BAD_ARGUMENT;
    slots.push_back(Slot{candidates[i]});
    candidates[i]->view_class = MVT_NO_CLASS;
  }
  mark_protected(engine, slots);
  // The matching pairs, best first, make the trees.
  PairList matching{};
  int status = ML_OK;
  for (PairListItem* it = pairs->first; status == ML_OK && it; it = it->next)
    if (it->result && zyl::matchlib::pair_result_is_match(it->result))
      status = zyl::matchlib::pair_result_list_insert(it->result, &matching);
  AlignForest forest{};
  if (status == ML_OK)
    status = zyl::matchlib::align_forest_build(&matching, (options & MVT_OPTION_FOREST) ? 1 : 0,
                                               &forest);
  int next_class = 0;
  for (AlignForestItem* it = forest.first; status == ML_OK && it; it = it->next) {
    WalkState w{&slots, static_cast<std::uint8_t>(std::min(next_class++, 254))};
    status = zyl::matchlib::align_tree_walk(zyl::matchlib::align_tree_root_slot(it->tree),
                                            take_node, &w);
  }
  zyl::matchlib::align_forest_clear(&forest);
  zyl::matchlib::pair_result_list_clear(&matching);
  if (status != ML_OK) return status;
  for (Slot& s : slots) {
    if (s.c->view_class != MVT_NO_CLASS) continue;
    s.c->view_class = static_cast<std::uint8_t>(std::min(next_class++, 254));
    zyl::matchlib::xform_release(s.c->alignment);
    s.c->alignment = zyl::matchlib::xform_create(0, 0, 0);
    if (!s.c->alignment) return ML_NO_MEMORY;
  }
  if (const int st = coverage_points(slots); st != ML_OK) return st;
  if (const int st = select_views(t, engine, slots); st != ML_OK) return st;
  return commit(t, engine, slots, options, out_taken);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

MvtCandidate* zyl::matchlib::mvt_candidate_create(DataBlob* blob) {
  if (!blob) return nullptr;
  auto* c = static_cast<MvtCandidate*>(ml_calloc(1, sizeof(MvtCandidate)));
  if (!c) return nullptr;
  c->blob = zyl::matchlib::blob_retain(blob);
  c->quality = zyl::matchlib::blob_get_quality(blob);
  c->key = MVT_NEW_KEY;
  c->origin = MVT_ORIGIN_NEW;
  c->view_class = MVT_NO_CLASS;
  return c;
}

void zyl::matchlib::mvt_candidate_free(MvtCandidate* c) {
  if (!c) return;
  zyl::matchlib::blob_release(c->blob);
  zyl::matchlib::xform_release(c->alignment);
  std::free(c->points);
  std::free(c);
}

MvtCandidate* zyl::matchlib::mvt_load_candidate(const KwzdContainer* store, int i) {
  int32_t key = 0;
  DataBlob* blob = zyl::matchlib::kwzd_get_at(store, i, &key);
  if (!blob) return nullptr;
  const ViewInfo info = view_info(store, key);
  if (!info.info) {
    zyl::matchlib::blob_release(blob);
    return nullptr;
  }
  MvtCandidate* c = zyl::matchlib::mvt_candidate_create(blob);
  zyl::matchlib::blob_release(blob);
  if (!c) return nullptr;
  c->key = key;
  c->keep = (info.flags & MVT_VIEW_KEEP) ? 1 : 0;
  if (!marked(info)) {
    c->origin = MVT_ORIGIN_STORED;
    c->alignment = view_transform(store, key);
    if (!c->alignment) {
      zyl::matchlib::mvt_candidate_free(c);
      return nullptr;
    }
    zyl::matchlib::xform_set_flag(c->alignment, 0);
    c->view_class = class_byte(store, key);
    std::uint16_t flag_length = 0;
    const std::uint8_t* f =
        zyl::matchlib::kwzd_get_section(store, key, MVT_ALIGN_FLAG_SECTION, &flag_length);
    c->flag_byte = f && flag_length ? f[0] : 0;
  } else {
    c->origin = MVT_ORIGIN_MARKED;
  }
  return c;
}

int zyl::matchlib::mvt_pick_view_to_replace(MultiViewTemplate* t, MatchEngine* engine,
                                            DataBlob* blob, int32_t* out_removed_key,
                                            int32_t* out_new_key) {
  if (!t || !blob || !out_removed_key || !out_new_key) return ML_BAD_ARGUMENT;
  if (t->size_limit) return ML_WRONG_KIND;
  *out_removed_key = -1;
  *out_new_key = -1;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    int32_t removed = -1;
    if (zyl::matchlib::kwzd_record_count(t->store) >= t->max_views) {
      t->random_state += leading_crc(blob);
      HookedVector<CandidatePtr> owned;
      if (const int st = load_stored(t, owned); st != ML_OK) return st;
      HookedVector<Slot> slots;
      for (const CandidatePtr& c : owned) slots.push_back(Slot{c.get(), 0, false, State::Counted});
      mark_protected(engine, slots);
      HookedVector<int> eligible;
      for (std::size_t i = 0; i < slots.size(); ++i)
        if (!slots[i].c->keep && !slots[i].protect) eligible.push_back(static_cast<int>(i));
      const int v = random_choice(t->random_state, slots, eligible, 100);
      if (v < 0) return ML_NOT_FOUND;
      removed = slots[static_cast<std::size_t>(v)].c->key;
    }
    StorePtr copy = copy_store(t->store);
    if (!copy) return ML_NO_MEMORY;
    if (removed != -1) zyl::matchlib::kwzd_remove(copy.get(), removed);
    int32_t key = 0;
    if (const int st = zyl::matchlib::mvt_add_view(copy.get(), blob, nullptr, 0, 0, &key);
        st != ML_OK)
      return st;
    zyl::matchlib::kwzd_free(t->store);
    t->store = copy.release();
    *out_removed_key = removed;
    *out_new_key = key;
    return ML_OK;
  });
}

int zyl::matchlib::mvt_add_views(MultiViewTemplate* t, MatchEngine* engine, DataBlob* const* blobs,
                                 int n, int options, int* out_taken) {
  if (out_taken) *out_taken = 0;
  if (!t || (!blobs && n > 0) || n < 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return add_views(t, engine, blobs, n, options, out_taken); });
}

int zyl::matchlib::mvt_organize(MultiViewTemplate* t, MatchEngine* engine, PairList* pairs,
                                MvtCandidate* const* candidates, int n, int options,
                                int* out_taken) {
  if (out_taken) *out_taken = 0;
  if (!t || !pairs || (!candidates && n > 0) || n < 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return organize(t, engine, pairs, candidates, n, options, out_taken); });
}

extern "C" {

ZYL_API MvtCandidate* mvt_candidate_create(DataBlob* blob) {
  return zyl::matchlib::mvt_candidate_create(blob);
}
ZYL_API void mvt_candidate_free(MvtCandidate* c) { zyl::matchlib::mvt_candidate_free(c); }
ZYL_API MvtCandidate* mvt_load_candidate(const KwzdContainer* store, int i) {
  return zyl::matchlib::mvt_load_candidate(store, i);
}
ZYL_API int mvt_pick_view_to_replace(MultiViewTemplate* t, MatchEngine* engine, DataBlob* blob,
                                     int32_t* out_removed_key, int32_t* out_new_key) {
  return zyl::matchlib::mvt_pick_view_to_replace(t, engine, blob, out_removed_key, out_new_key);
}
ZYL_API int mvt_add_views(MultiViewTemplate* t, MatchEngine* engine, DataBlob* const* blobs, int n,
                          int options, int* out_taken) {
  return zyl::matchlib::mvt_add_views(t, engine, blobs, n, options, out_taken);
}
ZYL_API int mvt_organize(MultiViewTemplate* t, MatchEngine* engine, PairList* pairs,
                         MvtCandidate* const* candidates, int n, int options, int* out_taken) {
  return zyl::matchlib::mvt_organize(t, engine, pairs, candidates, n, options, out_taken);
}

}  // extern "C"
