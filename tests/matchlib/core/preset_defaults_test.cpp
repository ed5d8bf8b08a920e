// False-accept defaults of the table presets and the stage image routines.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_presets.h"

namespace {

struct Context {
  MatchContext* p = ctx_create();
  ~Context() { ctx_release(p); }
};

TEST(PresetFarDefaults, WrittenWhenAbsentKeptWhenSet) {
  Context c;
  ASSERT_NE(c.p, nullptr);
  ASSERT_EQ(param_set_text(c.p, "vn.morva_light.far.reject", 5), ML_OK);
  ASSERT_EQ(param_set(c.p, 0xdb4cd8b0u, 40), ML_OK);
  ASSERT_EQ(preset_register_far_defaults(c.p), ML_OK);
  EXPECT_EQ(param_get_text(c.p, "vn.morva_light.far.reject", -1), 5);
  EXPECT_EQ(param_get(c.p, 0xdb4cd8b0u, -1), 40);
  EXPECT_EQ(param_get_text(c.p, "vn.morva.far.reject", -1), 3);
  EXPECT_EQ(param_get(c.p, 0x522624e7u, -1), 32);
  EXPECT_EQ(param_get_text(c.p, "vn.morva_light.verify.reject_far", -1), 0);
  EXPECT_EQ(param_get(c.p, 0xc1c1874du, -1), 12);
  EXPECT_EQ(param_get_text(c.p, "vn.morva.verify.reject_far", -1), 9);
  EXPECT_EQ(param_get(c.p, 0x1ba6e66cu, -1), 3);
}

TEST(StageImageRoutines, SwitchChoosesLocalOrGlobalNormalisation) {
  const int h = 96, w = 80;
  std::vector<uint8_t> px(h * w);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) px[i * w + j] = static_cast<uint8_t>(40 + (i * 7 + j * 3) % 90 + (j > 40 ? 60 : 0));
  std::vector<uint8_t> local(px.size()), global(px.size());
  ASSERT_EQ(imgproc_normalize_by_type(px.data(), h, w, 500, 4, local.data()), ML_OK);
  ASSERT_EQ(imgproc_normalize_by_type(px.data(), h, w, 500, 3, global.data()), ML_OK);
  ASSERT_NE(local, global);

  struct Case {
    uint32_t key;
    bool grid;
  } cases[] = {{0x9df44d82u, false}, {0xcb0badd0u, true}};
  for (const Case& k : cases) {
    Context c;
    std::vector<uint8_t> out(px.size());
    auto run = [&] {
      return k.grid ? stage_image_normalize_grid(c.p, px.data(), nullptr, h, w, 500, nullptr,
                                                 out.data(), nullptr, nullptr)
                    : stage_image_normalize(c.p, px.data(), nullptr, h, w, 500, nullptr, out.data(),
                                            nullptr, nullptr);
    };
    ASSERT_EQ(run(), ML_OK);
    EXPECT_EQ(out, local) << k.grid;  // default 1: local
    ASSERT_EQ(param_set(c.p, k.key, 0), ML_OK);
    ASSERT_EQ(run(), ML_OK);
    EXPECT_EQ(out, global) << k.grid;
  }
}

}  // namespace
