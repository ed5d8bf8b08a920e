// The library's own compact minutiae template: writer, reader and the
// run-length code of its block direction grid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/byte_io.h"
#include "zylscan/feature_record.h"

namespace zyl::api {

// Feature buffers of the SDK are 1024 bytes; the exported entry points that
// take no length read and write at most this much.
inline constexpr std::size_t kTemplateBufferSize = 1024;

inline constexpr std::size_t kNuvelHeaderSize = 7;
inline constexpr int kNuvelOffsetLimit = 2047;  // 11-bit offsets from the origin
inline constexpr int kNuvelMaxWritten = 60;     // minutiae written from a feature record
inline constexpr int kNuvelMaxSingularWritten = 5;
// Largest counts any producer of the format writes (the ANSI converter writes
// up to 90 minutiae); a template declaring more is refused.
inline constexpr int kNuvelMaxMinutiae = 90;
inline constexpr int kNuvelMaxSingular = 5;
inline constexpr int kNuvelAngleSteps = 240;
inline constexpr std::uint8_t kNuvelConvertedBorderDensity = 150;

// Status of a refused template (malformed, truncated, counts out of range).
inline constexpr int kBadTemplate = -901;

enum NuvelFlag : std::uint8_t {
  kNuvelCurvature = 1,
  kNuvelSingular = 2,
  kNuvelBlocks = 4,
};

// What the writer includes besides the minutiae (context ids 10021, 10022,
// 10024 and 10025).
struct NuvelWriterSettings {
  bool curvature = true;
  bool singular = true;
  bool kind1Only = false;
  bool blocks = false;
};

struct NuvelOrigin {
  int x = 0;
  int y = 0;
};

// Smallest coordinates of a set of points, each clamped to -2048..2047; the
// origin of no points at all is (0, 0).
class OriginFinder {
 public:
  void add(int x, int y) {
    if (!any_ || x < minX_) minX_ = x;
    if (!any_ || y < minY_) minY_ = y;
    any_ = true;
  }
  NuvelOrigin origin() const;

 private:
  bool any_ = false;
  int minX_ = 0;
  int minY_ = 0;
};

// Builds a template front to back in a bounded buffer: header, minutiae, then
// optionally the singular-point list. Points whose offsets from the origin
// fall outside the limits given are skipped, as are points beyond the cap.
class NuvelBuilder {
 public:
  NuvelBuilder(std::span<std::uint8_t> out, std::uint8_t flags, std::uint8_t borderDensity,
               NuvelOrigin origin);

  // Writes one minutia (plus its curvature byte when the curvature flag is
  // set) unless it lies outside the offset limits or the cap is reached.
  bool add_minutia(int x, int y, int type, int angle, int curvature = 255);
  // Starts the singular-point list: patches the minutiae count and reserves
  // the singular count byte.
  void begin_singular();
  bool add_singular(int x, int y, int kindCode, int angle);
  // Patches the last count and returns the bytes written (0 when the buffer
  // was too small).
  std::size_t finish();

  void set_minutia_cap(int cap) { minutiaCap_ = cap; }
  void set_singular_cap(int cap) { singularCap_ = cap; }
  void set_offset_limits(int maxDx, int maxDy) {
    maxDx_ = maxDx;
    maxDy_ = maxDy;
  }
  int minutiae_written() const { return minutiae_; }
  ByteWriter& writer() { return w_; }

 private:
  bool offsets(int x, int y, std::uint32_t& dx, std::uint32_t& dy) const;

  std::span<std::uint8_t> out_;
  ByteWriter w_;
  std::uint8_t flags_;
  NuvelOrigin origin_;
  int minutiaCap_ = kNuvelMaxWritten;
  int singularCap_ = kNuvelMaxSingularWritten;
  int maxDx_ = kNuvelOffsetLimit;
  int maxDy_ = kNuvelOffsetLimit;
  int minutiae_ = 0;
  int singular_ = 0;
  std::size_t singularCountAt_ = 0;
  bool inSingular_ = false;
};

// Kind of a singular point <-> its two-bit code in the template.
std::uint32_t singular_kind_code(int kind);
int singular_kind_from_code(std::uint32_t code);

// Writes the template for a feature record. Returns the length, or 0 when
// out cannot hold even the template without its block section; a block
// section that does not fit is left out (its flag cleared).
std::size_t compress_features(const FeatureRecord& record, std::span<std::uint8_t> out,
                              const NuvelWriterSettings& settings);

// What the reader does with the grid of a record whose template has no
// block section (its size is then 0 x 0): fill every cell with 255, or leave
// the bytes as they were, for a caller that never reads the cells of a grid
// of size 0 (the matcher's own decoding for a comparison).
enum class AbsentGrid { Clear, Leave };

// Reads a template into a feature record. Returns the bytes read before the
// block section, or kBadTemplate (the record then holds no minutiae and no
// singular points) when the template is truncated or declares more minutiae
// or singular points than the format holds. Angles are reduced modulo 240.
int decompress_features(std::span<const std::uint8_t> tmpl, FeatureRecord& record,
                        AbsentGrid absent = AbsentGrid::Clear);

// The block direction section. The writer returns the bytes written, 0 when
// the grid is empty (no columns or rows) or out is too small.
std::size_t compress_block_grid(const FeatureRecord& record, std::span<std::uint8_t> out);
// Codes one run of directions after `previous` (updated to the last value
// coded); never writes more bytes than values.
void compress_block_line(int& previous, std::span<const std::uint8_t> values, ByteWriter& out);
// Reads a block direction section into the record's grid (every cell first
// set to 255; a grid wider or taller than 128 blocks is clamped, its codes
// still followed); returns the bytes read. Reading stops at the end of data.
std::size_t decompress_block_grid(std::span<const std::uint8_t> data, FeatureRecord& record);

// Library-wide value behind SetFingerPoint / GetFingerPoint.
void set_finger_point(int value);
int finger_point();

}  // namespace zyl::api
