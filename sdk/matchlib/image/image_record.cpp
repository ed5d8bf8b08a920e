// The stored form of a whole grey image: size-or-write writer and bounded
// reader, all multi-byte fields big-endian.
#include "matchlib/core/allocation.h"
#include "matchlib/image/image_record.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/byte_io.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/image/mask_plane.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/grey_image.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint8_t kRecordVersion = 1;
constexpr std::size_t kWindowBytes = 13;
// Fields between the source window and the finger information.
constexpr std::size_t kStatisticBytes = 15;

void write_window(ByteWriter& w, const SourceWindow* window) {
  w.u8(window ? 1 : 0);
  if (!window) return;
  w.u16(window->source_height);
  w.u16(window->source_width);
  w.u16(window->height);
  w.u16(window->width);
  w.u16(static_cast<std::uint16_t>(window->row_offset));
  w.u16(static_cast<std::uint16_t>(window->column_offset));
}

// 1 for no window, 13 with a window in `out`; 0 when short.
std::size_t read_window(ByteReader& r, SourceWindow& out, bool& present) {
  present = false;
  const std::size_t start = r.pos();
  if (!r.u8()) return r.ok() ? 1 : 0;
  out.source_height = r.u16();
  out.source_width = r.u16();
  out.height = r.u16();
  out.width = r.u16();
  out.row_offset = r.s16();
  out.column_offset = r.s16();
  if (!r.ok()) return 0;
  present = true;
  return r.pos() - start;
}

// Bytes of the record of a non-null image, or 0 when it would not fit the
// 32-bit length the writer answers.
std::uint64_t record_size(const GrayImage* image) {
  const std::uint64_t n = pixel_count(image);
  return 2 + 8 + (image->source_window ? kWindowBytes : 1) + kStatisticBytes +
         zyl::matchlib::finger_info_write(nullptr, image->finger_info) + n +
         zyl::matchlib::mask_write(nullptr, image->mask);
}

}  // namespace

std::size_t read_image(std::span<const std::uint8_t> in, Ref<GrayImage>& out) {
  out.reset();
  ByteReader r(in);
  const std::uint8_t version = r.u8();
  if (!r.ok() || version > kRecordVersion) return 0;
  const std::uint8_t present = r.u8();
  if (!r.ok()) return 0;
  if (!present) return 2;
  const std::uint16_t height = r.u16();
  const std::uint16_t width = r.u16();
  const std::uint16_t resolution_x = r.u16();
  const std::uint16_t resolution_y = r.u16();
  SourceWindow window{};
  bool has_window = false;
  if (!r.ok() || read_window(r, window, has_window) == 0) return 0;

  const std::uint8_t quality = r.u8();
  const std::uint16_t area = r.u16();
  const std::uint8_t foreground_percent = r.u8();
  const std::uint8_t bright_percent = r.u8();
  const std::uint8_t contrast = r.u8();
  const std::uint8_t contrast_first = r.u8();
  const std::uint8_t contrast_second = r.u8();
  const std::uint8_t laplacian = r.u8();
  const std::uint8_t range_mean = r.u8();
  const std::uint8_t impression_type = r.u8();
  const std::uint8_t property = r.u8();
  const std::uint16_t stored_quality = r.u16();
  const std::uint8_t flag_word = r.u8();
  if (!r.ok()) return 0;

  Ref<FingerInfo> info;
  const std::size_t info_bytes = read_finger_info(in.subspan(r.pos()), info);
  if (info_bytes == 0) return 0;
  r.skip(info_bytes);

  const auto pixels = r.view(std::size_t{height} * width);
  if (!r.ok()) return 0;

  Ref<MaskPlane> mask;
  const std::size_t mask_bytes = read_mask(in.subspan(r.pos()), mask);
  if (mask_bytes == 0) return 0;
  r.skip(mask_bytes);
  // A plane that does not cover the image cell for cell would let every
  // later mask test run past it: such a record is corrupt.
  if (mask && (mask->height != height || mask->width != width)) return 0;

  Ref<GrayImage> img = Ref<GrayImage>::adopt(zyl::matchlib::image_create_general(
      height, width, resolution_y, resolution_x, const_cast<std::uint8_t*>(pixels.data()),
      impression_type, 0, 0, nullptr, nullptr, 1));
  if (!img) return 0;
  if (has_window) {
    img->source_window = static_cast<SourceWindow*>(ml_malloc(sizeof(SourceWindow)));
    if (!img->source_window) return 0;
    *img->source_window = window;
  }
  // Stored values come back as the unsigned numbers they were written as:
  // an unset statistic (written as 255 or 65535) reads as that value.
  img->stats = ImageStatistics{quality,        area,           foreground_percent,
                               bright_percent, contrast,       contrast_first,
                               contrast_second, range_mean,    laplacian};
  img->flag_word = flag_word;
  img->stored_quality = static_cast<std::int16_t>(stored_quality);
  if (property < 32) img->property_byte = property;
  img->mask = mask.release();
  img->finger_info = info.release();
  out = std::move(img);
  return r.pos();
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API uint32_t source_window_write(uint8_t* out, const SourceWindow* window) {
  const auto n = static_cast<std::uint32_t>(window ? kWindowBytes : 1);
  if (!out) return n;
  zyl::ByteWriter w({out, n});
  write_window(w, window);
  return n;
}

extern "C" ZYL_API uint32_t source_window_read(const uint8_t* in, SourceWindow** out) {
  if (!out) return 0;
  *out = nullptr;
  if (!in) return 0;
  zyl::ByteReader r({in, in[0] ? kWindowBytes : 1});
  SourceWindow window{};
  bool present = false;
  const std::size_t n = read_window(r, window, present);
  if (present) {
    *out = static_cast<SourceWindow*>(ml_malloc(sizeof(SourceWindow)));
    if (!*out) return 0;
    **out = window;
  }
  return static_cast<uint32_t>(n);
}

uint32_t zyl::matchlib::image_write(uint8_t* out, const GrayImage* image) {
  if (!image) {
    if (out) {
      out[0] = kRecordVersion;
      out[1] = 0;
    }
    return 2;
  }
  const std::uint64_t size = record_size(image);
  if (size > std::numeric_limits<std::uint32_t>::max()) return 0;
  const auto n = static_cast<std::uint32_t>(size);
  if (!out) return n;
  zyl::ByteWriter w({out, n});
  w.u8(kRecordVersion);
  w.u8(1);
  w.u16(image->height);
  w.u16(image->width);
  w.u16(image->resolution_x);
  w.u16(image->resolution_y);
  write_window(w, image->source_window);
  const ImageStatistics& s = image->stats;
  auto low8 = [](std::int32_t v) { return static_cast<std::uint8_t>(v); };
  w.u8(low8(s.quality));
  w.u16(static_cast<std::uint16_t>(s.foreground_area));
  w.u8(low8(s.foreground_percent));
  w.u8(low8(s.bright_percent));
  w.u8(low8(s.block_contrast));
  w.u8(low8(s.contrast_first));
  w.u8(low8(s.contrast_second));
  w.u8(low8(s.laplacian_spread));
  w.u8(low8(s.block_range_mean));
  w.u8(low8(image->impression_type));
  w.u8(image->property_byte);
  w.u16(static_cast<std::uint16_t>(image->stored_quality));
  w.u8(static_cast<std::uint8_t>(image->flag_word));
  std::size_t at = w.pos();
  at += zyl::matchlib::finger_info_write(out + at, image->finger_info);
  const std::size_t pixels = pixel_count(image);
  // Pixels handed back early are stored as white.
  if (image->pixels)
    std::memcpy(out + at, image->pixels, pixels);
  else
    std::memset(out + at, 255, pixels);
  at += pixels;
  zyl::matchlib::mask_write(out + at, image->mask);
  return n;
}

uint32_t zyl::matchlib::image_read_bounded(const uint8_t* in, uint32_t available, GrayImage** out) {
  if (!out) return 0;
  *out = nullptr;
  if (!in) return 0;
  Ref<GrayImage> img;
  const std::size_t n = read_image({in, available}, img);
  *out = img.release();
  return static_cast<uint32_t>(n);
}

extern "C" ZYL_API uint32_t image_read(const uint8_t* in, GrayImage** out) {
  if (!out) return 0;
  *out = nullptr;
  if (!in) return 0;
  // The caller vouches for the record. Its header bounds it: the largest
  // record of that size has a window, a full finger record and a plane.
  if (in[0] > kRecordVersion) return 0;
  if (in[1] == 0) return 2;
  zyl::ByteReader header({in + 2, 4});
  const std::uint64_t n = std::uint64_t{header.u16()} * header.u16();
  const std::uint64_t bound = 10 + kWindowBytes + kStatisticBytes + 19 + n + 5 + n;
  return zyl::matchlib::image_read_bounded(
      in, static_cast<uint32_t>(std::min<std::uint64_t>(bound, UINT32_MAX)), out);
}

extern "C" {

ZYL_API uint32_t image_write(uint8_t* out, const GrayImage* image) {
  return zyl::matchlib::image_write(out, image);
}
ZYL_API uint32_t image_read_bounded(const uint8_t* in, uint32_t available, GrayImage** out) {
  return zyl::matchlib::image_read_bounded(in, available, out);
}

}  // extern "C"
