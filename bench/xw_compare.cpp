// Prints, for comparing two builds of the skeleton engine, every template of
// the prints in the given folders (status, bytes and a digest of the
// skeleton left in the image) and the status, score and a digest of the full
// details of every ordered pair of prints within each folder. Two builds that
// give the same results print the same lines:
//
//   xw_compare [--mode M] [--speed S] [--features F] FOLDER...   > a.txt
//   (the other build, same arguments)                               > b.txt
//   cmp a.txt b.txt
//
// Folders hold <finger>_<impression>.pgm prints of 500 dpi; paths are printed
// as given, so run both builds from the same directory.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/golden_digest.h"
#include "support/pgm.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

namespace {

// FNV-1a over a byte range.
std::uint64_t digest(const std::uint8_t* p, std::size_t n) { return zyl::test::fnv(zyl::test::kFnvStart, p, n); }

std::vector<std::uint8_t> extract_and_print(const std::string& path, XWContext* c) {
  zyl::test::GreyImage image = zyl::test::read_pgm(path);
  std::vector<std::uint8_t> out(ZYL_TEMPLATE_BUFFER_SIZE, 0);
  std::int32_t length = 0;
  const std::int32_t status =
      XWExtract(image.width, image.height, image.pixels.data(), 500, out.data(), &length, c);
  std::printf("T %s st=%d len=%d ", path.c_str(), status, length);
  for (std::int32_t k = 0; k < length && k < static_cast<std::int32_t>(out.size()); ++k) std::printf("%02x", out[k]);
  std::printf(" skel=%016llx\n",
              static_cast<unsigned long long>(digest(image.pixels.data(), image.pixels.size())));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  XWContext* c = XWCreateContext();
  if (!c) return 1;
  int a = 1;
  for (; a + 1 < argc && std::strncmp(argv[a], "--", 2) == 0; a += 2) {
    const int value = std::atoi(argv[a + 1]);
    if (std::strcmp(argv[a], "--mode") == 0) {
      SetMode(value, c);
    } else if (std::strcmp(argv[a], "--speed") == 0) {
      SetMatchingSpeed(value, c);
    } else if (std::strcmp(argv[a], "--features") == 0) {
      SetMatchFeatures(value, c);
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[a]);
      return 2;
    }
  }
  if (a >= argc) {
    std::fprintf(stderr, "usage: xw_compare [--mode M] [--speed S] [--features F] FOLDER...\n");
    return 2;
  }
  for (; a < argc; ++a) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(argv[a]))
      if (entry.path().extension() == ".pgm") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    std::vector<std::vector<std::uint8_t>> templates;
    for (const auto& f : files) templates.push_back(extract_and_print(f, c));
    for (std::size_t i = 0; i < files.size(); ++i)
      for (std::size_t j = 0; j < files.size(); ++j) {
        if (i == j) continue;
        MatchDetails details{};
        details.size = XW_DETAILS_LONG;
        const std::int32_t status = XWVerify(templates[i].data(), templates[j].data(), &details, c);
        std::printf("V %zu %zu st=%d score=%d det=%016llx\n", i, j, status, details.score,
                    static_cast<unsigned long long>(
                        digest(reinterpret_cast<const std::uint8_t*>(&details), sizeof details)));
      }
  }
  XWFreeContext(c);
  return 0;
}
