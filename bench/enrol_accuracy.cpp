// Accuracy of enrolment from several impressions on FVC-style image folders.
//
//   enrol_accuracy [--impressions K] [FOLDER...]
//
// Each finger is enrolled from its first K impressions (default 3) in two
// ways: through the matcher library's placement-checking enrolment with the
// light verification engine (algorithm mode 4), which merges the accepted
// impressions into one multi-view template, and as the service enrols with
// the default engine: K XWExtract templates, a probe scoring the best of its
// XWVerify scores against them. Genuine pairs are each enrolled finger
// against its remaining impressions, impostor pairs each enrolled finger
// against the first impression of every other finger. Prints EER, FMR100
// and FMR1000 for both, and the mean number of impressions the placement
// enrolment accepted. Without folders it reads the shared 160 x 160 sets.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "accuracy_stats.h"
#include "support/pgm.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_placed_enrol.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

namespace {

namespace fs = std::filesystem;

struct Impression {
  int number = 0;
  zyl::test::GreyImage image;
  DataBlob* blob = nullptr;  // light verification template
  std::vector<std::uint8_t> xw;  // XW template
};

struct Road {
  std::vector<std::int32_t> genuine, impostor;
};

struct Engines {
  MatchContext* ctx = nullptr;
  MatchEngine* engine = nullptr;
  XWContext* xw = nullptr;
};

bool load(const fs::path& folder, std::map<int, std::vector<Impression>>& fingers) {
  const std::regex name(R"((\d+)_(\d+)\.pgm)");
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::smatch m;
    const std::string file = entry.path().filename().string();
    if (!std::regex_match(file, m, name)) continue;
    Impression imp;
    imp.number = std::stoi(m[2]);
    try {
      imp.image = zyl::test::read_pgm(entry.path().string());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
      return false;
    }
    fingers[std::stoi(m[1])].push_back(std::move(imp));
  }
  for (auto& [finger, imps] : fingers)
    std::sort(imps.begin(), imps.end(), [](const Impression& a, const Impression& b) { return a.number < b.number; });
  return !ec && !fingers.empty();
}

GrayImage* to_image(const zyl::test::GreyImage& g) {
  return image_create(g.height, g.width, 500, 500, g.pixels.data(), 0);
}

bool extract(Engines& en, Impression& imp) {
  GrayImage* img = to_image(imp.image);
  const int st = engine_extract_image(en.engine, img, nullptr, &imp.blob);
  image_release(img);
  imp.xw.assign(ZYL_TEMPLATE_BUFFER_SIZE, 0);
  std::int32_t length = 0;
  // XWExtract works on a copy: it leaves the skeleton in its input.
  std::vector<std::uint8_t> pixels = imp.image.pixels;
  const std::int32_t xs =
      XWExtract(imp.image.width, imp.image.height, pixels.data(), 500, imp.xw.data(), &length, en.xw);
  return st == ML_OK && (xs == XW_OK || xs == XW_ERR_POOR_IMAGE);
}

std::int32_t light_score(Engines& en, DataBlob* enrolled, const Impression& probe) {
  std::uint16_t s = 0;
  return engine_verify_score(en.engine, &enrolled, 1, probe.blob, &s) == ML_OK ? s : 0;
}

std::int32_t xw_score(Engines& en, const std::vector<Impression>& enrolled, int k, const Impression& probe) {
  std::int32_t best = 0;
  for (int i = 0; i < k; ++i) {
    MatchDetails d{};
    d.size = XW_DETAILS_SHORT;
    if (XWVerify(enrolled[i].xw.data(), probe.xw.data(), &d, en.xw) == XW_VERIFY_COMPLETED)
      best = std::max(best, d.score);
  }
  return best;
}

void print(const char* set, const char* road, const Road& r, const char* note) {
  const zyl::test::AccuracyFigures f = zyl::test::accuracy(r.genuine, r.impostor);
  std::printf("%-22s %-20s %8zu %8zu %8.2f %8.2f %8.2f  %s\n", set, road, f.genuine, f.impostor, 100 * f.eer,
              100 * f.fmr100, 100 * f.fmr1000, note);
}

bool evaluate(const fs::path& folder, Engines& en, int k) {
  std::map<int, std::vector<Impression>> fingers;
  if (!load(folder, fingers)) {
    std::fprintf(stderr, "%s: no <finger>_<impression>.pgm images\n", folder.string().c_str());
    return false;
  }
  for (auto& [finger, imps] : fingers)
    for (Impression& imp : imps)
      if (!extract(en, imp)) std::fprintf(stderr, "%s: finger %d impression %d not extracted\n",
                                          folder.string().c_str(), finger, imp.number);
  Road light, xw;
  int enrolled_fingers = 0, accepted = 0;
  for (auto& [finger, imps] : fingers) {
    if (static_cast<int>(imps.size()) <= k) continue;
    EnrolSession* e = enrol_create_default(en.engine, nullptr, nullptr, nullptr);
    for (int i = 0; i < k; ++i) {
      GrayImage* img = to_image(imps[i].image);
      enrol_add_sample(e, img, nullptr, nullptr);
      image_release(img);
    }
    accepted += enrol_count(e);
    DataBlob* tmpl = nullptr;
    const int st = enrol_finalise_engine(en.engine, e, &tmpl);
    enrol_destroy(e);
    if (st != ML_OK) {
      std::fprintf(stderr, "finger %d: finalise answered %d\n", finger, st);
      continue;
    }
    ++enrolled_fingers;
    for (std::size_t i = static_cast<std::size_t>(k); i < imps.size(); ++i) {
      light.genuine.push_back(light_score(en, tmpl, imps[i]));
      xw.genuine.push_back(xw_score(en, imps, k, imps[i]));
    }
    for (auto& [other, others] : fingers) {
      if (other == finger) continue;
      light.impostor.push_back(light_score(en, tmpl, others.front()));
      xw.impostor.push_back(xw_score(en, imps, k, others.front()));
    }
    blob_release(tmpl);
  }
  for (auto& [finger, imps] : fingers)
    for (Impression& imp : imps) blob_release(imp.blob);
  char note[64];
  std::snprintf(note, sizeof note, "%.1f of %d accepted", enrolled_fingers ? double(accepted) / enrolled_fingers : 0.0,
                k);
  const std::string set = folder.filename().string();
  print(set.c_str(), "mode 4, placement", light, note);
  print(set.c_str(), "XW, best of K", xw, "");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int k = 3;
  std::vector<fs::path> folders;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--impressions") == 0 && i + 1 < argc)
      k = std::max(1, std::atoi(argv[++i]));
    else
      folders.emplace_back(argv[i]);
  }
  if (folders.empty())
    for (const char* set : {"fvc2000-db4b-160", "fvc2002-db1b-part-160", "fvc2004-db4b-160"})
      folders.push_back(fs::path(ZYL_SHARED_FINGERPRINTS) / set);

  Engines en;
  en.ctx = ctx_create();
  en.engine = en.ctx ? preset_create_light_verify(en.ctx) : nullptr;
  en.xw = XWCreateContext();
  if (!en.engine || !en.xw) return 2;
  std::printf("enrolled from %d impressions\n", k);
  std::printf("%-22s %-20s %8s %8s %8s %8s %8s\n", "set", "enrolment", "genuine", "impostor", "EER%", "FMR100%",
              "FMR1000%");
  int failures = 0;
  for (const fs::path& folder : folders) failures += evaluate(folder, en, k) ? 0 : 1;
  XWFreeContext(en.xw);
  engine_release(en.engine);
  ctx_release(en.ctx);
  return failures ? 1 : 0;
}
