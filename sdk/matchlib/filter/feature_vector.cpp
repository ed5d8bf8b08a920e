// The feature-vector record and its stored form.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "matchlib/core/allocation.h"
#include "common/byte_io.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/filter/feature_vector.h"

namespace {

constexpr std::size_t stored_size(std::size_t count) { return FEATVEC_HEADER_SIZE + 4 * count; }

}  // namespace

int zyl::matchlib::featvec_create(uint16_t height, uint16_t width, FeatureVector** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  auto* v = static_cast<FeatureVector*>(zyl::matchlib::ml_calloc(1, sizeof(FeatureVector)));
  if (!v) return ML_NO_MEMORY;
  v->width = width;
  v->height = height;
  *out = v;
  return ML_OK;
}

int zyl::matchlib::featvec_write(const FeatureVector* vector, uint8_t** out_bytes,
                                 uint16_t* out_size) {
  if (out_size) *out_size = 0;
  if (!vector || !out_bytes || !out_size || vector->count > FEATVEC_MAX_VALUES ||
      (vector->count && !vector->values))
    return ML_BAD_ARGUMENT;
  const std::size_t size = stored_size(vector->count);
  auto* bytes = static_cast<std::uint8_t*>(zyl::matchlib::ml_malloc(size));
  if (!bytes) return ML_NO_MEMORY;
  zyl::ByteWriter w(std::span<std::uint8_t>(bytes, size));
  w.u16(vector->reserved1);
  w.u16(vector->width);
  w.u16(vector->height);
  w.u16(vector->reserved2);
  w.u16(vector->count);
  for (std::size_t i = 0; i < vector->count; ++i)
    w.u32(static_cast<std::uint32_t>(vector->values[i]));
  *out_bytes = bytes;
  *out_size = static_cast<std::uint16_t>(size);
  return ML_OK;
}

int zyl::matchlib::featvec_read(const uint8_t* bytes, uint32_t length, FeatureVector** out) {
  if (!bytes || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  zyl::ByteReader r(std::span<const std::uint8_t>(bytes, length));
  const std::uint16_t reserved1 = r.u16(), width = r.u16(), height = r.u16(), reserved2 = r.u16(),
                      count = r.u16();
  // The entry must hold every value its count announces.
  if (!r.ok() || r.remaining() < 4u * count) return ML_CORRUPT;
  FeatureVector* v = nullptr;
  if (zyl::matchlib::featvec_create(height, width, &v) != ML_OK) return ML_NO_MEMORY;
  v->reserved1 = reserved1;
  v->reserved2 = reserved2;
  if (count) {
    v->values = static_cast<std::int32_t*>(zyl::matchlib::ml_malloc(4u * count));
    if (!v->values) {
      zyl::matchlib::featvec_free(v);
      return ML_NO_MEMORY;
    }
    for (std::size_t i = 0; i < count; ++i) v->values[i] = r.s32();
  }
  v->count = count;
  *out = v;
  return ML_OK;
}

void zyl::matchlib::featvec_free(FeatureVector* vector) {
  if (!vector) return;
  std::free(vector->values);
  std::free(vector);
}

extern "C" {

ZYL_API int featvec_create(uint16_t height, uint16_t width, FeatureVector** out) {
  return zyl::matchlib::featvec_create(height, width, out);
}
ZYL_API int featvec_write(const FeatureVector* vector, uint8_t** out_bytes, uint16_t* out_size) {
  return zyl::matchlib::featvec_write(vector, out_bytes, out_size);
}
ZYL_API int featvec_read(const uint8_t* bytes, uint32_t length, FeatureVector** out) {
  return zyl::matchlib::featvec_read(bytes, length, out);
}
ZYL_API void featvec_free(FeatureVector* vector) { zyl::matchlib::featvec_free(vector); }

}  // extern "C"
