// Impression accumulator: the object, its counted state buffer, the saved
// form (version 7 written; versions 1 to 7 read) and the map statistics.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "common/byte_io.h"
#include "matchlib/core/allocation.h"
#include "matchlib/template/impression_accumulator.h"
#include "zylscan/matchlib_accum.h"
#include "zylscan/matchlib_codec.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/byte_codec.h"
#include "matchlib/core/param_store.h"
#include "matchlib/image/image_geometry.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint8_t kDefaultSettings[ACCUM_SETTINGS] = {100, 100, 80, 95, 20};
constexpr std::uint32_t kTemplateFormat = 79;

std::size_t area(const ImpressionAccumulator& a) { return accum_area(a); }

void destroy_accumulator(ImpressionAccumulator* a) {
  for (DataBlob*& slot : a->slots) {
    zyl::matchlib::blob_release(slot);
    slot = nullptr;
  }
  std::free(a->base_map);
  std::free(a->mean_image);
  std::free(a->count_map);
  std::free(a);
}

// A new accumulator of the given area; the base map is allocated (zeroed)
// only when `with_map` is set, so a parser can wait until the map's bytes
// are known to be there.
ImpressionAccumulator* new_accumulator(std::uint16_t height, std::uint16_t width, bool with_map) {
  auto* a = static_cast<ImpressionAccumulator*>(ml_calloc(1, sizeof(ImpressionAccumulator)));
  if (!a) return nullptr;
  a->refcount = 1;
  a->height = a->last_height = height;
  a->width = a->last_width = width;
  std::memcpy(a->settings, kDefaultSettings, sizeof kDefaultSettings);
  a->destroy = destroy_accumulator;
  if (with_map) {
    a->base_map = static_cast<std::uint8_t*>(ml_calloc(area(*a), 1));
    if (!a->base_map) {
      destroy_accumulator(a);
      return nullptr;
    }
  }
  return a;
}

// The last impression's window (height, width, row, column) must lie
// inside the sensor area: it sizes the similarity maps rendered over it, so
// a saved form must not make it larger than the area the accumulator holds.
bool window_inside(std::uint16_t height, std::uint16_t width, const std::uint16_t (&last)[4]) {
  return last[0] <= height && last[1] <= width && last[2] <= height - last[0] &&
         last[3] <= width - last[1];
}

int put_template(ImpressionAccumulator& a, unsigned slot, std::int32_t format,
                 std::span<const std::uint8_t> bytes) {
  if (slot >= ACCUM_SLOTS || a.slots[slot]) return ML_CORRUPT;
  a.slots[slot] =
      zyl::matchlib::blob_create(format, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return a.slots[slot] ? ML_OK : ML_NO_MEMORY;
}

// ---- version 7: typed blocks ----

struct BlockParse {
  ImpressionAccumulator* acc = nullptr;
  bool have_head = false;
  int blocks = 0;
};

int read_head(void* target, const std::uint8_t* body, std::uint32_t length, void*,
              const std::uint8_t*) {
  auto& p = *static_cast<BlockParse*>(target);
  // One head, the first block, of exactly its fixed length.
  if (p.have_head || p.blocks++ != 0 || length != ACCUM_HEAD_LENGTH - 6) return ML_CORRUPT;
  ByteReader r(std::span<const std::uint8_t>(body, length));
  const std::uint16_t h = r.u16(), w = r.u16();
  std::uint16_t last[4];
  for (auto& v : last) v = r.u16();
  if (h == 0 || w == 0 || !window_inside(h, w, last)) return ML_CORRUPT;
  p.acc = new_accumulator(h, w, false);
  if (!p.acc) return ML_NO_MEMORY;
  p.acc->last_height = last[0];
  p.acc->last_width = last[1];
  p.acc->last_row = last[2];
  p.acc->last_column = last[3];
  r.bytes(p.acc->settings, ACCUM_SETTINGS);
  p.have_head = true;
  return ML_OK;
}

int read_template(void* target, const std::uint8_t* body, std::uint32_t length, void*,
                  const std::uint8_t*) {
  auto& p = *static_cast<BlockParse*>(target);
  ++p.blocks;
  if (!p.have_head) return ML_CORRUPT;
  ByteReader r(std::span<const std::uint8_t>(body, length));
  const unsigned slot = r.u8();
  const std::int32_t format = r.u8();
  const std::uint32_t n = r.u32();
  // The template fills the rest of its block exactly.
  if (!r.ok() || n != r.remaining()) return ML_CORRUPT;
  return put_template(*p.acc, slot, format, r.view(n));
}

int read_base_map(void* target, const std::uint8_t* body, std::uint32_t length, void*,
                  const std::uint8_t*) {
  auto& p = *static_cast<BlockParse*>(target);
  ++p.blocks;
  if (!p.have_head || length != area(*p.acc)) return ML_CORRUPT;
  if (!p.acc->base_map) {
    p.acc->base_map = static_cast<std::uint8_t*>(ml_malloc(length));
    if (!p.acc->base_map) return ML_NO_MEMORY;
  }
  std::memcpy(p.acc->base_map, body, length);
  return ML_OK;
}

int read_maps(void* target, const std::uint8_t* body, std::uint32_t length, void*,
              const std::uint8_t*) {
  auto& p = *static_cast<BlockParse*>(target);
  ++p.blocks;
  if (!p.have_head || length != 2 * area(*p.acc)) return ML_CORRUPT;
  if (int s = accum_ensure_maps(*p.acc); s != ML_OK) return s;
  std::memcpy(p.acc->count_map, body, length / 2);
  std::memcpy(p.acc->mean_image, body + length / 2, length / 2);
  return ML_OK;
}

constexpr BlockHandler kBlocks[] = {{ACCUM_BLOCK_HEAD, read_head},
                                    {ACCUM_BLOCK_TEMPLATE, read_template},
                                    {ACCUM_BLOCK_BASE_MAP, read_base_map},
                                    {ACCUM_BLOCK_MAPS, read_maps},
                                    {0, nullptr}};

int parse_blocks(std::span<const std::uint8_t> in, ImpressionAccumulator** out) {
  if (in.size() < 3) return ML_CORRUPT;
  BlockParse p;
  int status = zyl::matchlib::blocks_dispatch6(&p, kBlocks, in.data() + 2,
                                               static_cast<std::uint32_t>(in.size() - 2), nullptr);
  // A saved accumulator always carries its head and its base map.
  if (status == ML_OK && (!p.acc || !p.acc->base_map)) status = ML_CORRUPT;
  if (status != ML_OK) {
    if (p.acc) destroy_accumulator(p.acc);
    return status;
  }
  *out = p.acc;
  return ML_OK;
}

// ---- versions 1 to 6 ----

int parse_old(std::span<const std::uint8_t> in, std::uint16_t version, ImpressionAccumulator** out) {
  ByteReader r(in);
  r.u16();
  const std::uint16_t h = r.u16(), w = r.u16();
  if (!r.ok() || h == 0 || w == 0) return ML_CORRUPT;
  const std::size_t cells = static_cast<std::size_t>(h) * w;
  // Versions 1 and 2 carry no map, so nothing in the bytes vouches for the
  // area: bound it to the largest sensor frame. Later versions carry the
  // map, so their input itself bounds the area (checked below).
  if (version < 3 && cells > ACCUM_MAX_SENSOR_CELLS) return ML_CORRUPT;
  std::uint16_t last[4] = {h, w, 0, 0};
  std::uint8_t settings[ACCUM_SETTINGS];
  std::memcpy(settings, kDefaultSettings, sizeof settings);
  if (version >= 5) {
    for (auto& v : last) v = r.u16();
    r.seek(17);
    r.bytes(settings, ACCUM_SETTINGS);
  } else {
    r.seek(9);
    r.bytes(settings, version == 1 ? 2 : ACCUM_SETTINGS);
  }
  const unsigned n = r.u8();
  const std::uint32_t length = r.u32();
  // The templates, and from version 3 the base map, must be in the bytes
  // before anything is allocated for them.
  const std::uint64_t needed =
      static_cast<std::uint64_t>(n) * length + (version >= 3 ? cells : 0);
  if (!r.ok() || n > ACCUM_SLOTS || needed > r.remaining()) return ML_CORRUPT;
  if (!window_inside(h, w, last)) return ML_CORRUPT;
  ImpressionAccumulator* a = new_accumulator(h, w, true);
  if (!a) return ML_NO_MEMORY;
  a->last_height = last[0];
  a->last_width = last[1];
  a->last_row = last[2];
  a->last_column = last[3];
  std::memcpy(a->settings, settings, sizeof settings);
  int status = ML_OK;
  for (unsigned i = 0; status == ML_OK && i < n; ++i)
    status = put_template(*a, i, kTemplateFormat, r.view(length));
  if (status == ML_OK && version >= 3) {
    if (!r.bytes(a->base_map, cells)) status = ML_CORRUPT;
  }
  if (status == ML_OK && version >= 4) {
    const std::uint8_t flag = r.u8();
    if (!r.ok()) {
      status = ML_CORRUPT;
    } else if (flag != 0) {
      status = accum_ensure_maps(*a);
      if (status == ML_OK) {
        if (version == 6) {
          if (!r.bytes(a->count_map, cells)) status = ML_CORRUPT;
        } else {
          std::memset(a->count_map, flag, cells);
        }
      }
      if (status == ML_OK && !r.bytes(a->mean_image, cells)) status = ML_CORRUPT;
    }
  }
  if (status != ML_OK) {
    destroy_accumulator(a);
    return status;
  }
  *out = a;
  return ML_OK;
}

std::uint32_t written_size(const ImpressionAccumulator& a) {
  std::uint64_t n = 2 + ACCUM_HEAD_LENGTH + 6 + area(a);
  if (a.mean_image || a.count_map) n += 6 + 2 * area(a);
  for (const DataBlob* slot : a.slots)
    if (slot) n += 12 + zyl::matchlib::blob_size(slot);
  return n > UINT32_MAX ? 0 : static_cast<std::uint32_t>(n);
}

}  // namespace

int accum_ensure_maps(ImpressionAccumulator& a) {
  if (!a.count_map) a.count_map = static_cast<std::uint8_t*>(ml_calloc(accum_area(a), 1));
  if (!a.mean_image) a.mean_image = static_cast<std::uint8_t*>(ml_calloc(accum_area(a), 1));
  return a.count_map && a.mean_image ? ML_OK : ML_NO_MEMORY;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

AccumState* zyl::matchlib::accum_state_create(uint32_t size) {
  auto* s = static_cast<AccumState*>(ml_calloc(1, sizeof(AccumState)));
  if (!s) return nullptr;
  s->refcount = 1;
  if (size) {
    s->bytes = static_cast<uint8_t*>(ml_calloc(size, 1));
    if (!s->bytes) {
      std::free(s);
      return nullptr;
    }
    s->size = size;
  }
  return s;
}

AccumState* zyl::matchlib::accum_state_retain(AccumState* s) {
  if (s) ++s->refcount;
  return s;
}

void zyl::matchlib::accum_state_release(AccumState* s) {
  if (!s || --s->refcount != 0) return;
  std::free(s->bytes);
  std::free(s);
}

ImpressionAccumulator* zyl::matchlib::accum_create_sized(uint16_t height, uint16_t width) {
  if (height == 0 || width == 0) return nullptr;
  return new_accumulator(height, width, true);
}

ImpressionAccumulator* zyl::matchlib::accum_create(const GrayImage* image) {
  if (!image) return nullptr;
  const int h = zyl::matchlib::image_source_height(image),
            w = zyl::matchlib::image_source_width(image);
  if (h <= 0 || w <= 0 || h > UINT16_MAX || w > UINT16_MAX) return nullptr;
  return zyl::matchlib::accum_create_sized(static_cast<uint16_t>(h), static_cast<uint16_t>(w));
}

extern "C" ZYL_API ImpressionAccumulator* accum_retain(ImpressionAccumulator* a) {
  if (a) ++a->refcount;
  return a;
}

void zyl::matchlib::accum_release(ImpressionAccumulator* a) {
  if (!a || --a->refcount != 0) return;
  if (a->destroy) a->destroy(a);
}

extern "C" ZYL_API int* accum_count_up(int* counter) {
  if (counter) ++*counter;
  return counter;
}

int zyl::matchlib::accum_reset(ImpressionAccumulator* a) {
  if (!a) return ML_BAD_ARGUMENT;
  for (DataBlob*& slot : a->slots) {
    zyl::matchlib::blob_release(slot);
    slot = nullptr;
  }
  const std::size_t n = area(*a);
  if (a->base_map) std::memset(a->base_map, 0, n);
  if (a->mean_image) std::memset(a->mean_image, 0, n);
  if (a->count_map) std::memset(a->count_map, 0, n);
  return ML_OK;
}

uint32_t zyl::matchlib::accum_write(uint8_t* out, const ImpressionAccumulator* a) {
  if (!a) return 0;
  const std::uint32_t total = written_size(*a);
  if (!out || total == 0) return total;
  const std::size_t cells = area(*a);
  zyl::ByteWriter w(std::span<std::uint8_t>(out, total));
  w.u16(ACCUM_VERSION);
  w.u16(ACCUM_BLOCK_HEAD);
  w.u32(ACCUM_HEAD_LENGTH);
  for (std::uint16_t v : {a->height, a->width, a->last_height, a->last_width, a->last_row,
                          a->last_column})
    w.u16(v);
  w.bytes(a->settings, ACCUM_SETTINGS);
  w.u16(ACCUM_BLOCK_BASE_MAP);
  w.u32(static_cast<std::uint32_t>(6 + cells));
  if (a->base_map)
    w.bytes(a->base_map, cells);
  else
    w.fill(0, cells);
  if (a->mean_image || a->count_map) {
    w.u16(ACCUM_BLOCK_MAPS);
    w.u32(static_cast<std::uint32_t>(6 + 2 * cells));
    for (const std::uint8_t* map : {a->count_map, a->mean_image}) {
      if (map)
        w.bytes(map, cells);
      else
        w.fill(0, cells);
    }
  }
  for (unsigned i = 0; i < ACCUM_SLOTS; ++i) {
    const DataBlob* t = a->slots[i];
    if (!t) continue;
    w.u16(ACCUM_BLOCK_TEMPLATE);
    w.u32(12 + zyl::matchlib::blob_size(t));
    w.u8(i);
    w.u8(static_cast<std::uint8_t>(zyl::matchlib::blob_type(t)));
    w.u32(zyl::matchlib::blob_size(t));
    w.bytes(zyl::matchlib::blob_data(t), zyl::matchlib::blob_size(t));
  }
  return w.ok() ? static_cast<std::uint32_t>(w.pos()) : 0;
}

int zyl::matchlib::accum_serialize(const ImpressionAccumulator* a, AccumState** out,
                                   uint32_t* out_size) {
  if (!a || !out || !out_size) return ML_BAD_ARGUMENT;
  const std::uint32_t size = zyl::matchlib::accum_write(nullptr, a);
  if (size == 0) return ML_CORRUPT;
  AccumState* s = zyl::matchlib::accum_state_create(size);
  if (!s) return ML_NO_MEMORY;
  if (zyl::matchlib::accum_write(s->bytes, a) != size) {
    zyl::matchlib::accum_state_release(s);
    return ML_CORRUPT;
  }
  *out = s;
  *out_size = size;
  return ML_OK;
}

int zyl::matchlib::accum_parse(const uint8_t* bytes, uint32_t length, ImpressionAccumulator** out) {
  if (!bytes || length == 0 || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  std::span<const std::uint8_t> in(bytes, length);
  if (length < 2) return ML_CORRUPT;
  const std::uint16_t version = zyl::matchlib::bytes_read_be16(bytes);
  if (version == 0) return ML_CORRUPT;  // no saved form was ever version 0
  if (version <= 6) return parse_old(in, version, out);
  return parse_blocks(in, out);
}

ImpressionAccumulator* zyl::matchlib::accum_copy(const ImpressionAccumulator* a) {
  AccumState* s = nullptr;
  std::uint32_t size = 0;
  if (zyl::matchlib::accum_serialize(a, &s, &size) != ML_OK) return nullptr;
  ImpressionAccumulator* copy = nullptr;
  zyl::matchlib::accum_parse(s->bytes, size, &copy);
  zyl::matchlib::accum_state_release(s);
  return copy;
}

int zyl::matchlib::accum_map_statistics(const MatchContext* ctx, const uint8_t* map, int height,
                                        int width, uint16_t out[4]) {
  if (!map || !out || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  const std::int64_t n = static_cast<std::int64_t>(height) * width;
  if (n > ACCUM_MAX_CELLS) return ML_WRONG_KIND;
  const std::int64_t radius = zyl::matchlib::param_get(ctx, 0x0cb73cb4u, -1);
  const std::int64_t cx = zyl::matchlib::param_get(ctx, 0x4dc10c80u, -1);
  const std::int64_t cy = zyl::matchlib::param_get(ctx, 0x967d3b73u, -1);
  std::uint32_t hist[256] = {};
  std::int64_t sum = 0, squares = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (radius != -1 && (x - cx) * (x - cx) + (y - cy) * (y - cy) > radius * radius) continue;
      const std::uint8_t v = map[static_cast<std::size_t>(y) * width + x];
      ++hist[v];
      sum += v;
      squares += static_cast<std::int64_t>(v) * v;
    }
  }
  const std::int64_t mean = sum * 256 / n;
  const std::int64_t variance = (squares - sum * (sum / n)) / n;
  // Mean (x 256) of the lowest or highest third of the cells.
  auto third = [&](bool from_top) {
    std::int64_t count = 0, weighted = 0;
    for (int i = 0; i < 256 && count <= n / 3; ++i) {
      const int v = from_top ? 255 - i : i;
      count += hist[v];
      weighted += static_cast<std::int64_t>(v) * hist[v];
    }
    return count ? weighted * 256 / count : 0;
  };
  const std::int64_t bottom = third(false), top = third(true);
  auto u16 = [](std::int64_t v) { return static_cast<uint16_t>(std::clamp<std::int64_t>(v, 0, 65535)); };
  out[0] = u16(65535 - mean);
  out[1] = u16(variance);
  out[2] = u16(65535 - top);
  out[3] = u16(65535 - bottom);
  return ML_OK;
}

extern "C" {

ZYL_API AccumState* accum_state_create(uint32_t size) {
  return zyl::matchlib::accum_state_create(size);
}
ZYL_API AccumState* accum_state_retain(AccumState* s) {
  return zyl::matchlib::accum_state_retain(s);
}
ZYL_API void accum_state_release(AccumState* s) { zyl::matchlib::accum_state_release(s); }
ZYL_API ImpressionAccumulator* accum_create_sized(uint16_t height, uint16_t width) {
  return zyl::matchlib::accum_create_sized(height, width);
}
ZYL_API ImpressionAccumulator* accum_create(const GrayImage* image) {
  return zyl::matchlib::accum_create(image);
}
ZYL_API void accum_release(ImpressionAccumulator* a) { zyl::matchlib::accum_release(a); }
ZYL_API int accum_reset(ImpressionAccumulator* a) { return zyl::matchlib::accum_reset(a); }
ZYL_API uint32_t accum_write(uint8_t* out, const ImpressionAccumulator* a) {
  return zyl::matchlib::accum_write(out, a);
}
ZYL_API int accum_serialize(const ImpressionAccumulator* a, AccumState** out, uint32_t* out_size) {
  return zyl::matchlib::accum_serialize(a, out, out_size);
}
ZYL_API int accum_parse(const uint8_t* bytes, uint32_t length, ImpressionAccumulator** out) {
  return zyl::matchlib::accum_parse(bytes, length, out);
}
ZYL_API ImpressionAccumulator* accum_copy(const ImpressionAccumulator* a) {
  return zyl::matchlib::accum_copy(a);
}
ZYL_API int accum_map_statistics(const MatchContext* ctx, const uint8_t* map, int height, int width,
                                 uint16_t out[4]) {
  return zyl::matchlib::accum_map_statistics(ctx, map, height, width, out);
}

}  // extern "C"
