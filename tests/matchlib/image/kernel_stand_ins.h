// Stand-ins for the enhancement and quality kernels that the image objects
// call but that belong to the filtering part of the library. They are
// weak, so a build that carries the real kernels still links (the tests of
// the calls then need the stand-ins renamed). Each records its call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kernel_fakes {

struct Call {
  std::string name;
  std::vector<long> args;  // the int arguments, in order
};

std::vector<Call>& calls();
// Status a stand-in answers (0 when not set); "stripes" sets the flag the
// stripe detector reports.
std::map<std::string, int>& setting();
void reset();
// Names of the recorded calls, in order.
std::vector<std::string> names();

// The usable map a test routine was last given.
extern std::vector<std::uint8_t> last_usable;

// Value every output pixel of a named stand-in receives.
std::uint8_t marker(const std::string& name);

}  // namespace kernel_fakes
