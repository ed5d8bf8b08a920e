// Score models: six kinds of feature-vector fusion, their stored form and
// their registry (a model's kind is known by its evaluate routine).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "common/byte_io.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_score.h"
#include "matchlib/core/score_model.h"

namespace zyl::matchlib {
namespace {

std::uint16_t magnitude16(std::int16_t w) {
  return static_cast<std::uint16_t>(w < 0 ? -static_cast<std::int32_t>(w) : w);
}

template <class Row>
constexpr bool kQuadratic = std::is_same_v<Row, ScoreQuadraticRow>;

// Kinds 2..5: every feature clamped, centred on its mean and scaled by its
// spread (16.16), weighted, and the sum normalised by the total weight.
template <class Row>
int eval_linear(const std::int32_t* features, int count, const void* rows_ptr, std::int32_t* out,
                ScoreTrace* trace, std::int32_t base) {
  *out = 0;
  const int n = count & 0xff;  // only the low 8 bits of the count are used
  const auto* rows = static_cast<const Row*>(rows_ptr);
  if (n == 0 || !rows || !features) return ML_OK;
  // The sum wraps like the 64-bit register it models: a stored model with
  // extreme rows must not make the arithmetic undefined.
  std::uint64_t sum = 0;
  std::int64_t total_weight = 0;
  for (int j = 0; j < n; ++j) {
    const Row& row = rows[j];
    std::int32_t x = features[j];
    if (x < static_cast<std::int32_t>(row.minimum)) x = row.minimum;
    if (static_cast<std::uint32_t>(x) > row.maximum) x = row.maximum;
    const std::uint32_t big_x = static_cast<std::uint32_t>(x) << 16;
    const std::uint32_t d = big_x >= row.mean ? big_x - row.mean : row.mean - big_x;
    std::int64_t t = 0;
    std::int64_t u = 0;
    if (row.spread != 0) {
      t = static_cast<std::int64_t>(row.weight) * static_cast<std::int64_t>(d) /
          static_cast<std::int64_t>(row.spread);
      if (big_x < row.mean) t = -t;
      if constexpr (kQuadratic<Row>) {
        const std::uint64_t q = static_cast<std::uint64_t>(d) * d / row.spread;
        // Wrapping product: well defined where a stored model overflows.
        const auto prod = static_cast<std::int64_t>(
            q * static_cast<std::uint64_t>(static_cast<std::int64_t>(row.quadratic_weight)));
        u = prod / static_cast<std::int64_t>(row.spread);
      }
    }
    sum += static_cast<std::uint64_t>(t) + static_cast<std::uint64_t>(u);
    total_weight += magnitude16(row.weight);
    float weight = row.weight;
    if constexpr (kQuadratic<Row>) {
      total_weight += magnitude16(row.quadratic_weight);
      weight += row.quadratic_weight;
    }
    if (trace) {
      trace[j] = ScoreTrace{features[j],
                            row.minimum,
                            row.maximum,
                            static_cast<float>(row.mean) / 65536.0f,
                            static_cast<float>(row.spread) / 65536.0f,
                            weight,
                            static_cast<float>(t) + static_cast<float>(u)};
    }
  }
  const std::int64_t divisor = std::max<std::int64_t>(1, total_weight >> 3);
  const auto scaled = static_cast<std::int64_t>(sum * 4096u);
  *out = static_cast<std::int32_t>(static_cast<std::uint64_t>(base) +
                                   static_cast<std::uint64_t>(scaled / divisor));
  return ML_OK;
}

// The linear kinds read one row per feature and cannot see how many rows
// they have: a vector longer than the model's rows is refused instead of
// reading past them.
bool rows_cover(const ScoreModel* m, int count) {
  const int kind = zyl::matchlib::score_model_kind(m);
  if (kind < 2 || kind > 5) return true;
  if (!m->rows) return true;
  return m->feature_count >= 0 && (count & 0xff) <= m->feature_count;
}

// Rounds half away from zero, saturating: a stored table whose points lie
// almost on top of each other can ask for more than 32 bits.
std::int32_t round_away(double v) {
  // Coincident table points (a zero-width step) give 0/0: such an entry
  // contributes nothing rather than an undefined conversion.
  if (std::isnan(v)) return 0;
  const double r = v >= 0 ? std::floor(v + 0.5) : -std::floor(-v + 0.5);
  if (r >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (r <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(r);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int score_model_eval_pass(const int32_t* features, int count, const void*,
                                             int32_t* out, ScoreTrace*) {
  *out = features && count > 0 ? features[0] : 0;
  return ML_OK;
}

extern "C" ZYL_API int score_model_eval_linear(const int32_t* f, int count, const void* rows,
                                               int32_t* out, ScoreTrace* trace) {
  return eval_linear<ScoreLinearRow>(f, count, rows, out, trace, 4096);
}
extern "C" ZYL_API int score_model_eval_linear_zero(const int32_t* f, int count, const void* rows,
                                                    int32_t* out, ScoreTrace* trace) {
  return eval_linear<ScoreLinearRow>(f, count, rows, out, trace, 0);
}
extern "C" ZYL_API int score_model_eval_quadratic(const int32_t* f, int count, const void* rows,
                                                  int32_t* out, ScoreTrace* trace) {
  return eval_linear<ScoreQuadraticRow>(f, count, rows, out, trace, 4096);
}
extern "C" ZYL_API int score_model_eval_quadratic_zero(const int32_t* f, int count,
                                                       const void* rows, int32_t* out,
                                                       ScoreTrace* trace) {
  return eval_linear<ScoreQuadraticRow>(f, count, rows, out, trace, 0);
}

int zyl::matchlib::score_model_eval_table(const int32_t* features, int count, const void* rows_ptr,
                                          int32_t* out, ScoreTrace* trace) {
  *out = 0;
  const auto* m = static_cast<const ScoreTableModel*>(rows_ptr);
  if (!m) return ML_OK;
  const int n = features && count > 0 ? static_cast<int>(std::min<std::uint32_t>(
                                            static_cast<std::uint32_t>(count), m->term_count))
                                      : 0;
  float s = 0.0f;
  for (int j = 0; j < n; ++j) {
    const ScoreTerm& term = m->terms[j];
    if (term.spread == 0.0f) {  // a NaN spread is not 0 and counts
      if (trace)
        trace[j] = ScoreTrace{features[j], term.minimum, term.maximum, term.mean, term.spread,
                              term.linear_weight + term.quadratic_weight, 0.0f};
      continue;
    }
    std::int32_t x = features[j];
    if (x < term.minimum)
      x = term.minimum;
    else if (x >= term.maximum)
      x = term.maximum;
    const float z = (static_cast<float>(x) - term.mean) / term.spread;
    const float c = term.linear_weight * z + term.quadratic_weight * z * z;
    s += c;
    if (trace)
      trace[j] = ScoreTrace{features[j], term.minimum, term.maximum, term.mean, term.spread,
                            term.linear_weight + term.quadratic_weight, c};
  }
  if (m->has_offset_scale) {
    s += m->offset;
    if (m->scale > 0.0f) {
      const float factor = 65535.0f / m->scale;
      s *= factor;
      if (trace)
        for (int j = 0; j < n; ++j)
          trace[j].contribution =
              trace[j].contribution * factor + m->offset / static_cast<float>(count) * factor;
    }
  }
  if (m->point_count == 0 || !m->points) {
    // Clamp in float first so that a huge or undefined sum cannot overflow
    // the integer conversion; finite values give truncate-then-clamp.
    if (!(s > 0.0f))
      *out = 0;
    else if (s >= 65535.0f)
      *out = 65535;
    else
      *out = static_cast<std::int32_t>(s);
    return ML_OK;
  }
  const ScoreTablePoint* p = m->points;
  const std::uint32_t last = m->point_count - 1;
  if (s <= p[0].x) {
    *out = p[0].y;
    return ML_OK;
  }
  if (s >= p[last].x) {
    *out = p[last].y;
    return ML_OK;
  }
  for (std::uint32_t i = 0; i < last; ++i) {
    if (p[i + 1].x > s) {
      if (!(p[i].x <= s)) break;  // points out of order
      const double v = p[i].y + (static_cast<double>(s) - p[i].x) *
                                    (static_cast<double>(p[i + 1].y) - p[i].y) /
                                    (static_cast<double>(p[i + 1].x) - p[i].x);
      *out = round_away(v);
      return ML_OK;
    }
  }
  return ML_CORRUPT;
}

void zyl::matchlib::score_table_model_free(void* rows) {
  auto* m = static_cast<ScoreTableModel*>(rows);
  if (!m) return;
  std::free(m->terms);
  std::free(m->points);
  std::free(m);
}

int zyl::matchlib::score_model_kind(const ScoreModel* model) {
  if (!model) return 0;
  static const ScoreEvaluate kRoutines[] = {
      score_model_eval_pass,      score_model_eval_linear,         score_model_eval_linear_zero,
      score_model_eval_quadratic, score_model_eval_quadratic_zero, ::score_model_eval_table};
  for (int k = 0; k < 6; ++k)
    if (model->evaluate == kRoutines[k]) return k + 1;
  return 0;
}

int zyl::matchlib::score_model_evaluate(const ScoreModel* model, const int32_t* features, int count,
                                        int32_t* out_score, ScoreTrace* trace) {
  if (!out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  if (!model) return ML_BAD_ARGUMENT;
  if (!model->evaluate) return ML_OUT_OF_LIMITS;
  if (!rows_cover(model, count)) return ML_CORRUPT;
  return model->evaluate(features, count, model->rows, out_score, trace);
}

int zyl::matchlib::score_model_evaluate_u16(const ScoreModel* model, const uint16_t* scores,
                                            int count, uint16_t* out_score, ScoreTrace* trace) {
  if (!out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  if (!model) return ML_BAD_ARGUMENT;
  if (!model->evaluate) return ML_OUT_OF_LIMITS;
  const int n = count > 0 ? count : 0;
  if (n && !scores) return ML_BAD_ARGUMENT;
  if (!rows_cover(model, n)) return ML_CORRUPT;
  auto* wide = static_cast<std::int32_t*>(ml_malloc(sizeof(std::int32_t) * (n ? n : 1)));
  if (!wide) return ML_NO_MEMORY;
  for (int i = 0; i < n; ++i) wide[i] = scores[i];
  std::int32_t value = 0;
  const int status = model->evaluate(wide, n, model->rows, &value, trace);
  std::free(wide);
  if (status != ML_OK) return status;
  *out_score = static_cast<uint16_t>(std::clamp<std::int32_t>(value, 0, 65535));
  return ML_OK;
}

namespace zyl::matchlib {
namespace {

std::uint32_t float_bits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}
float bits_float(std::uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

std::uint32_t row_count(const ScoreModel* m) {
  return m->feature_count > 0 ? static_cast<std::uint32_t>(m->feature_count) : 0;
}

std::uint32_t body_size(const ScoreModel* m, int kind) {
  switch (kind) {
    case 2:
    case 3:
      return m->rows ? row_count(m) * 14 : 0;
    case 4:
    case 5:
      return m->rows ? row_count(m) * 16 : 0;
    case 6: {
      const auto* t = static_cast<const ScoreTableModel*>(m->rows);
      if (!t) return 0;
      return 6 + 24 * t->term_count + 8 * t->point_count + (t->has_offset_scale ? 8 : 0);
    }
    default:
      return 0;
  }
}

template <class Row>
void write_rows(ByteWriter& w, const ScoreModel* m) {
  const auto* rows = static_cast<const Row*>(m->rows);
  if (!rows) return;
  for (std::uint32_t i = 0; i < row_count(m); ++i) {
    w.u16(rows[i].minimum);
    w.u16(rows[i].maximum);
    w.u32(rows[i].mean);
    w.u32(rows[i].spread);
    w.u16(static_cast<std::uint16_t>(rows[i].weight));
    if constexpr (kQuadratic<Row>) w.u16(static_cast<std::uint16_t>(rows[i].quadratic_weight));
  }
}

void write_table(ByteWriter& w, const ScoreTableModel* t) {
  if (!t) return;
  w.u8(1);
  w.u16(t->term_count);
  for (std::uint32_t i = 0; i < t->term_count; ++i) {
    const ScoreTerm& term = t->terms[i];
    w.u32(static_cast<std::uint32_t>(term.minimum));
    w.u32(static_cast<std::uint32_t>(term.maximum));
    w.u32(float_bits(term.mean));
    w.u32(float_bits(term.spread));
    w.u32(float_bits(term.linear_weight));
    w.u32(float_bits(term.quadratic_weight));
  }
  w.u8(t->has_offset_scale ? 1 : 0);
  if (t->has_offset_scale) {
    w.u32(float_bits(t->offset));
    w.u32(float_bits(t->scale));
  }
  w.u16(t->point_count);
  for (std::uint32_t i = 0; i < t->point_count; ++i) {
    w.u32(float_bits(t->points[i].x));
    w.u32(static_cast<std::uint32_t>(t->points[i].y));
  }
}

// Reads count rows of a linear or quadratic kind into a fresh array.
template <class Row>
int read_rows(ByteReader& r, std::int32_t count, void** out) {
  *out = nullptr;
  if (count <= 0) return ML_OK;
  const std::size_t bytes = static_cast<std::size_t>(count) * (kQuadratic<Row> ? 16 : 14);
  if (!r.has(bytes)) return ML_TOO_SHORT;
  auto* rows = static_cast<Row*>(ml_calloc(static_cast<std::size_t>(count), sizeof(Row)));
  if (!rows) return ML_NO_MEMORY;
  for (std::int32_t i = 0; i < count; ++i) {
    rows[i].minimum = r.u16();
    rows[i].maximum = r.u16();
    rows[i].mean = r.u32();
    rows[i].spread = r.u32();
    rows[i].weight = r.s16();
    if constexpr (kQuadratic<Row>) rows[i].quadratic_weight = r.s16();
  }
  *out = rows;
  return ML_OK;
}

int read_table(ByteReader& r, void** out) {
  *out = nullptr;
  const std::uint8_t version = r.u8();
  if (!r.ok()) return ML_TOO_SHORT;
  if (version != 1) return ML_WRONG_KIND;
  const std::uint16_t n = r.u16();
  if (!r.ok() || !r.has(static_cast<std::size_t>(n) * 24)) return ML_TOO_SHORT;
  auto* t = static_cast<ScoreTableModel*>(ml_calloc(1, sizeof(ScoreTableModel)));
  if (!t) return ML_NO_MEMORY;
  if (n) {
    t->terms = static_cast<ScoreTerm*>(ml_calloc(n, sizeof(ScoreTerm)));
    if (!t->terms) {
      zyl::matchlib::score_table_model_free(t);
      return ML_NO_MEMORY;
    }
  }
  t->term_count = n;
  for (std::uint16_t i = 0; i < n; ++i) {
    ScoreTerm& term = t->terms[i];
    term.minimum = r.s32();
    term.maximum = r.s32();
    term.mean = bits_float(r.u32());
    term.spread = bits_float(r.u32());
    term.linear_weight = bits_float(r.u32());
    term.quadratic_weight = bits_float(r.u32());
  }
  t->has_offset_scale = r.u8() ? 1 : 0;
  if (t->has_offset_scale) {
    t->offset = bits_float(r.u32());
    t->scale = bits_float(r.u32());
  }
  const std::uint16_t m = r.u16();
  if (!r.ok() || !r.has(static_cast<std::size_t>(m) * 8)) {
    zyl::matchlib::score_table_model_free(t);
    return ML_TOO_SHORT;
  }
  if (m) {
    t->points = static_cast<ScoreTablePoint*>(ml_calloc(m, sizeof(ScoreTablePoint)));
    if (!t->points) {
      zyl::matchlib::score_table_model_free(t);
      return ML_NO_MEMORY;
    }
  }
  t->point_count = m;
  for (std::uint16_t i = 0; i < m; ++i) {
    t->points[i].x = bits_float(r.u32());
    t->points[i].y = r.s32();
  }
  *out = t;
  return ML_OK;
}

int read_model(std::span<const std::uint8_t> in, ScoreModel* model) {
  if (!model) return ML_BAD_ARGUMENT;
  *model = ScoreModel{nullptr, 0, nullptr, nullptr};
  ByteReader r(in);
  const std::uint16_t kind = r.u16();
  const std::int16_t count = r.s16();
  if (!r.ok()) return ML_TOO_SHORT;
  if (kind < 1 || kind > 6) return ML_UNAVAILABLE;
  model->feature_count = count;  // 0xFFFF reads back as -1
  void* rows = nullptr;
  int status = ML_OK;
  ScoreEvaluate evaluate = nullptr;
  ScoreRowsFree free_rows = std::free;
  switch (kind) {
    case 1:
      evaluate = score_model_eval_pass;
      free_rows = nullptr;
      break;
    case 2:
      evaluate = score_model_eval_linear;
      status = read_rows<ScoreLinearRow>(r, count, &rows);
      break;
    case 3:
      evaluate = score_model_eval_linear_zero;
      status = read_rows<ScoreLinearRow>(r, count, &rows);
      break;
    case 4:
      evaluate = score_model_eval_quadratic;
      status = read_rows<ScoreQuadraticRow>(r, count, &rows);
      break;
    case 5:
      evaluate = score_model_eval_quadratic_zero;
      status = read_rows<ScoreQuadraticRow>(r, count, &rows);
      break;
    default:
      evaluate = ::score_model_eval_table;
      free_rows = ::score_table_model_free;
      status = read_table(r, &rows);
      break;
  }
  if (status != ML_OK) {
    model->feature_count = 0;
    return status;
  }
  model->rows = rows;
  model->evaluate = evaluate;
  model->free_rows = free_rows;
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

uint32_t zyl::matchlib::score_model_write(uint8_t* out, const ScoreModel* model) {
  const int kind = zyl::matchlib::score_model_kind(model);
  if (kind == 0) return 0;
  const std::uint32_t size = 4 + body_size(model, kind);
  if (!out) return size;
  zyl::ByteWriter w(std::span<std::uint8_t>(out, size));
  w.u16(static_cast<std::uint32_t>(kind));
  w.u16(static_cast<std::uint16_t>(model->feature_count));
  switch (kind) {
    case 2:
    case 3:
      write_rows<ScoreLinearRow>(w, model);
      break;
    case 4:
    case 5:
      write_rows<ScoreQuadraticRow>(w, model);
      break;
    case 6:
      write_table(w, static_cast<const ScoreTableModel*>(model->rows));
      break;
    default:
      break;
  }
  return size;
}

extern "C" ZYL_API int score_model_read(const uint8_t* in, ScoreModel* model) {
  if (!in) return ML_BAD_ARGUMENT;
  // The caller vouches for the record's bytes: no bound beyond the largest
  // record the format can describe (65535 kind-6 terms and points).
  constexpr std::size_t kLargest = 4 + 6 + 8 + 24 * 65535 + 8 * 65535;
  return read_model(std::span<const std::uint8_t>(in, kLargest), model);
}

int zyl::matchlib::score_model_read_bounded(const uint8_t* in, uint32_t available,
                                            ScoreModel* model) {
  if (!in && available) return ML_BAD_ARGUMENT;
  return read_model(std::span<const std::uint8_t>(in, available), model);
}

extern "C" ZYL_API void score_model_free(ScoreModel* model) {
  if (!model) return;
  if (model->free_rows && model->rows) model->free_rows(model->rows);
  std::free(model);
}

extern "C" {

ZYL_API int score_model_eval_table(const int32_t* features, int count, const void* rows_ptr,
                                   int32_t* out, ScoreTrace* trace) {
  return zyl::matchlib::score_model_eval_table(features, count, rows_ptr, out, trace);
}
ZYL_API void score_table_model_free(void* rows) { zyl::matchlib::score_table_model_free(rows); }
ZYL_API int score_model_kind(const ScoreModel* model) {
  return zyl::matchlib::score_model_kind(model);
}
ZYL_API int score_model_evaluate(const ScoreModel* model, const int32_t* features, int count,
                                 int32_t* out_score, ScoreTrace* trace) {
  return zyl::matchlib::score_model_evaluate(model, features, count, out_score, trace);
}
ZYL_API int score_model_evaluate_u16(const ScoreModel* model, const uint16_t* scores, int count,
                                     uint16_t* out_score, ScoreTrace* trace) {
  return zyl::matchlib::score_model_evaluate_u16(model, scores, count, out_score, trace);
}
ZYL_API uint32_t score_model_write(uint8_t* out, const ScoreModel* model) {
  return zyl::matchlib::score_model_write(out, model);
}
ZYL_API int score_model_read_bounded(const uint8_t* in, uint32_t available, ScoreModel* model) {
  return zyl::matchlib::score_model_read_bounded(in, available, model);
}

}  // extern "C"
