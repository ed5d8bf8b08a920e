// Prints the minutiae that the skeleton engine (or, with --matchlib, the
// matcher library's grey pipeline) finds in an 8-bit PGM image and can draw
// them onto a colour copy of the image (or of its skeleton).
//
//   minutiae_view IMAGE.pgm [--draw OUT.ppm] [--skeleton] [--mode N]
//   minutiae_view IMAGE.pgm --matchlib [--half] [--draw OUT.ppm]
//
// Endings are drawn red, bifurcations blue, each with a tick along its
// direction; singular points are green crosses.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "extract/byte_image.h"
#include "support/pgm.h"
#include "zylscan/extract_pipeline.h"
#include "zylscan/geometry.h"
#include "zylscan/image_quality.h"
#include "zylscan/image_stretch.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/xw.h"

namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

class Canvas {
 public:
  Canvas(const zyl::test::GreyImage& base) : w_(base.width), h_(base.height), px_(base.pixels.size()) {
    for (size_t i = 0; i < px_.size(); ++i) px_[i] = {base.pixels[i], base.pixels[i], base.pixels[i]};
  }
  void dot(int x, int y, Rgb c) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_) px_[static_cast<size_t>(y) * w_ + x] = c;
  }
  void box(int x, int y, int r, Rgb c) {
    for (int i = -r; i <= r; ++i) {
      dot(x + i, y - r, c);
      dot(x + i, y + r, c);
      dot(x - r, y + i, c);
      dot(x + r, y + i, c);
    }
  }
  // A direction in 256 steps a turn, rows counted upward.
  void tick256(int x, int y, int direction, int length, Rgb c) {
    const double a = direction * 2 * 3.14159265358979 / 256;
    for (int i = 0; i <= length; ++i)
      dot(x + static_cast<int>(std::lround(i * std::cos(a))), y - static_cast<int>(std::lround(i * std::sin(a))), c);
  }
  void tick(int x, int y, int angle, int length, Rgb c) {
    for (int i = 0; i <= length; ++i)
      dot(x + i * cos_x10E4[angle] / 10000, y + i * sin_x10E4[angle] / 10000, c);
  }
  bool save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << w_ << " " << h_ << "\n255\n";
    out.write(reinterpret_cast<const char*>(px_.data()), static_cast<std::streamsize>(px_.size() * 3));
    return static_cast<bool>(out);
  }

 private:
  int w_, h_;
  std::vector<Rgb> px_;
};

int usage() {
  std::fprintf(stderr,
               "usage: minutiae_view IMAGE.pgm [--draw OUT.ppm] [--skeleton] [--mode N]\n"
               "       minutiae_view IMAGE.pgm --matchlib [--half] [--draw OUT.ppm]\n");
  return 2;
}

// The matcher library's record of a 500-dpi image: at full resolution, or
// on the image halved (positions doubled back).
int matchlib_view(const zyl::test::GreyImage& grey, const std::string& input, bool half, const std::string& draw) {
  int h = grey.height, w = grey.width;
  std::vector<std::uint8_t> pixels = grey.pixels;
  if (half) {
    h /= 2;
    w /= 2;
    std::vector<std::uint8_t> halved(static_cast<size_t>(h) * w);
    img_resize_u8(grey.pixels.data(), grey.height, grey.width, halved.data(), h, w);
    pixels.swap(halved);
  }
  std::uint8_t* out = nullptr;
  std::uint32_t size = 0;
  const int status = minutiae_driver_grey(pixels.data(), nullptr, static_cast<std::uint16_t>(h),
                                          static_cast<std::uint16_t>(w), 0, 0, nullptr, 0, 255, 21,
                                          (half ? MINX_HALF : MINX_FULL) | MINX_CORES | MINX_DELTAS,
                                          MINX_FORMAT_MINREC, &out, &size, nullptr, nullptr);
  if (status != 0) {
    std::fprintf(stderr, "minutiae_view: the matcher library refused the image (%d)\n", status);
    return 1;
  }
  MinutiaeRecord* r = reinterpret_cast<MinutiaeRecord*>(out);
  std::printf("image %s: %d x %d, matcher library %s resolution, finger quality %d, area %d\n", input.c_str(),
              grey.width, grey.height, half ? "half" : "full", r->finger_quality, r->area);
  std::printf("%d minutiae\n  #     x     y  direction  type    quality\n", r->count);
  for (int i = 0; i < r->count; ++i)
    std::printf("%3d %5d %5d  %9d  %-7s %3d\n", i, r->minutiae[i].x, r->minutiae[i].y, r->minutiae[i].direction,
                r->minutiae[i].type == 1 ? "ending" : "branch", r->minutiae[i].quality);
  std::printf("%d cores, %d deltas\n", r->cores.count, r->deltas.count);
  int result = 0;
  if (!draw.empty()) {
    Canvas canvas(grey);
    for (int i = 0; i < r->count; ++i) {
      const MinutiaEntry& m = r->minutiae[i];
      const Rgb c = m.type == 1 ? Rgb{230, 20, 20} : Rgb{20, 60, 240};
      canvas.box(m.x, m.y, 3, c);
      canvas.tick256(m.x, m.y, m.direction, 10, c);
    }
    for (int i = 0; i < r->cores.count + r->deltas.count; ++i) {
      const bool core = i < r->cores.count;
      const int x = core ? r->cores.entries[i].x : r->deltas.entries[i - r->cores.count].x;
      const int y = core ? r->cores.entries[i].y : r->deltas.entries[i - r->cores.count].y;
      for (int d = -6; d <= 6; ++d) {
        canvas.dot(x + d, y, {20, 200, 20});
        canvas.dot(x, y + d, {20, 200, 20});
      }
    }
    if (!canvas.save(draw)) {
      std::fprintf(stderr, "minutiae_view: cannot write %s\n", draw.c_str());
      result = 1;
    }
  }
  minrec_free(r);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, draw;
  bool on_skeleton = false, matchlib = false, half = false;
  int mode = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--draw" && i + 1 < argc)
      draw = argv[++i];
    else if (a == "--skeleton")
      on_skeleton = true;
    else if (a == "--matchlib")
      matchlib = true;
    else if (a == "--half")
      half = true;
    else if (a == "--mode" && i + 1 < argc)
      mode = std::atoi(argv[++i]);
    else if (!a.empty() && a[0] != '-' && input.empty())
      input = a;
    else
      return usage();
  }
  if (input.empty()) return usage();

  zyl::test::GreyImage grey;
  try {
    grey = zyl::test::read_pgm(input);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "minutiae_view: %s\n", e.what());
    return 1;
  }
  if (matchlib) return matchlib_view(grey, input, half, draw);
  const int w = grey.width, h = grey.height;

  XWContext* context = XWCreateContext();
  if (!context || SetMode(mode, context) != 0) {
    std::fprintf(stderr, "minutiae_view: cannot set mode %d\n", mode);
    return 1;
  }
  XWSetAdditionalParameter(11000, 1, context);  // report the raw quality value
  zyl::extract::OwnedByteImage rows(w, h);
  StretchImageFromLinear(w, h, grey.pixels.data(), w, h, rows.get());
  auto record = std::make_unique<FeatureRecord>();
  const int q = ExtractFeatures(w, h, rows.get(), record.get(), context);
  XWFreeContext(context);
  if (q < 0) {
    std::fprintf(stderr, "minutiae_view: extraction refused the image (%d)\n", q);
    return 1;
  }

  std::printf("image %s: %d x %d, quality value %d (lower is better), capture quality %d\n", input.c_str(), w, h,
              q, ZylEx_GetQuality(w, h, grey.pixels.data()));
  std::printf("border density %d, blocks %u x %u\n", record->borderDensity, record->blockColumns, record->blockRows);
  std::printf("%d minutiae\n  #     x     y  angle  type  curvature\n", record->minutiaCount);
  for (int i = 0; i < record->minutiaCount; ++i)
    std::printf("%3d %5d %5d  %5d  %-9s %3d\n", i, record->minutiaX[i], record->minutiaY[i], record->minutiaAngle[i],
                record->minutiaType[i] == 0 ? "ending" : "branch", record->minutiaCurvature[i]);
  std::printf("%d singular points\n", record->singularCount);
  for (int i = 0; i < record->singularCount; ++i)
    std::printf("  %5d %5d  angle %3d  kind %2d\n", record->singularX[i], record->singularY[i],
                record->singularAngle[i], record->singularKind[i]);

  if (!draw.empty()) {
    zyl::test::GreyImage base = grey;
    if (on_skeleton)
      for (int y = 0; y < h; ++y) std::memcpy(&base.pixels[static_cast<size_t>(y) * w], rows[y], static_cast<size_t>(w));
    Canvas canvas(base);
    for (int i = 0; i < record->minutiaCount; ++i) {
      const Rgb c = record->minutiaType[i] == 0 ? Rgb{230, 20, 20} : Rgb{20, 60, 240};
      canvas.box(record->minutiaX[i], record->minutiaY[i], 3, c);
      canvas.tick(record->minutiaX[i], record->minutiaY[i], record->minutiaAngle[i] % 240, 10, c);
    }
    for (int i = 0; i < record->singularCount; ++i)
      for (int d = -6; d <= 6; ++d) {
        canvas.dot(record->singularX[i] + d, record->singularY[i], {20, 200, 20});
        canvas.dot(record->singularX[i], record->singularY[i] + d, {20, 200, 20});
      }
    if (!canvas.save(draw)) {
      std::fprintf(stderr, "minutiae_view: cannot write %s\n", draw.c_str());
      return 1;
    }
  }
  return 0;
}
