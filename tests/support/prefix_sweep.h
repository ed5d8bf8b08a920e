// Runs a parser on every prefix of a valid input. Each prefix is copied into
// a heap block of exactly its size, so a read past the prefix leaves the
// block and the address sanitizer reports it; in a plain build the sweep
// still checks the answer for every cut.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace zyltest {

// Calls parse(prefix) for every length from 0 to input.size() - 1 (the
// proper prefixes; `include_whole` adds the whole input). The prefix's data
// lies in its own exact-size heap block; a zero-length prefix gets a
// zero-size block, not a null pointer.
template <class Parse>
void for_each_prefix(std::span<const std::uint8_t> input, Parse&& parse,
                     bool include_whole = false) {
  const std::size_t end = input.size() + (include_whole ? 1 : 0);
  for (std::size_t n = 0; n < end; ++n) {
    SCOPED_TRACE(::testing::Message() << "prefix of " << n << " of " << input.size() << " bytes");
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[n]);
    if (n) std::memcpy(block.get(), input.data(), n);
    parse(std::span<const std::uint8_t>(block.get(), n));
  }
}

template <class Parse>
void for_each_prefix(const std::vector<std::uint8_t>& input, Parse&& parse,
                     bool include_whole = false) {
  for_each_prefix(std::span<const std::uint8_t>(input), std::forward<Parse>(parse),
                  include_whole);
}

}  // namespace zyltest
