// Format detection and the conversion that follows it, as verification does
// it: detect, convert into a native template, read that template. No crash,
// no read past the input whatever the bytes claim to be.
#include <array>
#include <cstdint>
#include <memory>

#include "api/idcard_feature.h"
#include "api/iso_ansi_record.h"
#include "api/nuvel_codec.h"
#include "api/template_format.h"
#include "fuzz_check.h"

namespace {

using namespace zyl::api;
using zyl::test::require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  std::array<std::uint8_t, kConvertedBufferSize> nuvel{};
  std::span<const std::uint8_t> tmpl;
  int length = -1;
  QxeContents qxe;
  switch (detect_format(input)) {
    case TemplateFormat::Nuvel: tmpl = input; break;
    case TemplateFormat::Iso: length = minutiae_record_to_nuvel(MinutiaeRecordKind::Iso, input, nuvel); break;
    case TemplateFormat::Ansi: length = minutiae_record_to_nuvel(MinutiaeRecordKind::Ansi, input, nuvel); break;
    case TemplateFormat::IdCard:
      require(size == kIdCardSize);
      length = idcard_to_nuvel(input, nuvel);
      break;
    case TemplateFormat::Qxe:
      if (unwrap_qxe(input, qxe) == kQxeOk) tmpl = qxe.nuvel;
      break;
    case TemplateFormat::Unknown: return 0;
  }
  if (length >= 0) tmpl = std::span<const std::uint8_t>(nuvel.data(), static_cast<std::size_t>(length));
  auto record = std::make_unique<FeatureRecord>();
  decompress_features(tmpl, *record);
  require(record->minutiaCount <= kNuvelMaxMinutiae);
  return 0;
}
