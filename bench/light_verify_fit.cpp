// Fits the missing rows of the last-stage model of the light verification
// engine (algorithm mode 4) on shared 160 x 160 prints and reports the
// engine's accuracy on a set kept apart.
//
//   light_verify_fit [--fit FOLDER]... [--eval FOLDER]...
//
// Defaults: fit on fvc2000-db4b-160 and fvc2002-db1b-part-160, evaluate on
// fvc2004-db4b-160 (folders of <finger>_<impression>.pgm, 500 dpi). The
// product's rows are fitted with --crop 96 (the 0x2031's image) on
// fvc2000-db1b-160, fvc2000-db3b-160, fvc2002-db4b-160 and
// fvc2004-db3b-500dpi-160.
//
// Procedure:
// 1. Every image is extracted by the light verification engine
//    (preset_create_light_verify, engine_extract_image).
// 2. Pairs: genuine = every two impressions of a finger, impostor = every
//    two impressions of different fingers. The last stage's match operation
//    (match_full, enrolled view first) gives the model's 58 features: 0..29
//    (card and grid, switched off in this engine) stay without weight, 30..56
//    are the grid-block sub-scores, 57 the keypoint sub-score.
// 3. Rows 30 and 32 are the product's and stay as they are. Each other
//    active feature gets minimum 0, maximum = its largest value on the fit
//    pairs, mean and spread = its mean and standard deviation over the fit
//    pairs (features that never vary get no weight), and a linear weight
//    from Fisher's discriminant of the standardised features (pooled
//    class covariances with a small ridge), no quadratic weight.
// 4. The discriminant's weights are scaled by the factor (a grid over
//    powers of two and their midpoints) that gives the lowest equal error
//    rate of the whole model, the product's rows included, on the fit pairs.
// 5. The spreads are widened by a common factor and the means shifted
//    together (each by its share of the weight). Among the settings that
//    keep the fit-set EER within a point of the best and let no impostor
//    pair of the fit sets above the one-candidate threshold of the first
//    FAR level below a quarter of one over their count (the threshold
//    table stays as given), the one that accepts the most genuine pairs at
//    the device API's level 5 is kept (ties: the impostor pass rates at
//    levels 1..6 closest to their nominal 1 in 2 .. 1 in 100).
// 6. The fitted rows are printed as the constexpr initialisers of
//    sdk/matchlib/engine/static_profiles.cpp, then the error rates of the
//    model score and of the whole engine (engine_verify_score) on the fit
//    and evaluation sets (all impostor pairs, and the FVC protocol's).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "accuracy_stats.h"
#include "support/pgm.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_stage_tables.h"
#include "zylscan/matchlib_verify.h"

namespace {

constexpr int kFeatures = LIGHT_VERIFY_MODEL_FEATURES;  // 58
constexpr int kFirstActive = 30;
constexpr int kGivenA = 30, kGivenB = 32;
// N of the FAR levels (FAR = 1 in N).
constexpr double kFarN[28] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1e3, 2e3, 5e3, 1e4, 2e4,
                              5e4, 1e5, 2e5, 5e5, 1e6, 2e6, 5e6, 1e7, 2e7, 5e7, 1e8, 2e8, 5e8, 1e9};
// The engine score (FAR scale) from which the device API's level 5 accepts:
// a wrapped score above 59, the engine score divided by 675.
constexpr int kDeviceLevel5 = 60 * 675;

struct Print {
  int finger;
  int impression;
  DataBlob* blob;
};

struct PairFeatures {
  std::vector<int32_t> x;
  bool genuine;
  bool fvc;  // part of the FVC protocol's pair lists
  int engine_score;
};

struct Set {
  std::string name;
  std::vector<Print> prints;
  std::vector<PairFeatures> pairs;
};

int crop = 0;  // --crop N: the N x N centres of the prints
bool from_built = false;
double tail_percent = 0;  // --tail P: refit against the top P % of impostor pairs  // --from-built: calibrate the built rows
int guard_option = 0;  // --guard L: the guard level, instead of the one from the impostor count

std::vector<Print> extract_folder(MatchEngine* engine, const std::filesystem::path& folder) {
  std::vector<Print> out;
  for (int f = 101; f <= 110; ++f)
    for (int i = 1; i <= 8; ++i) {
      const auto file = folder / (std::to_string(f) + "_" + std::to_string(i) + ".pgm");
      if (!std::filesystem::exists(file)) continue;
      const auto p = zyl::test::centre_crop(zyl::test::read_pgm(file.string()), crop);
      GrayImage* img = image_create(p.height, p.width, 500, 500, p.pixels.data(), 0);
      FingerInfo* info = finger_info_default();
      DataBlob* blob = nullptr;
      if (engine_extract_image(engine, img, info, &blob) == 0) out.push_back({f, i, blob});
      finger_info_release(info);
      image_release(img);
    }
  return out;
}

void collect_pairs(MatchEngine* engine, Set& set) {
  const StageMatchOps* last = keypoint_stage_ops(9);  // match_full
  MatchContext* ctx = engine_get_context(engine);
  for (std::size_t a = 0; a < set.prints.size(); ++a)
    for (std::size_t b = a + 1; b < set.prints.size(); ++b) {
      const Print& pa = set.prints[a];
      const Print& pb = set.prints[b];
      PairFeatures pf;
      pf.genuine = pa.finger == pb.finger;
      pf.fvc = pf.genuine || (pa.impression == 1 && pb.impression == 1);
      uint16_t* v = nullptr;
      uint16_t n = 0;
      RigidTransform* t = nullptr;
      const int st = last->match(ctx, pa.blob, pb.blob, &v, &n, &t);
      if (st != 0 || n != kFeatures) {
        static int shown = 0;
        if (shown++ < 5) std::fprintf(stderr, "match_full %d_%d %d_%d: status %d count %d\n", pa.finger, pa.impression, pb.finger, pb.impression, st, n);
        std::free(v);
        xform_release(t);
        pf.x.assign(kFeatures, 0);
      } else {
        pf.x.assign(v, v + n);
        std::free(v);
        xform_release(t);
      }
      DataBlob* gallery = pa.blob;
      uint16_t s = 0;
      pf.engine_score = engine_verify_score(engine, &gallery, 1, pb.blob, &s) == 0 ? s : 0;
      set.pairs.push_back(std::move(pf));
    }
}

int evaluate(const std::vector<ScoreQuadraticRow>& rows, const std::vector<int32_t>& x) {
  ScoreModel m{const_cast<ScoreQuadraticRow*>(rows.data()), kFeatures, score_model_eval_quadratic, nullptr};
  int32_t s = 0;
  score_model_evaluate(&m, x.data(), kFeatures, &s, nullptr);
  return std::clamp(s, 0, 65535);
}

double eer_of(const std::vector<ScoreQuadraticRow>& rows, const std::vector<const PairFeatures*>& pairs) {
  std::vector<int32_t> g, i;
  for (const PairFeatures* p : pairs) (p->genuine ? g : i).push_back(evaluate(rows, p->x));
  return zyl::test::equal_error_rate(g, i);
}

// Solves a x = b in place (Gaussian elimination with partial pivoting).
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

uint32_t fixed16(double v) { return static_cast<uint32_t>(std::llround(std::clamp(v, 0.0, 65535.0) * 65536.0)); }

// Shifts the means of the fitted rows so that the model's score moves by
// about `delta` (score units) for pairs whose features stay unclamped.
std::vector<ScoreQuadraticRow> shifted(std::vector<ScoreQuadraticRow> rows, const std::vector<int>& fitted,
                                       double delta) {
  double wsum = 0, w2 = 0;
  for (const ScoreQuadraticRow& r : rows) wsum += std::abs(r.weight) + std::abs(r.quadratic_weight);
  for (int j : fitted) w2 += double(rows[j].weight) * rows[j].weight;
  if (w2 <= 0) return rows;
  const double c = delta * std::max(1.0, std::floor(wsum / 8)) / 4096.0;  // change of the raw sum
  for (int j : fitted) {
    const double mean = rows[j].mean / 65536.0, spread = rows[j].spread / 65536.0;
    rows[j].mean = fixed16(mean - c * spread * rows[j].weight / w2);
  }
  return rows;
}

// Sum of squared log ratios between the impostor pass rates at the
// one-candidate thresholds of levels 1..6 and their nominal rates.
double calibration_error(const std::vector<ScoreQuadraticRow>& rows, const std::vector<const PairFeatures*>& pairs) {
  static constexpr double kNominal[] = {2, 5, 10, 20, 50, 100};
  const FarThresholdTable* t = far_table_light_verify_model();
  std::vector<int> imp;
  for (const PairFeatures* p : pairs)
    if (!p->genuine) imp.push_back(evaluate(rows, p->x));
  if (imp.empty()) return 0;
  double err = 0;
  for (int level = 1; level <= 6; ++level) {
    const int threshold = t->t[0][level];
    const auto passed = std::count_if(imp.begin(), imp.end(), [&](int s) { return s > threshold; });
    const double rate = (static_cast<double>(passed) + 0.5) / (static_cast<double>(imp.size()) + 1);
    err += std::pow(std::log(rate * kNominal[level - 1]), 2);
  }
  return err;
}

void report(const char* what, const std::vector<int32_t>& g, const std::vector<int32_t>& i) {
  const auto zero = std::count(g.begin(), g.end(), 0);
  std::printf("  %-34s EER %6.2f %%  FMR100 %6.2f %%  (%zu genuine, %zu impostor; %ld genuine at 0)\n", what,
              100 * zyl::test::equal_error_rate(g, i), 100 * zyl::test::fnmr_at_fmr(g, i, 0.01), g.size(), i.size(),
              static_cast<long>(zero));
}

void report_set(const Set& s, const std::vector<ScoreQuadraticRow>& rows) {
  std::printf("%s:\n", s.name.c_str());
  std::vector<ScoreQuadraticRow> given(kFeatures, ScoreQuadraticRow{});
  given[kGivenA] = score_rows_light_verify()[kGivenA];
  given[kGivenB] = score_rows_light_verify()[kGivenB];
  std::vector<int32_t> mg, mi, eg, ei, fg, fi, kg, ki, gg, gi;
  for (const PairFeatures& p : s.pairs) {
    const int m = evaluate(rows, p.x);
    (p.genuine ? mg : mi).push_back(m);
    (p.genuine ? gg : gi).push_back(evaluate(given, p.x));
    (p.genuine ? eg : ei).push_back(p.engine_score);
    (p.genuine ? kg : ki).push_back(p.x[kFeatures - 1]);
    if (p.fvc) (p.genuine ? fg : fi).push_back(p.engine_score);
  }
  report("keypoint sub-score (feature 57)", kg, ki);
  report("model score, the two given rows", gg, gi);
  report("model score, fitted rows", mg, mi);
  report("engine score (built-in rows)", eg, ei);
  report("engine score, FVC protocol", fg, fi);
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path shared = ZYL_SHARED_FINGERPRINTS;
  std::vector<std::filesystem::path> fit, eval;
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string opt = argv[k];
    if (opt == "--crop") crop = std::atoi(argv[k + 1]);
    else if (opt == "--tail") tail_percent = std::atof(argv[k + 1]);
    else if (opt == "--guard") guard_option = std::atoi(argv[k + 1]);
    else if (opt == "--from-built") from_built = std::atoi(argv[k + 1]) != 0;
    else if (opt == "--fit") fit.emplace_back(argv[k + 1]);
    else if (opt == "--eval") eval.emplace_back(argv[k + 1]);
    else {
      std::fprintf(stderr, "usage: light_verify_fit [--crop N] [--fit FOLDER]... [--eval FOLDER]...\n");
      return 2;
    }
  }
  if (fit.empty()) fit = {shared / "fvc2000-db4b-160", shared / "fvc2002-db1b-part-160"};
  if (eval.empty()) eval = {shared / "fvc2004-db4b-160"};

  MatchContext* ctx = ctx_create();
  MatchEngine* engine = preset_create_light_verify(ctx);
  std::vector<Set> fit_sets, eval_sets;
  for (auto* list : {&fit, &eval})
    for (const auto& folder : *list) {
      Set s;
      s.name = folder.filename().string();
      s.prints = extract_folder(engine, folder);
      collect_pairs(engine, s);
      (list == &fit ? fit_sets : eval_sets).push_back(std::move(s));
    }
  std::vector<const PairFeatures*> fit_pairs;
  for (const Set& s : fit_sets)
    for (const PairFeatures& p : s.pairs) fit_pairs.push_back(&p);
  if (fit_pairs.empty()) {
    std::fprintf(stderr, "no fit pairs\n");
    return 1;
  }

  // Standardisation of the features to fit.
  const ScoreQuadraticRow* given = score_rows_light_verify();
  std::vector<ScoreQuadraticRow> rows(kFeatures, ScoreQuadraticRow{});
  rows[kGivenA] = given[kGivenA];
  rows[kGivenB] = given[kGivenB];
  std::vector<int> fitted;
  std::vector<double> mean(kFeatures), sd(kFeatures);
  std::vector<int> maximum(kFeatures);
  for (int j = kFirstActive; j < kFeatures; ++j) {
    if (j == kGivenA || j == kGivenB) continue;
    double s = 0, s2 = 0;
    int mx = 0;
    for (const PairFeatures* p : fit_pairs) s += p->x[j], s2 += double(p->x[j]) * p->x[j], mx = std::max(mx, p->x[j]);
    const double n = static_cast<double>(fit_pairs.size());
    mean[j] = s / n;
    sd[j] = std::sqrt(std::max(0.0, s2 / n - mean[j] * mean[j]));
    maximum[j] = mx;
    if (sd[j] >= 0.5) fitted.push_back(j);
  }

  // Fisher's discriminant over the standardised features, genuine pairs
  // against the impostor pairs `use` lets in.
  const std::size_t d = fitted.size();
  auto z = [&](const PairFeatures* p, std::size_t k) { return (p->x[fitted[k]] - mean[fitted[k]]) / sd[fitted[k]]; };
  int ng = 0, ni = 0;
  auto fisher = [&](const std::vector<bool>& use) {
    std::vector<double> mg(d, 0), mi(d, 0);
    ng = ni = 0;
    for (std::size_t q = 0; q < fit_pairs.size(); ++q) {
      const PairFeatures* p = fit_pairs[q];
      if (!p->genuine && !use[q]) continue;
      auto& m = p->genuine ? mg : mi;
      (p->genuine ? ng : ni)++;
      for (std::size_t k = 0; k < d; ++k) m[k] += z(p, k);
    }
    for (std::size_t k = 0; k < d; ++k) mg[k] /= std::max(ng, 1), mi[k] /= std::max(ni, 1);
    std::vector<std::vector<double>> cov(d, std::vector<double>(d, 0));
    for (std::size_t q = 0; q < fit_pairs.size(); ++q) {
      const PairFeatures* p = fit_pairs[q];
      if (!p->genuine && !use[q]) continue;
      const auto& m = p->genuine ? mg : mi;
      const double share = 1.0 / (p->genuine ? ng : ni);
      for (std::size_t a = 0; a < d; ++a)
        for (std::size_t b = 0; b < d; ++b) cov[a][b] += share * (z(p, a) - m[a]) * (z(p, b) - m[b]);
    }
    for (std::size_t a = 0; a < d; ++a) cov[a][a] += 0.05;  // ridge
    std::vector<double> diff(d);
    for (std::size_t k = 0; k < d; ++k) diff[k] = mg[k] - mi[k];
    return solve(cov, diff);
  };
  std::vector<bool> use(fit_pairs.size(), true);
  std::vector<double> w = fisher(use);
  if (tail_percent > 0) {
    // Again against the impostor pairs that the first discriminant ranks
    // highest: the tail that decides the high levels.
    std::vector<double> v;
    for (const PairFeatures* p : fit_pairs) {
      if (p->genuine) continue;
      double t = 0;
      for (std::size_t k = 0; k < d; ++k) t += w[k] * z(p, k);
      v.push_back(t);
    }
    std::vector<double> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    const double cut = sorted[static_cast<std::size_t>((1 - tail_percent / 100.0) * (sorted.size() - 1))];
    for (std::size_t q = 0, k = 0; q < fit_pairs.size(); ++q)
      if (!fit_pairs[q]->genuine) use[q] = v[k++] >= cut;
    w = fisher(use);
  }
  double wmax = 0;
  for (double v : w) wmax = std::max(wmax, std::fabs(v));
  if (wmax <= 0) wmax = 1;

  // Scale of the fitted weights against the product's rows.
  double best_eer = 2, best_scale = 0;
  std::vector<ScoreQuadraticRow> best_rows = rows;
  for (double scale = 64; scale <= 32767; scale *= std::sqrt(2.0)) {
    std::vector<ScoreQuadraticRow> r = rows;
    for (std::size_t k = 0; k < d; ++k) {
      const int j = fitted[k];
      r[j].minimum = 0;
      r[j].maximum = static_cast<uint16_t>(std::min(maximum[j], 65535));
      r[j].mean = fixed16(mean[j]);
      r[j].spread = std::max<uint32_t>(1, static_cast<uint32_t>(std::llround(sd[j] * 65536.0)));
      r[j].weight = static_cast<int16_t>(std::lround(w[k] / wmax * scale));
      r[j].quadratic_weight = 0;
    }
    const double e = eer_of(r, fit_pairs);
    if (e < best_eer - 1e-9) best_eer = e, best_scale = scale, best_rows = r;
  }

  // Calibration: the spreads of the fitted rows are widened by a common
  // factor (which narrows the score range; the weights stay, so the
  // product's rows gain some influence) and the means shifted. Among the
  // settings whose fit-set EER stays within one point of the best and that
  // let no impostor pair of the fit sets above the one-candidate threshold
  // of the first level whose FAR is below a quarter of one over the
  // impostor count (the device API's level 5 lies several levels higher),
  // the one that accepts the most genuine pairs at the device API's level 5
  // is kept; ties go to the one closest to the nominal rates of levels 1..6.
  const FarThresholdTable* table = far_table_light_verify_model();
  std::size_t impostors = 0;
  for (const PairFeatures* p : fit_pairs) impostors += !p->genuine;
  int guard_level = 1;
  while (guard_level < 27 && kFarN[guard_level] < 4.0 * static_cast<double>(impostors)) ++guard_level;
  if (guard_option > 0) guard_level = guard_option;
  const int guard = table->t[0][guard_level];
  // The smallest model score that the device API's level 5 accepts.
  int level5 = 0;
  while (level5 < 65535 && far_score_from_thresholds(static_cast<uint16_t>(level5), 1, table) < kDeviceLevel5) ++level5;
  if (from_built) {
    // Calibrate the rows as built instead of the discriminant's.
    best_rows.assign(score_rows_light_verify(), score_rows_light_verify() + kFeatures);
    best_eer = eer_of(best_rows, fit_pairs);
    fitted.clear();
    for (int j = kFirstActive; j < kFeatures; ++j)
      if (j != kGivenA && j != kGivenB && best_rows[j].weight != 0) fitted.push_back(j);
  }
  double best_err = 1e300, best_delta = 0, best_widen = 1;
  long best_accepted = -1;
  std::vector<ScoreQuadraticRow> final_rows = best_rows;
  for (double widen : {1.0, 1.5, 2.0, 3.0, 4.0, 6.0, 8.0, 12.0, 16.0}) {
    std::vector<ScoreQuadraticRow> r = best_rows;
    for (int j : fitted) r[j].spread = static_cast<uint32_t>(std::min(4294967295.0, r[j].spread * widen));
    if (eer_of(r, fit_pairs) > best_eer + 0.01) continue;
    for (double delta = -4000; delta <= 4000; delta += 20) {
      std::vector<ScoreQuadraticRow> c = shifted(r, fitted, delta);
      long accepted = 0;
      bool safe = true;
      for (const PairFeatures* p : fit_pairs) {
        const int v = evaluate(c, p->x);
        if (p->genuine) accepted += v >= level5;
        else if (v > guard) safe = false;
      }
      if (!safe) continue;
      const double e = calibration_error(c, fit_pairs);
      if (accepted > best_accepted || (accepted == best_accepted && e < best_err))
        best_accepted = accepted, best_err = e, best_delta = delta, best_widen = widen, final_rows = c;
    }
  }
  {
    // The product's rows as built, for comparison.
    long g5 = 0, i5 = 0, gm = 0, im = 0, imax = 0;
    const std::vector<ScoreQuadraticRow> built(score_rows_light_verify(), score_rows_light_verify() + kFeatures);
    for (const PairFeatures* p : fit_pairs) {
      const int v = evaluate(built, p->x), f = evaluate(final_rows, p->x);
      if (p->genuine) g5 += v >= level5, gm += f >= level5;
      else i5 += v >= level5, im += f >= level5, imax = std::max<long>(imax, v);
    }
    std::printf("model scores at the device level 5: built rows pass %ld genuine, %ld impostor (largest impostor %ld); "
                "fitted rows %ld genuine, %ld impostor\n", g5, i5, imax, gm, im);
  }
  std::printf("no fit impostor above level %d (1 in %.0f, model score %d); device level 5 from model score %d\n",
              guard_level, kFarN[guard_level], guard, level5);

  std::printf("Fitted on");
  for (const Set& s : fit_sets) std::printf(" %s", s.name.c_str());
  std::printf(" (%d genuine, %d impostor pairs): weight scale %.0f, fit-set EER %.2f %%, spreads widened %.1f times, mean shift %.0f\n", ng,
              ni, best_scale, 100 * best_eer, best_widen, best_delta);
  std::printf("rows (minimum, maximum, mean and spread in 16.16, weight, quadratic weight):\n");
  for (int j = kFirstActive; j < kFeatures; ++j) {
    const ScoreQuadraticRow& r = final_rows[j];
    std::printf("  rows[%d] = ScoreQuadraticRow{%u, %u, %uu, %uu, %d, %d};\n", j, r.minimum, r.maximum, r.mean, r.spread,
                r.weight, r.quadratic_weight);
  }
  const FarThresholdTable* t = far_table_light_verify_model();
  std::vector<int> imp;
  for (const PairFeatures* p : fit_pairs)
    if (!p->genuine) imp.push_back(evaluate(final_rows, p->x));
  std::printf("impostor pass rate at the one-candidate thresholds, levels 1..9 (nominal 1/2 .. 1/1000):");
  for (int level = 1; level <= 9; ++level) {
    const auto passed = std::count_if(imp.begin(), imp.end(), [&](int s) { return s > t->t[0][level]; });
    std::printf(" %.4f", static_cast<double>(passed) / static_cast<double>(std::max<std::size_t>(imp.size(), 1)));
  }
  std::printf("\n");
  {
    std::vector<int> gen;
    for (const PairFeatures* p : fit_pairs)
      if (p->genuine) gen.push_back(evaluate(final_rows, p->x));
    std::sort(imp.begin(), imp.end());
    std::sort(gen.begin(), gen.end());
    std::printf("model score quantiles 1 10 50 90 99 %% impostor:");
    for (double q : {0.01, 0.1, 0.5, 0.9, 0.99}) std::printf(" %d", imp[static_cast<std::size_t>(q * (imp.size() - 1))]);
    std::printf("  genuine:");
    for (double q : {0.01, 0.1, 0.5, 0.9, 0.99}) std::printf(" %d", gen[static_cast<std::size_t>(q * (gen.size() - 1))]);
    std::printf("\n\n");
  }
  for (const Set& s : fit_sets) report_set(s, final_rows);
  for (const Set& s : eval_sets) report_set(s, final_rows);

  for (auto* sets : {&fit_sets, &eval_sets})
    for (Set& s : *sets)
      for (Print& p : s.prints) blob_release(p.blob);
  engine_release(engine);
  ctx_release(ctx);
  return 0;
}
