// A recorder of calls for the routines that the image tests hand to the
// image objects (preprocessors, test kernels): each records its name and
// int arguments, and answers the status a test set for it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zyl::test::kernel_fakes {

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

}  // namespace zyl::test::kernel_fakes
