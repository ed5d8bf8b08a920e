// The probe quality of a match result: the image's property byte and the
// view quality of the probe template.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_result.h"

namespace {

TEST(MatchResultQuality, MarksTheProbeImageAndTemplate) {
  MatchResult* r = match_result_create(1);
  EXPECT_EQ(match_result_set_quality(r, 5), ML_BAD_ARGUMENT);  // no probe image
  EXPECT_EQ(match_result_set_quality(nullptr, 5), ML_BAD_ARGUMENT);

  std::vector<uint8_t> px(64 * 64, 100);
  r->probe_image = image_create(64, 64, 500, 500, px.data(), 0);
  // A probe template with a sample-information section, and one without.
  const uint8_t payload[3] = {1, 2, 3};
  DataBlob* probe = blob_create(79, payload, 3);
  SampleInfo info{};
  info.quality = 40;
  DataBlob* with_info = nullptr;
  ASSERT_EQ(sample_info_write(nullptr, &info, &with_info), ML_OK);
  match_result_set_probe_blob(r, with_info);
  ASSERT_EQ(match_result_set_quality(r, 17), ML_OK);
  EXPECT_EQ(image_property_byte(r->probe_image), 17);
  EXPECT_NE(r->probe_blob, with_info);
  EXPECT_EQ(blob_get_quality(r->probe_blob), 17);
  EXPECT_EQ(blob_get_quality(with_info), 40);  // the given blob is unchanged

  // A value the image refuses changes nothing.
  EXPECT_EQ(match_result_set_quality(r, 40), ML_WRONG_KIND);
  EXPECT_EQ(blob_get_quality(r->probe_blob), 17);

  // A probe without the section keeps its blob.
  match_result_set_probe_blob(r, probe);
  ASSERT_EQ(match_result_set_quality(r, 9), ML_OK);
  EXPECT_EQ(r->probe_blob, probe);

  match_result_release(r);
  EXPECT_EQ(blob_refcount(probe), 1u);
  EXPECT_EQ(blob_refcount(with_info), 1u);
  blob_release(probe);
  blob_release(with_info);
}

}  // namespace
