// updateflag: reports the first scanner's firmware version, minor version and
// MCU type and, for the one firmware line that needs it, sets the scanner's
// firmware-update flag so that it restarts ready for fwdownload.
//
// Exit status: 1 when the scanner cannot be opened on the second attempt or a
// version query fails; 0 when there is no scanner or the flag was sent;
// otherwise the firmware minor version.

#include <unistd.h>

#include <cstdio>

#include "zylscan/zylfpscan.h"
#include "zylscan/zylfpscan_image.h"

namespace {

// OpenDevice's answer when there is no scanner at the index.
constexpr int kNoScanner = ZYLFPSCAN_ERR_PARAM;

void* g_handle = nullptr;

int open_scanner() {
  int ret = ZYLFPSCAN_GlobalInit();
  if (ret != 0) {
    std::printf("\n ZYLFPSCAN_GlobalInit ret = %d", ret);
    return ret;
  }
  ret = ZYLFPSCAN_OpenDevice(&g_handle, 0);
  if (ret != 0) {
    std::printf("\n ZYLFPSCAN_OpenDevice ret = %d", ret);
    return ret;
  }
  int width = 0, height = 0, resolution = 0;
  return ZYLFPSCAN_GetImageInfo(g_handle, &width, &height, &resolution);
}

int close_scanner() {
  ZYLFPSCAN_CloseDevice(&g_handle);
  const int ret = ZYLFPSCAN_GlobalFree();
  if (ret != 0) std::printf("\n ZYLFPSCAN_GlobalFree ret = %d", ret);
  return ret;
}

// The firmware line whose scanners must be flagged for an update.
bool needs_update(int version, int minor, int mcu) { return version == 23 && minor <= 55 && mcu == 7; }

}  // namespace

int main() {
  std::printf("\n please wait ......\n");
  int ret = open_scanner();
  if (ret != 0 && ret != kNoScanner) {
    std::printf("\n quit");
    close_scanner();
    sleep(10);
    g_handle = nullptr;
    ret = open_scanner();
    if (ret != 0) {
      std::printf("\n init failed ret = %d", ret);
      return 1;
    }
  }
  if (ret == kNoScanner) {
    close_scanner();
    return 0;
  }

  int version = 0, minor = 0, mcu = 0;
  if ((ret = ZYLFPSCAN_GetFwVersion(g_handle, &version)) != 0) {
    std::printf("\n ZYLFPSCAN_GetFwVersion ret = %d", ret);
    close_scanner();
    return 1;
  }
  if ((ret = ZYLFPSCAN_GetFwMinorVersion(g_handle, &minor)) != 0) {
    std::printf("\n ZYLFPSCAN_GetFwMinorVersion ret = %d", ret);
    close_scanner();
    return 1;
  }
  if ((ret = ZYLFPSCAN_GetMcuType(g_handle, &mcu)) != 0) {
    std::printf("\n ZYLFPSCAN_GetMcuType ret = %d", ret);
    close_scanner();
    return 1;
  }
  std::printf("\n version = %d, minorVersion = %d, mcuType = %d", version, minor, mcu);

  if (needs_update(version, minor, mcu)) {
    // The scanner restarts into its update state: it is not closed.
    ZYLFPSCAN_SetQZ650UpdateFlag(g_handle);
    return 0;
  }
  close_scanner();
  return minor;
}
