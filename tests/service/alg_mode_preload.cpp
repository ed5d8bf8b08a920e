// Test-only preload for the service tests: stands in for a host application
// that has chosen an engine with the library's setAlgMode. The service never
// chooses one itself, and opening a device sets the product's mode, so the
// mode named by ZYL_TEST_ALG_MODE is set again before every bulk transfer
// (each capture starts with one), then the transfer goes on to the virtual
// scanner loaded behind this library. Nothing of the product is replaced.
#include <dlfcn.h>
#include <libusb.h>

#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                                    int length, int* transferred, unsigned int timeout) {
  using Transfer = int (*)(libusb_device_handle*, unsigned char, unsigned char*, int, int*, unsigned int);
  using SetMode = int (*)(int);
  static const Transfer next = reinterpret_cast<Transfer>(dlsym(RTLD_NEXT, "libusb_bulk_transfer"));
  static const SetMode setMode = reinterpret_cast<SetMode>(dlsym(RTLD_DEFAULT, "setAlgMode"));
  if (const char* mode = std::getenv("ZYL_TEST_ALG_MODE"); mode && setMode) setMode(std::atoi(mode));
  return next ? next(handle, endpoint, data, length, transferred, timeout) : LIBUSB_ERROR_OTHER;
}
