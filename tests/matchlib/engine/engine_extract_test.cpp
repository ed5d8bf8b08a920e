// The engine's extraction path with two scripted stages over a real print:
// the sample-information section, one section per stage kind, the size and
// resolution checks of the raw path, callbacks and converters.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/pgm.h"
#include "support/scripted_stages.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"

namespace {

using zyl::test::script;

struct Fixture {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  zyl::test::GreyImage print = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
  explicit Fixture(int input_mode = ENGINE_INPUT_IMAGE) {
    script() = {};
    StageChain* chain = chain_create();
    chain_append(chain, stage_create(&zyl::test::kScriptedExtractor, 79, nullptr, &zyl::test::kScriptedOps, 0, 5));
    chain_append(chain, stage_create(&zyl::test::kScriptedExtractor, 77, nullptr, nullptr, 0, 5));
    engine = engine_create(ctx, chain, 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
    engine_set_input_mode(engine, input_mode);
  }
  ~Fixture() {
    engine_release(engine);
    ctx_release(ctx);
  }
  GrayImage* image() const {
    return image_create(print.height, print.width, 500, 500, print.pixels.data(), 0);
  }
};

std::vector<uint8_t> section(const DataBlob* blob, int format) {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  if (tmpl_get_section(blob, format, &data, &length) != ML_OK) return {};
  return {data, data + length};
}

TEST(EngineExtract, EachStageAddsItsKindOnceAfterTheSampleInformation) {
  Fixture f;
  ASSERT_NE(f.engine, nullptr);
  GrayImage* image = f.image();
  AttributeValue* attribute = attribute_create_full(0x01020304, 7, 0);
  FingerInfo* info = finger_info_create_full(3, attribute, 0x0a0b0c0d);
  DataBlob* out = nullptr;
  ASSERT_EQ(engine_extract_image(f.engine, image, info, &out), ML_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(blob_refcount(out), 1u);
  EXPECT_EQ(script().extract_calls, 2);
  const std::vector<uint8_t> expected = {
      0, 6,                                       // version
      0x01, 0x20, 0x01, 0x00,                     // 288 x 256
      0, static_cast<uint8_t>(image_property_byte(image)), 0,
      0x01, 0xf4,                                 // 500 dpi
      0x01, 0x20, 0x01, 0x00, 0, 0, 0, 0,         // source 288 x 256 at (0, 0)
      1, 2, 3, 4, 0, 0, 0, 3, 0x0a, 0x0b, 0x0c, 0x0d};
  EXPECT_EQ(section(out, 86), expected);
  EXPECT_EQ(section(out, 79), (std::vector<uint8_t>{f.print.pixels[0], 79, 288 & 0xff, 0}));
  EXPECT_EQ(section(out, 77).size(), 4u);

  // A template that holds every kind goes through unchanged.
  DataBlob* again = blob_retain(out);
  ASSERT_EQ(engine_extract(f.engine, image, info, &again), ML_OK);
  EXPECT_EQ(script().extract_calls, 2);
  EXPECT_EQ(blob_equal(again, out), 1);
  blob_release(again);
  blob_release(out);
  finger_info_release(info);
  attribute_release(attribute);
  image_release(image);
}

TEST(EngineExtract, APresentKindIsSkipped) {
  Fixture f;
  GrayImage* image = f.image();
  const uint8_t bytes[] = {9, 9};
  DataBlob* blob = container_put_entry(nullptr, 77, bytes, sizeof bytes);
  ASSERT_EQ(engine_extract(f.engine, image, nullptr, &blob), ML_OK);
  EXPECT_EQ(script().extract_calls, 1);
  EXPECT_EQ(section(blob, 77), (std::vector<uint8_t>{9, 9}));
  EXPECT_EQ(section(blob, 79).size(), 4u);
  blob_release(blob);
  image_release(image);
}

struct CallbackLog {
  int before = 0;
  int after = 0;
  int status = -1;
  DataBlob* blob = reinterpret_cast<DataBlob*>(1);
};

TEST(EngineExtract, TheAfterCallbackSeesAFailingStagesStatus) {
  Fixture f;
  CallbackLog log;
  engine_set_callbacks(
      f.engine, [](void* u, GrayImage*, FingerInfo*, DataBlob**) { ++static_cast<CallbackLog*>(u)->before; },
      [](void* u, DataBlob* b, int status) {
        auto* l = static_cast<CallbackLog*>(u);
        ++l->after;
        l->status = status;
        l->blob = b;
      },
      &log);
  script().extract_status = ML_TOO_POOR;
  GrayImage* image = f.image();
  DataBlob* out = nullptr;
  EXPECT_EQ(engine_extract_image(f.engine, image, nullptr, &out), ML_TOO_POOR);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(log.before, 1);
  EXPECT_EQ(log.after, 1);
  EXPECT_EQ(log.status, ML_TOO_POOR);
  EXPECT_EQ(log.blob, nullptr);

  // No image: no template and no callback; an engine for raw pixels refuses.
  EXPECT_EQ(engine_extract_image(f.engine, nullptr, nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  engine_set_input_mode(f.engine, 0);
  EXPECT_EQ(engine_extract_image(f.engine, image, nullptr, &out), ML_WRONG_KIND);
  EXPECT_EQ(log.before, 1);
  image_release(image);
}

TEST(EngineExtract, RawPathChecksSizeAndResolution) {
  Fixture f(2);
  engine_set_expected_size(f.engine, 360, 256);
  engine_set_expected_dpi(f.engine, 500);
  FingerInfo* info = finger_info_default();
  struct Case {
    int height, width, dpi, status;
  } cases[] = {{256, 360, 500, ML_OK}, {300, 300, 500, ML_BAD_ARGUMENT}, {395, 280, 500, ML_OK},
               {360, 256, 508, ML_OK}, {360, 256, 509, ML_BAD_ARGUMENT}, {360, 256, 492, ML_OK},
               {360, 256, 491, ML_BAD_ARGUMENT}};
  for (const Case& c : cases) {
    std::vector<uint8_t> pixels(static_cast<size_t>(c.height * c.width), 200);
    DataBlob* out = nullptr;
    EXPECT_EQ(engine_extract_pixels(f.engine, pixels.data(), c.height, c.width, c.dpi, info, &out), c.status)
        << c.height << " x " << c.width << " at " << c.dpi;
    EXPECT_EQ(out != nullptr, c.status == ML_OK);
    if (out) {
      EXPECT_EQ(blob_refcount(out), 1u);
      EXPECT_EQ(section(out, 86).size(), 0u);  // the raw path adds no sample information
    }
    blob_release(out);
  }
  std::vector<uint8_t> pixels(360 * 256, 1);
  DataBlob* out = nullptr;
  engine_set_input_mode(f.engine, ENGINE_INPUT_IMAGE);
  EXPECT_EQ(engine_extract_pixels(f.engine, pixels.data(), 360, 256, 500, info, &out), ML_WRONG_KIND);
}

int invert(MatchContext*, const uint8_t* pixels, const uint8_t*, int height, int width, int,
           const SourceWindow*, uint8_t* out, uint8_t**, int*) {
  for (int i = 0; i < height * width; ++i) out[i] = static_cast<uint8_t>(255 - pixels[i]);
  return 0;
}

TEST(EngineExtract, RawConvertersLeaveTheCallersPixelsAlone) {
  Fixture f(2);
  static const ImagePrepDescriptor kInvert{invert};
  static const ImagePrepDescriptor* const kList[] = {&kInvert, nullptr};
  engine_set_converters(f.engine, kList);
  const std::vector<uint8_t> before = f.print.pixels;
  for (int round = 0; round < 2; ++round) {
    DataBlob* out = nullptr;
    ASSERT_EQ(engine_extract_pixels(f.engine, f.print.pixels.data(), f.print.height, f.print.width, 500,
                                    finger_info_default(), &out),
              ML_OK);
    EXPECT_EQ(section(out, 79)[0], 255 - before[0]);  // the stage saw the converted pixels
    blob_release(out);
  }
  EXPECT_EQ(f.print.pixels, before);
}

TEST(EngineExtract, ImageConvertersWorkOnACopy) {
  Fixture f;
  static const ImagePrepDescriptor kInvert{invert};
  static const ImagePrepDescriptor* const kList[] = {&kInvert, nullptr};
  engine_set_converters(f.engine, kList);
  GrayImage* image = f.image();
  DataBlob* out = nullptr;
  ASSERT_EQ(engine_extract_image(f.engine, image, nullptr, &out), ML_OK);
  EXPECT_EQ(section(out, 79)[0], 255 - f.print.pixels[0]);
  EXPECT_EQ(image_pixels(image)[0], f.print.pixels[0]);
  blob_release(out);
  image_release(image);
}

}  // namespace
