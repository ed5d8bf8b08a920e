// Every prefix of an input in a heap block of exactly its size, so a read
// past the prefix leaves the block and the address sanitizer reports it.
// Free of the test framework: the fuzz replay uses it as well as the tests
// (which go through prefix_sweep.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace zyl::test {

// Calls parse(prefix) for every length n in [first, end) (end at most the
// input's size + 1, where n == size is the whole input). A zero-length
// prefix gets a zero-size block, not a null pointer.
template <class Parse>
void for_each_prefix_block(std::span<const std::uint8_t> input, std::size_t first, std::size_t end,
                           Parse&& parse) {
  for (std::size_t n = first; n < end && n <= input.size(); ++n) {
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[n]);
    if (n) std::memcpy(block.get(), input.data(), n);
    parse(std::span<const std::uint8_t>(block.get(), n));
  }
}

}  // namespace zyl::test
