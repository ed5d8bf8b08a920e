// Stage operations on card templates: the card-only match with its 9
// sub-scores, the fuses of the card and card+grid vectors, and the driver
// of the 64-minutia local-structure comparison they share.
#include "zylscan/matchlib_card_match_ops.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/match/match_op_failure.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/card_match_ops.h"
#include "matchlib/match/localstruct_compare.h"
#include "matchlib/match/localstruct_form.h"
#include "matchlib/template/card_convert.h"
#include "matchlib/template/container.h"
#include "matchlib/template/minutiae_record.h"

using zyl::matchlib::fail_match_op;

namespace {

constexpr std::int32_t kFormatCard = 2;
constexpr std::int32_t kFormatIsoRecord = 1;
constexpr std::int32_t kFormatMinutiaeRecord = 3;
constexpr int kCardMaxMinutiae = 128;
constexpr std::uint16_t kCompareWork = 2064;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

struct BlobDeleter {
  void operator()(DataBlob* b) const { zyl::matchlib::blob_release(b); }
};
using BlobPtr = std::unique_ptr<DataBlob, BlobDeleter>;

// Card offsets are in 0.1 mm; 197 / 100 brings them to pixels at 500 dpi.
std::int16_t card_to_pixels(std::int16_t v) { return static_cast<std::int16_t>(v * 197 / 100); }

// A minutiae record converted to a card in a new blob.
DataBlob* record_to_card_blob(const std::uint8_t* record, std::uint32_t length) {
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  const int status = zyl::matchlib::fmr_to_card(record, length, kCardMaxMinutiae, &bytes, &size);
  const Owned<std::uint8_t> owned(bytes);
  if (status != ML_OK || !bytes) return nullptr;
  return zyl::matchlib::blob_create(kFormatCard, bytes, size);
}

}  // namespace

int zyl::matchlib::match_card_local64(const uint8_t* card_a, uint32_t length_a,
                                      const uint8_t* card_b, uint32_t length_b,
                                      CardMatchResult* result, CardAlignment* alignment, int mode) {
  const Owned<std::uint8_t> work(static_cast<std::uint8_t*>(std::malloc(kCompareWork)));
  const Owned<std::uint8_t> form(static_cast<std::uint8_t*>(std::malloc(LOCALSTRUCT64_SIZE)));
  if (!work || !form) return ML_NO_MEMORY;
  std::uint16_t length = 0;
  if (const int st = zyl::matchlib::localstruct64_prepare(work.get(), kCompareWork, card_a,
                                                          length_a, form.get(), LOCALSTRUCT64_SIZE,
                                                          &length, localstruct64_copy))
    return st;
  return zyl::matchlib::localstruct64_compare(work.get(), kCompareWork, form.get(), length, card_b,
                                              length_b, result, alignment, mode);
}

DataBlob* zyl::matchlib::card_section_to_template(const DataBlob* blob) {
  if (!blob) return nullptr;
  const std::int32_t format = zyl::matchlib::blob_type(blob);
  if (format == kFormatCard) return zyl::matchlib::blob_copy(blob);
  if (format == kFormatMinutiaeRecord) {
    std::uint8_t* iso = nullptr;
    std::uint32_t iso_size = 0;
    const int st = zyl::matchlib::fmr_to_iso2005(zyl::matchlib::blob_data(blob),
                                                 zyl::matchlib::blob_size(blob), kCardMaxMinutiae,
                                                 &iso, &iso_size);
    const Owned<std::uint8_t> owned(iso);
    if (st != ML_OK || !iso) return nullptr;
    return record_to_card_blob(iso, iso_size);
  }
  if (format == kFormatIsoRecord)
    return record_to_card_blob(zyl::matchlib::blob_data(blob), zyl::matchlib::blob_size(blob));
  const std::uint8_t* section = nullptr;
  std::uint32_t length = 0;
  if (zyl::matchlib::tmpl_get_section(blob, kFormatCard, &section, &length) != ML_OK)
    return nullptr;
  return zyl::matchlib::blob_create(kFormatCard, section, length);
}

int zyl::matchlib::match_card(MatchContext* context, DataBlob* a, DataBlob* b,
                              uint16_t** out_scores, uint16_t* out_count,
                              RigidTransform** alignment) {
  // The incoming alignment is not used by the card comparison.
  if (alignment) {
    zyl::matchlib::xform_release(*alignment);
    *alignment = nullptr;
  }
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (!context || !a || !b || !out_scores || !out_count)
    return fail_match_op(ML_BAD_ARGUMENT, out_scores, out_count, alignment);
  const BlobPtr card_a(zyl::matchlib::card_section_to_template(a));
  const BlobPtr card_b(zyl::matchlib::card_section_to_template(b));
  if (!card_a || !card_b) return fail_match_op(ML_WRONG_KIND, out_scores, out_count, alignment);
  CardMatchResult result{};
  result.kind = CARD_RESULT_KIND;
  CardAlignment card_alignment{};
  const int mode = zyl::matchlib::param_get_360(context) ? 3 : 2;
  if (const int st = zyl::matchlib::match_card_local64(
          zyl::matchlib::blob_data(card_a.get()), zyl::matchlib::blob_size(card_a.get()),
          zyl::matchlib::blob_data(card_b.get()), zyl::matchlib::blob_size(card_b.get()), &result,
          alignment ? &card_alignment : nullptr, mode))
    return fail_match_op(st, out_scores, out_count, alignment);
  if (result.count != 1 && result.count != 9) return fail_match_op(ML_CORRUPT, out_scores, out_count, alignment);
  if (alignment) {
    const int dpi =
        zyl::matchlib::param_get(context, static_cast<std::uint32_t>(CARD_KEY_RESOLUTION), 500);
    *alignment = zyl::matchlib::xform_create_dpi(
        card_to_pixels(card_alignment.dx), card_to_pixels(card_alignment.dy), card_alignment.angle,
        static_cast<std::int16_t>(dpi));
    if (!*alignment) return fail_match_op(ML_NO_MEMORY, out_scores, out_count, alignment);
  }
  auto* scores = static_cast<std::uint16_t*>(std::calloc(CARD_SUBSCORES, sizeof(std::uint16_t)));
  if (!scores) return fail_match_op(ML_NO_MEMORY, out_scores, out_count, alignment);
  scores[0] = result.score;
  // A result of count 1 carries no sub-values: they stay 0.
  if (result.count == 9) std::memcpy(scores + 1, result.sub, sizeof result.sub);
  *out_scores = scores;
  *out_count = CARD_SUBSCORES;
  return ML_OK;
}

extern "C" ZYL_API int fuse_card(MatchContext* context, DataBlob* a, DataBlob* b,
                                 const uint16_t* scores, uint16_t count,
                                 const ScoreProfile* profile, uint16_t* out_score) {
  (void)context, (void)a, (void)b;
  if (!out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  if (count != CARD_SUBSCORES || !scores) return ML_CORRUPT;
  if (scores[0] == 0) return ML_OK;
  return zyl::matchlib::score_profile_fuse(scores, CARD_SUBSCORES, profile, out_score);
}

extern "C" ZYL_API int fuse_card_grid(MatchContext* context, DataBlob* a, DataBlob* b,
                                      const uint16_t* scores, uint16_t count,
                                      const ScoreProfile* profile, uint16_t* out_score) {
  (void)context, (void)a, (void)b;
  if (!out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  if (count != CARD_GRID_SUBSCORES || !scores) return ML_CORRUPT;
  if (scores[0] == 0 && scores[9] == 0) return ML_OK;
  return zyl::matchlib::score_profile_fuse(scores, CARD_GRID_SUBSCORES, profile, out_score);
}

extern "C" {

ZYL_API int match_card_local64(const uint8_t* card_a, uint32_t length_a, const uint8_t* card_b,
                               uint32_t length_b, CardMatchResult* result, CardAlignment* alignment,
                               int mode) {
  return zyl::matchlib::match_card_local64(card_a, length_a, card_b, length_b, result, alignment,
                                           mode);
}
ZYL_API DataBlob* card_section_to_template(const DataBlob* blob) {
  return zyl::matchlib::card_section_to_template(blob);
}
ZYL_API int match_card(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                       uint16_t* out_count, RigidTransform** alignment) {
  return zyl::matchlib::match_card(context, a, b, out_scores, out_count, alignment);
}

}  // extern "C"
