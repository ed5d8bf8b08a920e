// The probe quality of a match result: kept in a file of its own because it
// reaches the grey image and the template containers, which the rest of the
// match result does not need.
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_result.h"
#include "matchlib/image/blob.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/template/sample_info.h"

extern "C" {

ZYL_API int match_result_set_quality(MatchResult* r, int value) {
  if (!r || !r->probe_image) return ML_BAD_ARGUMENT;
  const int status = zyl::matchlib::image_set_property_byte(r->probe_image, value);
  if (status != ML_OK) return status;
  if (r->probe_blob) {
    // A probe without a sample-information section (or a failed copy) keeps
    // its blob: dropping it would lose the probe template.
    if (DataBlob* marked =
            zyl::matchlib::blob_with_quality(r->probe_blob, static_cast<uint8_t>(value))) {
      zyl::matchlib::blob_release(r->probe_blob);
      r->probe_blob = marked;
    }
  }
  return ML_OK;
}

}  // extern "C"
