// Tools on type-line templates that do not match them: the minutiae list and
// the merge of an upper and a lower part of one finger.
#pragma once

#include <cstdint>
#include <span>

#include "typeline/template_codec.h"

namespace zyl::typeline {

// The decoded minutia part of a template (the 402-byte minutiae list).
TypelineMinutiaList template_minutiae(std::span<const std::uint8_t> templ);

// Status of merge_templates.
enum MergeStatus : int { kMerged = 1, kMergeNoMemory = -21 };

// Merges a (upper part) and b (lower part, moved down by y_shift) into out.
int merge_templates(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, int y_shift,
                    std::span<std::uint8_t, kTemplateSize> out);

}  // namespace zyl::typeline
