// Fits the open rows of the last-stage score model of the light verification
// engine (algorithm mode 4) so that its scores keep the false-accept scale,
// from the window pairs that bench/window_pairs records (scripts/
// light_verify_rows runs the whole procedure and writes the rows).
//
//   light_verify_fit --data DIR --fit SET... [--report SET...]
//                    [--write FILE] [--command TEXT] [--safety K]
//
// (--safety K skips the search of step 5 and fits with factor K, taking the
// variant that does best on the fit sets: for trying settings, not for
// making the rows.)
//
// DIR/SET holds, for each set of prints: impostors.pairs (window pairs of
// different fingers cut from the full prints), genuine.pairs (every ordered
// pair of two impressions of one finger, 96 x 96 centres of the 160 x 160
// crops), service.pairs (the pairs of the service's decision: impressions
// 4..8 against 1..3 of the same finger), crops.win (the crops' windows) and
// attempts (the number of genuine attempts of the service's protocol, refused
// extractions included).
//
// The device API's security levels 1..5 accept an engine score of 16200,
// 20250, 24300, 32400 and 40500 or more: FAR-scale scores that promise one
// false accept in 2^(score / 2048) comparisons (about 240, 950, 3700, 58000
// and 900000). The last stage's threshold table (given, kept) turns the
// model's raw score into that scale, so each level is a raw-score threshold.
// A pair passes a level only when it reaches the last stage and its raw
// score is at or above the level's threshold.
//
// Procedure (every choice looks only at the --fit sets):
// 1. Rows 30 and 32 are given and stay. Each other active feature (31,
//    33..57) that varies is standardised by its mean and deviation over the
//    fit pairs (genuine pairs and impostor pairs that reach the last stage,
//    the two classes weighted alike); features that never vary get no
//    weight. Minimum 0, maximum the largest value seen.
// 2. Directions (the variants tried): Fisher's discriminant of the
//    standardised features, genuine pairs against the impostor pairs that
//    reach the last stage, with a small ridge (0); again against the top
//    10 % (1) and the top 1 % (2) of those impostors by the first
//    discriminant: the tail that the security levels lie in; and variant 1
//    refined for the tail (3): coordinate steps on its weights that raise
//    the genuine pairs' pass count (smoothed by a logistic of the margin) at
//    the threshold that 1 in 100000 of the impostor pairs reach.
// 3. The rows: weight_j = round(c * w_j / max |w|), spread_j = sd_j * c / a,
//    so that the fitted part adds a * (w . z) to the given rows' sum and c
//    sets the model's total weight (and with it how far apart the levels lie
//    in the discriminant's units). The means are then shifted together (each
//    by its share of the weight) by the largest amount that keeps, on every
//    fit set, the impostor pass rate at each level 1..5 at or below its
//    promise divided by a safety factor k. A pass rate is counted below the
//    tail model's threshold; above it (the top 1 in 1000 of the pairs,
//    where they thin out) it is the larger of the count and the tail model:
//    a generalised Pareto distribution fitted by maximum likelihood to the
//    scores of the top 1 in 1000 impostor pairs of the set, its shape held
//    at 0 or above (the exponential tail is the lightest one allowed, so a
//    tail that looks bounded is not trusted to end).
// 4. Over a grid of a and c, the rows that accept the most genuine attempts
//    of the service's protocol at level 5 win (ties: the most at levels
//    4..1).
// 5. The rows: each fit set is left out in turn and rows are fitted on the
//    other three (steps 1-4), for each variant with the smallest k of 1,
//    1.5, 2, 3, 4, 6, 8, 12, 16 for which the rows of every fold keep every
//    level's promise on the set they were not fitted on. Those rows (one
//    per fold and variant) are the candidates, each having kept the scale
//    on prints that no choice of its own looked at; the one that accepts
//    the most genuine attempts of all four sets at level 5 (ties: levels
//    4..1) is taken.
// 6. The rows are written as the source file that static_profiles.cpp
//    includes, with the procedure's commands in its header comment, and the
//    figures of the built rows and the new rows are printed for every set
//    (the --report sets only measured).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_score.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFeatures = LIGHT_VERIFY_MODEL_FEATURES;  // 58
constexpr int kFirst = LIGHT_VERIFY_MODEL_FIRST_ACTIVE;  // 30
constexpr int kActive = kFeatures - kFirst;              // 28
constexpr int kGivenA = 30, kGivenB = 32;
constexpr int kLevels = 5;
// The engine scores from which the device API's levels 1..5 accept: a
// wrapped score (engine score / 675) above 23, 29, 35, 47, 59.
constexpr int kLevelScore[kLevels] = {24 * 675, 30 * 675, 36 * 675, 48 * 675, 60 * 675};
constexpr int kMinCount = 10;          // passes that make a counted rate
constexpr double kTailShare = 1e-3;    // share of a set's impostor pairs the tail model is fitted on
constexpr double kSafety[] = {1, 1.5, 2, 3, 4, 6, 8, 12, 16};

using Features = std::array<uint16_t, kActive>;  // features 30..57
using Rows = std::vector<ScoreQuadraticRow>;

double promise(int level) { return std::exp2(-kLevelScore[level] / 2048.0); }

struct Attempt {
  std::vector<Features> pairs;  // the attempt's pairs that reach the last stage
};

struct SetData {
  std::string name;
  uint64_t impostor_total = 0;
  std::vector<Features> impostors;  // reaching the last stage
  uint64_t genuine_total = 0;
  std::vector<Features> genuine;
  std::vector<Attempt> attempts;  // the service's genuine attempts
};

template <typename T>
bool get(std::ifstream& in, T& v) {
  return static_cast<bool>(in.read(reinterpret_cast<char*>(&v), sizeof v));
}

struct PairRecord {
  uint32_t a, b;
  bool reached;
  Features x;
};

std::vector<PairRecord> read_pairs(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read\n", file.string().c_str());
    std::exit(1);
  }
  std::vector<PairRecord> out;
  PairRecord r{};
  uint8_t reached = 0;
  std::array<uint16_t, kFeatures> all{};
  while (get(in, r.a) && get(in, r.b) && get(in, reached)) {
    r.reached = reached != 0;
    if (r.reached) {
      if (!in.read(reinterpret_cast<char*>(all.data()), sizeof all)) break;
      std::copy(all.begin() + kFirst, all.end(), r.x.begin());
    }
    out.push_back(r);
  }
  return out;
}

// (finger, impression) of each window of a windows file.
std::vector<std::pair<int, int>> read_window_ids(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::pair<int, int>> ids;
  int32_t finger, impression, top, left;
  uint16_t length;
  while (get(in, finger) && get(in, impression) && get(in, top) && get(in, left) && get(in, length)) {
    in.seekg(length, std::ios::cur);
    ids.emplace_back(finger, impression);
  }
  return ids;
}

SetData load_set(const fs::path& data, const std::string& name) {
  SetData s;
  s.name = name;
  const fs::path dir = data / name;
  for (const PairRecord& r : read_pairs(dir / "impostors.pairs")) {
    ++s.impostor_total;
    if (r.reached) s.impostors.push_back(r.x);
  }
  for (const PairRecord& r : read_pairs(dir / "genuine.pairs")) {
    ++s.genuine_total;
    if (r.reached) s.genuine.push_back(r.x);
  }
  const auto ids = read_window_ids(dir / "crops.win");
  std::map<std::pair<int, int>, Attempt> by_attempt;
  for (const PairRecord& r : read_pairs(dir / "service.pairs")) {
    Attempt& a = by_attempt[ids.at(r.a)];
    if (r.reached) a.pairs.push_back(r.x);
  }
  std::ifstream count(dir / "attempts");
  int attempts = 0;
  count >> attempts;
  for (auto& [id, a] : by_attempt) s.attempts.push_back(std::move(a));
  // Attempts whose probe the engine refused have no pairs at all.
  while (static_cast<int>(s.attempts.size()) < attempts) s.attempts.push_back({});
  std::fprintf(stderr, "%s: %llu impostor pairs (%zu reach the last stage), %llu genuine pairs (%zu reach it), "
               "%zu service attempts\n", name.c_str(), static_cast<unsigned long long>(s.impostor_total),
               s.impostors.size(), static_cast<unsigned long long>(s.genuine_total), s.genuine.size(),
               s.attempts.size());
  return s;
}

// ---------------------------------------------------------------------------
// The model.

Rows built_rows() { return Rows(score_rows_light_verify(), score_rows_light_verify() + kFeatures); }

int evaluate(const Rows& rows, const Features& x) {
  int32_t v[kFeatures] = {};
  for (int j = 0; j < kActive; ++j) v[kFirst + j] = x[j];
  ScoreModel m{const_cast<ScoreQuadraticRow*>(rows.data()), kFeatures, score_model_eval_quadratic, nullptr};
  int32_t s = 0;
  score_model_evaluate(&m, v, kFeatures, &s, nullptr);
  return std::clamp(s, 0, 65535);
}

// The smallest raw score of the last stage that each level accepts.
std::array<int, kLevels> level_raw() {
  std::array<int, kLevels> r{};
  const FarThresholdTable* table = far_table_light_verify_model();
  for (int l = 0; l < kLevels; ++l) {
    int raw = 0;
    while (raw < 65535 && far_score_from_thresholds(static_cast<uint16_t>(raw), 1, table) < kLevelScore[l]) ++raw;
    r[static_cast<std::size_t>(l)] = raw;
  }
  return r;
}
const std::array<int, kLevels> kLevelRaw = level_raw();

// ---------------------------------------------------------------------------
// Tail model: a generalised Pareto distribution over the exceedances of the
// top share of a set's impostor scores.

struct Tail {
  double u = 0;      // threshold: the smallest score of the top share
  double rate = 0;   // share of all pairs above u
  double sigma = 1;  // scale
  double xi = 0;     // shape, held at 0 or above
  double fitted_xi = 0;
  bool valid = false;
  double survival(double t) const {
    if (!valid) return 0;
    if (t <= u) return rate;
    const double y = t - u;
    if (xi < 1e-9) return rate * std::exp(-y / sigma);
    return rate * std::pow(1 + xi * y / sigma, -1 / xi);
  }
};

double gpd_loglik(const std::vector<double>& y, double sigma, double xi) {
  double l = 0;
  for (double v : y) {
    if (std::fabs(xi) < 1e-9) {
      l += -std::log(sigma) - v / sigma;
    } else {
      const double z = 1 + xi * v / sigma;
      if (z <= 0) return -1e300;
      l += -std::log(sigma) - (1 / xi + 1) * std::log(z);
    }
  }
  return l;
}

// Maximum likelihood over a grid of shapes, the scale by golden section.
Tail fit_tail(std::vector<double> scores, uint64_t total) {
  Tail t;
  if (total == 0) return t;
  const auto k = static_cast<std::size_t>(std::max(50.0, kTailShare * static_cast<double>(total)));
  if (scores.size() <= k) return t;
  std::nth_element(scores.begin(), scores.end() - static_cast<std::ptrdiff_t>(k) - 1, scores.end());
  t.u = *(scores.end() - static_cast<std::ptrdiff_t>(k) - 1);
  std::vector<double> y;
  for (double s : scores)
    if (s > t.u) y.push_back(s - t.u);
  if (y.size() < 20) return t;
  t.rate = static_cast<double>(y.size()) / static_cast<double>(total);
  const double mean = std::accumulate(y.begin(), y.end(), 0.0) / static_cast<double>(y.size());
  double best = -1e301;
  const auto try_shape = [&](double xi) {
    double lo = std::log(mean) - 4, hi = std::log(mean) + 4;
    for (int it = 0; it < 40; ++it) {
      const double m1 = lo + (hi - lo) * 0.382, m2 = lo + (hi - lo) * 0.618;
      if (gpd_loglik(y, std::exp(m1), xi) < gpd_loglik(y, std::exp(m2), xi)) lo = m1;
      else hi = m2;
    }
    const double sigma = std::exp((lo + hi) / 2), l = gpd_loglik(y, sigma, xi);
    if (l > best) best = l, t.sigma = sigma, t.fitted_xi = xi;
  };
  // Shapes -0.5..1 in steps of 0.05, then 0.01 around the best.
  for (int i = 0; i <= 30; ++i) try_shape(-0.5 + 0.05 * i);
  const double coarse = t.fitted_xi;
  for (int i = -4; i <= 4; ++i) try_shape(coarse + 0.01 * i);
  t.xi = t.fitted_xi;
  if (t.xi < 0) {
    t.xi = 0;
    t.sigma = mean;  // the exponential tail's estimate
  }
  t.valid = true;
  return t;
}

// Impostor pass rate of a set at a raw-score threshold: counted below the
// tail model's threshold, the larger of the count and the model above it.
struct Rate {
  uint64_t count = 0;
  double counted = 0;
  double modelled = 0;
  double used = 0;
};

Rate pass_rate(const std::vector<double>& sorted_desc, uint64_t total, const Tail& tail, double threshold) {
  Rate r;
  // Scores at or above the threshold pass.
  const auto it = std::upper_bound(sorted_desc.begin(), sorted_desc.end(), threshold,
                                   [](double t, double s) { return s < t; });
  r.count = static_cast<uint64_t>(it - sorted_desc.begin());
  r.counted = static_cast<double>(r.count) / static_cast<double>(total);
  // Integer scores: at or above t is above t - 0.5.
  r.modelled = tail.survival(threshold - 0.5);
  // Within the tail the larger of the two, which keeps the rate falling as
  // the threshold rises.
  r.used = threshold - 0.5 > tail.u && tail.valid ? std::max(r.counted, r.modelled) : r.counted;
  return r;
}

// ---------------------------------------------------------------------------
// Fitting.

struct Standard {
  std::vector<int> fitted;  // feature indices (30..57)
  std::array<double, kFeatures> mean{}, sd{};
  std::array<int, kFeatures> maximum{};
};

Standard standardise(const std::vector<const SetData*>& sets) {
  Standard st;
  for (int j = kFirst; j < kFeatures; ++j) {
    if (j == kGivenA || j == kGivenB) continue;
    double m[2] = {0, 0}, m2[2] = {0, 0}, n[2] = {0, 0};
    int mx = 0;
    for (const SetData* s : sets)
      for (int cls = 0; cls < 2; ++cls)
        for (const Features& x : cls ? s->genuine : s->impostors) {
          const double v = x[static_cast<std::size_t>(j - kFirst)];
          m[cls] += v, m2[cls] += v * v, n[cls] += 1;
          mx = std::max(mx, static_cast<int>(v));
        }
    if (n[0] == 0 || n[1] == 0) continue;
    const double mean = 0.5 * (m[0] / n[0] + m[1] / n[1]);
    const double sq = 0.5 * (m2[0] / n[0] + m2[1] / n[1]);
    const double sd = std::sqrt(std::max(0.0, sq - mean * mean));
    st.mean[static_cast<std::size_t>(j)] = mean;
    st.sd[static_cast<std::size_t>(j)] = sd;
    st.maximum[static_cast<std::size_t>(j)] = mx;
    if (sd >= 0.5) st.fitted.push_back(j);
  }
  return st;
}

double z_of(const Standard& st, const Features& x, int j) {
  return (x[static_cast<std::size_t>(j - kFirst)] - st.mean[static_cast<std::size_t>(j)]) /
         st.sd[static_cast<std::size_t>(j)];
}

// Solves a x = b (Gaussian elimination with partial pivoting).
std::vector<double> solve(std::vector<std::vector<double>> a, std::vector<double> b) {
  const std::size_t n = b.size();
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t p = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    std::swap(b[c], b[p]);
    if (std::fabs(a[c][c]) < 1e-12) continue;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = a[r][c] / a[c][c];
      for (std::size_t k = c; k < n; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  std::vector<double> x(n, 0);
  for (std::size_t c = 0; c < n; ++c) x[c] = std::fabs(a[c][c]) < 1e-12 ? 0 : b[c] / a[c][c];
  return x;
}

// Fisher's discriminant: genuine pairs against the impostor pairs whose
// projection on `previous` (when given) lies in the top `share`; the two
// classes' covariances pooled with equal weight, a small ridge. The result
// is scaled to a largest magnitude of 1.
std::vector<double> fisher(const Standard& st, const std::vector<const SetData*>& sets,
                           const std::vector<double>* previous, double share) {
  const std::size_t d = st.fitted.size();
  const auto zvec = [&](const Features& x, std::vector<double>& z) {
    for (std::size_t k = 0; k < d; ++k) z[k] = z_of(st, x, st.fitted[k]);
  };
  const auto project = [&](const Features& x) {
    double v = 0;
    for (std::size_t k = 0; k < d; ++k) v += (*previous)[k] * z_of(st, x, st.fitted[k]);
    return v;
  };
  double cut = -1e300;
  if (previous) {
    std::vector<double> v;
    for (const SetData* s : sets)
      for (const Features& x : s->impostors) v.push_back(project(x));
    const auto keep = static_cast<std::size_t>(std::max(1.0, share * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.end() - static_cast<std::ptrdiff_t>(keep), v.end());
    cut = *(v.end() - static_cast<std::ptrdiff_t>(keep));
  }
  const auto used = [&](int cls, const Features& x) { return cls || !previous || project(x) >= cut; };
  std::vector<double> mean[2] = {std::vector<double>(d, 0), std::vector<double>(d, 0)};
  double n[2] = {0, 0};
  std::vector<double> z(d);
  for (const SetData* s : sets)
    for (int cls = 0; cls < 2; ++cls)
      for (const Features& x : cls ? s->genuine : s->impostors) {
        if (!used(cls, x)) continue;
        zvec(x, z);
        for (std::size_t k = 0; k < d; ++k) mean[cls][k] += z[k];
        n[cls] += 1;
      }
  for (int cls = 0; cls < 2; ++cls)
    for (double& m : mean[cls]) m /= std::max(1.0, n[cls]);
  std::vector<std::vector<double>> cov(d, std::vector<double>(d, 0));
  for (const SetData* s : sets)
    for (int cls = 0; cls < 2; ++cls)
      for (const Features& x : cls ? s->genuine : s->impostors) {
        if (!used(cls, x)) continue;
        zvec(x, z);
        const double w = 0.5 / n[cls];
        for (std::size_t a = 0; a < d; ++a)
          for (std::size_t b = 0; b <= a; ++b) cov[a][b] += w * (z[a] - mean[cls][a]) * (z[b] - mean[cls][b]);
      }
  for (std::size_t a = 0; a < d; ++a) {
    for (std::size_t b = 0; b < a; ++b) cov[b][a] = cov[a][b];
    cov[a][a] += 0.05;
  }
  std::vector<double> diff(d);
  for (std::size_t k = 0; k < d; ++k) diff[k] = mean[1][k] - mean[0][k];
  std::vector<double> w = solve(cov, diff);
  double top = 0;
  for (double v : w) top = std::max(top, std::fabs(v));
  if (top > 0)
    for (double& v : w) v /= top;
  return w;
}

// The given rows' share of the model's sum, as the model computes it.
int64_t given_sum(const Features& x) {
  const ScoreQuadraticRow* rows = score_rows_light_verify();
  int64_t s = 0;
  for (int j : {kGivenA, kGivenB}) {
    const ScoreQuadraticRow& r = rows[j];
    int64_t v = x[static_cast<std::size_t>(j - kFirst)];
    v = std::clamp<int64_t>(v, r.minimum, r.maximum);
    const uint32_t X = static_cast<uint32_t>(v) << 16;
    const uint32_t D = X > r.mean ? X - r.mean : r.mean - X;
    if (r.spread == 0) continue;
    int64_t t = static_cast<int64_t>(r.weight) * D / r.spread;
    if (X < r.mean) t = -t;
    const int64_t u = static_cast<int64_t>((static_cast<uint64_t>(D) * D) / r.spread) * r.quadratic_weight /
                      static_cast<int64_t>(r.spread);
    s += t + u;
  }
  return s;
}

int given_weight() {
  const ScoreQuadraticRow* rows = score_rows_light_verify();
  int w = 0;
  for (int j : {kGivenA, kGivenB}) w += std::abs(rows[j].weight) + std::abs(rows[j].quadratic_weight);
  return w;
}

// Refines a direction for the tail: coordinate steps on the weights that
// raise the genuine pairs' smoothed pass count at the threshold that 1 in
// 100000 of the sets' impostor pairs reach (the sum being the given rows'
// plus a times the direction's projection). The smoothing is a logistic of
// the margin over the threshold, in units of the impostor tail's scale
// there; the impostors that can decide the threshold are the top ones under
// the current weights, chosen again after every round.
std::vector<double> ascend(const Standard& st, const std::vector<const SetData*>& sets, std::vector<double> w,
                           double a) {
  const std::size_t d = w.size();
  double total = 0;
  for (const SetData* s : sets) total += static_cast<double>(s->impostor_total);
  const auto m = static_cast<std::size_t>(std::max(1.0, std::round(1e-5 * total)));
  const auto m10 = static_cast<std::size_t>(std::max(2.0, std::round(1e-4 * total)));
  std::vector<std::vector<float>> gz;  // genuine z vectors
  std::vector<double> gg;              // their given sums
  for (const SetData* s : sets)
    for (const Features& x : s->genuine) {
      std::vector<float> z(d);
      for (std::size_t k = 0; k < d; ++k) z[k] = static_cast<float>(z_of(st, x, st.fitted[k]));
      gz.push_back(std::move(z));
      gg.push_back(static_cast<double>(given_sum(x)));
    }
  const auto project = [&](const Features& x) {
    double v = static_cast<double>(given_sum(x));
    for (std::size_t k = 0; k < d; ++k) v += a * w[k] * z_of(st, x, st.fitted[k]);
    return v;
  };
  for (int round = 0; round < 4; ++round) {
    // The impostors that can reach the threshold: the top 2 in 1000.
    std::vector<std::pair<double, const Features*>> all;
    for (const SetData* s : sets)
      for (const Features& x : s->impostors) all.emplace_back(project(x), &x);
    const std::size_t keep = std::min(all.size(), std::max<std::size_t>(m10 * 20, 1000));
    std::nth_element(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(keep - 1), all.end(),
                     [](const auto& p, const auto& q) { return p.first > q.first; });
    all.resize(keep);
    std::vector<std::vector<float>> iz;
    std::vector<double> iv;
    for (const auto& [v, x] : all) {
      std::vector<float> z(d);
      for (std::size_t k = 0; k < d; ++k) z[k] = static_cast<float>(z_of(st, *x, st.fitted[k]));
      iz.push_back(std::move(z));
      iv.push_back(v);
    }
    std::vector<double> gv(gg.size());
    for (std::size_t i = 0; i < gg.size(); ++i) {
      gv[i] = gg[i];
      for (std::size_t k = 0; k < d; ++k) gv[i] += a * w[k] * gz[i][k];
    }
    const auto objective = [&](const std::vector<double>& imp, const std::vector<double>& gen) {
      std::vector<double> t = imp;
      std::nth_element(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(m - 1), t.end(), std::greater<>());
      const double tau = t[m - 1];
      std::nth_element(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(m10 - 1), t.end(), std::greater<>());
      const double scale = std::max(1e-9, (tau - t[m10 - 1]) / std::log(10.0));
      double j = 0;
      for (double v : gen) j += 1 / (1 + std::exp(-(v - tau) / scale));
      return j;
    };
    double best = objective(iv, gv);
    bool moved = false;
    for (std::size_t k = 0; k < d; ++k)
      for (double step : {0.2, -0.2, 0.05, -0.05}) {
        std::vector<double> iv2 = iv, gv2 = gv;
        for (std::size_t i = 0; i < iv2.size(); ++i) iv2[i] += a * step * iz[i][k];
        for (std::size_t i = 0; i < gv2.size(); ++i) gv2[i] += a * step * gz[i][k];
        const double j = objective(iv2, gv2);
        if (j > best + 1e-6) {
          best = j, w[k] += step, iv.swap(iv2), gv.swap(gv2), moved = true;
          break;
        }
      }
    if (!moved) break;
  }
  double top = 0;
  for (double v : w) top = std::max(top, std::fabs(v));
  if (top > 0)
    for (double& v : w) v /= top;
  return w;
}

// The directions tried: Fisher's discriminant against every impostor pair
// that reaches the last stage, again against the top 10 % and the top 1 % of
// them, and the top-10 % one refined for the tail.
constexpr int kVariants = 4;

std::vector<double> direction_for(const Standard& st, const std::vector<const SetData*>& sets, int variant) {
  const std::vector<double> first = fisher(st, sets, nullptr, 1);
  switch (variant) {
    case 0: return first;
    case 1: return fisher(st, sets, &first, 0.1);
    case 2: return fisher(st, sets, &first, 0.01);
    default: return ascend(st, sets, fisher(st, sets, &first, 0.1), 1000);
  }
}

// A candidate model: direction, the fitted part's weight a against the
// given rows, the weight scale c, the offset d of the sum.
struct Candidate {
  int variant = 0;
  double a = 0, c = 0, d = 0;
  double k = 1;
  Rows rows;
  std::array<long, kLevels> accepted{};  // genuine attempts of the fit sets
  long attempts = 0;
  bool valid = false;
  std::string left_out;  // the fit set these rows were not fitted on
  std::vector<double> w;  // the direction the rows were made from
};

// The model's total weight (the given rows' and the fitted ones' at scale
// c), whose eighth divides the sum into the score.
int weight_sum(const std::vector<double>& w, double c) {
  int sum = given_weight();
  for (double x : w) sum += static_cast<int>(std::fabs(std::round(c * x)));
  return sum;
}

uint32_t fixed16(double v) {
  return static_cast<uint32_t>(std::llround(std::clamp(v, 0.0, 65535.99) * 65536.0));
}

// The rows of a candidate, or empty when a value leaves its field.
Rows make_rows(const Standard& st, const std::vector<double>& w, double a, double c, double d) {
  Rows rows(kFeatures, ScoreQuadraticRow{});
  const ScoreQuadraticRow* given = score_rows_light_verify();
  rows[kGivenA] = given[kGivenA];
  rows[kGivenB] = given[kGivenB];
  // The offset raises the means of the features whose weight has the
  // opposite sign of the shift (a mean cannot go below 0).
  double w2 = 0;
  for (std::size_t k = 0; k < w.size(); ++k)
    if ((d < 0) == (w[k] > 0)) w2 += w[k] * w[k];
  for (std::size_t k = 0; k < w.size(); ++k) {
    const int j = st.fitted[k];
    ScoreQuadraticRow& r = rows[static_cast<std::size_t>(j)];
    const double weight = std::round(c * w[k]);
    if (std::fabs(weight) > 32767) return {};
    r.weight = static_cast<int16_t>(weight);
    r.quadratic_weight = 0;
    r.minimum = 0;
    r.maximum = static_cast<uint16_t>(std::min(st.maximum[static_cast<std::size_t>(j)], 65535));
    const double sd = st.sd[static_cast<std::size_t>(j)];
    const double spread = sd * c / a;
    if (spread >= 65535.99 || spread * 65536 < 1) return {};
    // The realised factor is weight / spread, so the mean moves by the
    // share of the offset at that factor.
    double mean = st.mean[static_cast<std::size_t>(j)];
    if (w2 > 0 && (d < 0) == (w[k] > 0)) mean -= d * sd * w[k] / (a * w2);
    if (mean < 0 || mean >= 65535.99) return {};
    r.spread = static_cast<uint32_t>(std::llround(spread * 65536.0));
    r.mean = fixed16(mean);
  }
  return rows;
}

// Per set: the direction's values of its impostor pairs (descending) and
// the tail fitted to them.
struct SetProjection {
  std::vector<double> impostors;  // descending
  Tail tail;
  uint64_t total = 0;
};

// Smallest threshold at which a set's used pass rate is at most p.
double threshold_for(const SetProjection& sp, double p) {
  double lo = sp.impostors.empty() ? 0 : sp.impostors.back() - 1;
  double hi = sp.impostors.empty() ? 1 : sp.impostors.front() + 1;
  // Widen the bracket until the tail model agrees too.
  while (pass_rate(sp.impostors, sp.total, sp.tail, hi).used > p) hi += (hi - lo) + 1;
  if (pass_rate(sp.impostors, sp.total, sp.tail, lo).used <= p) return lo;
  for (int it = 0; it < 80; ++it) {
    const double mid = 0.5 * (lo + hi);
    (pass_rate(sp.impostors, sp.total, sp.tail, mid).used > p ? lo : hi) = mid;
  }
  return hi;
}

struct Fit {
  Candidate best;
  Standard st;
};

// Steps 1-4 on the given sets with safety factor k, for one direction
// variant or (variant -1) the best of them on these sets.
Fit fit_on(const std::vector<const SetData*>& sets, double k, bool verbose, int variant) {
  Fit out;
  out.st = standardise(sets);
  const Standard& st = out.st;
  long attempts = 0;
  for (const SetData* s : sets) attempts += static_cast<long>(s->attempts.size());

  for (int v = 0; v < kVariants; ++v) {
    if (variant >= 0 && v != variant) continue;
    const std::vector<double> w = direction_for(st, sets, v);
    const auto project = [&](const Features& x, double a) {
      double u = static_cast<double>(given_sum(x));
      for (std::size_t q = 0; q < w.size(); ++q) u += a * w[q] * z_of(st, x, st.fitted[q]);
      return u;
    };
    for (double a = 125; a <= 128000; a *= 2) {
      std::vector<SetProjection> proj(sets.size());
      for (std::size_t i = 0; i < sets.size(); ++i) {
        SetProjection& p = proj[i];
        p.total = sets[i]->impostor_total;
        p.impostors.reserve(sets[i]->impostors.size());
        for (const Features& x : sets[i]->impostors) p.impostors.push_back(project(x, a));
        std::sort(p.impostors.begin(), p.impostors.end(), std::greater<>());
        p.tail = fit_tail(p.impostors, p.total);
      }
      // Per set and level, the smallest value the scale allows to pass.
      std::array<double, kLevels> tau{};
      for (int l = 0; l < kLevels; ++l) {
        tau[static_cast<std::size_t>(l)] = -1e300;
        for (const SetProjection& p : proj)
          tau[static_cast<std::size_t>(l)] = std::max(tau[static_cast<std::size_t>(l)], threshold_for(p, promise(l) / k));
      }
      // Best value of each genuine attempt.
      std::vector<double> attempt_best;
      for (const SetData* s : sets)
        for (const Attempt& at : s->attempts) {
          double b = -1e300;
          for (const Features& x : at.pairs) b = std::max(b, project(x, a));
          attempt_best.push_back(b);
        }
      for (double c = 500; c <= 32767; c *= std::sqrt(2.0)) {
        const double wq = std::max(1, weight_sum(w, c) >> 3);
        // Level thresholds in the sum's units, before the offset.
        double d = 1e300;
        std::array<double, kLevels> theta{};
        for (int l = 0; l < kLevels; ++l) {
          theta[static_cast<std::size_t>(l)] = (kLevelRaw[static_cast<std::size_t>(l)] - 4096) * wq / 4096.0;
          d = std::min(d, theta[static_cast<std::size_t>(l)] - tau[static_cast<std::size_t>(l)]);
        }
        Candidate cand;
        cand.variant = v;
        cand.a = a, cand.c = c, cand.d = d, cand.k = k;
        cand.attempts = attempts;
        for (int l = 0; l < kLevels; ++l)
          cand.accepted[static_cast<std::size_t>(l)] = std::count_if(
              attempt_best.begin(), attempt_best.end(),
              [&](double b) { return b + d >= theta[static_cast<std::size_t>(l)]; });
        cand.rows = make_rows(st, w, a, c, d);
        if (cand.rows.empty()) continue;
        cand.valid = true;
        cand.w = w;
        const auto better = [](const Candidate& x, const Candidate& y) {
          for (int l = kLevels - 1; l >= 0; --l)
            if (x.accepted[static_cast<std::size_t>(l)] != y.accepted[static_cast<std::size_t>(l)])
              return x.accepted[static_cast<std::size_t>(l)] > y.accepted[static_cast<std::size_t>(l)];
          return false;
        };
        if (!out.best.valid || better(cand, out.best)) out.best = cand;
      }
    }
  }
  if (verbose && out.best.valid)
    std::printf("  chosen: direction %d, a %.0f, c %.0f, offset %.0f; level 1..5 genuine attempts accepted %ld %ld %ld "
                "%ld %ld of %ld\n", out.best.variant, out.best.a, out.best.c, out.best.d, out.best.accepted[0],
                out.best.accepted[1], out.best.accepted[2], out.best.accepted[3], out.best.accepted[4],
                out.best.attempts);
  return out;
}

// Exact figures of rows on one set.
struct Measure {
  std::array<Rate, kLevels> impostor{};
  std::array<long, kLevels> accepted{};
  long attempts = 0;
  Tail tail;
  std::vector<double> scores;  // descending
  uint64_t total = 0;
};

Measure measure(const Rows& rows, const SetData& s) {
  Measure m;
  m.total = s.impostor_total;
  m.scores.reserve(s.impostors.size());
  for (const Features& x : s.impostors) m.scores.push_back(evaluate(rows, x));
  std::sort(m.scores.begin(), m.scores.end(), std::greater<>());
  m.tail = fit_tail(m.scores, m.total);
  for (int l = 0; l < kLevels; ++l)
    m.impostor[static_cast<std::size_t>(l)] = pass_rate(m.scores, m.total, m.tail, kLevelRaw[static_cast<std::size_t>(l)]);
  m.attempts = static_cast<long>(s.attempts.size());
  for (const Attempt& at : s.attempts) {
    int b = -1;
    for (const Features& x : at.pairs) b = std::max(b, evaluate(rows, x));
    for (int l = 0; l < kLevels; ++l) m.accepted[static_cast<std::size_t>(l)] += b >= kLevelRaw[static_cast<std::size_t>(l)];
  }
  return m;
}

bool keeps_scale(const Measure& m, double k) {
  for (int l = 0; l < kLevels; ++l)
    if (m.impostor[static_cast<std::size_t>(l)].used > promise(l) / k) return false;
  return true;
}

// Lowers the offset of a fit's rows until the exact scores keep the scale
// (with factor k) on every fit set: the search above works on the sum
// without the model's per-term truncation.
void settle(Fit& f, const std::vector<const SetData*>& sets) {
  Candidate& c = f.best;
  const double unit = std::max(1, weight_sum(c.w, c.c) >> 3) / 4096.0;  // one raw-score unit in the sum
  for (int step = 0; step < 400; ++step) {
    bool ok = true;
    for (const SetData* s : sets) ok = ok && keeps_scale(measure(c.rows, *s), c.k);
    if (ok) return;
    c.d -= unit;
    c.rows = make_rows(f.st, c.w, c.a, c.c, c.d);
    if (c.rows.empty()) break;
  }
  std::fprintf(stderr, "the exact rows could not be settled\n");
  std::exit(1);
}

Fit fit_and_settle(const std::vector<const SetData*>& sets, double k, bool verbose, int variant) {
  Fit f = fit_on(sets, k, verbose, variant);
  if (!f.best.valid) {
    std::fprintf(stderr, "no candidate rows\n");
    std::exit(1);
  }
  settle(f, sets);
  return f;
}

void print_measure_header() {
  std::printf("  %-26s %-12s", "set", "rows");
  for (int l = 1; l <= kLevels; ++l) std::printf("   level %d impostor pass (promise %.1e)", l, promise(l - 1));
  std::printf("   genuine attempts accepted at levels 1..5\n");
}

std::string measure_line(const std::string& set, const char* rows, const Measure& m) {
  std::string out;
  char buf[160];
  std::snprintf(buf, sizeof buf, "  %-26s %-12s", set.c_str(), rows);
  out += buf;
  for (int l = 0; l < kLevels; ++l) {
    const Rate& r = m.impostor[static_cast<std::size_t>(l)];
    const bool over = r.used > promise(l);
    std::snprintf(buf, sizeof buf, "   %8llu %.2e (tail %.2e)%s %s", static_cast<unsigned long long>(r.count),
                  r.counted, r.modelled, r.count >= kMinCount ? "c" : "t", over ? "OVER" : "ok  ");
    out += buf;
  }
  std::snprintf(buf, sizeof buf, "   %ld %ld %ld %ld %ld of %ld\n", m.accepted[0], m.accepted[1], m.accepted[2],
                m.accepted[3], m.accepted[4], m.attempts);
  return out + buf;
}

void print_measure(const std::string& set, const char* rows, const Measure& m) {
  std::fputs(measure_line(set, rows, m).c_str(), stdout);
}

// The tail model against the counts, at raw scores from the model's
// threshold upward.
void print_tail(const std::string& set, const Measure& m) {
  std::printf("  %s: generalised Pareto over raw score %.0f (%.2e of %llu pairs), scale %.1f, fitted shape %.2f, "
              "used %.2f\n", set.c_str(), m.tail.u, m.tail.rate, static_cast<unsigned long long>(m.total),
              m.tail.sigma, m.tail.fitted_xi, m.tail.xi);
  std::printf("    raw score   pairs at or above   counted     modelled\n");
  const double top = m.scores.empty() ? m.tail.u : m.scores.front();
  const int steps = 8;
  for (int i = 0; i <= steps; ++i) {
    const double t = std::round(m.tail.u + (top - m.tail.u) * i / steps);
    const Rate r = pass_rate(m.scores, m.total, m.tail, t);
    std::printf("    %9.0f   %17llu   %.3e   %.3e\n", t, static_cast<unsigned long long>(r.count), r.counted,
                r.modelled);
  }
}

void write_rows(const fs::path& file, const Rows& rows, const std::string& command, const Candidate& c) {
  std::ofstream out(file);
  out << "// Rows 31 and 33..57 of the light verification engine's last-stage score\n"
         "// model (rows 30 and 32 are the product's, in static_profiles.cpp).\n"
         "// Generated by bench/light_verify_fit (the procedure is in its header):\n"
         "// fitted on window pairs of the full prints of four shared sets so that\n"
         "// impostor pairs pass each security level at most as often as the\n"
         "// level's score promises. Do not edit; to make it again:\n";
  std::size_t start = 0;
  while (start < command.size()) {
    const std::size_t end = command.find('\n', start);
    out << "//   " << command.substr(start, end == std::string::npos ? std::string::npos : end - start) << "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  char line[200];
  std::snprintf(line, sizeof line, "// Chosen: direction %d, a %.0f, c %.0f, safety factor %.1f, fitted without %s.\n",
                c.variant, c.a, c.c, c.k, c.left_out.empty() ? "none" : c.left_out.c_str());
  out << line;
  for (int j = kFirst; j < kFeatures; ++j) {
    if (j == kGivenA || j == kGivenB) continue;
    const ScoreQuadraticRow& r = rows[static_cast<std::size_t>(j)];
    std::snprintf(line, sizeof line, "rows[%d] = ScoreQuadraticRow{%u, %u, %uu, %uu, %d, %d};\n", j, r.minimum,
                  r.maximum, r.mean, r.spread, r.weight, r.quadratic_weight);
    out << line;
  }
}

}  // namespace

int main(int argc, char** argv) {
  fs::path data, write;
  std::vector<std::string> fit_names, report_names;
  std::string command;
  std::vector<std::string>* list = nullptr;
  double given_k = 0;  // --safety K: skip the leave-one-out search (for trying settings)
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--fit") list = &fit_names;
    else if (a == "--report") list = &report_names;
    else if (a == "--data" && i + 1 < argc) data = argv[++i], list = nullptr;
    else if (a == "--write" && i + 1 < argc) write = argv[++i], list = nullptr;
    else if (a == "--command" && i + 1 < argc) command = argv[++i], list = nullptr;
    else if (a == "--safety" && i + 1 < argc) given_k = std::atof(argv[++i]), list = nullptr;
    else if (list && a.rfind("--", 0) != 0) list->push_back(a);
    else {
      std::fprintf(stderr, "usage: light_verify_fit --data DIR --fit SET... [--report SET...] [--write FILE] "
                           "[--command TEXT] [--safety K]\n");
      return 2;
    }
  }
  if (data.empty() || fit_names.size() < 2) {
    std::fprintf(stderr, "light_verify_fit: --data and at least two --fit sets are needed\n");
    return 2;
  }
  std::vector<SetData> fit_sets, report_sets;
  for (const std::string& n : fit_names) fit_sets.push_back(load_set(data, n));
  for (const std::string& n : report_names) report_sets.push_back(load_set(data, n));
  std::vector<const SetData*> all;
  for (const SetData& s : fit_sets) all.push_back(&s);

  std::printf("Levels 1..5: raw score at least");
  for (int r : kLevelRaw) std::printf(" %d", r);
  std::printf(" (engine score");
  for (int e : kLevelScore) std::printf(" %d", e);
  std::printf(")\n\n");

  // Step 5: for each direction variant, the smallest safety factor for
  // which the rows fitted with each fit set left out in turn keep every
  // level's promise on the set they never saw (and, by their fit, on the
  // other three). The rows of those folds are the candidates; the one that
  // accepts the most genuine attempts of all fit sets at level 5 (then
  // 4..1) is taken.
  Candidate chosen;
  std::array<long, kLevels> chosen_accepted{};
  const auto accepted_on_all = [&](const Rows& rows) {
    std::array<long, kLevels> a{};
    for (const SetData& s : fit_sets) {
      const Measure m = measure(rows, s);
      for (int l = 0; l < kLevels; ++l) a[static_cast<std::size_t>(l)] += m.accepted[static_cast<std::size_t>(l)];
    }
    return a;
  };
  const auto better = [](const std::array<long, kLevels>& x, const std::array<long, kLevels>& y) {
    for (int l = kLevels - 1; l >= 0; --l)
      if (x[static_cast<std::size_t>(l)] != y[static_cast<std::size_t>(l)])
        return x[static_cast<std::size_t>(l)] > y[static_cast<std::size_t>(l)];
    return false;
  };
  // The variants are searched side by side, one thread each; their logs
  // are printed in order afterwards.
  struct Found {
    Candidate rows;
    std::array<long, kLevels> accepted{};
  };
  std::vector<std::string> logs(kVariants);
  std::vector<std::vector<Found>> found(kVariants);
  const auto search = [&](int v) {
    std::string& log = logs[static_cast<std::size_t>(v)];
    char buf[200];
    for (double k : kSafety) {
      std::snprintf(buf, sizeof buf, "Direction %d, safety factor %.1f, each fit set left out in turn:\n", v, k);
      log += buf;
      bool all_keep = true;
      std::vector<Found> these;
      for (std::size_t out = 0; out < fit_sets.size(); ++out) {
        std::vector<const SetData*> rest;
        for (std::size_t i = 0; i < fit_sets.size(); ++i)
          if (i != out) rest.push_back(&fit_sets[i]);
        Fit f = fit_and_settle(rest, k, false, v);
        const Measure m = measure(f.best.rows, fit_sets[out]);
        std::snprintf(buf, sizeof buf, "  fitted: a %.0f, c %.0f, offset %.0f\n", f.best.a, f.best.c, f.best.d);
        log += buf;
        log += measure_line(fit_sets[out].name + " (left out)", "fitted", m);
        if (!keeps_scale(m, 1)) {
          all_keep = false;
          continue;
        }
        const std::array<long, kLevels> a = accepted_on_all(f.best.rows);
        std::snprintf(buf, sizeof buf,
                      "    a candidate: genuine attempts of all fit sets accepted at levels 1..5: %ld %ld %ld %ld %ld\n",
                      a[0], a[1], a[2], a[3], a[4]);
        log += buf;
        f.best.left_out = fit_sets[out].name;
        these.push_back({f.best, a});
      }
      if (all_keep) {
        found[static_cast<std::size_t>(v)] = std::move(these);
        break;
      }
    }
  };
  if (given_k <= 0) {
    std::vector<std::thread> threads;
    for (int v = 0; v < kVariants; ++v) threads.emplace_back(search, v);
    for (std::thread& t : threads) t.join();
    print_measure_header();
    for (int v = 0; v < kVariants; ++v) {
      std::fputs(logs[static_cast<std::size_t>(v)].c_str(), stdout);
      for (const Found& c : found[static_cast<std::size_t>(v)])
        if (!chosen.valid || better(c.accepted, chosen_accepted)) chosen = c.rows, chosen_accepted = c.accepted;
    }
  }
  if (given_k > 0) chosen = fit_and_settle(all, given_k, true, -1).best;
  if (!chosen.valid) {
    std::printf("no rows keep the scale on a set left out\n");
    return 1;
  }
  std::printf("\nChosen: direction %d, safety factor %.1f, fitted without %s.\n", chosen.variant, chosen.k,
              chosen.left_out.c_str());
  const Rows built = built_rows();

  std::printf("\nBuilt rows and the new rows:\n");
  print_measure_header();
  for (auto* sets : {&fit_sets, &report_sets})
    for (const SetData& s : *sets) {
      const std::string name = s.name + (sets == &fit_sets ? " (fit)" : " (report)");
      print_measure(name, "built", measure(built, s));
      print_measure(name, "new", measure(chosen.rows, s));
    }
  std::printf("\nTail model of the new rows against the counts:\n");
  for (auto* sets : {&fit_sets, &report_sets})
    for (const SetData& s : *sets) print_tail(s.name, measure(chosen.rows, s));

  std::printf("\nrows (minimum, maximum, mean and spread in 16.16, weight, quadratic weight):\n");
  for (int j = kFirst; j < kFeatures; ++j) {
    const ScoreQuadraticRow& r = chosen.rows[static_cast<std::size_t>(j)];
    std::printf("  rows[%d] = ScoreQuadraticRow{%u, %u, %uu, %uu, %d, %d};\n", j, r.minimum, r.maximum, r.mean,
                r.spread, r.weight, r.quadratic_weight);
  }
  if (!write.empty()) write_rows(write, chosen.rows, command, chosen);
  return 0;
}
