// The type-line extractor's stages as the engine calls them: typed views in,
// no argument checks (the exported C names check and convert, then call
// these). Images are w x h bytes, row by row.
#pragma once

#include <cstdint>
#include <span>

#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_template.h"

namespace zyl::typeline {

// The exported dyn_image_height under the name the engine's code writes:
// the height of the last image given to the template entry points.
extern int& last_template_height;

// Grey-level normalisation of in into out (the same number of pixels).
void normalize_grey(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

// Mean over (2 radius + 1)^2 windows, in place.
void smooth_box(std::span<std::uint8_t> image, int w, int h, int radius);
void segment(std::span<const std::uint8_t> image, std::span<std::uint8_t> mask, int w, int h);
void sharpen(std::span<std::uint8_t> target, std::span<const std::uint8_t> source, std::span<const std::uint8_t> mask,
             int w, int h, int radius);

void estimate_orientation(std::span<std::uint8_t> map, std::span<const std::uint8_t> image, int w, int h,
                          std::span<std::uint8_t> reliability);
void reestimate_orientation(std::span<std::uint8_t> map, std::span<const std::uint8_t> binary, int w, int h);
// Filters image along the orientation map; copy ends as a copy of the result.
void directional_filter(std::span<std::uint8_t> image, std::span<const std::uint8_t> map, std::span<std::uint8_t> copy,
                        int w, int h);
void binarise(std::span<const std::uint8_t> map, std::span<std::uint8_t> out, std::span<const std::uint8_t> image, int w,
              int h, int r1, int r2);
void smooth_binary(std::span<std::uint8_t> binary, int w, int h);
void remove_holes(std::span<const std::uint8_t> map, std::span<std::uint8_t> binary, int w, int h);
// columns * rows must be at most TYPELINE_MAX_BLOCKS.
void sample_blocks(std::span<const std::uint8_t> map, int w, int h, TypelineBlockGrid& grid, int columns, int rows);

void find_singular_points(CoreList& cores, std::span<const std::uint8_t> map, int w, int h);
void copy_singular_points(const CoreList& cores, TypelineRecord& record);
int ridge_frequency(std::span<const std::uint8_t> binary, std::span<const std::uint8_t> map, const CoreList& cores, int w,
                    int h);

// Returns the pattern type; work is w x h bytes of scratch.
int trace_type_lines(TypelineRecord& record, CoreList& cores, std::span<const std::uint8_t> map, std::span<std::uint8_t> work,
                     int w, int h);

void trace_minutiae(std::span<const std::uint8_t> grey, std::span<std::uint16_t> labels,
                     std::span<const std::uint8_t> orientation, int w, int h, MinutiaCandidateList& list);
void filter_minutiae(MinutiaCandidateList& list, const CoreList& cores, std::span<const std::uint8_t> orientation, int w,
                     int h);
int ridge_density(const CoreList& cores, std::span<const std::uint8_t> orientation, int radius,
                  std::span<const std::uint16_t> labels, int w, int h);
// reliability holds (h / 2) x (w / 2) cells.
void rate_minutiae(MinutiaCandidateList& list, std::span<const std::uint8_t> reliability, int w, int h);
void arrange_minutiae(MinutiaCandidateList& list, TypelineMinutiaList& minutiae, std::span<const std::uint8_t> orientation,
                      int w, int h);

// Traces the ridge through g both ways and adds the ends found to list;
// 1 when a trace started (labelCounter then moves on), 0 otherwise.
int trace_from(TypelinePoint g, std::span<const std::uint8_t> grey, std::span<std::uint16_t> labels,
               std::span<const std::uint8_t> orientation, int w, int h, MinutiaCandidateList& list, int& labelCounter);

// Whether two ends face each other closely enough to be one broken ridge.
bool is_false_pair(int x1, int y1, int d1, int x2, int y2, int d2);
// Marks and removes close pairs of weak minutiae of opposed directions.
void drop_weak_opposed_minutiae(MinutiaCandidateList& list);
// Curvature 0..127 of the orientation around (x, y); 0 outside the image.
int point_curvature(int x, int y, std::span<const std::uint8_t> orientation, int w, int h);
// Ridge frequency sampled at (x, y); 0 outside the image.
int frequency_at(int x, int y, std::span<const std::uint8_t> binary, std::span<const std::uint8_t> map, int w, int h);

// Histogram of image into histogram, counts of 5 or less cleared; the
// number of grey levels 1..255 left.
int image_histogram(std::span<const std::uint8_t> image, std::span<std::uint32_t, 256> histogram);
// Mean grey level of the centre half (w / 2 x h / 2) of the image.
int center_grey_level(std::span<const std::uint8_t> image, int w, int h);
// Quality 0..100 of a binary ridge image, with its measures in info.
int rate_binary_image(std::span<const std::uint8_t> binary, int w, int h, ImageQualityInfo& info);
// The preparation stages up to the binary ridge image, then its quality
// into info: 1, or -21 when the scratch cannot be allocated.
int binary_image_quality(std::span<std::uint8_t> grey, int w, int h, ImageQualityInfo& info);

}  // namespace zyl::typeline
