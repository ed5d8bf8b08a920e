// The library-wide algorithm mode and the device algorithm context.
#include <gtest/gtest.h>

#include <cstdint>

#include "zylscan/devalg.h"
#include "zylscan/xw.h"

namespace {

// Read before main, so before any test (or device open) can change it.
const std::int32_t kAlgModeAtLoad = AlgMode;

TEST(AlgMode, IsFourBeforeAnyDeviceOpens) { EXPECT_EQ(kAlgModeAtLoad, 4); }

TEST(AlgMode, TakesEveryValueSetAlgModeIsGiven) {
  for (std::int32_t mode : {0, 3, 4, 1, 2, 7, -1, 0}) {
    EXPECT_EQ(setAlgMode(mode), 0);
    EXPECT_EQ(AlgMode, mode);
  }
  setAlgMode(4);
}

TEST(DevAlgContext, CreatesAContextWithTheDefaultsAndFreesIt) {
  XWContext* context = nullptr;
  ASSERT_EQ(DevAlgCreateCtx(&context), 1);
  ASSERT_NE(context, nullptr);
  std::int32_t threshold = 0;
  EXPECT_EQ(XWGetParameter(200, &threshold, context), XW_OK);
  EXPECT_EQ(threshold, 47);
  EXPECT_EQ(DevAlgFreeCtx(context), 0);
}

TEST(DevAlgContext, RefusesNullArguments) {
  EXPECT_EQ(DevAlgFreeCtx(nullptr), -4);
  EXPECT_EQ(DevAlgCreateCtx(nullptr), -4);
}

TEST(DevAlgContext, ReportsVersionOne) { EXPECT_EQ(DevAlg_GetVersion(), 1); }

}  // namespace
