// Digests and printed rows of the golden-result tests: FNV-1a over bytes, and
// the table row that ZYL_GOLDEN_PRINT=1 writes for pasting into a values file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace zyl::test {

inline constexpr std::uint64_t kFnvStart = 0xCBF29CE484222325ull;

// FNV-1a: h continued over n bytes (start from kFnvStart).
inline std::uint64_t fnv(std::uint64_t h, const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

// Prints "// name", the template digests three to a line and the scores
// `scores_per_line` to a line, up to the closing brace of the score list;
// the caller closes the row.
inline void print_golden_row(const char* name, const std::vector<std::uint64_t>& templates,
                             const std::vector<std::int32_t>& scores, std::size_t scores_per_line) {
  std::printf("    // %s\n    {{", name);
  for (std::size_t i = 0; i < templates.size(); ++i)
    std::printf("%s0x%016llXull", i ? (i % 3 == 0 ? ",\n      " : ", ") : "",
                static_cast<unsigned long long>(templates[i]));
  std::printf("},\n     {");
  for (std::size_t i = 0; i < scores.size(); ++i)
    std::printf("%s%d", i ? (i % scores_per_line == 0 ? ",\n      " : ", ") : "", scores[i]);
  std::printf("}");
}

}  // namespace zyl::test
