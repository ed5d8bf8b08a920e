// Accuracy of the default engine, or of the matcher library of algorithm
// mode 3 or 4, on FVC-style image folders.
//
//   fvc_accuracy [FOLDER...]
//   fvc_accuracy --mode 3|4 [--crop N] [FOLDER...]
//
// A folder holds 8-bit PGM images named <finger>_<impression>.pgm at 500 dpi.
// Every image is extracted with XWExtract; genuine pairs are all pairs of
// impressions of one finger, impostor pairs the first impressions of every
// two fingers (each unordered pair once), compared with XWVerify. Prints
// EER, FMR100 and FMR1000, the pair counts and the median extraction and
// comparison times. Without arguments it reads the shared FVC sets.
//
// With --mode the images are extracted through ZylQuenta_Extract (500 dpi)
// under that AlgMode and compared through the engine's 16-bit FAR-scale
// score (before ZylQuenta_Verify divides it by 675), one engine per call as
// the device API makes them; --crop N first takes the N x N centre of each
// image (96: what the 0x2031 sees). Beside the figures above it prints FMR
// and FNMR at the device API's level-5 threshold (a wrapped score above 59,
// an engine score of 40500 or more), the same over all cross-finger pairs
// (the protocol's impostor pairs are few: 45 a set of ten fingers), and the
// median and largest wrapped template size. Without folders it reads the
// shared -160 sets.
//
// --protocol service (with --mode 0, 3 or 4) measures what a user of the
// service meets: each finger is enrolled from its impressions 1-3 (three
// template slots), and every later impression (4-8) of the same finger is a
// genuine attempt. Templates come from DevAlgExtract as the device API's
// feature extraction makes them; an attempt compares the probe with each
// slot through DevAlgVerify (probe first, slot second, as
// ZYLFPSCAN_VerifyExt passes them), clamps each score to the device API's
// 0..1000, keeps the best, and accepts at level L when the best is above
// that level's threshold. Impostor attempts are every impression of every
// other finger against each enrolled finger. A probe whose extraction fails
// is a refused attempt; a slot whose extraction fails takes no part. Prints
// FNMR and FMR at every security level, the count of level-5 false accepts,
// and EER, FMR100, FMR1000 of the best scores; then, per level, the impostor
// pass rate beside the false-accept rate that the level's score promises for
// the best of three slots, marking the levels that break the promise. Mode 0
// is the default engine through the same calls (whole images: no --crop).
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "accuracy_stats.h"
#include "api/engine_dispatch.h"
#include "api/feature_calls.h"
#include "support/pgm.h"
#include "zylscan/devalg.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylquenta.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Impression {
  int number = 0;
  std::vector<std::uint8_t> tmpl;
};

struct FolderResult {
  zyl::test::AccuracyFigures figures;
  std::size_t images = 0;
  std::size_t poor = 0;
  double extract_ms = 0;
  double compare_ms = 0;
  // Matcher modes only.
  zyl::test::ErrorRates level5{};
  zyl::test::ErrorRates level5_all{};
  std::size_t all_impostor = 0;
  std::size_t refused = 0;  // images whose extraction failed
  std::size_t largest_refused = 0;  // largest template size among them
  double median_size = 0;
  std::size_t largest_size = 0;
};

struct Options {
  int mode = 0;  // 0: the default engine
  bool mode_given = false;  // --mode named (the service protocol in mode 0)
  int crop = 0;  // 0: the whole image
  bool service = false;  // --protocol service
  XWContext* context = nullptr;  // the default engine's, for the service protocol in mode 0
};

// Figures of the service's protocol on one folder.
struct ServiceResult {
  std::size_t fingers = 0;
  std::size_t genuine = 0;   // attempts
  std::size_t impostor = 0;  // attempts
  std::size_t refused = 0;   // probes or slots whose extraction failed
  std::array<zyl::test::ErrorRates, zyl::device::kMaxSecurityLevel> level{};
  std::array<std::size_t, zyl::device::kMaxSecurityLevel> passed{};  // impostor attempts accepted
  std::size_t level5_false = 0;  // impostor attempts accepted at level 5
  zyl::test::AccuracyFigures figures;
};

constexpr int kEnrolSlots = 3;
constexpr int kServiceLevel = 5;

// The device API's level 5 accepts a wrapped score above 59.
constexpr std::int64_t kLevel5EngineScore = 60 * ZYLQUENTA_SCORE_DIVISOR;


// Extraction as the device API's matcher road does it: 0 or the status.
int matcher_extract(const zyl::test::GreyImage& image, std::vector<std::uint8_t>& out) {
  MatchEngine* engine = nullptr;
  int status = ZylQuenta_Init(&engine);
  int length = 0;
  if (status == 0)
    status = ZylQuenta_Extract(engine, image.pixels.data(), image.width, image.height, out.data(), &length, 0);
  ZylQuenta_Free(engine);
  return status;
}

// Size the wrapped template of an image would have, measured by the engine
// itself (for images whose template ZylQuenta_Extract refuses); 0 when the
// engine gives none.
std::size_t unwrapped_size(const zyl::test::GreyImage& image) {
  MatchEngine* engine = nullptr;
  if (ZylQuenta_Init(&engine) != 0) return 0;
  DataBlob* blob = nullptr;
  GrayImage* wrapped = nullptr;
  if (AlgMode == 4) {
    wrapped = image_create(image.height, image.width, 500, 500, image.pixels.data(), 0);
    if (wrapped) engine_extract_image(engine, wrapped, nullptr, &blob);
  } else {
    engine_extract_pixels(engine, image.pixels.data(), image.height, image.width, 500, finger_info_default(), &blob);
  }
  const std::size_t size = blob ? blob_size(blob) + 3 : 0;
  blob_release(blob);
  image_release(wrapped);
  ZylQuenta_Free(engine);
  return size;
}

// The engine's FAR-scale score of two wrapped templates; 0 when the
// comparison fails.
std::int32_t matcher_score(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  const auto blob = [](const std::vector<std::uint8_t>& t) {
    return blob_create(t[0], t.data() + 3, static_cast<std::uint32_t>(t[1] * 256 + t[2]));
  };
  MatchEngine* engine = nullptr;
  if (ZylQuenta_Init(&engine) != 0) return 0;
  DataBlob* ga = blob(a);
  DataBlob* pb = blob(b);
  std::uint16_t score = 0;
  DataBlob* gallery[1] = {ga};
  const int status = ga && pb ? engine_verify_score(engine, gallery, 1, pb, &score) : 1;
  blob_release(ga);
  blob_release(pb);
  ZylQuenta_Free(engine);
  return status == 0 ? score : 0;
}

bool evaluate(const fs::path& folder, XWContext* context, const Options& options, FolderResult& out) {
  const std::regex name(R"((\d+)_(\d+)\.pgm)");
  std::map<int, std::vector<Impression>> fingers;
  std::vector<double> extract_times, compare_times, sizes;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::smatch m;
    const std::string file = entry.path().filename().string();
    if (!std::regex_match(file, m, name)) continue;
    zyl::test::GreyImage image;
    try {
      image = zyl::test::read_pgm(entry.path().string());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
      return false;
    }
    if (options.mode) {
      image = zyl::test::centre_crop(image, options.crop);
      Impression imp{std::stoi(m[2]), std::vector<std::uint8_t>(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0)};
      const auto start = Clock::now();
      const int status = matcher_extract(image, imp.tmpl);
      extract_times.push_back(ms_since(start));
      ++out.images;
      if (status != 0) {
        // A refused image has no template: its pairs score 0.
        std::fprintf(stderr, "%s: ZylQuenta_Extract returned %d\n", file.c_str(), status);
        ++out.refused;
        std::fill(imp.tmpl.begin(), imp.tmpl.end(), 0);
        out.largest_refused = std::max(out.largest_refused, unwrapped_size(image));
      } else {
        sizes.push_back(static_cast<double>(imp.tmpl[1] * 256 + imp.tmpl[2] + 3));
      }
      fingers[std::stoi(m[1])].push_back(std::move(imp));
      continue;
    }
    Impression imp{std::stoi(m[2]), std::vector<std::uint8_t>(ZYL_TEMPLATE_BUFFER_SIZE, 0)};
    std::int32_t length = 0;
    const auto start = Clock::now();
    // XWExtract leaves the skeleton in the image it is given: it works on
    // this copy, which is not used again.
    const std::int32_t status =
        XWExtract(image.width, image.height, image.pixels.data(), 500, imp.tmpl.data(), &length, context);
    extract_times.push_back(ms_since(start));
    if (status == XW_ERR_POOR_IMAGE) {
      ++out.poor;  // the template is written all the same and takes part
    } else if (status != XW_OK) {
      std::fprintf(stderr, "%s: XWExtract returned %d\n", file.c_str(), status);
      return false;
    }
    fingers[std::stoi(m[1])].push_back(std::move(imp));
    ++out.images;
  }
  if (ec || fingers.empty()) {
    std::fprintf(stderr, "%s: no <finger>_<impression>.pgm images\n", folder.string().c_str());
    return false;
  }

  const auto compare = [&](const Impression& a, const Impression& b) -> std::int32_t {
    if (options.mode) {
      const auto start = Clock::now();
      const std::int32_t score = matcher_score(a.tmpl, b.tmpl);
      compare_times.push_back(ms_since(start));
      return score;
    }
    MatchDetails d{};
    d.size = XW_DETAILS_SHORT;
    const auto start = Clock::now();
    const std::int32_t status = XWVerify(a.tmpl.data(), b.tmpl.data(), &d, context);
    compare_times.push_back(ms_since(start));
    return status == XW_VERIFY_COMPLETED ? d.score : 0;
  };
  std::vector<std::int32_t> genuine, impostor;
  std::vector<const Impression*> firsts;
  for (auto& [finger, imps] : fingers) {
    std::sort(imps.begin(), imps.end(), [](const Impression& a, const Impression& b) { return a.number < b.number; });
    for (std::size_t i = 0; i < imps.size(); ++i)
      for (std::size_t j = i + 1; j < imps.size(); ++j) genuine.push_back(compare(imps[i], imps[j]));
    firsts.push_back(&imps.front());
  }
  for (std::size_t i = 0; i < firsts.size(); ++i)
    for (std::size_t j = i + 1; j < firsts.size(); ++j) impostor.push_back(compare(*firsts[i], *firsts[j]));

  out.figures = zyl::test::accuracy(genuine, impostor);
  if (options.mode) {
    out.level5 = zyl::test::rates_at(genuine, impostor, kLevel5EngineScore);
    // Every pair of impressions of two different fingers.
    std::vector<std::int32_t> all;
    for (auto i = fingers.begin(); i != fingers.end(); ++i)
      for (auto j = std::next(i); j != fingers.end(); ++j)
        for (const Impression& a : i->second)
          for (const Impression& b : j->second) all.push_back(compare(a, b));
    out.level5_all = zyl::test::rates_at(genuine, all, kLevel5EngineScore);
    out.all_impostor = all.size();
    out.median_size = zyl::test::median(sizes);
    for (double v : sizes) out.largest_size = std::max(out.largest_size, static_cast<std::size_t>(v));
  }
  out.extract_ms = zyl::test::median(extract_times);
  out.compare_ms = zyl::test::median(compare_times);
  return true;
}


// Device-API template of an image: the slot bytes, empty when extraction
// fails.
std::vector<std::uint8_t> device_template(const zyl::test::GreyImage& image, XWContext* context) {
  std::vector<std::uint8_t> slot(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  std::vector<std::uint8_t> pixels = image.pixels;
  std::int32_t length = 0;
  const std::int32_t status =
      zyl::api::DevAlgExtract(image.width, image.height, pixels.data(), 500, slot.data(), &length, context);
  if (status != 0) slot.clear();
  return slot;
}

// Score of one slot as ZYLFPSCAN_Verify reports it: the comparison's result
// clamped to the device API's range; -1 when the comparison fails (the slot
// then takes no part in the best score).
int device_score(const std::vector<std::uint8_t>& probe, const std::vector<std::uint8_t>& slot, XWContext* context) {
  if (probe.empty() || slot.empty()) return -1;
  const std::int32_t s = zyl::api::DevAlgVerify(probe.data(), slot.data(), context);
  return s < 0 ? -1 : std::min<int>(s, zyl::device::kMaxScore);
}

bool evaluate_service(const fs::path& folder, const Options& options, ServiceResult& out) {
  const std::regex name(R"((\d+)_(\d+)\.pgm)");
  // finger -> impression -> template (empty: extraction failed)
  std::map<int, std::map<int, std::vector<std::uint8_t>>> fingers;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::smatch m;
    const std::string file = entry.path().filename().string();
    if (!std::regex_match(file, m, name)) continue;
    zyl::test::GreyImage image;
    try {
      image = zyl::test::centre_crop(zyl::test::read_pgm(entry.path().string()), options.crop);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
      return false;
    }
    auto& slot = fingers[std::stoi(m[1])][std::stoi(m[2])];
    slot = device_template(image, options.context);
    if (slot.empty()) ++out.refused;
  }
  if (ec || fingers.empty()) {
    std::fprintf(stderr, "%s: no <finger>_<impression>.pgm images\n", folder.string().c_str());
    return false;
  }
  out.fingers = fingers.size();
  // Best score of a probe over the slots of an enrolled finger; -1 when no
  // slot gives one.
  const auto best = [&](const std::vector<std::uint8_t>& probe, const std::map<int, std::vector<std::uint8_t>>& enrolled) {
    int top = -1;
    for (int n = 1; n <= kEnrolSlots; ++n) {
      const auto slot = enrolled.find(n);
      if (slot != enrolled.end()) top = std::max(top, device_score(probe, slot->second, options.context));
    }
    return top;
  };
  std::vector<std::int32_t> genuine, impostor;
  for (const auto& [finger, enrolled] : fingers) {
    for (const auto& [number, probe] : enrolled)
      if (number > kEnrolSlots) genuine.push_back(std::max(0, best(probe, enrolled)));
    for (const auto& [other, impressions] : fingers) {
      if (other == finger) continue;
      for (const auto& [number, probe] : impressions) impostor.push_back(std::max(0, best(probe, enrolled)));
    }
  }
  out.genuine = genuine.size();
  out.impostor = impostor.size();
  // Accepted at a level: best score above its threshold.
  for (int level = zyl::device::kMinSecurityLevel; level <= zyl::device::kMaxSecurityLevel; ++level) {
    out.level[static_cast<std::size_t>(level - 1)] =
        zyl::test::rates_at(genuine, impostor, zyl::device::SecurityThreshold(level) + 1);
    out.passed[static_cast<std::size_t>(level - 1)] = static_cast<std::size_t>(
        std::count_if(impostor.begin(), impostor.end(),
                      [level](std::int32_t s) { return zyl::device::ScoreMatches(s, level); }));
  }
  out.level5_false = out.passed[kServiceLevel - 1];
  out.figures = zyl::test::accuracy(genuine, impostor);
  return true;
}

void print_service(const std::vector<fs::path>& folders, const Options& options, int& failures) {
  std::printf("mode %d, service protocol (enrol impressions 1-%d, best of %d slots)%s\n", options.mode, kEnrolSlots,
              kEnrolSlots,
              options.crop ? (", " + std::to_string(options.crop) + " x " + std::to_string(options.crop) +
                              " centre crops")
                                 .c_str()
                           : "");
  std::printf("%-24s %7s %7s %7s %8s %6s %8s %8s %8s\n", "set", "fingers", "refused", "genuine", "impostor",
              "L5-FA", "EER%", "FMR100%", "FMR1000%");
  std::vector<std::pair<std::string, ServiceResult>> results;
  for (const fs::path& folder : folders) {
    ServiceResult r;
    if (!evaluate_service(folder, options, r)) {
      ++failures;
      continue;
    }
    std::printf("%-24s %7zu %7zu %7zu %8zu %6zu %8.2f %8.2f %8.2f\n", folder.filename().string().c_str(), r.fingers,
                r.refused, r.genuine, r.impostor, r.level5_false, 100 * r.figures.eer, 100 * r.figures.fmr100,
                100 * r.figures.fmr1000);
    results.emplace_back(folder.filename().string(), r);
  }
  // Each level against the false-accept rate its score promises: a wrapped
  // score above the level's threshold is an engine score of at least
  // (threshold + 1) x 675, one false accept in 2^(score / 2048) comparisons
  // on the engine's scale; the best of three slots may pass three times as
  // often. The skeleton engine's scores (mode 0) are not on that scale: its
  // rows show how far its levels are from the same promise.
  std::printf("impostor pass rate at each level against the promise for the best of %d slots:\n", kEnrolSlots);
  std::printf("%-24s %5s %9s %8s %18s %10s\n", "set", "level", "threshold", "FNMR%", "impostor pass%", "promise%");
  for (const auto& [set, r] : results)
    for (int level = zyl::device::kMinSecurityLevel; level <= zyl::device::kMaxSecurityLevel; ++level) {
      const auto i = static_cast<std::size_t>(level - 1);
      const double engine_score = (zyl::device::SecurityThreshold(level) + 1.0) * ZYLQUENTA_SCORE_DIVISOR;
      const double promise = kEnrolSlots * std::exp2(-engine_score / 2048);
      const double rate = r.level[i].fmr;
      std::printf("%-24s %5d %9d %8.2f %9.4f (%5zu) %10.2g%s\n", set.c_str(), level,
                  zyl::device::SecurityThreshold(level), 100 * r.level[i].fnmr, 100 * rate, r.passed[i],
                  100 * promise, rate > promise ? "  over the promise" : "");
    }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::vector<fs::path> folders;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--mode" || arg == "--crop") && i + 1 < argc) {
      (arg == "--mode" ? options.mode : options.crop) = std::atoi(argv[++i]);
      options.mode_given = options.mode_given || arg == "--mode";
    } else if (arg == "--protocol" && i + 1 < argc) {
      const std::string protocol = argv[++i];
      if (protocol != "service" && protocol != "usual") {
        std::fprintf(stderr, "--protocol takes service or usual\n");
        return 2;
      }
      options.service = protocol == "service";
    } else if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "usage: fvc_accuracy [--mode 0|3|4 [--crop N] [--protocol service|usual]] [FOLDER...]\n");
      return 2;
    } else {
      folders.emplace_back(arg);
    }
  }
  if (options.mode != 0 && options.mode != 3 && options.mode != 4) {
    std::fprintf(stderr, "--mode takes 0, 3 or 4\n");
    return 2;
  }
  if (options.service && !options.mode_given) {
    std::fprintf(stderr, "--protocol service needs --mode 0, 3 or 4\n");
    return 2;
  }
  if (folders.empty()) {
    if (options.mode)
      for (const char* set : {"fvc2000-db4b-160", "fvc2002-db1b-part-160", "fvc2004-db4b-160"})
        folders.push_back(fs::path(ZYL_SHARED_FINGERPRINTS) / set);
    else
      for (const char* set : {"fvc2000-db4b", "fvc2002-db1b-part", "fvc2004-db4b"})
        folders.push_back(fs::path(ZYL_SHARED_FINGERPRINTS) / set);
  }
  if (options.mode_given) setAlgMode(options.mode);
  if (options.service) {
    options.context = XWCreateContext();
    if (!options.context) return 2;
    int failures = 0;
    print_service(folders, options, failures);
    XWFreeContext(options.context);
    return failures ? 1 : 0;
  }

  XWContext* context = XWCreateContext();
  if (!context) return 2;
  int failures = 0;
  if (options.mode) {
    std::printf("mode %d%s\n", options.mode,
                options.crop ? (", " + std::to_string(options.crop) + " x " + std::to_string(options.crop) +
                                " centre crops")
                                   .c_str()
                             : "");
    std::printf("%-22s %6s %7s %8s %8s %8s %8s %8s %9s %9s %9s %9s %9s %9s %10s %10s\n", "set", "images", "refused",
                "genuine", "impostor", "EER%", "FMR100%", "FMR1000%", "L5-FMR%", "L5-FNMR%", "all-imp", "allL5FMR%",
                "size-med", "size-max", "extract_ms", "compare_ms");
  } else {
    std::printf("%-22s %6s %5s %8s %8s %8s %8s %8s %10s %10s\n", "set", "images", "poor", "genuine", "impostor",
                "EER%", "FMR100%", "FMR1000%", "extract_ms", "compare_ms");
  }
  for (const fs::path& folder : folders) {
    FolderResult r;
    if (!evaluate(folder, context, options, r)) {
      ++failures;
      continue;
    }
    if (options.mode)
      std::printf("%-22s %6zu %7zu %8zu %8zu %8.2f %8.2f %8.2f %9.2f %9.2f %9zu %9.2f %9.0f %9zu %10.2f %10.3f\n",
                  folder.filename().string().c_str(), r.images, r.refused, r.figures.genuine, r.figures.impostor,
                  100 * r.figures.eer, 100 * r.figures.fmr100, 100 * r.figures.fmr1000, 100 * r.level5.fmr,
                  100 * r.level5.fnmr, r.all_impostor, 100 * r.level5_all.fmr, r.median_size, r.largest_size,
                  r.extract_ms, r.compare_ms);
    if (options.mode && r.refused)
      std::printf("%-22s %zu refused, the largest template among them %zu bytes (a slot holds %d)\n", "",
                  r.refused, r.largest_refused, ZYLFPSCAN_TEMPLATE_SLOT_SIZE);
    if (!options.mode)
      std::printf("%-22s %6zu %5zu %8zu %8zu %8.2f %8.2f %8.2f %10.2f %10.3f\n", folder.filename().string().c_str(),
                  r.images, r.poor, r.figures.genuine, r.figures.impostor, 100 * r.figures.eer,
                  100 * r.figures.fmr100, 100 * r.figures.fmr1000, r.extract_ms, r.compare_ms);
  }
  XWFreeContext(context);
  return failures ? 1 : 0;
}
