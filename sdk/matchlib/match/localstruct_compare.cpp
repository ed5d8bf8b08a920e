// Comparison of a card with the packed local-structure form of another
// (64- or 46-minutia form): minutiae pair when their neighbourhoods agree
// under a running rotation estimate, the pairing grows through the
// neighbour links, and the pairs' geometry and the regions they cover give
// the score. The matchers differ only in the form they read, how many
// probe minutiae and neighbours they keep, the size of their link pool,
// and how they count poor minutiae.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/match/localstruct_layout.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/match/localstruct_compare.h"
#include "matchlib/template/card_minutiae.h"
#include "matchlib/template/card_template.h"

namespace {

constexpr int kMax = LOCALSTRUCT64_MAX_MINUTIAE;
constexpr int kNb = LOCALSTRUCT64_MAX_NEIGHBOURS;

int sbyte(int v) { return static_cast<std::int8_t>(static_cast<std::uint8_t>(v)); }
int isqrt16c(std::int64_t v) {
  return static_cast<int>(
      zyl::matchlib::fx_isqrt16(static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, 65535))));
}
int dist16(int sq) { return sq >= 65536 ? 2 * isqrt16c(sq / 4) : isqrt16c(sq); }
int dir_of(int dx, int dy) {
  return zyl::matchlib::fx_atan2_s16(static_cast<std::int16_t>(dx), static_cast<std::int16_t>(dy)) &
         255;
}

// Direction of a (sine, cosine) sum pair with both scaled to 255 at most.
int sum_direction(std::int64_t s, std::int64_t c) {
  while (std::llabs(s) > 255 || std::llabs(c) > 255) s /= 2, c /= 2;
  return zyl::matchlib::fx_atan2_s16(static_cast<std::int16_t>(s), static_cast<std::int16_t>(c)) &
         255;
}

// What sets one matcher apart from another.
struct Matcher {
  zyl::matchlib::FormLayout form;  // the stored form it reads
  int max_count;                   // neighbours a stored record may claim
  int work_floor;                  // the work area must be larger
  int probe_max;                   // probe minutiae read
  int probe_reduce;                // the minutiae reader's reduce flag
  int probe_neighbours;            // nearest neighbours kept per probe minutia
  int pool;                        // stored neighbour links
  bool conflict_poor;              // unpaired minutiae in conflict count as poor
  bool compact_alignment;          // offsets from one rounded rotation per pair
};

using zyl::matchlib::kForm46;
using zyl::matchlib::kForm64;

constexpr Matcher k64{kForm64, kNb, 2049, kMax, 1, kNb, LOCALSTRUCT64_LINKS, true, false};
constexpr Matcher k64Unreduced{kForm64, kNb, 2049, kMax, 0, kNb, LOCALSTRUCT64_LINKS, false, false};
constexpr Matcher k46{kForm46, 20, 1459, 46, 0, 20, LOCALSTRUCT46_LINKS, false, true};
constexpr Matcher k46Alt{kForm46, 20, 1645, 46, 0, 24, LOCALSTRUCT46_LINKS, false, true};
constexpr Matcher k64Compact{kForm64, kNb, 1459, 46, 0, 20, LOCALSTRUCT46_LINKS, false, true};

struct ProbeNeighbour {
  int distance, angle, dirdiff, index;
};

struct Link {
  std::uint8_t probe, card;
};

struct State {
  const Matcher* m;
  const CompactMinutia* a;
  int na;
  bool qa;
  const std::uint8_t* records;
  // Distance of each card-A minutia to its k-th stored neighbour, worked
  // out once instead of in every pair test.
  std::uint8_t a_distance[kMax][kNb];
  CompactMinutia b[kMax];
  int nb;
  bool qb;
  std::array<ProbeNeighbour, kNb> list;
  int list_count;
  std::array<int, 32> start;
  int estimate = 0, tolerance = 32;
  struct Candidate {
    int link_start = 0, link_count = 0, votes = 0, partner = 255;
  } cand[kMax];
  std::uint8_t hint[kMax];
  Link pool[LOCALSTRUCT64_LINKS];
  int pool_used = 0;
};

void build_probe_list(State& s, int p) {
  ProbeNeighbour kept[kNb];
  int c = 0;
  const CompactMinutia& m = s.b[p];
  const int limit = s.m->probe_neighbours;
  for (int j = 0; j < s.nb; ++j) {
    if (j == p) continue;
    const int dx = m.x - s.b[j].x, dy = m.y - s.b[j].y, sq = dx * dx + dy * dy;
    if (sq < zyl::matchlib::kLocalNearSquared || sq > zyl::matchlib::kLocalFarSquared) continue;
    const ProbeNeighbour e{isqrt16c(sq), (m.direction - dir_of(dx, dy)) & 255, (m.direction - s.b[j].direction) & 255, j};
    zyl::matchlib::keep_nearest(kept, c, limit, e);
  }
  std::stable_sort(kept, kept + c, [](const ProbeNeighbour& x, const ProbeNeighbour& y) { return x.angle < y.angle; });
  std::copy(kept, kept + c, s.list.begin());
  s.list_count = c;
  for (int l = 0; l < 32; ++l) {
    s.start[l] = 0;
    for (int k = 0; k < c; ++k)
      if (kept[k].angle >= 8 * l) {
        s.start[l] = k;
        break;
      }
  }
}

// 1 rejected or weaker, 2 taken with few links, 3 link pool full, 4 strong.
int pair_test(State& s, int p, int a) {
  const CompactMinutia& mp = s.b[p];
  const CompactMinutia& ma = s.a[a];
  if (zyl::matchlib::fx_dir_absdiff(zyl::matchlib::fx_dir_diff(mp.direction, ma.direction),
                                    s.estimate) > s.tolerance)
    return 1;
  if (s.qa && s.qb && std::abs((mp.quality & 15) - (ma.quality & 15)) > 1) return 1;
  const zyl::matchlib::FormLayout& form = s.m->form;
  const std::uint8_t* rec = s.records + form.record() * a;
  const int count = rec[0];
  if (count == 0 || s.list_count == 0) return 1;
  struct Corr {
    int err, card_nb, probe_entry;
  };
  Corr corr[kNb * kNb];
  int nc = 0;
  int k = 0;
  for (int idx = 0; idx < form.max_minutiae && k < count; ++idx) {
    if (!form.in_set(rec, idx)) continue;
    const int u = rec[1 + k];
    ++k;
    const CompactMinutia& an = s.a[idx];
    const int adist = s.a_distance[a][k - 1];
    const int first = s.start[((u - 8) & 255) >> 3];
    for (int step = 0; step < s.list_count; ++step) {
      const ProbeNeighbour& e = s.list[(first + step) % s.list_count];
      const int d = sbyte(e.angle - u);
      if (d < -15 || d > 8) break;
      if (std::abs(d) > 8) continue;
      const int dd = sbyte(ma.direction - an.direction - e.dirdiff);
      const int ld = adist - e.distance;
      if (std::abs(dd) > 8 || std::abs(ld) > 2) continue;
      corr[nc++] = {2 * d * d + dd * dd + 4 * ld * ld, idx, e.index};
    }
  }
  // Each neighbour on either side keeps one link, the smaller error first
  // (equal errors in the order found; an insertion sort, as the lists are
  // short and this runs for every candidate pair).
  for (int c = 1; c < nc; ++c)
    for (int d = c; d > 0 && corr[d - 1].err > corr[d].err; --d) std::swap(corr[d - 1], corr[d]);
  Link links[kNb];
  int i = 0;
  std::uint64_t used_card = 0, used_probe = 0;
  for (int c = 0; c < nc && i < kNb; ++c) {
    const std::uint64_t bc = std::uint64_t{1} << corr[c].card_nb, bp = std::uint64_t{1} << corr[c].probe_entry;
    if ((used_card & bc) || (used_probe & bp)) continue;
    used_card |= bc;
    used_probe |= bp;
    links[i++] = {static_cast<std::uint8_t>(corr[c].probe_entry), static_cast<std::uint8_t>(corr[c].card_nb)};
  }
  State::Candidate& cd = s.cand[p];
  if (i <= 1 || i <= cd.votes) return 1;
  // The probe minutiae are taken in order, so p's links are the last block.
  int at = cd.link_count && cd.link_start + cd.link_count == s.pool_used ? cd.link_start : s.pool_used;
  if (at + i > s.m->pool) return 3;
  std::copy(links, links + i, s.pool + at);
  s.pool_used = at + i;
  cd.link_start = at;
  cd.link_count = i;
  cd.partner = a;
  cd.votes = i;
  if (i < 6) return 2;
  for (int l = 0; l < i; ++l)
    if (links[l].probe > p) s.hint[links[l].probe] = links[l].card;
  return 4;
}

void update_estimate(State& s, int previous, std::int64_t& cs, std::int64_t& ss, int& counted, int initial) {
  const State::Candidate& c = s.cand[previous];
  if (c.votes <= 5) return;
  const int d = (s.a[c.partner].direction - s.b[previous].direction) & 255;
  auto round32 = [](int v) { return v >= 0 ? (v + 16) / 32 : -((-v + 16) / 32); };
  cs += round32(zyl::matchlib::fx_cos256(d));
  ss += round32(zyl::matchlib::fx_sin256(d));
  if (++counted < 3) return;
  s.estimate = sum_direction(ss, cs);
  const std::int64_t ms = ss / counted, mc = cs / counted;
  const std::int64_t m = ms * ms + mc * mc;
  s.tolerance = m > 131071
                    ? std::max(4, std::min(initial, isqrt16c(13312 - 52 * isqrt16c(std::min<std::int64_t>(m / 4, 65535)))))
                    : initial;
}

struct Region {
  int x_extent = 0, y_extent = 0, inside = 0, poor = 0;
};

Region region_counts(const CompactMinutia* m, int n, const bool* paired, bool conflict_poor) {
  Region r;
  if (n == 0) return r;
  int x0 = 255, x1 = 0, y0 = 255, y1 = 0, px0 = 255, px1 = 0, py0 = 255, py1 = 0;
  for (int k = 0; k < n; ++k) {
    x0 = std::min<int>(x0, m[k].x), x1 = std::max<int>(x1, m[k].x);
    y0 = std::min<int>(y0, m[k].y), y1 = std::max<int>(y1, m[k].y);
    if (paired[k]) {
      px0 = std::min<int>(px0, m[k].x), px1 = std::max<int>(px1, m[k].x);
      py0 = std::min<int>(py0, m[k].y), py1 = std::max<int>(py1, m[k].y);
    }
  }
  r.x_extent = x1 - x0;
  r.y_extent = y1 - y0;
  std::uint8_t conflict[kMax];
  std::fill(std::begin(conflict), std::end(conflict), 255);
  if (conflict_poor)
    zyl::matchlib::minutiae_conflict_distance(m, static_cast<std::uint32_t>(n), conflict);
  for (int k = 0; k < n; ++k) {
    const bool in = m[k].x >= px0 && m[k].x <= px1 && m[k].y >= py0 && m[k].y <= py1;
    if (!in) {
      if (m[k].quality <= 95) ++r.poor;
    } else if (!paired[k] && (m[k].quality < 96 || conflict[k] != 255)) {
      ++r.poor;
    } else {
      ++r.inside;
    }
  }
  return r;
}

int compare(const Matcher& M, uint8_t* work, uint16_t work_size, const uint8_t* form,
            uint32_t form_length, const uint8_t* card, uint32_t card_length,
            CardMatchResult* result, CardAlignment* alignment, int mode) {
  if (!work || work_size <= M.work_floor) return ML_CORRUPT;
  if (!zyl::matchlib::form_valid(M.form, M.max_count, form, form_length)) return ML_CORRUPT;
  // The card path allocates nothing: the working state lives on the stack
  // and the caller's work area serves the minutiae reader.
  State s{};
  s.m = &M;
  s.na = form[0];
  s.a = reinterpret_cast<const CompactMinutia*>(form + 1);
  s.qa = form[M.form.quality_at()] != 0;
  s.records = form + M.form.head();
  for (int a = 0; a < s.na; ++a) {
    const std::uint8_t* rec = s.records + M.form.record() * a;
    for (int idx = 0, k = 0; idx < M.form.max_minutiae && k < rec[0]; ++idx) {
      if (!M.form.in_set(rec, idx)) continue;
      const int dx = s.a[a].x - s.a[idx].x, dy = s.a[a].y - s.a[idx].y;
      // The root of a square held to 16 bits fits a byte.
      s.a_distance[a][k++] = static_cast<std::uint8_t>(isqrt16c(dx * dx + dy * dy));
    }
  }
  std::uint32_t nb = 0;
  int qb = 0;
  if (const int st = zyl::matchlib::card_read_minutiae(card, card_length,
                                                       static_cast<std::uint32_t>(M.probe_max),
                                                       M.probe_reduce, work, s.b, &nb, &qb))
    return st;
  s.nb = static_cast<int>(std::min<std::uint32_t>(nb, static_cast<std::uint32_t>(M.probe_max)));
  s.qb = qb != 0;
  const bool fill = (mode & 2) && result && result->kind == CARD_RESULT_KIND && result->count == 0;
  if (fill) result->count = 1;
  if (result) result->score = 0;
  if (alignment) *alignment = {};

  int pair_p[kMax], pair_a[kMax], H = 0, G = 0;
  if (s.na && s.nb) {
    const int initial = (mode & 1) ? 128 : 32;
    s.tolerance = initial;
    std::fill(std::begin(s.hint), std::end(s.hint), 255);
    std::int64_t cs = 0, ss = 0;
    int counted = 0;
    bool stop = false;
    for (int p = 0; p < s.nb && !stop; ++p) {
      build_probe_list(s, p);
      if (p > 0) update_estimate(s, p - 1, cs, ss, counted, initial);
      const int hinted = s.hint[p] != 255 && s.hint[p] < s.na ? s.hint[p] : -1;
      for (int c = -1; c < s.na; ++c) {
        const int a = c < 0 ? hinted : c;
        if (a < 0 || (c >= 0 && a == hinted)) continue;
        const int r = pair_test(s, p, a);
        if (r == 3) stop = true;
        if (r == 3 || r == 4) break;
      }
    }
    // Seed, then one partner per card-A minutia (the stronger, the earlier on ties).
    for (int p = 0; p < s.nb; ++p)
      for (int q = p + 1; q < s.nb; ++q)
        if (s.cand[p].votes && s.cand[q].votes && s.cand[p].partner == s.cand[q].partner) {
          State::Candidate& loser = s.cand[q].votes > s.cand[p].votes ? s.cand[p] : s.cand[q];
          loser.votes = 0;
          loser.partner = 255;
        }
    int seed = -1;
    for (int p = 0; p < s.nb; ++p)
      if (s.cand[p].votes && (seed < 0 || s.cand[p].votes > s.cand[seed].votes)) seed = p;
    if (seed >= 0) {
      pair_p[0] = seed;
      pair_a[0] = s.cand[seed].partner;
      H = 1;
      for (int q = 0; q < H; ++q) {
        const int p = pair_p[q], a = pair_a[q];
        if (s.cand[p].partner != a) continue;
        for (int l = 0; l < s.cand[p].link_count; ++l) {
          const int k = s.pool[s.cand[p].link_start + l].probe, la = s.pool[s.cand[p].link_start + l].card;
          int found = -1;
          for (int h = 0; h < H; ++h)
            if (pair_p[h] == k || pair_a[h] == la) {
              found = h;
              break;
            }
          if (found >= 0) {
            if (pair_p[found] == k && pair_a[found] == la) ++G;
            continue;
          }
          ++G;
          if (s.cand[k].partner == la && s.cand[k].votes && H < kMax) {
            pair_p[H] = k;
            pair_a[H] = la;
            ++H;
          }
        }
      }
    }
  }

  // Rotation of the pairs, card A against the probe.
  std::int64_t sw = 0, cw = 0;
  for (int h = 0; h < H; ++h) {
    const int d = (s.a[pair_a[h]].direction - s.b[pair_p[h]].direction) & 255;
    sw += zyl::matchlib::fx_sin256(d);
    cw += zyl::matchlib::fx_cos256(d);
  }
  const int W = H ? sum_direction(sw, cw) : 0;

  // One pair says nothing about geometry or regions: it scores 0.
  if (H > 1) {
    bool paired_a[kMax] = {}, paired_b[kMax] = {};
    for (int h = 0; h < H; ++h) paired_a[pair_a[h]] = paired_b[pair_p[h]] = true;
    const Region ra = region_counts(s.a, s.na, paired_a, M.conflict_poor);
    const Region rb = region_counts(s.b, s.nb, paired_b, M.conflict_poor);
    std::int64_t r2 = 0;
    for (int h = 0; h < H; ++h) {
      const int e =
          zyl::matchlib::fx_dir_absdiff(W + s.b[pair_p[h]].direction, s.a[pair_a[h]].direction);
      r2 += e * e;
    }
    std::int64_t o = isqrt16c(r2 / H) + 1;
    std::int64_t dsum = 0, esum = 0, t = 0;
    for (int i = 0; i < H; ++i)
      for (int j = i + 1; j < H; ++j, ++t) {
        const CompactMinutia &p1 = s.b[pair_p[i]], &p2 = s.b[pair_p[j]];
        const CompactMinutia &a1 = s.a[pair_a[i]], &a2 = s.a[pair_a[j]];
        const int pdx = p1.x - p2.x, pdy = p1.y - p2.y, adx = a1.x - a2.x, ady = a1.y - a2.y;
        const int d = dist16(pdx * pdx + pdy * pdy) - dist16(adx * adx + ady * ady);
        const int e = zyl::matchlib::fx_dir_absdiff(W + dir_of(pdx, pdy), dir_of(adx, ady));
        dsum += d * d;
        esum += e * e;
      }
    // The consistency value is a 16-bit quantity; a product past 65535
    // saturates (isqrt16c clamps) instead of wrapping, so a grossly
    // inconsistent pairing keeps the largest penalty rather than wrapping
    // round to a small one and scoring as consistent.
    o = o * (isqrt16c(dsum / t) + 1) * (isqrt16c(esum / t) + 1);
    const int F = std::clamp(isqrt16c(o), 3, 64);
    const int A = isqrt16c(isqrt16c((rb.x_extent * rb.y_extent + ra.x_extent * ra.y_extent) / 2) * 256);
    const std::int64_t J = ra.inside + rb.inside;
    const std::int64_t D = (s.na - ra.poor) + (s.nb - rb.poor);
    if (J > 0 && D > 0) {
      const std::int64_t den = std::max<std::int64_t>(1, D * J * isqrt16c(F * 256) / 4);
      const std::int64_t score = std::min<std::int64_t>(65535, std::int64_t{G} * H * A * 64 / den);
      if (result) result->score = static_cast<std::uint16_t>(score);
      if (fill) {
        const std::int64_t dn = std::abs(s.nb - s.na), dp = std::abs(rb.poor - ra.poor), di = std::abs(rb.inside - ra.inside);
        auto r32 = [](std::int64_t v) {
          return static_cast<std::uint16_t>(zyl::matchlib::fx_isqrt32(
              static_cast<std::uint32_t>(std::min<std::int64_t>(v, 0xffffffff))));
        };
        result->sub[0] = r32(std::int64_t{G} * 256);
        result->sub[1] = static_cast<std::uint16_t>(H);
        result->sub[2] = r32(dp * di * dn);
        result->sub[3] = r32(dn * 65536 / (ra.poor + rb.poor + 1));
        result->sub[4] = r32(dn * 65536 / (ra.inside + rb.inside + 1));
        result->sub[5] = r32(dn * 65536 / (s.na + s.nb + 1));
        result->sub[6] = r32(dp * 65536 / (s.na + s.nb + 1));
        result->sub[7] = r32(di * 65536 / (s.na + s.nb + 1));
        result->count = 9;
      }
    }
  }
  if (alignment && H > 0) {
    const int sn = zyl::matchlib::fx_sin256(W), cn = zyl::matchlib::fx_cos256(W);
    std::int64_t dx = 0, dy = 0;
    for (int h = 0; h < H; ++h) {
      const CompactMinutia &p = s.b[pair_p[h]], &a = s.a[pair_a[h]];
      if (M.compact_alignment) {
        dx += p.x - ((cn * a.x - sn * a.y) >> 14);
        dy += p.y - ((sn * a.x + cn * a.y) >> 14);
      } else {
        dx += p.x + ((sn * a.y) >> 14) - ((cn * a.x) >> 14);
        dy += p.y - ((sn * a.x) >> 14) - ((cn * a.y) >> 14);
      }
    }
    alignment->angle = static_cast<std::uint8_t>(W);
    alignment->dx = static_cast<std::int16_t>(dx / H);
    alignment->dy = static_cast<std::int16_t>(dy / H);
  }
  return ML_OK;
}

}  // namespace

int zyl::matchlib::localstruct64_compare(uint8_t* work, uint16_t work_size, const uint8_t* form,
                                         uint32_t form_length, const uint8_t* card,
                                         uint32_t card_length, CardMatchResult* result,
                                         CardAlignment* alignment, int mode) {
  return compare(k64, work, work_size, form, form_length, card, card_length, result, alignment, mode);
}

extern "C" ZYL_API int localstruct64_compare_unreduced(uint8_t* work, uint16_t work_size,
                                                       const uint8_t* form, uint32_t form_length,
                                                       const uint8_t* card, uint32_t card_length,
                                                       CardMatchResult* result,
                                                       CardAlignment* alignment, int mode) {
  return compare(k64Unreduced, work, work_size, form, form_length, card, card_length, result, alignment, mode);
}

extern "C" ZYL_API int localstruct46_compare(uint8_t* work, uint16_t work_size, const uint8_t* form,
                                             uint32_t form_length, const uint8_t* card,
                                             uint32_t card_length, CardMatchResult* result,
                                             CardAlignment* alignment, int option) {
  return compare(k46, work, work_size, form, form_length, card, card_length, result, alignment, option);
}

extern "C" ZYL_API int localstruct46_compare_alt(uint8_t* work, uint16_t work_size,
                                                 const uint8_t* form, uint32_t form_length,
                                                 const uint8_t* card, uint32_t card_length,
                                                 CardMatchResult* result, CardAlignment* alignment,
                                                 int option) {
  return compare(k46Alt, work, work_size, form, form_length, card, card_length, result, alignment, option);
}

extern "C" ZYL_API int localstruct64_compare_compact(uint8_t* work, uint16_t work_size,
                                                     const uint8_t* form, uint32_t form_length,
                                                     const uint8_t* card, uint32_t card_length,
                                                     CardMatchResult* result,
                                                     CardAlignment* alignment, int option) {
  return compare(k64Compact, work, work_size, form, form_length, card, card_length, result, alignment, option);
}

extern "C" {

ZYL_API int localstruct64_compare(uint8_t* work, uint16_t work_size, const uint8_t* form,
                                  uint32_t form_length, const uint8_t* card, uint32_t card_length,
                                  CardMatchResult* result, CardAlignment* alignment, int mode) {
  return zyl::matchlib::localstruct64_compare(work, work_size, form, form_length, card, card_length,
                                              result, alignment, mode);
}

}  // extern "C"
