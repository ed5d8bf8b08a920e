// Grey-level stretch of the type-line extractor's input.
#include "typeline/matching.h"

namespace zyl::typeline {

void normalize_grey(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  const std::size_t n = std::min(in.size(), out.size());
  if (n == 0) return;
  const auto [lo, hi] = std::minmax_element(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(n));
  const int low = *lo, range = *hi - *lo;
  // One grey level has no range to stretch; such an image keeps its pixels
  // (it yields no ridges later anyway).
  if (range == 0) {
    std::copy_n(in.begin(), n, out.begin());
    return;
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((in[i] - low) * 255 / range);
}

}  // namespace zyl::typeline
