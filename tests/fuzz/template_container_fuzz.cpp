// The template container reader and the section access on arbitrary bytes:
// no crash, no read past the input; an accepted container rebuilds to a
// container with the same entries, and the section access agrees with the
// parse.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "fuzz_check.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto n = static_cast<std::uint32_t>(size);
  ContainerTable t;
  const int status = container_parse(data, n, &t);
  require(status == ML_OK || status == ML_UNAVAILABLE);
  container_verify(data, n, 2);

  DataBlob* view = blob_view(84, data, n);
  require(view != nullptr);
  for (int code : {79, 86, 67, 1}) {
    const std::uint8_t* d = nullptr;
    std::uint32_t len = 0;
    if (tmpl_get_section(view, code, &d, &len) == 0)
      require(d >= data && d + len <= data + size);
    else
      require(d == nullptr && len == 0);
  }
  SampleInfo info{};
  sample_info_read(nullptr, view, &info);
  blob_get_quality(view);

  if (status == ML_OK && t.form != 0) {
    require(container_verify(data, n, -1) == 1);
    for (int i = 0; i < t.count; ++i) {
      const std::uint8_t* d = nullptr;
      std::uint32_t len = 0;
      require(container_find_entry(view, t.entries[i].format, &d, &len) == 0);
      require(d != nullptr || len == 0);
    }
    DataBlob* rebuilt = container_build(&t);
    if (rebuilt) {
      ContainerTable again;
      require(container_parse(blob_data(rebuilt), blob_size(rebuilt), &again) == 0);
      require(again.count == t.count);
      for (int i = 0; i < t.count; ++i) {
        require(again.entries[i].format == t.entries[i].format);
        require(again.entries[i].length == t.entries[i].length);
        require(t.entries[i].length == 0 ||
                std::memcmp(again.entries[i].data, t.entries[i].data, t.entries[i].length) == 0);
      }
      require(container_verify(blob_data(rebuilt), blob_size(rebuilt), 1) == 1);
      DataBlob* changed = blob_with_quality(rebuilt, 9);
      if (changed) require(blob_get_quality(changed) == 9);
      blob_release(changed);
      blob_release(rebuilt);
    }
  }
  // The sample-information reader on the raw bytes as a section.
  DataBlob* section = blob_view(86, data, n);
  sample_info_read(nullptr, section, &info);
  blob_release(section);
  blob_release(view);
  return 0;
}
