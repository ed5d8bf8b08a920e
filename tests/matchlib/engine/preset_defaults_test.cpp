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

namespace {

TEST(PresetTable, RowsAndOptionLists) {
  // format, A, B, budget, D, E, F, size class, G, H, first list, second list
  struct Row {
    int a, b, budget, d, e, size_class, h;
    std::vector<int32_t> first, second;
  } rows[PRESET_TABLE_ROWS] = {
      {32, 16, 16, 65, 121, 3, 0, {0, 1}, {0}},    {64, 24, 24, 70, 81, 4, 0, {0, 1, 2}, {0, 2}},
      {72, 32, 32, 75, 81, 5, 0, {0, 1, 2}, {0, 2}}, {96, 32, 40, 80, 81, 6, 0, {0, 1, 2}, {0, 2}},
      {96, 32, 40, 80, 81, 7, 0, {0, 1, 2}, {0, 2}}, {64, 24, 24, 70, 81, 8, 0, {0, 1, 2}, {0, 2}},
      {72, 32, 32, 75, 81, 9, 0, {0, 1, 2}, {0, 2}}, {96, 32, 40, 80, 81, 6, 79, {0, 1, 2}, {0, 2}},
      {96, 32, 40, 80, 81, 7, 79, {0, 1, 2}, {0, 2}}, {72, 32, 32, 75, 81, 9, 79, {0, 1, 2}, {0, 2}},
      {72, 32, 32, 75, 81, 5, 0, {0, 1}, {0}},     {16, 8, 8, 60, 121, 2, 0, {0, 1}, {0}},
      {8, 4, 4, 60, 121, 1, 0, {0, 1}, {0}},
  };
  for (int i = 0; i < PRESET_TABLE_ROWS; ++i) {
    const AlgorithmPreset* p = preset_table_row(i);
    ASSERT_NE(p, nullptr);
    const Row& r = rows[i];
    EXPECT_EQ(p->format, 79) << i;
    EXPECT_EQ(p->most_views, r.a) << i;
    EXPECT_EQ(p->byte_b, r.b) << i;
    EXPECT_EQ(p->budget, r.budget) << i;
    EXPECT_EQ(p->d, r.d) << i;
    EXPECT_EQ(p->e, r.e) << i;
    EXPECT_EQ(p->f, 20) << i;
    EXPECT_EQ(p->size_class, r.size_class) << i;
    EXPECT_EQ(p->g, 1) << i;
    EXPECT_EQ(p->h, r.h) << i;
    int32_t out[3];
    const int n1 = preset_option_list(i, 0, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + n1), r.first) << i;
    const int n2 = preset_option_list(i, 1, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + n2), r.second) << i;
  }
  int32_t out[3];
  EXPECT_EQ(preset_table_row(13), nullptr);
  EXPECT_EQ(preset_option_list(13, 0, out), -1);
  EXPECT_EQ(preset_option_list(0, 2, out), -1);
}

}  // namespace
