// Definitions of the kernel stand-ins (see kernel_stand_ins.h).
#include "kernel_stand_ins.h"

#include <cstdlib>
#include <cstring>

namespace kernel_fakes {

std::vector<std::uint8_t> last_usable;

std::vector<Call>& calls() {
  static std::vector<Call> c;
  return c;
}
std::map<std::string, int>& setting() {
  static std::map<std::string, int> s;
  return s;
}
void reset() {
  calls().clear();
  setting().clear();
  last_usable.clear();
}
std::vector<std::string> names() {
  std::vector<std::string> n;
  for (const auto& c : calls()) n.push_back(c.name);
  return n;
}
std::uint8_t marker(const std::string& name) {
  return static_cast<std::uint8_t>(std::hash<std::string>{}(name) % 200 + 20);
}

namespace {
int record(const char* name, std::vector<long> args) {
  calls().push_back({name, std::move(args)});
  auto it = setting().find(name);
  return it == setting().end() ? 0 : it->second;
}
}  // namespace

}  // namespace kernel_fakes

using kernel_fakes::record;
using std::uint8_t;
using std::uint16_t;
using std::uint32_t;

#define STAND_IN extern "C" __attribute__((weak))

// Packed image record stand-in: 12 header bytes (height, width, x and y
// resolution, impression type, each as a little-endian 16-bit value, then
// two zero bytes) before the pixels.
STAND_IN int packed_image_write(const uint8_t* pixels, int h, int w, int rx, int ry,
                                int impression, uint8_t** out, uint32_t* length) {
  const std::size_t n = std::size_t(h) * w;
  auto* rec = static_cast<uint8_t*>(std::malloc(12 + n));
  const int fields[5] = {h, w, rx, ry, impression};
  for (int i = 0; i < 5; ++i) {
    rec[2 * i] = uint8_t(fields[i]);
    rec[2 * i + 1] = uint8_t(fields[i] >> 8);
  }
  rec[10] = rec[11] = 0;
  std::memcpy(rec + 12, pixels, n);
  *out = rec;
  *length = uint32_t(12 + n);
  return record("packed_image_write", {h, w, rx, ry, impression});
}
STAND_IN int packed_image_read(const uint8_t* rec, uint32_t length, const uint8_t** pixels,
                               int* h, int* w, int* rx, int* ry, int* impression) {
  if (length < 12) return 3;
  int f[5];
  for (int i = 0; i < 5; ++i) f[i] = rec[2 * i] | rec[2 * i + 1] << 8;
  if (length != 12 + uint32_t(f[0]) * f[1]) return 3;
  *h = f[0];
  *w = f[1];
  *rx = f[2];
  *ry = f[3];
  *impression = f[4];
  *pixels = rec + 12;
  return record("packed_image_read", {f[0], f[1]});
}
