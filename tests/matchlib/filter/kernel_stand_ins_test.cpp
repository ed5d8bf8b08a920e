// The call recorder that the image tests' own routines write into (see
// kernel_stand_ins.h).
#include "kernel_stand_ins.h"

#include <cstdlib>
#include <cstring>

namespace zyl::test::kernel_fakes {

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

}  // namespace zyl::test::kernel_fakes
