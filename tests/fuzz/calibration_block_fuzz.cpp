// Rectification under any calibration block a scanner may send: no crash,
// no write outside the output; a refused block leaves the output untouched.
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/rectify.h"

namespace {

using zyl::test::require;

// A small frame keeps each run short; the block's points may lie anywhere.
constexpr int kFrameW = 160, kFrameH = 120, kOutW = 200, kOutH = 200;

const std::vector<unsigned char>& Frame() {
  static const std::vector<unsigned char> frame = [] {
    std::vector<unsigned char> f(kFrameW * kFrameH);
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<unsigned char>(i % 251 + 1);  // never 0
    return f;
  }();
  return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::array<unsigned char, 256> block{};
  std::memcpy(block.data(), data, size < block.size() ? size : block.size());
  // Guard bytes around the output catch writes past either end.
  std::vector<unsigned char> out(kOutW * kOutH + 64, 0);
  unsigned char* image = out.data() + 32;
  const int rc = FPDEV_ReadFM_ImgRectifyWithInWH_MCU(Frame().data(), kFrameW, kFrameH, image, block.data(), kOutW, kOutH);
  require(rc == 0 || rc == -1);
  for (int i = 0; i < 32; ++i) require(out[i] == 0 && out[out.size() - 1 - i] == 0);
  if (rc != 0)
    for (int i = 0; i < kOutW * kOutH; ++i) require(image[i] == 0);
  return 0;
}
