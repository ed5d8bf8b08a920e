// Window pairs for the light verification engine (algorithm mode 4): cuts
// sensor-sized windows from full prints, makes their templates as the device
// API does, and compares many pairs of them, recording for each pair the
// sub-scores that the engine's last stage hands its score model.
//
//   window_pairs extract --set DIR --out FILE [--size 96] [--step 16]
//                        [--centre] [--shard K/N]
//   window_pairs pairs --windows FILE... --out FILE
//                      (--impostors COUNT --seed S | --genuine | --service)
//                      [--shard K/N] [--check COUNT]
//
// extract: every <finger>_<impression>.pgm of DIR. Windows of SIZE x SIZE
// pixels are taken every STEP pixels (rows and columns, from the upper-left
// corner) wherever at least 80 % of the window is foreground: 8 x 8 blocks
// whose grey levels spread (standard deviation 10 or more) and that are not
// bright paper (mean below 230). --centre takes the one centre window of
// each image instead (the 96 x 96 centres of the 160 x 160 crops: what the
// 0x2031 sees of a finger). Each window goes through ZylQuenta_Extract under
// algorithm mode 4, as the device API's template extraction does; windows
// the engine refuses are left out. With --shard K/N only the images whose
// index in name order is K modulo N are done, so that N processes can share
// the work; the shards' files are simply concatenated.
//
// pairs: the windows of the given files (concatenated in order; the set a
// file came from does not matter). --impostors draws COUNT pairs of windows
// of different fingers (std::mt19937_64 seeded with S; each draw takes two
// windows uniformly; a draw of one finger twice is drawn again), the first
// window of a draw as the gallery entry. --genuine takes every ordered pair
// of windows of one finger and two different impressions. --service takes
// the pairs of the service's decision: each impression 4..8 of a finger
// against its impressions 1..3, the attempt as the gallery entry and the
// enrolled template as the probe (DevAlgVerify's order). With --shard K/N
// a process does the pairs whose index is K modulo N (the draws are the same
// in every shard).
//
// Each pair runs the engine's own verification (engine_verify_score) with
// the last stage's score model replaced by one that records its feature
// vector and answers a raw score of 0: the walk over the stages is the
// engine's, so a pair that an earlier stage turns away never reaches the
// model (and can pass no level whatever the model's rows), and a pair that
// reaches it shows exactly the features the model sees. --check COUNT also
// runs the first COUNT pairs through an unmodified engine and compares its
// score with the one the recorded features give under the built rows.
//
// Output records (little-endian): u32 first window, u32 second window, u8
// reached (1 when the model saw the pair), then 58 u16 features when
// reached. extract writes per window: i32 finger, i32 impression, i32 top,
// i32 left, u16 length, then the wrapped template bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "matchlib/image/block_stats.h"
#include "support/pgm.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_stage_tables.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylquenta.h"
#include "zylscan/devalg.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFeatures = LIGHT_VERIFY_MODEL_FEATURES;  // 58

struct Window {
  int32_t finger = 0;
  int32_t impression = 0;
  int32_t top = 0;
  int32_t left = 0;
  std::vector<uint8_t> wrapped;
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: window_pairs extract --set DIR --out FILE [--size N] [--step N] [--centre] [--shard K/N]\n"
               "       window_pairs pairs --windows FILE... --out FILE (--impostors COUNT --seed S | --genuine |"
               " --service) [--shard K/N] [--check COUNT]\n");
  std::exit(2);
}

bool parse_shard(const std::string& text, int& k, int& n) {
  return std::sscanf(text.c_str(), "%d/%d", &k, &n) == 2 && n > 0 && k >= 0 && k < n;
}

// Foreground of 8 x 8 blocks: grey levels that spread, not bright paper.
std::vector<uint8_t> foreground_blocks(const zyl::test::GreyImage& image, int& bw, int& bh) {
  bw = image.width / 8;
  bh = image.height / 8;
  std::vector<uint8_t> fg(static_cast<std::size_t>(bw) * bh, 0);
  for (int by = 0; by < bh; ++by)
    for (int bx = 0; bx < bw; ++bx) {
      const zyl::matchlib::BlockStats b =
          zyl::matchlib::block_stats(image.pixels.data(), nullptr, image.height, image.width, by * 8, bx * 8, 8);
      const double mean = static_cast<double>(b.sum) / 64;
      const double sd = std::sqrt(std::max(0.0, static_cast<double>(b.squares) / 64 - mean * mean));
      fg[static_cast<std::size_t>(by) * bw + bx] = sd >= 10 && mean < 230;
    }
  return fg;
}

std::vector<uint8_t> extract_window(const zyl::test::GreyImage& image, int top, int left, int size) {
  std::vector<uint8_t> pixels(static_cast<std::size_t>(size) * size);
  for (int y = 0; y < size; ++y)
    std::memcpy(&pixels[static_cast<std::size_t>(y) * size], &image.pixels[static_cast<std::size_t>(top + y) * image.width + left],
                static_cast<std::size_t>(size));
  std::vector<uint8_t> slot(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  MatchEngine* engine = nullptr;
  int status = ZylQuenta_Init(&engine);
  int length = 0;
  if (status == 0) status = ZylQuenta_Extract(engine, pixels.data(), size, size, slot.data(), &length, 0);
  ZylQuenta_Free(engine);
  if (status != 0 || length <= 0) return {};
  slot.resize(static_cast<std::size_t>(length));
  return slot;
}

template <typename T>
void put(std::ofstream& out, T v) {
  out.write(reinterpret_cast<const char*>(&v), sizeof v);
}
template <typename T>
bool get(std::ifstream& in, T& v) {
  return static_cast<bool>(in.read(reinterpret_cast<char*>(&v), sizeof v));
}

int run_extract(int argc, char** argv) {
  fs::path set, out_path;
  int size = 96, step = 16, shard = 0, shards = 1;
  bool centre = false;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--centre") centre = true;
    else if (i + 1 >= argc) usage();
    else if (a == "--set") set = argv[++i];
    else if (a == "--out") out_path = argv[++i];
    else if (a == "--size") size = std::atoi(argv[++i]);
    else if (a == "--step") step = std::atoi(argv[++i]);
    else if (a == "--shard") { if (!parse_shard(argv[++i], shard, shards)) usage(); }
    else usage();
  }
  if (set.empty() || out_path.empty() || size < 16 || step < 1) usage();
  const std::regex name(R"((\d+)_(\d+)\.pgm)");
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(set))
    if (std::regex_match(e.path().filename().string(), name)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  setAlgMode(4);
  std::ofstream out(out_path, std::ios::binary);
  std::size_t kept = 0, refused = 0;
  for (std::size_t f = 0; f < files.size(); ++f) {
    if (static_cast<int>(f % static_cast<std::size_t>(shards)) != shard) continue;
    std::smatch m;
    const std::string file = files[f].filename().string();
    std::regex_match(file, m, name);
    const int finger = std::stoi(m[1]), impression = std::stoi(m[2]);
    const zyl::test::GreyImage image = zyl::test::read_pgm(files[f].string());
    if (image.width < size || image.height < size) continue;
    std::vector<std::pair<int, int>> places;
    if (centre) {
      places.emplace_back((image.height - size) / 2, (image.width - size) / 2);
    } else {
      int bw = 0, bh = 0;
      const std::vector<uint8_t> fg = foreground_blocks(image, bw, bh);
      for (int top = 0; top + size <= image.height; top += step)
        for (int left = 0; left + size <= image.width; left += step) {
          // Share of the window's pixels in foreground blocks.
          long in = 0;
          for (int y = top; y < top + size; ++y)
            for (int x = left; x < left + size; ++x) {
              const int bx = x / 8, by = y / 8;
              in += bx < bw && by < bh && fg[static_cast<std::size_t>(by) * bw + bx];
            }
          if (in * 10 >= 8L * size * size) places.emplace_back(top, left);
        }
    }
    for (const auto& [top, left] : places) {
      const std::vector<uint8_t> t = extract_window(image, top, left, size);
      if (t.empty()) {
        ++refused;
        continue;
      }
      put<int32_t>(out, finger);
      put<int32_t>(out, impression);
      put<int32_t>(out, top);
      put<int32_t>(out, left);
      put<uint16_t>(out, static_cast<uint16_t>(t.size()));
      out.write(reinterpret_cast<const char*>(t.data()), static_cast<std::streamsize>(t.size()));
      ++kept;
    }
  }
  std::fprintf(stderr, "%s: %zu windows, %zu refused by the engine\n", set.filename().string().c_str(), kept,
               refused);
  return out ? 0 : 1;
}

std::vector<Window> read_windows(const std::vector<fs::path>& files) {
  std::vector<Window> all;
  for (const fs::path& p : files) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot read\n", p.string().c_str());
      std::exit(1);
    }
    Window w;
    uint16_t length = 0;
    while (get(in, w.finger) && get(in, w.impression) && get(in, w.top) && get(in, w.left) && get(in, length)) {
      w.wrapped.resize(length);
      if (!in.read(reinterpret_cast<char*>(w.wrapped.data()), length)) break;
      all.push_back(w);
    }
  }
  return all;
}

// What the recording model saw of the current pair.
struct Capture {
  int calls = 0;
  uint16_t features[kFeatures] = {};
} capture;

int record_features(const int32_t* features, int count, const void*, int32_t* out, ScoreTrace*) {
  if (capture.calls++ == 0)
    for (int j = 0; j < kFeatures; ++j)
      capture.features[j] = j < count ? static_cast<uint16_t>(std::clamp<int32_t>(features[j], 0, 65535)) : 0;
  if (out) *out = 0;
  return 0;
}

DataBlob* unwrap(const std::vector<uint8_t>& t) {
  return blob_create(t[0], t.data() + ZYLQUENTA_HEADER_SIZE, static_cast<uint32_t>(t[1] * 256 + t[2]));
}

int run_pairs(int argc, char** argv) {
  std::vector<fs::path> files;
  fs::path out_path;
  long long impostors = 0;
  unsigned long long seed = 1;
  bool genuine = false, service = false;
  int shard = 0, shards = 1;
  long long check = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--genuine") genuine = true;
    else if (a == "--service") service = true;
    else if (i + 1 >= argc) usage();
    else if (a == "--windows") {
      while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) files.emplace_back(argv[++i]);
    } else if (a == "--out") out_path = argv[++i];
    else if (a == "--impostors") impostors = std::atoll(argv[++i]);
    else if (a == "--seed") seed = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--shard") { if (!parse_shard(argv[++i], shard, shards)) usage(); }
    else if (a == "--check") check = std::atoll(argv[++i]);
    else usage();
  }
  if (files.empty() || out_path.empty() || (impostors > 0) + genuine + service != 1) usage();
  const std::vector<Window> windows = read_windows(files);
  if (windows.size() < 2) {
    std::fprintf(stderr, "fewer than two windows\n");
    return 1;
  }
  setAlgMode(4);
  std::vector<DataBlob*> blobs;
  blobs.reserve(windows.size());
  for (const Window& w : windows) blobs.push_back(unwrap(w.wrapped));

  // The pairs, in a fixed order.
  std::vector<std::pair<uint32_t, uint32_t>> pairs;
  if (impostors > 0) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<uint32_t> pick(0, static_cast<uint32_t>(windows.size() - 1));
    pairs.reserve(static_cast<std::size_t>(impostors));
    while (static_cast<long long>(pairs.size()) < impostors) {
      const uint32_t a = pick(rng), b = pick(rng);
      if (windows[a].finger != windows[b].finger) pairs.emplace_back(a, b);
    }
  } else {
    for (uint32_t a = 0; a < windows.size(); ++a)
      for (uint32_t b = 0; b < windows.size(); ++b) {
        const Window &wa = windows[a], &wb = windows[b];
        if (wa.finger != wb.finger || wa.impression == wb.impression) continue;
        if (genuine || (wa.impression > 3 && wb.impression <= 3)) pairs.emplace_back(a, b);
      }
  }

  MatchEngine* engine = nullptr;
  MatchEngine* reference = nullptr;
  if (ZylQuenta_Init(&engine) != 0 || ZylQuenta_Init(&reference) != 0 || !engine || !reference)
    return 1;
  // The engine's own profiles with the last stage's model swapped for the
  // recording one; the thresholds stay.
  std::vector<ScoreProfile> profiles;
  for (const ScoreProfile* const* p = engine_get_score_profiles(engine); p && *p; ++p) profiles.push_back(**p);
  bool swapped = false;
  for (ScoreProfile& p : profiles)
    if (p.match_ops == keypoint_stage_ops(9)) {
      p.model = ScoreModel{nullptr, kFeatures, record_features, nullptr};
      swapped = true;
    }
  if (!swapped) {
    std::fprintf(stderr, "the engine has no last-stage profile\n");
    return 1;
  }
  std::vector<const ScoreProfile*> list;
  for (const ScoreProfile& p : profiles) list.push_back(&p);
  list.push_back(nullptr);
  engine_set_score_profiles(engine, list.data());

  const ScoreModel built = score_model_light_verify();
  const FarThresholdTable* table = far_table_light_verify_model();
  std::ofstream out(out_path, std::ios::binary);
  std::size_t done = 0, reached = 0, failed = 0, multiple = 0, checked = 0, mismatched = 0;
  for (std::size_t q = 0; q < pairs.size(); ++q) {
    if (static_cast<int>(q % static_cast<std::size_t>(shards)) != shard) continue;
    const auto [a, b] = pairs[q];
    capture.calls = 0;
    DataBlob* gallery[1] = {blobs[a]};
    uint16_t ignored = 0;
    if (engine_verify_score(engine, gallery, 1, blobs[b], &ignored) != 0) ++failed;
    const bool seen = capture.calls > 0;
    multiple += capture.calls > 1;
    put<uint32_t>(out, a);
    put<uint32_t>(out, b);
    put<uint8_t>(out, seen);
    if (seen) {
      out.write(reinterpret_cast<const char*>(capture.features), sizeof capture.features);
      ++reached;
    }
    if (static_cast<long long>(checked) < check) {
      ++checked;
      uint16_t real = 0;
      engine_verify_score(reference, gallery, 1, blobs[b], &real);
      int expect = -1;  // below the second stage's pass: no level
      if (seen) {
        uint16_t raw = 0;
        score_model_evaluate_u16(&built, capture.features, kFeatures, &raw, nullptr);
        expect = far_score_from_thresholds(raw, 1, table);
      }
      if (seen ? expect != real : real >= 2048) {
        if (mismatched++ < 10)
          std::fprintf(stderr, "pair %zu: engine %u, from the features %d\n", q, real, expect);
      }
    }
    ++done;
  }
  std::fprintf(stderr, "%zu pairs, %zu reached the last stage (%zu more than once), %zu failed", done, reached,
               multiple, failed);
  if (checked) std::fprintf(stderr, "; checked %zu, %zu differ", checked, mismatched);
  std::fprintf(stderr, "\n");
  for (DataBlob* b : blobs) blob_release(b);
  engine_release(engine);
  engine_release(reference);
  return out && mismatched == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) usage();
  const std::string command = argv[1];
  if (command == "extract") return run_extract(argc, argv);
  if (command == "pairs") return run_pairs(argc, argv);
  usage();
}
