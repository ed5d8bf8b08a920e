// Runs an unmodified program with the virtual scanner preloaded and a
// scenario, and collects its output, exit status and USB traffic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zyl::test {

struct TraceLine {
  std::string kind;   // bulk, interrupt, control, sleep, clear_halt, ...
  int ep = -1;
  int rc = 0;
  std::uint64_t length = 0;  // len= field (a sleep's length in microseconds)
  std::vector<std::uint8_t> data;
  std::string note;
  std::string raw;
};

struct ToolRun {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out, err;
  std::vector<TraceLine> trace;
  // Transfers on one endpoint, in order.
  std::vector<TraceLine> on(int ep) const;
  std::uint64_t slept_us() const;
};

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  void write(const std::string& name, const std::vector<std::uint8_t>& content) const;
  // Runs program with args under the scenario text.
  ToolRun run(const std::string& program, const std::vector<std::string>& args, const std::string& scenario) const;

 private:
  std::string dir_;
};

// Little-endian word i of a 64-byte packet.
std::uint32_t word(const std::vector<std::uint8_t>& packet, int i);

}  // namespace zyl::test
