// Definitions of the kernel stand-ins (see kernel_stand_ins.h).
#include "kernel_stand_ins.h"

#include <cstdlib>
#include <cstring>

namespace kernel_fakes {

std::uint32_t foreground = 0;
std::vector<std::uint8_t> last_usable;
bool kept_map_given = false;

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
  foreground = 0;
  last_usable.clear();
  kept_map_given = false;
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

STAND_IN int quality_from_pixel_coherence(const uint8_t*, int h, int w, const uint8_t* usable,
                                          int radius, uint8_t* quality, uint32_t* fg,
                                          uint8_t* kept_map) {
  kernel_fakes::last_usable.assign(usable, usable + std::size_t(h) * w);
  kernel_fakes::kept_map_given = kept_map != nullptr;
  if (kept_map) std::memset(kept_map, 7, std::size_t(h) * w);
  *quality = 42;
  *fg = kernel_fakes::foreground;
  return record("quality_from_pixel_coherence", {h, w, radius});
}
STAND_IN int imgstat_block_contrast(const uint8_t*, int h, int w, int resolution, uint8_t* v,
                                    uint8_t* first, uint8_t* second, uint8_t* m2, uint8_t* m4,
                                    uint8_t* m8) {
  *v = 11;
  *first = 12;
  *second = 13;
  for (uint8_t* m : {m2, m4, m8})
    if (m) std::memset(m, 1, std::size_t(h) * w);
  return record("imgstat_block_contrast", {h, w, resolution});
}
