// The KWZD container parser on arbitrary bytes, as an owning and as a
// borrowed blob: no crash, no read past the input; an accepted container
// writes a stored form that parses back and writes the same bytes again.
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto n = static_cast<std::uint32_t>(size);
  DataBlob* view = blob_view(80, data, n);
  KwzdContainer* c = nullptr;
  const int status = kwzd_parse(view, &c);
  require(status == ML_OK || status == ML_UNAVAILABLE);
  require((status == ML_OK) == (c != nullptr));
  if (c) {
    require(kwzd_record_count(c) <= 255);
    for (int i = 0; i < kwzd_record_count(c); ++i) {
      DataBlob* r = kwzd_get_at(c, i, nullptr);
      require(r && (blob_size(r) == 0 ||
                    (blob_data(r) >= data && blob_data(r) + blob_size(r) <= data + size)));
      blob_release(r);
    }
    DataBlob* first = nullptr;
    require(kwzd_serialize(c, &first) == 0);
    require(blob_size(first) == kwzd_serialized_size(c));
    KwzdContainer* again = nullptr;
    require(kwzd_parse(first, &again) == 0);
    require(kwzd_record_count(again) == kwzd_record_count(c));
    DataBlob* second = nullptr;
    require(kwzd_serialize(again, &second) == 0);
    require(blob_equal(first, second) == 1);
    blob_release(second);
    kwzd_free(again);
    blob_release(first);
    kwzd_free(c);
  }
  blob_release(view);
  return 0;
}
