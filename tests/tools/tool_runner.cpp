#include "tool_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zyl::test {

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string field(const std::string& line, const std::string& key) {
  auto at = line.find(" " + key + "=");
  if (at == std::string::npos) return {};
  at += key.size() + 2;
  auto end = line.find(' ', at);
  return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

TraceLine parse_line(const std::string& line) {
  TraceLine t;
  t.raw = line;
  std::istringstream in(line);
  std::string clock;
  in >> clock >> t.kind;
  if (auto v = field(line, "ep"); !v.empty()) t.ep = static_cast<int>(std::stoul(v, nullptr, 16));
  if (auto v = field(line, "rc"); !v.empty()) t.rc = std::stoi(v);
  if (auto v = field(line, "len"); !v.empty()) t.length = std::stoull(v);
  if (auto v = field(line, "data"); !v.empty())
    for (std::size_t i = 0; i + 1 < v.size() && v[i] != '.'; i += 2)
      t.data.push_back(static_cast<std::uint8_t>(std::stoul(v.substr(i, 2), nullptr, 16)));
  if (auto hash = line.find(" # "); hash != std::string::npos) t.note = line.substr(hash + 3);
  return t;
}

}  // namespace

std::vector<TraceLine> ToolRun::on(int ep) const {
  std::vector<TraceLine> r;
  for (const auto& t : trace)
    if (t.ep == ep && (t.kind == "bulk" || t.kind == "interrupt")) r.push_back(t);
  return r;
}

std::uint64_t ToolRun::slept_us() const {
  std::uint64_t total = 0;
  for (const auto& t : trace)
    if (t.kind == "sleep") total += t.length;
  return total;
}

std::uint32_t word(const std::vector<std::uint8_t>& p, int i) {
  std::uint32_t v = 0;
  for (int b = 3; b >= 0; --b) {
    std::size_t at = static_cast<std::size_t>(4 * i + b);
    v = (v << 8) | (at < p.size() ? p[at] : 0);
  }
  return v;
}

Sandbox::Sandbox() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "zyltool.XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
}

Sandbox::~Sandbox() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void Sandbox::write(const std::string& name, const std::string& content) const {
  std::ofstream(path(name), std::ios::binary) << content;
}

void Sandbox::write(const std::string& name, const std::vector<std::uint8_t>& content) const {
  std::ofstream out(path(name), std::ios::binary);
  out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

ToolRun Sandbox::run(const std::string& program, const std::vector<std::string>& args,
                 const std::string& scenario) const {
  static int serial = 0;
  const std::string tag = std::to_string(++serial);
  const std::string scenario_path = path("scenario" + tag + ".txt");
  const std::string trace_path = path("trace" + tag + ".txt");
  const std::string out_path = path("out" + tag + ".txt");
  const std::string err_path = path("err" + tag + ".txt");
  write("scenario" + tag + ".txt", scenario);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    setenv("LD_PRELOAD", VSCANNER_PATH, 1);
    setenv("VSCANNER_SCENARIO", scenario_path.c_str(), 1);
    setenv("VSCANNER_TRACE", trace_path.c_str(), 1);
    setenv("VSCANNER_CLOCK", "virtual", 1);
    // The sanitizer build preloads an instrumented library.
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=1", 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ToolRun r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  std::istringstream lines(slurp(trace_path));
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) r.trace.push_back(parse_line(line));
  return r;
}

}  // namespace zyl::test
