// Runs a parser on every prefix of a valid input. Each prefix is copied into
// a heap block of exactly its size, so a read past the prefix leaves the
// block and the address sanitizer reports it; in a plain build the sweep
// still checks the answer for every cut.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "support/prefix_blocks.h"

namespace zyl::test {

// Calls parse(prefix) for every length from 0 to input.size() - 1 (the
// proper prefixes; `include_whole` adds the whole input), each in its own
// exact-size heap block, with the prefix length in the failure trace.
template <class Parse>
void for_each_prefix(std::span<const std::uint8_t> input, Parse&& parse,
                     bool include_whole = false) {
  const std::size_t end = input.size() + (include_whole ? 1 : 0);
  for_each_prefix_block(input, 0, end, [&](std::span<const std::uint8_t> prefix) {
    SCOPED_TRACE(::testing::Message()
                 << "prefix of " << prefix.size() << " of " << input.size() << " bytes");
    parse(prefix);
  });
}

template <class Parse>
void for_each_prefix(const std::vector<std::uint8_t>& input, Parse&& parse,
                     bool include_whole = false) {
  for_each_prefix(std::span<const std::uint8_t>(input), std::forward<Parse>(parse),
                  include_whole);
}

}  // namespace zyl::test
