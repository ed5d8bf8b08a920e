#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "zylscan/zylfpscan_status.h"

namespace {

std::string error_text(int code) {
  char text[ZYLFPSCAN_ERROR_TEXT_SIZE];
  std::memset(text, 0x55, sizeof text);
  EXPECT_EQ(ZYLFPSCAN_GetErrorInfo(code, text), ZYLFPSCAN_OK) << code;
  return std::string(text, strnlen(text, sizeof text));
}

TEST(StatusTexts, EveryTabledCodeHasItsText) {
  struct Case {
    int code;
    const char* text;
  };
  const Case cases[] = {
      {0, "OK"},
      {10, "Parameter memory allocation is empty."},
      {-905, "SDK not initialized."},
      {-904, "SDK inited done."},
      {-900, "Parameters Error!"},
      {-240, "RAW to BMP failed."},
      {-222, "Getting template data failed."},
      {-221, "Extracting feature data failed."},
      {-220, "Algorithm not initialized."},
      {-211, "Iamge quality is too low."},
      {-200, "Algorithm initialization failed."},
      {-116, "Get Led status failed."},
      {-115, "Set Led status failed."},
      {-114, "Get device hardware infomation failed."},
      {-109, "Open device failed."},
      {-108, "Get device infomation failed."},
      {-107, "Get device list failed."},
      {-106, "Device is already open."},
      {-105, "Device initialization failed."},
      {-104, "Capture image failed."},
      {-103, "Device not open."},
      {-100, "No Device."},
  };
  for (const Case& c : cases) EXPECT_EQ(error_text(c.code), c.text) << c.code;
}

TEST(StatusTexts, CodesWithoutATextAreIllegalError) {
  // Codes the API does return but that have no text of their own, codes next
  // to tabled ones, and the extremes of int.
  const int codes[] = {1,    -1,   -110, -111, -117, -118, -231, -235, -238, -302, -304,
                       -310, -400, -404, -1000, 11,  9,    -101, -906, -241, INT_MIN, INT_MAX};
  for (int code : codes) EXPECT_EQ(error_text(code), "Illegal Error.") << code;
}

TEST(StatusTexts, ZeroFillsExactly256Bytes) {
  std::vector<char> buffer(300, '\xAA');
  ASSERT_EQ(ZYLFPSCAN_GetErrorInfo(0, buffer.data()), ZYLFPSCAN_OK);
  EXPECT_STREQ(buffer.data(), "OK");
  for (int i = 2; i < 256; ++i) ASSERT_EQ(buffer[i], 0) << i;
  for (int i = 256; i < 300; ++i) ASSERT_EQ(buffer[i], '\xAA') << "written past 256 bytes at " << i;

  // A short text over a buffer that held a longer one: no stale tail.
  ASSERT_EQ(ZYLFPSCAN_GetErrorInfo(-114, buffer.data()), ZYLFPSCAN_OK);
  ASSERT_EQ(ZYLFPSCAN_GetErrorInfo(-100, buffer.data()), ZYLFPSCAN_OK);
  EXPECT_STREQ(buffer.data(), "No Device.");
  for (int i = 10; i < 256; ++i) ASSERT_EQ(buffer[i], 0) << i;
}

TEST(StatusTexts, NullBufferAnswersMissingBufferCode) {
  EXPECT_EQ(ZYLFPSCAN_GetErrorInfo(0, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_GetErrorInfo(-905, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
}

TEST(StatusCodes, NamedCodesHaveTheirValues) {
  // Callers, the service and the firmware tool rely on these numbers.
  struct Case {
    int named;
    int value;
  };
  const Case cases[] = {
      {ZYLFPSCAN_OK, 0},
      {ZYLFPSCAN_NO_MATCH, 1},
      {ZYLFPSCAN_ERR_NULL_BUFFER, 10},
      {ZYLFPSCAN_ERR_DB_OPEN, -1},
      {ZYLFPSCAN_ERR_NO_DEVICE, -100},
      {ZYLFPSCAN_ERR_NOT_OPEN, -103},
      {ZYLFPSCAN_ERR_CAPTURE, -104},
      {ZYLFPSCAN_ERR_DEVICE_INIT, -105},
      {ZYLFPSCAN_ERR_ALREADY_OPEN, -106},
      {ZYLFPSCAN_ERR_DEVICE_LIST, -107},
      {ZYLFPSCAN_ERR_DEVICE_INFO, -108},
      {ZYLFPSCAN_ERR_OPEN_DEVICE, -109},
      {ZYLFPSCAN_ERR_UNKNOWN_REPLY, -110},
      {ZYLFPSCAN_ERR_NO_LED, -111},
      {ZYLFPSCAN_ERR_LIVE_STARTED, -112},
      {ZYLFPSCAN_ERR_LIVE_NOT_STARTED, -113},
      {ZYLFPSCAN_ERR_HARDWARE_INFO, -114},
      {ZYLFPSCAN_ERR_SET_LED, -115},
      {ZYLFPSCAN_ERR_GET_LED, -116},
      {ZYLFPSCAN_ERR_SEARCH_REPLY, -117},
      {ZYLFPSCAN_ERR_NO_MEMORY, -118},
      {ZYLFPSCAN_ERR_ALG_INIT, -200},
      {ZYLFPSCAN_ERR_LOW_QUALITY, -211},
      {ZYLFPSCAN_ERR_ALG_NOT_READY, -220},
      {ZYLFPSCAN_ERR_EXTRACT, -221},
      {ZYLFPSCAN_ERR_TEMPLATE, -222},
      {ZYLFPSCAN_ERR_DB_SHORT, -231},
      {ZYLFPSCAN_ERR_DB_EMPTY, -232},
      {ZYLFPSCAN_ERR_DB_WRITE, -233},
      {ZYLFPSCAN_ERR_DB_FULL, -234},
      {ZYLFPSCAN_ERR_DB_NO_MATCH, -235},
      {ZYLFPSCAN_ERR_DB_TOO_SIMILAR, -236},
      {ZYLFPSCAN_ERR_DB_ENROLLED, -238},
      {ZYLFPSCAN_ERR_RAW_TO_BMP, -240},
      {ZYLFPSCAN_ERR_PING, -302},
      {ZYLFPSCAN_ERR_WRITE, -303},
      {ZYLFPSCAN_ERR_READ, -304},
      {ZYLFPSCAN_ERR_CAPTURE_COMMAND, -309},
      {ZYLFPSCAN_ERR_UPLOAD, -310},
      {ZYLFPSCAN_SCANNER_STATUS(1), -400},
      {ZYLFPSCAN_SCANNER_STATUS(5), -404},
      {ZYLFPSCAN_ERR_SCANNER_STATUS_5, -404},
      {ZYLFPSCAN_ERR_PARAM, -900},
      {ZYLFPSCAN_ERR_ALREADY_INIT, -904},
      {ZYLFPSCAN_ERR_NOT_INIT, -905},
      {ZYLFPSCAN_ERR_PING_BEFORE_CAPTURE, -1000},
  };
  for (const Case& c : cases) EXPECT_EQ(c.named, c.value);
}

}  // namespace
