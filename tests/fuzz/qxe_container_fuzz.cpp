// The QXE reader on arbitrary bytes: no crash, no read past the input; a
// container it accepts is written back byte for byte from its parts, and the
// input wrapped as a template reads back unchanged.
#include <cstdint>
#include <vector>

#include "api/template_format.h"
#include "fuzz_check.h"

namespace {

using namespace zyl::api;
using zyl::test::require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  QxeContents contents;
  if (unwrap_qxe(input, contents) == kQxeOk) {
    require(contents.nuvel.size() + kQxeOverhead == size);
    std::vector<std::uint8_t> again(size);
    require(wrap_qxe(contents.nuvel, contents.identifier, contents.info, again) == size);
    // The reader checks length and CRC only, not the magic; bytes 21 and 22
    // are derived from the template. Everything else must agree.
    for (std::size_t i = 3; i < size - 1; ++i)
      if (i != 21 && i != 22) require(again[i] == data[i]);
  }

  if (size <= kQxeMaxTemplate) {
    QxeIdentifier id{};
    QxeInfo info{};
    std::vector<std::uint8_t> wrapped(size + kQxeOverhead);
    require(wrap_qxe(input, id, info, wrapped) == wrapped.size());
    require(detect_format(wrapped) == TemplateFormat::Qxe);
    QxeContents back;
    require(unwrap_qxe(wrapped, back) == kQxeOk);
    require(std::equal(back.nuvel.begin(), back.nuvel.end(), data, data + size));
  }
  return 0;
}
