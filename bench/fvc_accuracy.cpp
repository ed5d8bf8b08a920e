// Accuracy of the default engine on FVC-style image folders.
//
//   fvc_accuracy [FOLDER...]
//
// A folder holds 8-bit PGM images named <finger>_<impression>.pgm at 500 dpi.
// Every image is extracted with XWExtract; genuine pairs are all pairs of
// impressions of one finger, impostor pairs the first impressions of every
// two fingers (each unordered pair once), compared with XWVerify. Prints
// EER, FMR100 and FMR1000, the pair counts and the median extraction and
// comparison times. Without arguments it reads the shared FVC sets.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "accuracy_stats.h"
#include "support/pgm.h"
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
  zylbench::AccuracyFigures figures;
  std::size_t images = 0;
  std::size_t poor = 0;
  double extract_ms = 0;
  double compare_ms = 0;
};

bool evaluate(const fs::path& folder, XWContext* context, FolderResult& out) {
  const std::regex name(R"((\d+)_(\d+)\.pgm)");
  std::map<int, std::vector<Impression>> fingers;
  std::vector<double> extract_times, compare_times;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::smatch m;
    const std::string file = entry.path().filename().string();
    if (!std::regex_match(file, m, name)) continue;
    zyltest::GreyImage image;
    try {
      image = zyltest::read_pgm(entry.path().string());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
      return false;
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

  const auto compare = [&](const Impression& a, const Impression& b) {
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

  out.figures = zylbench::accuracy(genuine, impostor);
  out.extract_ms = zylbench::median(extract_times);
  out.compare_ms = zylbench::median(compare_times);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> folders;
  for (int i = 1; i < argc; ++i) folders.emplace_back(argv[i]);
  if (folders.empty())
    for (const char* set : {"fvc2000-db4b", "fvc2002-db1b-part", "fvc2004-db4b"})
      folders.push_back(fs::path(ZYL_SHARED_FINGERPRINTS) / set);

  XWContext* context = XWCreateContext();
  if (!context) return 2;
  int failures = 0;
  std::printf("%-22s %6s %5s %8s %8s %8s %8s %8s %10s %10s\n", "set", "images", "poor", "genuine", "impostor",
              "EER%", "FMR100%", "FMR1000%", "extract_ms", "compare_ms");
  for (const fs::path& folder : folders) {
    FolderResult r;
    if (!evaluate(folder, context, r)) {
      ++failures;
      continue;
    }
    std::printf("%-22s %6zu %5zu %8zu %8zu %8.2f %8.2f %8.2f %10.2f %10.3f\n", folder.filename().string().c_str(),
                r.images, r.poor, r.figures.genuine, r.figures.impostor, 100 * r.figures.eer, 100 * r.figures.fmr100,
                100 * r.figures.fmr1000, r.extract_ms, r.compare_ms);
  }
  XWFreeContext(context);
  return failures ? 1 : 0;
}
