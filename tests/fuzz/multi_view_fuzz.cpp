// The multi-view template reader on arbitrary format-80 bytes: no crash, no
// read past the input; an accepted template answers its view queries within
// its view count and stores to bytes that read back to an equal template.
#include <cstdint>

#include "fuzz_check.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DataBlob* blob = blob_create(80, data, static_cast<std::uint32_t>(size));
  if (!blob) return 0;
  MultiViewTemplate* t = nullptr;
  const int status = mvt_from_blob(blob, &t);
  require((status == ML_OK) == (t != nullptr));
  if (t) {
    const int views = kwzd_record_count(mvt_store(t));
    const int unmarked = mvt_count_unmarked_views(t);
    require(unmarked >= 0 && unmarked <= views);
    for (int i = 0; i <= unmarked; ++i) {
      RigidTransform* xf = nullptr;
      DataBlob* v = mvt_get_view(t, i, &xf, nullptr, nullptr);
      require((v != nullptr) == (i < unmarked));
      blob_release(v);
      xform_release(xf);
    }
    mvt_capacity(t);
    MultiViewTemplate* copy = mvt_reserialize(t);
    if (copy) {
      require(mvt_equal(t, copy) == 1);
      mvt_release(copy);
    }
    mvt_release(t);
  }
  blob_release(blob);
  return 0;
}
