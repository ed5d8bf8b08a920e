// The minutiae record and the four standard finger minutiae records:
// builders, bounded parsers, converters, size checks and the two-view merge.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "common/byte_io.h"
#include "matchlib/core/allocation.h"
#include "matchlib/template/minutiae_layout.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/template/minutiae_record.h"

namespace zyl::matchlib {

int fmr_version_of(std::span<const std::uint8_t> b) {
  if (b.size() < 8 || std::memcmp(b.data(), "FMR\0", 4) != 0) return 0;
  if ((b[4] != ' ' && b[4] != '0') || b[7] != 0) return 0;
  if (b[5] == '2' && b[6] == '0') return 20;
  if (b[5] == '3' && b[6] == '0') return 30;
  return 0;
}

std::size_t iso2011_body_start(ByteReader& r) {
  using F = Iso2011Fields;
  r.seek(F::certification_flag);
  const bool certified = r.u8() != 0;
  r.seek(F::quality_count);
  std::size_t p = F::first_quality + F::quality_record * std::size_t{r.u8()};
  if (certified) {
    r.seek(p);
    p += F::certification_record * std::size_t{r.u8()} + 1;
  }
  return p;
}

namespace {

enum class Form { Iso2005, Ansi2004, Ansi2009, Iso2011 };

bool ansi(Form f) { return f == Form::Ansi2004 || f == Form::Ansi2009; }

std::uint32_t header_size(Form f) {
  switch (f) {
    case Form::Iso2005: return Iso2005Fields::minutiae;
    case Form::Ansi2004: return Ansi2004Fields::minutiae;
    case Form::Ansi2009: return Ansi2009Fields::minutiae;
    // One quality record, no certification: P = 39.
    case Form::Iso2011:
      return Iso2011Fields::first_quality + Iso2011Fields::quality_record +
             Iso2011Fields::minutiae;
  }
  return 0;
}

std::uint8_t to_ansi_angle(std::uint8_t direction) {
  return static_cast<std::uint8_t>((direction * 180 + 128) >> 8);
}
std::uint8_t from_ansi_angle(std::uint8_t angle) {
  return static_cast<std::uint8_t>((angle * 256 + 90) / 180);
}

int build(const MinutiaeRecord* m, Form form, bool check_resolution, std::uint8_t** out,
          std::uint32_t* out_size) {
  if (!m || !out) return ML_BAD_ARGUMENT;
  if (check_resolution && m->resolution != MINREC_RESOLUTION) return ML_UNAVAILABLE;
  const std::uint32_t n = m->count;
  const std::uint32_t size = header_size(form) + 6 * n + 2;
  auto* buffer = static_cast<std::uint8_t*>(ml_calloc(size, 1));
  if (!buffer) return ML_NO_MEMORY;
  ByteWriter w({buffer, size});
  const bool v30 = form == Form::Ansi2009 || form == Form::Iso2011;
  w.bytes(reinterpret_cast<const std::uint8_t*>(v30 ? "FMR\0" "030\0" : "FMR\0" " 20\0"), 8);
  switch (form) {
    case Form::Iso2005:
      w.u32(size);
      w.u16(0);
      w.u16(m->width);
      w.u16(m->height);
      w.u16(MINREC_RESOLUTION);
      w.u16(MINREC_RESOLUTION);
      w.u8(1);
      w.u8(0);
      w.u8(m->finger_position);
      w.u8(m->impression_type & 0x0F);
      w.u8(m->finger_quality);
      break;
    case Form::Ansi2004:
      w.u16(size);
      w.u32(m->product_id);
      w.u16(0);
      w.u16(m->width);
      w.u16(m->height);
      w.u16(MINREC_RESOLUTION);
      w.u16(MINREC_RESOLUTION);
      w.u8(1);
      w.u8(0);
      w.u8(m->finger_position);
      w.u8(m->impression_type & 0x0F);
      w.u8(m->finger_quality);
      break;
    case Form::Ansi2009:
      w.u32(size);
      w.u32(m->product_id);
      w.fill(0, 3);
      w.u8(1);
      w.u8(0);
      w.u8(m->finger_position);
      w.u8(0);
      w.u8(m->impression_type);
      w.u8(m->finger_quality);
      w.u16(FMR_QUALITY_VENDOR_ID);
      w.u16(0);
      w.u16(m->width);
      w.u16(m->height);
      w.u16(MINREC_RESOLUTION);
      w.u16(MINREC_RESOLUTION);
      break;
    case Form::Iso2011:
      w.u32(size);
      w.u16(1);
      w.u8(0);
      w.u32(39 + 6 * n);
      w.fill(0xFF, 9);
      w.u8(0);
      w.u32(m->product_id);
      w.u8(1);
      w.u8(m->finger_quality);
      w.u16(FMR_QUALITY_VENDOR_ID);
      w.u16(0);
      w.u8(m->finger_position);
      w.u8(0);
      w.u16(MINREC_RESOLUTION);
      w.u16(MINREC_RESOLUTION);
      w.u8(m->impression_type);
      w.u16(m->width);
      w.u16(m->height);
      w.u8(0x60);
      break;
  }
  w.u8(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const MinutiaEntry& e = m->minutiae[i];
    w.u8(static_cast<std::uint32_t>((e.type & 3) << 6 | ((e.x >> 8) & 0x3F)));
    w.u8(e.x & 0xFF);
    w.u8((e.y >> 8) & 0x3F);
    w.u8(e.y & 0xFF);
    w.u8(ansi(form) ? to_ansi_angle(e.direction) : e.direction);
    w.u8(e.quality);
  }
  w.u16(0);
  if (!w.ok() || w.pos() != size) {
    std::free(buffer);
    return ML_CORRUPT;
  }
  *out = buffer;
  if (out_size) *out_size = size;
  return ML_OK;
}

// Reads n packed minutiae of `entry` bytes each (5 or more; bytes beyond
// the sixth are skipped).
void read_minutiae(ByteReader& r, MinutiaeRecord* m, int n, int entry, bool ansi_angles,
                   bool clamp_quality) {
  m->count = static_cast<std::uint8_t>(n);
  for (int i = 0; i < n; ++i) {
    const std::size_t start = r.pos();
    MinutiaEntry& e = m->minutiae[i];
    const std::uint8_t b0 = r.u8();
    e.type = b0 >> 6;
    e.x = static_cast<std::uint16_t>((b0 & 0x3F) << 8 | r.u8());
    e.y = static_cast<std::uint16_t>((r.u8() & 0x3F) << 8);
    e.y = static_cast<std::uint16_t>(e.y | r.u8());
    const std::uint8_t angle = r.u8();
    e.direction = ansi_angles ? from_ansi_angle(angle) : angle;
    if (entry == 6) {
      e.quality = r.u8();
      if (clamp_quality && e.quality > 100) e.quality = 0;
    } else {
      e.quality = 0;
    }
    e.extra = 5;
    r.seek(start + static_cast<std::size_t>(entry));
  }
}

// The bytes a record declares, which must be present.
bool declared(std::span<const std::uint8_t> all, std::uint32_t length,
              std::span<const std::uint8_t>& out) {
  if (length > all.size()) return false;
  out = all.first(length);
  return true;
}

int resolutions(ByteReader& r, MinutiaeRecord* m) {
  const std::uint16_t h = r.u16();
  const std::uint16_t v = r.u16();
  if (!r.ok()) return ML_UNAVAILABLE;
  if (h != v || h != MINREC_RESOLUTION) return ML_WRONG_KIND;
  m->resolution = h;
  return ML_OK;
}

int parse_iso2005(std::span<const std::uint8_t> all, MinutiaeRecord* m) {
  if (fmr_version_of(all) != 20 || all.size() < 12) return ML_UNAVAILABLE;
  std::span<const std::uint8_t> b;
  using F = Iso2005Fields;
  const std::uint32_t length = ByteReader(all.subspan(F::length)).u32();
  if (length < F::minutiae || !declared(all, length, b)) return ML_UNAVAILABLE;
  ByteReader r(b);
  r.seek(F::width);
  m->width = r.u16();
  m->height = r.u16();
  if (const int s = resolutions(r, m)) return s;
  r.seek(F::finger_position);
  m->finger_position = r.u8();
  m->impression_type = r.u8() & 0x0F;
  m->finger_quality = r.u8();
  const int n = r.u8();
  if (length < F::minutiae + 2u + 6u * n) return ML_UNAVAILABLE;
  read_minutiae(r, m, n, 6, false, false);
  m->product_id = MINREC_DEFAULT_PRODUCT_ID;
  return r.ok() ? ML_OK : ML_UNAVAILABLE;
}

int parse_iso2011(std::span<const std::uint8_t> all, MinutiaeRecord* m) {
  if (fmr_version_of(all) != 30 || all.size() < 12) return ML_UNAVAILABLE;
  std::span<const std::uint8_t> b;
  using F = Iso2011Fields;
  const std::uint32_t length = ByteReader(all.subspan(F::length)).u32();
  if (length <= 48 || !declared(all, length, b)) return ML_UNAVAILABLE;
  ByteReader r(b);
  const std::size_t p = iso2011_body_start(r);
  r.seek(p + F::entry_size);
  const int entry = r.u8() >> 4;
  const int n = r.u8();
  if (!r.ok() || length < p + F::minutiae + std::size_t(entry) * n + 2) return ML_UNAVAILABLE;
  // An entry must hold the five bytes of coordinates, type and angle.
  if (entry < 5) return ML_UNAVAILABLE;
  r.seek(p + F::x_resolution);
  if (const int s = resolutions(r, m)) return s;
  r.seek(p + F::width);
  m->width = r.u16();
  m->height = r.u16();
  r.seek(p + F::minutiae);
  read_minutiae(r, m, n, entry, false, true);
  r.seek(p + F::finger_position);
  m->finger_position = r.u8();
  r.seek(p + F::impression_type);
  m->impression_type = r.u8();
  // The finger quality is that of the first quality record; without one,
  // byte 34 already belongs to the finger representation.
  r.seek(F::quality_count);
  const bool has_quality = r.u8() != 0;
  m->finger_quality = has_quality ? r.u8() : 0;
  if (m->finger_quality > 100) m->finger_quality = 0;
  r.seek(F::product_id);
  m->product_id = r.u32();
  return r.ok() ? ML_OK : ML_UNAVAILABLE;
}

int parse_ansi2004(std::span<const std::uint8_t> all, MinutiaeRecord* m) {
  if (fmr_version_of(all) != 20 || all.size() < 10) return ML_UNAVAILABLE;
  std::span<const std::uint8_t> b;
  using F = Ansi2004Fields;
  const std::uint32_t length = ByteReader(all.subspan(F::length)).u16();
  if (length < F::minutiae || !declared(all, length, b)) return ML_UNAVAILABLE;
  ByteReader r(b);
  r.seek(F::product_id);
  m->product_id = r.u32();
  r.seek(F::width);
  m->width = r.u16();
  m->height = r.u16();
  if (const int s = resolutions(r, m)) return s;
  r.seek(F::finger_position);
  m->finger_position = r.u8();
  m->impression_type = r.u8() & 0x0F;
  m->finger_quality = r.u8();
  const int n = r.u8();
  if (F::minutiae + 1u + 6u * n >= length) return ML_UNAVAILABLE;
  read_minutiae(r, m, n, 6, true, false);
  return r.ok() ? ML_OK : ML_UNAVAILABLE;
}

int parse_ansi2009(std::span<const std::uint8_t> all, MinutiaeRecord* m) {
  if (fmr_version_of(all) != 30 || all.size() < 12) return ML_UNAVAILABLE;
  std::span<const std::uint8_t> b;
  using F = Ansi2009Fields;
  const std::uint32_t length = ByteReader(all.subspan(F::length_low)).u16();
  if (length <= F::minutia_count || !declared(all, length, b)) return ML_UNAVAILABLE;
  ByteReader r(b);
  r.seek(F::product_id);
  m->product_id = r.u32();
  r.seek(F::width);
  m->width = r.u16();
  m->height = r.u16();
  if (const int s = resolutions(r, m)) return s;
  r.seek(F::minutia_count);
  const int n = r.u8();
  if (F::minutiae + 1u + 6u * n >= length) return ML_UNAVAILABLE;
  read_minutiae(r, m, n, 6, true, true);
  r.seek(F::finger_position);
  m->finger_position = r.u8();
  r.seek(F::impression_type);
  m->impression_type = r.u8();  // a whole byte here: codes run to 29
  m->finger_quality = r.u8();
  if (m->finger_quality > 100) m->finger_quality = 0;
  return r.ok() ? ML_OK : ML_UNAVAILABLE;
}

using Parser = int (*)(std::span<const std::uint8_t>, MinutiaeRecord*);

int parse_family(std::span<const std::uint8_t> b, MinutiaeRecord* m, Parser v20, Parser v30) {
  switch (fmr_version_of(b)) {
    case 20: return v20(b, m);
    case 30: return v30(b, m);
    default: return ML_UNAVAILABLE;
  }
}

int convert(const std::uint8_t* bytes, std::uint32_t size, int max_minutiae, bool from_ansi,
            Form target, std::uint8_t** out, std::uint32_t* out_size) {
  if (!bytes || !out) return ML_BAD_ARGUMENT;
  MinutiaeRecord* m = zyl::matchlib::minrec_create();
  if (!m) return ML_NO_MEMORY;
  const std::span<const std::uint8_t> b(bytes, size);
  int status = from_ansi ? parse_family(b, m, parse_ansi2004, parse_ansi2009)
                         : parse_family(b, m, parse_iso2005, parse_iso2011);
  if (status == ML_OK) {
    m->count = static_cast<std::uint8_t>(std::clamp<int>(max_minutiae, 0, m->count));
    status = build(m, target, true, out, out_size);
  }
  zyl::matchlib::minrec_free(m);
  return status;
}

int check_iso_size(std::span<const std::uint8_t> b) {
  if (b.size() <= 11 || std::memcmp(b.data(), "FMR", 3) != 0) return ML_UNAVAILABLE;
  ByteReader r(b);
  r.seek(FmrCommon::length);
  if (r.u32() != b.size()) return ML_UNAVAILABLE;
  const int version = fmr_version_of(b);
  if (version == 20) return ML_OK;
  if (version != 30 || b.size() <= 46) return ML_UNAVAILABLE;
  const int count = r.u16();  // representation count
  if (count < 1 || count > 8192) return ML_UNAVAILABLE;
  std::uint64_t pos = Iso2011Fields::first_representation;
  for (int i = 0; i < count; ++i) {
    if (pos + 4 > b.size()) return ML_UNAVAILABLE;
    r.seek(static_cast<std::size_t>(pos));
    const std::uint32_t length = r.u32();
    if (length < 34) return ML_UNAVAILABLE;
    pos += length;
  }
  return pos == b.size() ? ML_OK : ML_UNAVAILABLE;
}

int merge_views(std::span<const std::uint8_t> a, int finger_a, std::span<const std::uint8_t> b,
                int finger_b, std::uint8_t** out, std::uint32_t* out_size) {
  const int version = fmr_version_of(a);
  if (finger_a == finger_b || version == 0 || version != fmr_version_of(b)) return ML_UNAVAILABLE;
  std::uint8_t* buffer = nullptr;
  std::size_t size = 0;
  if (version == 20) {
    // The second record's views follow the first's whole record; the fixed
    // header (magic to view count) must agree apart from the length.
    using F = Ansi2004Fields;
    constexpr std::size_t view_at = F::first_view;
    if (a.size() < F::minutiae || b.size() < F::minutiae ||
        std::memcmp(a.data(), b.data(), F::length) != 0 ||
        std::memcmp(a.data() + F::product_id, b.data() + F::product_id,
                    F::view_count - F::product_id) != 0)
      return ML_UNAVAILABLE;
    size = a.size() + b.size() - view_at;
    if (size > 0xFFFF) return ML_UNAVAILABLE;  // the length field is 16 bits
    buffer = static_cast<std::uint8_t*>(ml_malloc(size));
    if (!buffer) return ML_NO_MEMORY;
    std::memcpy(buffer, a.data(), a.size());
    std::memcpy(buffer + a.size(), b.data() + view_at, b.size() - view_at);
    ByteWriter w({buffer, size});
    w.patch_u16(F::length, static_cast<std::uint32_t>(size));
    buffer[F::view_count] = 2;
    // Each view's finger position byte, then its view number (high 4 bits)
    // cleared beside the impression type.
    buffer[F::finger_position] = static_cast<std::uint8_t>(finger_a);
    buffer[F::impression_type] &= 0x0F;
    buffer[a.size()] = static_cast<std::uint8_t>(finger_b);
    buffer[a.size() + 1] &= 0x0F;
  } else {
    // The first record up to its minutiae, a zero extended-data length, then
    // the second record's view (its header and minutiae) and its own zero
    // extended-data length.
    using F = Ansi2009Fields;
    constexpr std::size_t view_header = F::minutiae - F::first_view;
    if (a.size() < F::minutiae + 2 || b.size() < F::minutiae + 2) return ML_UNAVAILABLE;
    const std::size_t n1 = a[F::minutia_count], n2 = b[F::minutia_count];
    if (std::memcmp(a.data() + F::product_id, b.data() + F::product_id, 4) != 0 ||
        a[F::view_count] == 0 || b[F::view_count] == 0 || a.size() < F::minutiae + 6 * n1 ||
        b.size() < F::minutiae + 6 * n2)
      return ML_UNAVAILABLE;
    size = F::minutiae + 6 * n1 + 2 + view_header + 6 * n2 + 2;
    buffer = static_cast<std::uint8_t*>(ml_calloc(size, 1));
    if (!buffer) return ML_NO_MEMORY;
    std::memcpy(buffer, a.data(), F::minutiae + 6 * n1);
    std::size_t pos = F::minutiae + 6 * n1 + 2;
    std::memcpy(buffer + pos, b.data() + F::first_view, view_header + 6 * n2);
    ByteWriter w({buffer, size});
    w.patch_u32(F::length, static_cast<std::uint32_t>(size));
    buffer[F::view_count] = 2;
    buffer[F::finger_position] = static_cast<std::uint8_t>(finger_a);
    buffer[pos] = static_cast<std::uint8_t>(finger_b);
  }
  *out = buffer;
  if (out_size) *out_size = static_cast<std::uint32_t>(size);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;
using zyl::ByteReader;
using zyl::ByteWriter;

MinutiaeRecord* zyl::matchlib::minrec_create(void) {
  return static_cast<MinutiaeRecord*>(ml_calloc(1, sizeof(MinutiaeRecord)));
}

void zyl::matchlib::minrec_free(MinutiaeRecord* record) {
  if (!record) return;
  std::free(record->zonal_quality.cells);
  std::free(record->orientation.cells);
  std::free(record->frequency.cells);
  std::free(record->orientation_fine);
  std::free(record->frequency_fine);
  for (auto& slot : record->trace_slots) std::free(slot.data);
  std::free(record);
}

int zyl::matchlib::fmr_build_iso2005(const MinutiaeRecord* record, uint8_t** out,
                                     uint32_t* out_size) {
  return build(record, Form::Iso2005, true, out, out_size);
}
int zyl::matchlib::fmr_build_ansi2004(const MinutiaeRecord* record, uint8_t** out,
                                      uint32_t* out_size) {
  return build(record, Form::Ansi2004, true, out, out_size);
}
int zyl::matchlib::fmr_build_ansi2009(const MinutiaeRecord* record, uint8_t** out,
                                      uint32_t* out_size) {
  return build(record, Form::Ansi2009, true, out, out_size);
}
int zyl::matchlib::fmr_build_iso2011(const MinutiaeRecord* record, uint8_t** out,
                                     uint32_t* out_size) {
  return build(record, Form::Iso2011, true, out, out_size);
}
int zyl::matchlib::fmr_write_iso2011(const MinutiaeRecord* record, uint8_t** out,
                                     uint32_t* out_size) {
  return build(record, Form::Iso2011, false, out, out_size);
}

#define ZYL_FMR_PARSER(name, impl)                                                           \
  int zyl::matchlib::name(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record) {     \
    if (!bytes || !record) return ML_BAD_ARGUMENT;                                           \
    return impl;                                                                             \
  }                                                                                          \
  extern "C" ZYL_API int name(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record) { \
    return zyl::matchlib::name(bytes, size, record);                                         \
  }
ZYL_FMR_PARSER(fmr_parse_iso2005, parse_iso2005({bytes, size}, record))
ZYL_FMR_PARSER(fmr_parse_iso2011, parse_iso2011({bytes, size}, record))
ZYL_FMR_PARSER(fmr_parse_iso, parse_family({bytes, size}, record, parse_iso2005, parse_iso2011))
ZYL_FMR_PARSER(fmr_parse_ansi2004, parse_ansi2004({bytes, size}, record))
ZYL_FMR_PARSER(fmr_parse_ansi2009, parse_ansi2009({bytes, size}, record))
ZYL_FMR_PARSER(fmr_parse_ansi,
               parse_family({bytes, size}, record, parse_ansi2004, parse_ansi2009))
#undef ZYL_FMR_PARSER

int zyl::matchlib::fmr_to_iso2005(const uint8_t* bytes, uint32_t size, int max_minutiae,
                                  uint8_t** out, uint32_t* out_size) {
  return convert(bytes, size, max_minutiae, true, Form::Iso2005, out, out_size);
}
extern "C" ZYL_API int fmr_to_iso2011(const uint8_t* bytes, uint32_t size, int max_minutiae,
                                      uint8_t** out, uint32_t* out_size) {
  return convert(bytes, size, max_minutiae, true, Form::Iso2011, out, out_size);
}
extern "C" ZYL_API int fmr_to_ansi2004(const uint8_t* bytes, uint32_t size, int max_minutiae,
                                       uint8_t** out, uint32_t* out_size) {
  return convert(bytes, size, max_minutiae, false, Form::Ansi2004, out, out_size);
}
extern "C" ZYL_API int fmr_to_ansi2009(const uint8_t* bytes, uint32_t size, int max_minutiae,
                                       uint8_t** out, uint32_t* out_size) {
  return convert(bytes, size, max_minutiae, false, Form::Ansi2009, out, out_size);
}

extern "C" ZYL_API int fmr_version(const uint8_t* bytes, uint32_t size) {
  return bytes ? fmr_version_of({bytes, size}) : 0;
}

uint32_t zyl::matchlib::fmr_get_length(const uint8_t* bytes, uint32_t size) {
  if (!bytes || size < 12 || fmr_version_of({bytes, size}) == 0) return 0;
  return ByteReader({bytes + FmrCommon::length, 4}).u32();
}

extern "C" ZYL_API uint32_t fmr_get_length_ansi(const uint8_t* bytes, uint32_t size) {
  if (!bytes || size < 12) return 0;
  switch (fmr_version_of({bytes, size})) {
    case 20: return ByteReader({bytes + Ansi2004Fields::length, 2}).u16();
    case 30: return ByteReader({bytes + Ansi2009Fields::length_low, 2}).u16();
    default: return 0;
  }
}

extern "C" ZYL_API int fmr_check_iso_size(const uint8_t* bytes, uint32_t size) {
  return bytes ? check_iso_size({bytes, size}) : ML_UNAVAILABLE;
}

extern "C" ZYL_API int fmr_check_ansi_size(const uint8_t* bytes, uint32_t size) {
  if (!bytes || size <= 11) return ML_UNAVAILABLE;
  const std::span<const std::uint8_t> b(bytes, size);
  ByteReader r(b);
  switch (fmr_version_of(b)) {
    case 20: {
      // ANSI has a 16-bit length where ISO has a 32-bit one.
      r.seek(Ansi2004Fields::length);
      const std::uint16_t short_length = r.u16();
      r.seek(Iso2005Fields::length);
      const std::uint32_t long_length = r.u32();
      return short_length == size && long_length != size ? ML_OK : ML_UNAVAILABLE;
    }
    case 30:
      r.seek(Ansi2009Fields::length_low);
      if (r.u16() != size) return ML_UNAVAILABLE;
      return check_iso_size(b) == ML_OK ? ML_UNAVAILABLE : ML_OK;
    default: return ML_UNAVAILABLE;
  }
}

extern "C" ZYL_API int fmr_merge_views(const uint8_t* first, uint32_t first_size, int first_finger,
                                       const uint8_t* second, uint32_t second_size,
                                       int second_finger, uint8_t** out, uint32_t* out_size) {
  if (!first || !second || !out) return ML_BAD_ARGUMENT;
  return merge_views({first, first_size}, first_finger, {second, second_size}, second_finger,
                     out, out_size);
}

extern "C" {

ZYL_API MinutiaeRecord* minrec_create(void) { return zyl::matchlib::minrec_create(); }
ZYL_API void minrec_free(MinutiaeRecord* record) { zyl::matchlib::minrec_free(record); }
ZYL_API int fmr_build_iso2005(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size) {
  return zyl::matchlib::fmr_build_iso2005(record, out, out_size);
}
ZYL_API int fmr_build_ansi2004(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size) {
  return zyl::matchlib::fmr_build_ansi2004(record, out, out_size);
}
ZYL_API int fmr_build_ansi2009(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size) {
  return zyl::matchlib::fmr_build_ansi2009(record, out, out_size);
}
ZYL_API int fmr_build_iso2011(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size) {
  return zyl::matchlib::fmr_build_iso2011(record, out, out_size);
}
ZYL_API int fmr_write_iso2011(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size) {
  return zyl::matchlib::fmr_write_iso2011(record, out, out_size);
}
ZYL_API int fmr_to_iso2005(const uint8_t* bytes, uint32_t size, int max_minutiae, uint8_t** out,
                           uint32_t* out_size) {
  return zyl::matchlib::fmr_to_iso2005(bytes, size, max_minutiae, out, out_size);
}
ZYL_API uint32_t fmr_get_length(const uint8_t* bytes, uint32_t size) {
  return zyl::matchlib::fmr_get_length(bytes, size);
}

}  // extern "C"
