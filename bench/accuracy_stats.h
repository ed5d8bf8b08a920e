// Error rates of a verification engine from its genuine and impostor score
// lists, as the FVC evaluations report them. Scores are integers; a pair is
// accepted when its score is at least the threshold.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zyl::test {

struct ErrorRates {
  double fmr;   // impostor pairs accepted, 0..1
  double fnmr;  // genuine pairs rejected, 0..1
};

struct AccuracyFigures {
  double eer = 0;      // equal error rate, 0..1
  double fmr100 = 0;   // lowest FNMR with FMR <= 1 %
  double fmr1000 = 0;  // lowest FNMR with FMR <= 0.1 %
  std::size_t genuine = 0;
  std::size_t impostor = 0;
};

inline ErrorRates rates_at(const std::vector<std::int32_t>& genuine, const std::vector<std::int32_t>& impostor,
                           std::int64_t threshold) {
  const auto accepted = std::count_if(impostor.begin(), impostor.end(), [&](std::int32_t s) { return s >= threshold; });
  const auto rejected = std::count_if(genuine.begin(), genuine.end(), [&](std::int32_t s) { return s < threshold; });
  return {impostor.empty() ? 0.0 : static_cast<double>(accepted) / static_cast<double>(impostor.size()),
          genuine.empty() ? 0.0 : static_cast<double>(rejected) / static_cast<double>(genuine.size())};
}

// Every threshold at which a rate changes: each score, and one past the
// largest (everything rejected).
inline std::vector<std::int64_t> thresholds(const std::vector<std::int32_t>& genuine,
                                            const std::vector<std::int32_t>& impostor) {
  std::vector<std::int64_t> t(genuine.begin(), genuine.end());
  t.insert(t.end(), impostor.begin(), impostor.end());
  std::sort(t.begin(), t.end());
  t.erase(std::unique(t.begin(), t.end()), t.end());
  t.push_back(t.empty() ? 0 : t.back() + 1);
  return t;
}

// EER as the FVC evaluations define it: t1 is the last threshold at which
// FNMR <= FMR, t2 the first at which FNMR >= FMR; the EER lies between the
// rates there, and is reported as the middle of the tighter interval.
inline double equal_error_rate(const std::vector<std::int32_t>& genuine, const std::vector<std::int32_t>& impostor) {
  const std::vector<std::int64_t> ts = thresholds(genuine, impostor);
  ErrorRates at1{1, 0}, at2{0, 1};
  bool have1 = false, have2 = false;
  for (std::int64_t t : ts) {
    const ErrorRates r = rates_at(genuine, impostor, t);
    if (r.fnmr <= r.fmr) {
      at1 = r;
      have1 = true;
    }
    if (!have2 && r.fnmr >= r.fmr) {
      at2 = r;
      have2 = true;
    }
  }
  if (!have1) return (at2.fmr + at2.fnmr) / 2;
  if (!have2) return (at1.fmr + at1.fnmr) / 2;
  if (at1.fnmr + at1.fmr <= at2.fmr + at2.fnmr) return (at1.fnmr + at1.fmr) / 2;
  return (at2.fmr + at2.fnmr) / 2;
}

// Lowest FNMR over the thresholds whose FMR does not exceed max_fmr.
inline double fnmr_at_fmr(const std::vector<std::int32_t>& genuine, const std::vector<std::int32_t>& impostor,
                          double max_fmr) {
  double best = 1;
  for (std::int64_t t : thresholds(genuine, impostor)) {
    const ErrorRates r = rates_at(genuine, impostor, t);
    if (r.fmr <= max_fmr) best = std::min(best, r.fnmr);
  }
  return best;
}

inline AccuracyFigures accuracy(const std::vector<std::int32_t>& genuine, const std::vector<std::int32_t>& impostor) {
  AccuracyFigures f;
  f.genuine = genuine.size();
  f.impostor = impostor.size();
  f.eer = equal_error_rate(genuine, impostor);
  f.fmr100 = fnmr_at_fmr(genuine, impostor, 0.01);
  f.fmr1000 = fnmr_at_fmr(genuine, impostor, 0.001);
  return f;
}

// Median of a list of times (the mean of the two middle values for an even
// count); 0 for an empty list.
inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  const std::size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
  const double upper = v[mid];
  if (v.size() % 2) return upper;
  const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
  return (lower + upper) / 2;
}

}  // namespace zyl::test
