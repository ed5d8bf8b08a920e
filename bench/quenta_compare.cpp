// Prints, for comparing two builds of the matcher library's device road
// (algorithm modes 3 and 4), every wrapped template DevAlgExtract writes for
// the prints in the given folders (status, length and bytes) and
// DevAlgVerify's answer for every ordered pair of prints within each folder:
// mode 3 on the 160 x 160 images, mode 4 on their 96 x 96 centres (the
// sensor that selects mode 4). Two builds that give the same results print
// the same lines (each print is named by its folder's name and its own):
//
//   quenta_compare [--mode 3|4] [--first N] [FOLDER...]   > a.txt
//   (the other build, same arguments)                       > b.txt
//   cmp a.txt b.txt
//
// Without folders it reads the shared 160 x 160 sets (folders whose names
// end in -160); without --mode it runs mode 3 and then mode 4. With --first
// it takes only the first N prints of each folder (in name order), which
// keeps a run under callgrind short: N extractions and N (N - 1)
// verifications a folder.
#include <algorithm>
#include <cstdint>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "zylscan/devalg.h"
#include "zylscan/zylfpscan_feature.h"

namespace {

std::vector<std::uint8_t> extract_and_print(const std::string& path, int mode, int side) {
  const zyl::test::GreyImage image = zyl::test::centre_crop(zyl::test::read_pgm(path), side);
  std::vector<std::uint8_t> pixels = image.pixels, out(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  std::int32_t length = 0;
  const std::int32_t status =
      DevAlgExtract(image.width, image.height, pixels.data(), 500, out.data(), &length, nullptr);
  // The folder's name and the file's, so that builds in different places
  // print the same lines.
  const std::filesystem::path p(path);
  const std::string name = (p.parent_path().filename() / p.filename()).string();
  std::printf("T m%d %s %dx%d st=%d len=%d ", mode, name.c_str(), image.width, image.height, status, length);
  for (std::int32_t k = 0; k < length && k < static_cast<std::int32_t>(out.size()); ++k) std::printf("%02x", out[k]);
  std::printf(" same_image=%d\n", pixels == image.pixels ? 1 : 0);
  return out;
}

void run_folder(const std::string& folder, int mode, std::size_t first) {
  const int side = mode == 4 ? 96 : 160;
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".pgm") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  if (files.size() > first) files.resize(first);
  setAlgMode(mode);
  std::vector<std::vector<std::uint8_t>> templates;
  for (const auto& f : files) templates.push_back(extract_and_print(f, mode, side));
  for (std::size_t i = 0; i < files.size(); ++i)
    for (std::size_t j = 0; j < files.size(); ++j)
      if (i != j)
        std::printf("V m%d %zu %zu %d\n", mode, i, j, DevAlgVerify(templates[i].data(), templates[j].data(), nullptr));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> modes = {3, 4};
  std::size_t first = SIZE_MAX;
  bool bad = false;
  int a = 1;
  for (; a + 1 < argc && std::strncmp(argv[a], "--", 2) == 0; a += 2) {
    if (std::strcmp(argv[a], "--mode") == 0) {
      modes = {std::atoi(argv[a + 1])};
    } else if (std::strcmp(argv[a], "--first") == 0) {
      first = static_cast<std::size_t>(std::max(std::atoi(argv[a + 1]), 0));
    } else {
      bad = true;
    }
  }
  if (bad || (modes[0] != 3 && modes[0] != 4)) {
    std::fprintf(stderr, "usage: quenta_compare [--mode 3|4] [--first N] [FOLDER...]\n");
    return 2;
  }
  std::vector<std::string> folders(argv + a, argv + argc);
  if (folders.empty()) {
    for (const auto& entry : std::filesystem::directory_iterator(ZYL_SHARED_FINGERPRINTS)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_directory() && name.size() > 4 && name.compare(name.size() - 4, 4, "-160") == 0)
        folders.push_back(entry.path().string());
    }
    std::sort(folders.begin(), folders.end());
  }
  for (int mode : modes)
    for (const auto& f : folders) run_folder(f, mode, first);
  return 0;
}
