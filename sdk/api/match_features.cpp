// The graph matcher: pairs look-alike graph lines of two templates, lets the
// pairs vote for a rotation and a translation of the sample, and scores the
// pairs whose endpoints then coincide.
#include "api/match_features.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "api/match_data.h"
#include "api/xw_context.h"
#include "common/guarded_call.h"
#include "zylscan/geometry.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"
#include "extract/geometry.h"
#include "api/histograms.h"

namespace zyl::api {
namespace {

constexpr std::int32_t kHalfTranslation = ZYL_TRANSLATION_BINS / 2;
constexpr std::int32_t kMaxGroupMembers = 255;
// Candidate scores are stored in a byte in which 255 marks a used entry.
constexpr std::int64_t kMaxStoredScore = 254;
// The index list holds 16-bit positions in the candidate list.
constexpr std::int32_t kMaxCandidates = 65536;
constexpr std::int32_t kBlockSize = 16;
constexpr std::uint8_t kNoBlock = 255;

std::int32_t fold_angle(std::int32_t a, std::int32_t b) {
  const std::int32_t d = std::abs(a - b);
  return d > 119 ? 240 - d : d;
}

std::int32_t fold_orientation(std::int32_t a, std::int32_t b) {
  const std::int32_t d = std::abs(a - b);
  return d > 59 ? 120 - d : d;
}

// Keeps a grid size within the record's 128 x 128 table.
std::int32_t grid_size(std::uint32_t n) {
  return static_cast<std::int32_t>(std::min<std::uint32_t>(n, ZYL_MAX_BLOCKS));
}

std::uint8_t& block(FeatureRecord& f, std::int32_t row, std::int32_t column) {
  return f.blockDirections[row * ZYL_MAX_BLOCKS + column];
}
std::uint8_t block(const FeatureRecord& f, std::int32_t row, std::int32_t column) {
  return f.blockDirections[row * ZYL_MAX_BLOCKS + column];
}

// Copies the n x n corner of a grid and fills that corner with "no block".
std::vector<std::uint8_t> take_square(FeatureRecord& f, std::int32_t n) {
  std::vector<std::uint8_t> copy(static_cast<std::size_t>(n) * n);
  for (std::int32_t i = 0; i < n; ++i)
    for (std::int32_t j = 0; j < n; ++j) {
      copy[i * n + j] = block(f, i, j);
      block(f, i, j) = kNoBlock;
    }
  return copy;
}

// floor(sqrt(s)) with its lowest bit set, for the small sums of squares the
// pair score meets: the same value ComputeDistance3D gives for any three
// components whose squares sum to s (it answers the integer square root with
// its lowest bit set), without its square root and table search.
constexpr std::int32_t kSmallRootSums = 4096;
constexpr auto kSmallRoots = [] {
  std::array<std::uint8_t, kSmallRootSums> t{};
  std::int32_t r = 0;
  for (std::int32_t s = 0; s < kSmallRootSums; ++s) {
    while ((r + 1) * (r + 1) <= s) ++r;
    t[s] = static_cast<std::uint8_t>(r | 1);
  }
  return t;
}();

// Shift in whole blocks: truncating division, rounded away from zero when the
// remainder is at least half a block.
std::int32_t shift_in_blocks(std::int32_t d) {
  std::int32_t b = d / kBlockSize;
  if (std::abs(d % kBlockSize) >= kBlockSize / 2) b += d > 0 ? 1 : -1;
  return b;
}

}  // namespace

std::int32_t pair_distance(std::int32_t a, std::int32_t b, std::int32_t c) {
  // Components are non-negative differences; their squares are summed in 64
  // bits, as a tolerance set near the top of int32 allows any difference.
  const std::int64_t s = std::int64_t{a} * a + std::int64_t{b} * b + std::int64_t{c} * c;
  if (a >= 0 && b >= 0 && c >= 0 && s < kSmallRootSums) return kSmallRoots[static_cast<std::size_t>(s)];
  return zyl::extract::ComputeDistance3D(a, b, c);
}

std::int64_t scale_by_lines(const XWContext& c, std::int64_t raw, std::int32_t test_lines) {
  if (c.normalisationLimit < test_lines) return c.normalisationFactor * raw / test_lines;
  return 2 * raw;
}

std::int64_t weigh_by_border_density(std::int64_t v, std::int32_t test_density, std::int32_t sample_density) {
  std::int32_t g = 255 - std::abs(test_density - sample_density);
  if (g > 240) g = 255;
  return v * g / 255;
}

void add_detail_pair(MatchDetails& d, std::int32_t test_index, std::int32_t sample_index) {
  for (std::int32_t i = 0; i < d.pairCount; ++i)
    if (d.testIndexes[i] == test_index && d.sampleIndexes[i] == sample_index) return;
  if (d.pairCount >= XW_DETAILS_MAX_PAIRS) return;
  d.testIndexes[d.pairCount] = static_cast<std::uint16_t>(test_index);
  d.sampleIndexes[d.pairCount] = static_cast<std::uint16_t>(sample_index);
  ++d.pairCount;
}

// Candidate positions per line, ascending: a list through the positions
// for each line, built in reused arrays (no pass over every line number but
// the one that marks all lists empty).
class LineIndex {
 public:
  static constexpr std::int32_t kEnd = -1;

  // lines: one past the largest line number of the candidates.
  LineIndex(const std::vector<LocatedCandidate>& cands, std::int32_t LocatedCandidate::*line, std::int32_t lines,
            std::vector<std::int32_t>& first, std::vector<std::int32_t>& next)
      : first_(first), next_(next) {
    first_.assign(static_cast<std::size_t>(lines), kEnd);
    next_.resize(cands.size());
    // Linked from the last position back, so every list runs ascending.
    for (std::size_t p = cands.size(); p-- > 0;) {
      const auto l = static_cast<std::size_t>(cands[p].*line);
      next_[p] = first_[l];
      first_[l] = static_cast<std::int32_t>(p);
    }
  }
  std::int32_t lines() const { return static_cast<std::int32_t>(first_.size()); }
  std::int32_t first(std::int32_t l) const { return first_[static_cast<std::size_t>(l)]; }
  std::int32_t next(std::int32_t p) const { return next_[static_cast<std::size_t>(p)]; }

 private:
  std::vector<std::int32_t>& first_;
  std::vector<std::int32_t>& next_;
};

// Work arrays of the group scoring, kept between calls (per thread) so that
// a match allocates nothing once they have grown.
struct GroupWork {
  std::vector<std::int32_t> test_first, test_next, sample_first, sample_next;
  std::vector<std::int32_t> test_stamp, sample_stamp, members, test_lines, sample_lines, this_scan, next_scan, sorted;
  std::vector<std::uint8_t> taken, used;
  std::vector<LocatedCandidate> located;
};

GroupWork& group_work() {
  static thread_local GroupWork work;
  return work;
}

// Groups grow from each candidate not yet taken by adding every candidate
// that shares a test line or a sample line with a member, in scans over the
// list in order, scan after scan while a scan adds one, up to 255 members
// (the 255th ends the scan, counts below, but stays free for later groups).
// A group of up to 3 members adds its best score; a larger one adds, per
// distinct line of the side with fewer distinct lines (test side on a tie),
// the best score of the members on that line.
//
// The scans are replayed without visiting every position: when a member
// joins at position q, the free candidates on its lines are due in the
// running scan if they lie after q and in the next scan otherwise, so
// taking them from two ordered queues admits them in the very order the
// scans would.
std::int64_t score_by_groups(const std::vector<LocatedCandidate>& cands) {
  GroupWork& w = group_work();
  const auto count = static_cast<std::int32_t>(cands.size());
  // Both sides' line counts in one pass of plain scalar steps: a
  // vectorised maximum over one field of the records gathered its lanes
  // through the stack and stalled on every step.
  std::int32_t test_lines_used = 0, sample_lines_used = 0;
  for (std::int32_t p = 0; p < count; ++p) {
    const LocatedCandidate& c = cands[static_cast<std::size_t>(p)];
    test_lines_used = c.test_line + 1 > test_lines_used ? c.test_line + 1 : test_lines_used;
    sample_lines_used = c.sample_line + 1 > sample_lines_used ? c.sample_line + 1 : sample_lines_used;
  }
  const LineIndex by_test(cands, &LocatedCandidate::test_line, test_lines_used, w.test_first, w.test_next);
  const LineIndex by_sample(cands, &LocatedCandidate::sample_line, sample_lines_used, w.sample_first,
                            w.sample_next);
  // A line's candidates are queued once per group: its stamp is the group's start.
  std::vector<std::int32_t>& test_stamp = w.test_stamp;
  std::vector<std::int32_t>& sample_stamp = w.sample_stamp;
  test_stamp.assign(static_cast<std::size_t>(by_test.lines()), -1);
  sample_stamp.assign(static_cast<std::size_t>(by_sample.lines()), -1);
  std::vector<std::uint8_t>& taken = w.taken;
  taken.assign(static_cast<std::size_t>(count), 0);
  std::vector<std::int32_t>&members = w.members, &test_lines = w.test_lines, &sample_lines = w.sample_lines,
                    &this_scan = w.this_scan, &next_scan = w.next_scan;
  std::vector<std::uint8_t>& used = w.used;
  const auto later_first = std::greater<std::int32_t>();
  std::int64_t raw = 0;

  for (std::int32_t start = 0; start < count; ++start) {
    if (taken[start]) continue;
    members.assign(1, start);
    taken[start] = 1;
    std::int32_t best = cands[start].score;
    this_scan.clear();
    next_scan.clear();
    // Queues the free candidates on a new member's lines.
    const auto link = [&](std::int32_t q, std::int32_t cursor) {
      const auto queue_line = [&](const LineIndex& index, std::vector<std::int32_t>& stamp, std::int32_t line) {
        if (stamp[line] == start) return;
        stamp[line] = start;
        for (std::int32_t p = index.first(line); p != LineIndex::kEnd; p = index.next(p)) {
          if (taken[p] || p == q) continue;
          if (p > cursor) {
            this_scan.push_back(p);
            std::push_heap(this_scan.begin(), this_scan.end(), later_first);
          } else {
            next_scan.push_back(p);
          }
        }
      };
      queue_line(by_test, test_stamp, cands[q].test_line);
      queue_line(by_sample, sample_stamp, cands[q].sample_line);
    };
    link(start, -1);  // the first scan runs over the whole list

    bool full = false;
    while (!full && !this_scan.empty()) {
      bool grew = false;
      while (!this_scan.empty()) {
        std::pop_heap(this_scan.begin(), this_scan.end(), later_first);
        const std::int32_t q = this_scan.back();
        this_scan.pop_back();
        if (taken[q]) continue;  // queued through both of its lines
        members.push_back(q);
        if (static_cast<std::int32_t>(members.size()) == kMaxGroupMembers) {
          full = true;
          break;
        }
        taken[q] = 1;
        best = std::max(best, cands[q].score);
        grew = true;
        link(q, q);
      }
      if (!grew) break;
      this_scan.swap(next_scan);
      next_scan.clear();
      std::make_heap(this_scan.begin(), this_scan.end(), later_first);
    }

    if (members.size() <= 3) {
      raw += best;
      continue;
    }
    test_lines.clear();
    sample_lines.clear();
    for (std::int32_t m : members) {
      test_lines.push_back(cands[m].test_line);
      sample_lines.push_back(cands[m].sample_line);
    }
    const auto distinct = [&w](const std::vector<std::int32_t>& v) {
      w.sorted.assign(v.begin(), v.end());
      std::int32_t* first = w.sorted.data();
      std::int32_t* last = first + w.sorted.size();
      std::sort(first, last);
      return std::unique(first, last) - first;
    };
    const std::vector<std::int32_t>& chosen =
        distinct(sample_lines) < distinct(test_lines) ? sample_lines : test_lines;
    used.assign(members.size(), 0);
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (used[i]) continue;
      std::int32_t line_best = cands[members[i]].score;
      for (std::size_t k = i + 1; k < members.size(); ++k) {
        if (used[k] || chosen[k] != chosen[i]) continue;
        used[k] = 1;
        line_best = std::max(line_best, cands[members[k]].score);
      }
      raw += line_best;
    }
  }
  return raw;
}

namespace {

#if defined(__SSE2__)
// fold_angle on eight lanes: with d = |a - b|, min(d, 240 - d) is 240 - d
// exactly when d > 119 (for d <= 119, 240 - d > d; for d >= 120,
// 240 - d <= 120 <= d). No step leaves int16 for values within
// kNarrowLimit: |a - b| <= 32766, 240 - d >= -32526.
inline __m128i fold_angles(__m128i a, __m128i b) {
  const __m128i x = _mm_sub_epi16(a, b);
  const __m128i d = _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
  return _mm_min_epi16(d, _mm_sub_epi16(_mm_set1_epi16(240), d));
}
#endif

// The sample lines of a match in bin order, twice over, with eight readable
// entries past the end; kept between calls (per thread) so that a match
// allocates nothing once they have grown.
struct SampleWindow {
  std::vector<GraphLine*> line;
  std::vector<std::int16_t> length, first, second;
  std::vector<std::int32_t> passed;  // positions of one window that pass the tests

  void resize(std::int32_t total) {
    const auto n = 2 * static_cast<std::size_t>(total) + 8;
    line.resize(n);
    passed.resize(n);
    length.resize(n);
    first.resize(n);
    second.resize(n);
  }
  // Copies the first `total` entries after themselves.
  void repeat(std::int32_t total) {
    const auto n = static_cast<std::size_t>(total);
    std::copy_n(line.begin(), n, line.begin() + n);
    std::copy_n(length.begin(), n, length.begin() + n);
    std::copy_n(first.begin(), n, first.begin() + n);
    std::copy_n(second.begin(), n, second.begin() + n);
  }
};

SampleWindow& sample_window() {
  static thread_local SampleWindow window;
  return window;
}

}  // namespace

// A 32-bit tolerance as the 16-bit tests use it: the values they compare
// lie in -32526..32766, so a tolerance beyond int16 gives the same answer
// at the nearest int16 value.
PassingLines::PassingLines(std::int32_t angle_tolerance, std::int32_t length_tolerance)
    : angle_tolerance_(angle_tolerance), length_tolerance_(length_tolerance),
      narrow_angle_tolerance_(static_cast<std::int16_t>(std::clamp(angle_tolerance, -32768, 32767))),
      narrow_length_tolerance_(static_cast<std::int16_t>(std::clamp(length_tolerance, -32768, 32767))) {}

std::int32_t PassingLines::list_plain(const NarrowColumns& s, std::int32_t first, std::int32_t last, NarrowLine t,
                                      bool first_agrees, std::int32_t* out) const {
  const std::int16_t* const lengths = s.length;
  const std::int16_t* const firsts = s.first;
  const std::int16_t* const seconds = s.second;
  const std::int32_t A = angle_tolerance_, L = length_tolerance_;
  std::int32_t count = 0;
  // Every position is written and the count advanced by the outcome of
  // the tests: no branch on them.
  for (std::int32_t at = first; at < last; ++at) {
    out[count] = at;
    const bool second_agrees = fold_angle(t.second, seconds[at]) < A;
    const bool length_agrees = std::abs(t.length - lengths[at]) < L;
    const bool first_agrees_here = first_agrees || fold_angle(t.first, firsts[at]) < A;
    count += second_agrees & length_agrees & first_agrees_here;
  }
  return count;
}

namespace {

#if defined(__SSE2__)
// PassingLines::list with the tolerances already in lanes, for the scan to
// take in line (the out-of-line form costs a call per test line).
template <bool kFirstAgrees>
inline std::int32_t list_passing(const NarrowColumns& s, std::int32_t first, std::int32_t last, NarrowLine t,
                                 __m128i a, __m128i l, std::int32_t* out) {
  const std::int16_t* const lengths = s.length;
  const std::int16_t* const firsts = s.first;
  const std::int16_t* const seconds = s.second;
  const __m128i t_length = _mm_set1_epi16(static_cast<std::int16_t>(t.length));
  const __m128i t_first = _mm_set1_epi16(static_cast<std::int16_t>(t.first));
  const __m128i t_second = _mm_set1_epi16(static_cast<std::int16_t>(t.second));
  const auto passing = [&](std::int32_t at) {
    const __m128i s_length = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lengths + at));
    const __m128i s_second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(seconds + at));
    const __m128i dl = _mm_sub_epi16(t_length, s_length);
    const __m128i dl_abs = _mm_max_epi16(dl, _mm_sub_epi16(_mm_setzero_si128(), dl));
    __m128i ok = _mm_and_si128(_mm_cmplt_epi16(fold_angles(t_second, s_second), a), _mm_cmplt_epi16(dl_abs, l));
    if constexpr (!kFirstAgrees) {
      const __m128i s_first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firsts + at));
      ok = _mm_and_si128(ok, _mm_cmplt_epi16(fold_angles(t_first, s_first), a));
    }
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(ok, _mm_setzero_si128())));
  };
  std::int32_t count = 0;
  // Few lines pass (some one in twenty): the bits of the few.
  const auto list_bits = [&](std::int32_t at, std::uint32_t bits) {
    for (; bits != 0; bits &= bits - 1) out[count++] = at + std::countr_zero(bits);
  };
  std::int32_t at = first;
  for (; last - at >= 8; at += 8) list_bits(at, passing(at));
  if (at < last) list_bits(at, passing(at) & (0xFFu >> (8 - (last - at))));  // lanes past the window dropped
  return count;
}
#endif

}  // namespace

std::int32_t PassingLines::list(const NarrowColumns& s, std::int32_t first, std::int32_t last, NarrowLine t,
                                bool first_agrees, std::int32_t* out) const {
#if defined(__SSE2__)
  const __m128i a = _mm_set1_epi16(narrow_angle_tolerance_);
  const __m128i l = _mm_set1_epi16(narrow_length_tolerance_);
  return first_agrees ? list_passing<true>(s, first, last, t, a, l, out)
                      : list_passing<false>(s, first, last, t, a, l, out);
#else
  return list_plain(s, first, last, t, first_agrees, out);
#endif
}

namespace {

// Top of the details score's documented range.
constexpr std::int32_t kMaxDetailsScore = 1000;

class Matcher {
 public:
  Matcher(const XWContext& c, MatchData& md, MatchSide& test, MatchSide& sample, MatchDetails* details)
      : c_(c), md_(md), test_(test), sample_(sample), details_(details),
        long_form_(details && details->size == XW_DETAILS_LONG),
        base_score_((std::int64_t{c.lengthTolerance} + c.angleTolerance) * 600 / 1000) {}

  // Only the matcher votes in the translation histograms; it hands them
  // back all 0 (also when the match ends early or by an exception) so the
  // next match need not clear 2 x 2048 bins: every bin voted for lies in the
  // ranges recorded while voting.
  ~Matcher() {
    if (votes_x_[0] <= votes_x_[1]) std::fill(md_.histogramX + votes_x_[0], md_.histogramX + votes_x_[1] + 1, 0);
    if (votes_y_[0] <= votes_y_[1]) std::fill(md_.histogramY + votes_y_[0], md_.histogramY + votes_y_[1] + 1, 0);
  }
  Matcher(const Matcher&) = delete;
  Matcher& operator=(const Matcher&) = delete;

  std::int32_t run(std::int32_t threshold);

 private:
  // Normalisation of a raw sum by the number of test lines.
  std::int64_t per_lines(std::int64_t raw) const { return scale_by_lines(c_, raw, test_.lineCount); }
  std::int32_t normalised(std::int64_t raw) const { return normalise_score(c_, per_lines(raw)); }

  std::int32_t early_stop(std::int32_t stage_score) {
    if (details_) details_->score = std::min(stage_score, kMaxDetailsScore);
    return 0;
  }

  std::int64_t collect_candidates();
  // The context's values every pair score reads, held in the scan's locals:
  // the candidate and histogram stores could otherwise alias the context,
  // which would then be read again for every pair.
  struct PairTolerances {
    std::int32_t length;
    std::int32_t angle;
    std::int64_t base;  // base_score_
    bool core;          // both sides have a core
    bool curvature;     // curvature weighting on
  };
  PairTolerances pair_tolerances() const;
  std::int32_t pair_score(const GraphLine& t, const GraphLine& s, const PairTolerances& tol) const;
  void add_candidate(std::int32_t score, GraphLine* s, GraphLine* t);
  [[gnu::noinline]] bool grow_candidates();
  std::int64_t vote_translations();
  void keep_located_candidates();
  std::int64_t score_by_groups();
  std::int64_t score_by_test_lines();
  void record_pair(std::int32_t t, std::int32_t s);

  const MatchCandidate& indexed(std::int32_t p) const { return md_.candidates[md_.indexes[p]]; }

  const XWContext& c_;
  MatchData& md_;
  MatchSide& test_;
  MatchSide& sample_;
  MatchDetails* details_;
  bool long_form_;
  // The part of every pair score that depends on the tolerances only:
  // (L + A) * 600 of two int32 tolerances lies within +-2^42, exact in 64 bits.
  std::int64_t base_score_;
  std::int32_t candidate_count_ = 0;
  std::int32_t index_count_ = 0;
  std::array<std::int32_t, 2> votes_x_{INT32_MAX, -1};  // first and last translation bins voted for
  std::array<std::int32_t, 2> votes_y_{INT32_MAX, -1};
};

Matcher::PairTolerances Matcher::pair_tolerances() const {
  return {c_.lengthTolerance, c_.angleTolerance, base_score_, test_.hasCore && sample_.hasCore,
          c_.curvatureWeighting != 0};
}

std::int32_t Matcher::pair_score(const GraphLine& t, const GraphLine& s, const PairTolerances& tol) const {
  const std::int32_t L = tol.length;
  const std::int32_t A = tol.angle;
  const std::int32_t da = fold_angle(t.firstAngle, s.firstAngle);
  if (da >= A) return 0;
  const std::int32_t dl = std::abs(t.length - s.length);
  if (dl >= L) return 0;
  const std::int32_t db = fold_angle(t.secondAngle, s.secondAngle);
  if (db >= A) return 0;
  // The base (within +-2^32) less a distance below 2^31: exact in 64 bits.
  const std::int64_t unweighted = tol.base - pair_distance(dl, da, db);
  if (unweighted <= 0) return 0;
  if (!tol.core && !tol.curvature) return static_cast<std::int32_t>(std::min(unweighted, kMaxStoredScore));
  // Products of the weightings can pass 64 bits with windows set near their
  // top; 128 bits hold each step exactly.
  using Wide = __int128;
  Wide score = unweighted;
  const bool core = tol.core;

  if (core) {
    const auto factor = [&](std::int32_t ti, std::int32_t si) {
      const std::int64_t e = std::max<std::int64_t>(
          std::llabs(std::int64_t{test_.coreDistances[ti]} - sample_.coreDistances[si]) - c_.coreSlack, 0);
      return Wide{std::max<std::int64_t>(c_.coreWindow - e, 0)};
    };
    // A divisor of 0 cannot be set; a record written directly is read as 1.
    score = score * factor(t.first, s.first) * factor(t.second, s.second) / std::max(c_.coreDivisor, 1);
    // Past 2^40 the result is the cap below whatever the curvature step does
    // (unless it gives 0), and the next products stay within 128 bits.
    score = std::min<Wide>(score, Wide{1} << 40);
  }

  if (score > 0 && tol.curvature) {
    const FeatureRecord& tf = test_.features;
    const FeatureRecord& sf = sample_.features;
    const std::int32_t tc1 = tf.minutiaCurvature[t.first], tc2 = tf.minutiaCurvature[t.second];
    const std::int32_t sc1 = sf.minutiaCurvature[s.first], sc2 = sf.minutiaCurvature[s.second];
    if (tc1 != -1 && tc2 != -1 && sc1 != -1 && sc2 != -1) {
      const auto g = [&](std::int64_t a, std::int64_t b) {
        return Wide{std::max<std::int64_t>(c_.curvatureWindow - std::llabs(a - b), 0)};
      };
      score = score * g(tc1, sc1) * g(tc2, sc2) / std::max(c_.curvatureDivisor, 1);
    }
  }
  // A candidate entry holds its score in a byte below the "used" mark; only
  // tolerances and windows far beyond any preset reach it, and keeping every
  // score within it keeps the vote and score sums within their integers.
  return static_cast<std::int32_t>(std::min<Wide>(score, kMaxStoredScore));
}

bool Matcher::grow_candidates() {
  return reserve_one_more(md_.candidates, md_.candidateCapacity, candidate_count_, kListGrowth);
}

inline void Matcher::add_candidate(std::int32_t score, GraphLine* s, GraphLine* t) {
  if (candidate_count_ >= kMaxCandidates) return;
  // The list grows out of line: its call is rare and would otherwise make
  // every candidate save the registers it needs.
  if (candidate_count_ >= md_.candidateCapacity && !grow_candidates()) return;
  md_.candidates[candidate_count_++] = {static_cast<std::uint8_t>(score), s, t};
  const FeatureRecord& tf = test_.features;
  const FeatureRecord& sf = sample_.features;
  md_.rotationHistogram[wrap240(tf.minutiaAngle[t->first] - sf.minutiaAngle[s->first])] += score;
  md_.rotationHistogram[wrap240(tf.minutiaAngle[t->second] - sf.minutiaAngle[s->second])] += score;
}

std::int64_t Matcher::collect_candidates() {
  const PairTolerances tol = pair_tolerances();
  const std::int32_t A = tol.angle;
  // The sample bins b - A .. b + A - 1 around each test bin, each bin once
  // even when the tolerance is set to half a turn or more.
  const auto span = static_cast<std::int32_t>(std::clamp<std::int64_t>(2 * std::int64_t{A}, 0, ZYL_ANGLE_BINS));
  std::fill(std::begin(md_.rotationHistogram), std::end(md_.rotationHistogram), 0);
  candidate_count_ = 0;
  std::int64_t raw = 0;
  // The sample lines bin after bin, twice over, so that the bins a test
  // line is compared with (wrapping past bin 239 or not) are one window of
  // it, visited in the order of the bins and of the lines within them.
  std::int32_t bin_start[ZYL_ANGLE_BINS + 1];
  bin_start[0] = 0;
  for (std::int32_t b = 0; b < ZYL_ANGLE_BINS; ++b) bin_start[b + 1] = bin_start[b] + std::max(sample_.binCounts[b], 0);
  const std::int32_t total = bin_start[ZYL_ANGLE_BINS];
  SampleWindow& w = sample_window();
  w.resize(total);
  bool narrow = true;
  bool binned = true;  // every sample line lies in the bin of its first angle
  for (std::int32_t b = 0; b < ZYL_ANGLE_BINS; ++b)
    for (std::int32_t si = 0, at = bin_start[b]; si < sample_.binCounts[b]; ++si, ++at) {
      GraphLine* s = sample_.bins[b][si];
      narrow &= fits_narrow(s->length, s->firstAngle, s->secondAngle);
      binned &= s->firstAngle == b;
      w.line[at] = s;
      w.length[at] = static_cast<std::int16_t>(s->length);
      w.first[at] = static_cast<std::int16_t>(s->firstAngle);
      w.second[at] = static_cast<std::int16_t>(s->secondAngle);
    }
  w.repeat(total);
  const NarrowColumns columns{w.length.data(), w.first.data(), w.second.data()};
  // The window's arrays through plain pointers: the per-thread record's
  // address is not looked up again inside the loops.
  GraphLine* const* const lines = w.line.data();
  std::int32_t* const passed = w.passed.data();
  const std::int32_t L = c_.lengthTolerance;
#if defined(__SSE2__)
  const __m128i a_lanes = _mm_set1_epi16(static_cast<std::int16_t>(std::clamp(A, -32768, 32767)));
  const __m128i l_lanes = _mm_set1_epi16(static_cast<std::int16_t>(std::clamp(L, -32768, 32767)));
#else
  const PassingLines scan(A, L);
#endif
  // Only the pairs that pass the three tolerance tests reach pair_score,
  // which repeats them, so every score and the order of the candidates are
  // as the tests inside pair_score alone give.
  const auto take = [&](GraphLine* t, GraphLine* s, std::int32_t& best) {
    const std::int32_t score = pair_score(*t, *s, tol);
    if (score > 0) add_candidate(score, s, t);
    best = std::max(best, score);
  };
  // With every line in the bin of its first angle and a tolerance of at
  // most half a turn, the first angles of a test line of bin b and a
  // sample line of bin b' agree within the tolerance exactly when b' lies in
  // b - A + 1 .. b + A - 1 (their folded difference is that of the bins):
  // the window then starts one bin later and the first angles need no test.
  const bool tight = binned && A >= 1 && A <= ZYL_ANGLE_BINS / 2;
  const auto window_end = [&](std::int32_t to) {  // to: exclusive, may pass 240
    return to <= ZYL_ANGLE_BINS ? bin_start[to] : total + bin_start[to - ZYL_ANGLE_BINS];
  };
  for (std::int32_t b = 0; b < ZYL_ANGLE_BINS; ++b) {
    if (test_.binCounts[b] <= 0) continue;
    // Bins b - A .. b - A + span - 1 as one window of the repeated lines.
    const std::int32_t from = wrap240(b - A);
    const std::int32_t first = bin_start[from];
    const std::int32_t last = window_end(from + span);
    // The tight window: bins b - A + 1 .. b + A - 1 (A is 1..120 then).
    std::int32_t tight_first = 0, tight_last = 0;
    if (tight) {
      const std::int32_t tight_from = wrap240(b - A + 1);
      tight_first = bin_start[tight_from];
      tight_last = window_end(tight_from + 2 * A - 1);
    }
    for (std::int32_t ti = 0; ti < test_.binCounts[b]; ++ti) {
      GraphLine* t = test_.bins[b][ti];
      std::int32_t best = 0;
      if (narrow && fits_narrow(t->length, t->firstAngle, t->secondAngle)) {
        // The passing lines are listed first and scored after, which keeps
        // the scan free of calls.
        const NarrowLine values{t->length, t->firstAngle, t->secondAngle};
#if defined(__SSE2__)
        const std::int32_t count =
            tight && t->firstAngle == b
                ? list_passing<true>(columns, tight_first, tight_last, values, a_lanes, l_lanes, passed)
                : list_passing<false>(columns, first, last, values, a_lanes, l_lanes, passed);
#else
        const std::int32_t count = tight && t->firstAngle == b
                                       ? scan.list_plain(columns, tight_first, tight_last, values, true, passed)
                                       : scan.list_plain(columns, first, last, values, false, passed);
#endif
        for (std::int32_t k = 0; k < count; ++k) take(t, lines[passed[k]], best);
      } else {
        for (std::int32_t at = first; at < last; ++at) take(t, lines[at], best);
      }
      raw += best;
    }
  }
  return raw;
}

std::int64_t Matcher::vote_translations() {
  // The histograms are all 0 here: they start so and every match clears the
  // bins it voted for (see ~Matcher).
  const FeatureRecord& tf = test_.features;
  const FeatureRecord& sf = sample_.features;
  std::int64_t raw = 0;
  std::int32_t best = 0;
  const GraphLine* current = candidate_count_ > 0 ? md_.candidates[0].test : nullptr;
  // The voted ranges and the index count in locals (the histograms' int
  // stores could otherwise alias them), stored once at the end: nothing in
  // the loop throws, so the ranges ~Matcher clears are always complete.
  std::int32_t count = 0;
  std::int32_t x_lo = INT32_MAX, x_hi = -1, y_lo = INT32_MAX, y_hi = -1;
  std::int32_t* const hist_x = md_.histogramX;
  std::int32_t* const hist_y = md_.histogramY;
  for (std::int32_t k = 0; k < candidate_count_; ++k) {
    const MatchCandidate& cand = md_.candidates[k];
    if (fold_orientation(cand.sample->orientation, cand.test->orientation) >= c_.angleTolerance) continue;
    // A candidate's score is at least 1, so every bin voted for is one of
    // the runs recorded here.
    std::int32_t bx = 0, by = 0;
    if (translation_bins(tf.minutiaX, tf.minutiaY, sf.minutiaX, sf.minutiaY, kHalfTranslation, kHalfTranslation,
                         *cand.test, *cand.sample, c_.lengthTolerance, bx, by)) {
      hist_x[bx] += cand.score;
      hist_y[by] += cand.score;
      x_lo = std::min(x_lo, bx);
      x_hi = std::max(x_hi, bx);
      y_lo = std::min(y_lo, by);
      y_hi = std::max(y_hi, by);
    }
    if (reserve_one_more(md_.indexes, md_.indexCapacity, count, kListGrowth))
      md_.indexes[count++] = static_cast<std::uint16_t>(k);
    if (cand.test != current) {
      raw += best;
      best = 0;
      current = cand.test;
    }
    best = std::max<std::int32_t>(best, cand.score);
  }
  index_count_ = count;
  votes_x_ = {x_lo, x_hi};
  votes_y_ = {y_lo, y_hi};
  return raw + best;
}

void Matcher::record_pair(std::int32_t t, std::int32_t s) {
  if (long_form_) add_detail_pair(*details_, t, s);
}

void Matcher::keep_located_candidates() {
  const FeatureRecord& tf = test_.features;
  const FeatureRecord& sf = sample_.features;
  std::int32_t kept = 0;
  for (std::int32_t p = 0; p < index_count_; ++p) {
    const MatchCandidate& cand = indexed(p);
    if (!lines_coincide(tf.minutiaX, tf.minutiaY, sf.minutiaX, sf.minutiaY, *cand.test, *cand.sample,
                        c_.lengthTolerance))
      continue;
    record_pair(cand.test->first, cand.sample->first);
    record_pair(cand.test->second, cand.sample->second);
    md_.indexes[kept++] = md_.indexes[p];
  }
  index_count_ = kept;
}

std::int64_t Matcher::score_by_groups() {
  keep_located_candidates();
  std::vector<LocatedCandidate>& located = group_work().located;
  located.clear();
  for (std::int32_t p = 0; p < index_count_; ++p) {
    const MatchCandidate& cand = indexed(p);
    located.push_back({static_cast<std::int32_t>(cand.test - test_.lines),
                       static_cast<std::int32_t>(cand.sample - sample_.lines), cand.score});
  }
  return zyl::api::score_by_groups(located);
}

std::int64_t Matcher::score_by_test_lines() {
  const FeatureRecord& tf = test_.features;
  const FeatureRecord& sf = sample_.features;
  std::int64_t raw = 0;
  std::int32_t best = 0;
  const GraphLine* current = index_count_ > 0 ? indexed(0).test : nullptr;
  for (std::int32_t p = 0; p < index_count_; ++p) {
    const MatchCandidate& cand = indexed(p);
    if (!lines_coincide(tf.minutiaX, tf.minutiaY, sf.minutiaX, sf.minutiaY, *cand.test, *cand.sample,
                        c_.lengthTolerance))
      continue;
    if (cand.test != current) {
      raw += best;
      best = 0;
      current = cand.test;
    }
    best = std::max<std::int32_t>(best, cand.score);
    record_pair(cand.test->first, cand.sample->first);
    record_pair(cand.test->second, cand.sample->second);
  }
  return raw + best;
}

std::int32_t Matcher::run(std::int32_t threshold) {
  FeatureRecord& tf = test_.features;
  FeatureRecord& sf = sample_.features;
  const bool grid = c_.blockGridComparison && tf.blockColumns && tf.blockRows && sf.blockColumns &&
                    sf.blockRows;

  // Stage 1: candidate pairs and their votes for a rotation.
  const std::int32_t s1 = normalised(collect_candidates());
  if (s1 < threshold) return early_stop(s1);

  // Stage 2: turn the sample; pairs whose orientations then agree vote for a shift.
  const std::int32_t n = minutia_count(sf);
  const std::int32_t rotation = zyl::api::RotationHistogramProcessing(
      md_.rotationHistogram, md_.rotationFlags, n, sf.minutiaX, sf.minutiaY, sf.minutiaAngle, sample_.lineCount,
      sample_.lines, sample_.centreX, sample_.centreY);
  if (grid) zyl::api::RotateRidgesOrientation(sample_.centreX, sample_.centreY, rotation, &sf);
  if (details_) details_->rotation = rotation;
  const std::int32_t s2 = normalised(vote_translations());
  if (s2 < threshold) return early_stop(s2);

  // Stage 3: shift the sample and score the pairs whose endpoints coincide.
  // The histograms' shifts from the bins that hold votes only.
  const std::int32_t dx =
      shift_from_votes(md_.histogramX, md_.histogramScratch, md_.histogramSizeX, votes_x_[0], votes_x_[1]);
  const std::int32_t dy =
      shift_from_votes(md_.histogramY, md_.histogramScratch, md_.histogramSizeY, votes_y_[0], votes_y_[1]);
  for (std::int32_t i = 0; i < n; ++i) {
    sf.minutiaX[i] += dx;
    sf.minutiaY[i] += dy;
  }
  std::int32_t similarity = 0, weight = 1;
  if (grid) {
    zyl::api::TranslateRidgesOrientation(dx, dy, &sf);
    similarity = zyl::api::OrientationStructureComparison(&tf, &sf, &weight);
  }
  if (details_) {
    details_->shiftX = dx;
    details_->shiftY = dy;
    if (long_form_) details_->pairCount = 0;
  }
  const std::int64_t raw = c_.groupScoring ? score_by_groups() : score_by_test_lines();

  // Beyond 2^31 the score saturates anyway; capping first keeps the
  // weighting products within 64 bits.
  std::int64_t v = std::min<std::int64_t>(per_lines(raw), INT32_MAX);
  if (grid) v = v * similarity / weight;
  if (c_.borderDensityWeighting) v = weigh_by_border_density(v, tf.borderDensity, sf.borderDensity);
  // The details score runs 0..1000: the weightings above can lift a crafted
  // pair past the top of the scale, which callers must never see.
  return std::clamp(normalise_score(c_, v), 0, kMaxDetailsScore);
}

}  // namespace
}  // namespace zyl::api

using namespace zyl::api;

int32_t zyl::api::MatchFeatures(MatchSide* test_side, MatchSide* sample_side, int32_t threshold, MatchDetails* details,
                                XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (!test_side || !sample_side) return XW_ERR_NULL_ARGUMENT;
  MatchData* md = ensure_match_data(*c);
  if (!md) return XW_ERR_NO_MEMORY;
  return Matcher(*c, *md, *test_side, *sample_side, details).run(threshold);
}

static void RotateRidgesOrientationUnguarded(int32_t cx, int32_t cy, int32_t rotation,
                                             FeatureRecord* grid) {
  if (!grid) return;
  const std::int32_t n = grid_size(std::max(grid->blockColumns, grid->blockRows));
  if (n == 0) return;
  grid->blockColumns = grid->blockRows = static_cast<std::uint32_t>(n);
  const std::vector<std::uint8_t> copy = take_square(*grid, n);
  rotation = wrap240(rotation);
  const std::int64_t c = cos_x10E4[rotation];
  const std::int64_t s = sin_x10E4[rotation];
  for (std::int32_t i = 0; i < n; ++i) {
    for (std::int32_t j = 0; j < n; ++j) {
      const std::int64_t d = kBlockSize * j - cx;
      const std::int64_t e = kBlockSize * i - cy;
      const std::int64_t x = round_x10E4(d * c + e * s) + cx;
      const std::int64_t y = round_x10E4(e * c - d * s) + cy;
      const std::int64_t sx = x / kBlockSize;  // truncating towards zero
      const std::int64_t sy = y / kBlockSize;
      if (sx < 0 || sx >= n || sy < 0 || sy >= n) continue;
      const std::uint8_t v = copy[sy * n + sx];
      if (v == kNoBlock) continue;
      const std::int32_t turned = (v + rotation) % 240;
      block(*grid, i, j) = static_cast<std::uint8_t>(turned >= 120 ? turned - 120 : turned);
    }
  }
}

void zyl::api::RotateRidgesOrientation(int32_t cx, int32_t cy, int32_t rotation, FeatureRecord* grid) {
  zyl::GuardedCall([&] { RotateRidgesOrientationUnguarded(cx, cy, rotation, grid); });
}

static void TranslateRidgesOrientationUnguarded(int32_t dx, int32_t dy, FeatureRecord* grid) {
  if (!grid) return;
  const std::int32_t n = grid_size(grid->blockRows);
  if (n == 0) return;
  const std::int32_t bx = shift_in_blocks(dx);
  const std::int32_t by = shift_in_blocks(dy);
  const std::vector<std::uint8_t> copy = take_square(*grid, n);
  for (std::int32_t i = 0; i < n; ++i) {
    for (std::int32_t j = 0; j < n; ++j) {
      const std::int64_t si = std::int64_t{i} - by;
      const std::int64_t sj = std::int64_t{j} - bx;
      if (si < 0 || si >= n || sj < 0 || sj >= n) continue;
      block(*grid, i, j) = copy[si * n + sj];
    }
  }
}

void zyl::api::TranslateRidgesOrientation(int32_t dx, int32_t dy, FeatureRecord* grid) {
  zyl::GuardedCall([&] { TranslateRidgesOrientationUnguarded(dx, dy, grid); });
}

int32_t zyl::api::OrientationStructureComparison(const FeatureRecord* test_grid, const FeatureRecord* sample_grid,
                                                 int32_t* weight) {
  std::int32_t total_weight = 0;
  std::int32_t sum = 0;
  if (test_grid && sample_grid) {
    const std::int32_t n = grid_size(
        std::max({test_grid->blockRows, test_grid->blockColumns, sample_grid->blockRows}));
    if (n == 0) {
      if (weight) *weight = 1;
      return 1;
    }
    for (std::int32_t i = 0; i < n; ++i) {
      for (std::int32_t j = 0; j < n; ++j) {
        const std::int32_t a = block(*test_grid, i, j);
        const std::int32_t b = block(*sample_grid, i, j);
        if (a == kNoBlock || b == kNoBlock) continue;
        std::int32_t d = std::abs(a - b);
        if (d > 60) d = 120 - d;  // negative for a flat 127 against an orientation below 7
        if (d <= 4) d = 0;
        if (d <= 50) sum += 60 - d;
        total_weight += 60;
      }
    }
  }
  if (weight) *weight = total_weight ? total_weight : 1;
  return total_weight ? sum : 0;
}

extern "C" ZYL_API int32_t Zylmax(int32_t a, int32_t b) { return b < a ? a : b; }

extern "C" {

ZYL_API int32_t MatchFeatures(MatchSide* test_side, MatchSide* sample_side, int32_t threshold, MatchDetails* details,
                              XWContext* context) {
  return zyl::api::MatchFeatures(test_side, sample_side, threshold, details, context);
}
ZYL_API void RotateRidgesOrientation(int32_t cx, int32_t cy, int32_t rotation, FeatureRecord* grid) {
  zyl::api::RotateRidgesOrientation(cx, cy, rotation, grid);
}
ZYL_API void TranslateRidgesOrientation(int32_t dx, int32_t dy, FeatureRecord* grid) {
  zyl::api::TranslateRidgesOrientation(dx, dy, grid);
}
ZYL_API int32_t OrientationStructureComparison(const FeatureRecord* test_grid, const FeatureRecord* sample_grid,
                                               int32_t* weight) {
  return zyl::api::OrientationStructureComparison(test_grid, sample_grid, weight);
}

}  // extern "C"
