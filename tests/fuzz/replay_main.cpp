// Runs a fuzz target without libFuzzer, so every build (plain and sanitizer)
// exercises it: first every corpus file and every prefix of it (the cuts a
// truncated file or transfer gives), then a fixed, seeded sequence of
// random and mutated inputs. Each input lives in a heap block of exactly its
// size, so the sanitizers see any read past its end.
//
//   <target>_replay [--runs=N] [--seed=S] [--max-len=L] [--seconds=T] [--prefix-seconds=P]
//                   [paths...]
//   <target>_replay --dump=I FILE [same options and paths]
//
// Paths are corpus directories (every regular file in them) or single files.
// Input I of the sequence depends only on the seed, I and the corpus, so
// --dump=I writes the same input to FILE for a debugger or the libFuzzer
// binary. The random pass stops early after T seconds, the pass over the
// corpus files' prefixes after P seconds (10 by default).
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/prefix_blocks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// What is running now, for the report of a crash.
char g_current[512] = "";

void report_current() {
  const char prefix[] = "\n*** replay: crashed on ";
  if (write(STDERR_FILENO, prefix, sizeof prefix - 1) < 0) return;
  if (write(STDERR_FILENO, g_current, std::strlen(g_current)) < 0) return;
  if (write(STDERR_FILENO, "\n", 1) < 0) return;
}

void on_signal(int sig) {
  report_current();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void install_crash_report() {
  if (__sanitizer_set_death_callback) {
    // The sanitizers report the fault themselves, then call this.
    __sanitizer_set_death_callback(report_current);
    return;
  }
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(sig, on_signal);
}

// Every proper prefix of a corpus file up to kFullSweep bytes; a longer
// file gets its first kFullSweep / 4 prefixes, then every step-th (about
// kFullSweep / 4 more) and its last 64, so one large file does not dominate
// the run.
constexpr std::size_t kFullSweep = 8192;

// Answers how many cuts ran; stops at `deadline` (checked every 16 cuts) so
// that a slow target on a loaded machine still ends well inside its time-out.
std::size_t run_prefixes(const std::string& name, const Bytes& input,
                         std::chrono::steady_clock::time_point deadline) {
  const bool full = input.size() <= kFullSweep;
  const std::size_t head = full ? input.size() : kFullSweep / 4;
  const std::size_t step = full ? 1 : input.size() / (kFullSweep / 4);
  const std::size_t tail = input.size() > 64 ? input.size() - 64 : 0;
  std::size_t done = 0;
  for (std::size_t n = 0; n < input.size(); ++n) {
    if (n > head && n < tail && n % step != 0) continue;
    if (done % 16 == 0 && std::chrono::steady_clock::now() > deadline) break;
    ++done;
    std::snprintf(g_current, sizeof g_current, "corpus file %s cut to %zu bytes", name.c_str(), n);
    zyl::test::for_each_prefix_block(input, n, n + 1, [](std::span<const std::uint8_t> cut) {
      LLVMFuzzerTestOneInput(cut.data(), cut.size());
    });
  }
  return done;
}

void run_one(const Bytes& input) {
  // new[] of exactly the input's size (a zero-size block for an empty input).
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[input.size()]);
  if (!input.empty()) std::memcpy(copy.get(), input.data(), input.size());
  LLVMFuzzerTestOneInput(copy.get(), input.size());
}

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Options {
  unsigned long runs = 10000;
  unsigned long seed = 1;
  std::size_t max_len = 1024;
  double seconds = 3.0;
  double prefix_seconds = 10.0;
  long dump = -1;
  std::string dump_file;
  std::vector<fs::path> paths;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* key) -> const char* {
      const std::size_t n = std::strlen(key);
      return a.compare(0, n, key) == 0 ? a.c_str() + n : nullptr;
    };
    if (const char* v = value("--runs=")) {
      o.runs = std::strtoul(v, nullptr, 10);
    } else if (const char* v = value("--seed=")) {
      o.seed = std::strtoul(v, nullptr, 10);
    } else if (const char* v = value("--max-len=")) {
      o.max_len = std::strtoul(v, nullptr, 10);
    } else if (const char* v = value("--prefix-seconds=")) {
      o.prefix_seconds = std::strtod(v, nullptr);
    } else if (const char* v = value("--seconds=")) {
      o.seconds = std::strtod(v, nullptr);
    } else if (const char* v = value("--dump=")) {
      o.dump = std::strtol(v, nullptr, 10);
      if (i + 1 < argc) o.dump_file = argv[++i];
    } else if (a.compare(0, 1, "-") == 0) {
      // libFuzzer options (-runs=, -max_total_time=, ...) are accepted and ignored.
    } else {
      o.paths.emplace_back(a);
    }
  }
  return o;
}

std::vector<std::pair<std::string, Bytes>> load_corpus(const std::vector<fs::path>& paths) {
  std::vector<std::pair<std::string, Bytes>> corpus;
  for (const fs::path& p : paths) {
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(p, ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path& f : files) corpus.emplace_back(f.string(), read_file(f));
    } else if (fs::is_regular_file(p, ec)) {
      corpus.emplace_back(p.string(), read_file(p));
    } else {
      std::fprintf(stderr, "replay: no corpus at %s\n", p.string().c_str());
    }
  }
  return corpus;
}

// Input number `index` of the random pass: half of them fresh random bytes,
// half corpus entries (or earlier fresh ones when there is no corpus) with a
// few mutations of the usual fuzzing kinds.
Bytes make_input(unsigned long seed, unsigned long index, const std::vector<std::pair<std::string, Bytes>>& corpus,
                 std::size_t max_len) {
  std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + index);
  auto below = [&](std::size_t n) { return n ? static_cast<std::size_t>(rng() % n) : 0; };
  auto random_bytes = [&](std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
  };
  if (corpus.empty() || rng() % 2 == 0) return random_bytes(below(max_len + 1));

  Bytes b = corpus[below(corpus.size())].second;
  static const std::uint8_t interesting[] = {0, 1, 2, 0x7F, 0x80, 0xFE, 0xFF};
  const int mutations = 1 + static_cast<int>(below(8));
  for (int m = 0; m < mutations; ++m) {
    switch (below(9)) {
      case 0:  // flip a bit
        if (!b.empty()) b[below(b.size())] ^= static_cast<std::uint8_t>(1u << below(8));
        break;
      case 1:  // random byte
        if (!b.empty()) b[below(b.size())] = static_cast<std::uint8_t>(rng());
        break;
      case 2:  // interesting byte
        if (!b.empty()) b[below(b.size())] = interesting[below(sizeof interesting)];
        break;
      case 3:  // small change of a byte, as counts and lengths drift
        if (!b.empty()) b[below(b.size())] += static_cast<std::uint8_t>(below(9)) - 4;
        break;
      case 4:  // insert bytes
        if (b.size() < max_len) {
          const Bytes ins = random_bytes(1 + below(8));
          b.insert(b.begin() + static_cast<std::ptrdiff_t>(below(b.size() + 1)), ins.begin(), ins.end());
        }
        break;
      case 5:  // erase bytes
        if (!b.empty()) {
          const std::size_t at = below(b.size());
          const std::size_t n = std::min(b.size() - at, 1 + below(8));
          b.erase(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        break;
      case 6:  // truncate
        b.resize(below(b.size() + 1));
        break;
      case 7:  // copy a chunk within the input
        if (b.size() > 1) {
          const std::size_t from = below(b.size()), to = below(b.size());
          const std::size_t n = std::min({b.size() - from, b.size() - to, 1 + below(16)});
          std::memmove(b.data() + to, b.data() + from, n);
        }
        break;
      default: {  // splice with another corpus entry
        const Bytes& other = corpus[below(corpus.size())].second;
        const std::size_t keep = below(b.size() + 1), from = below(other.size() + 1);
        b.resize(keep);
        b.insert(b.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
        break;
      }
    }
  }
  if (b.size() > max_len) b.resize(max_len);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  const Options o = parse(argc, argv);
  const auto corpus = load_corpus(o.paths);

  if (o.dump >= 0) {
    if (o.dump_file.empty()) {
      std::fprintf(stderr, "replay: --dump=I needs a file name\n");
      return 2;
    }
    const Bytes input = make_input(o.seed, static_cast<unsigned long>(o.dump), corpus, o.max_len);
    std::ofstream(o.dump_file, std::ios::binary).write(reinterpret_cast<const char*>(input.data()),
                                                       static_cast<std::streamsize>(input.size()));
    return 0;
  }

  install_crash_report();
  for (const auto& [name, input] : corpus) {
    std::snprintf(g_current, sizeof g_current, "corpus file %s", name.c_str());
    run_one(input);
  }
  // The cuts come after every whole file, in corpus order, within their own
  // time budget.
  const auto prefix_deadline =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(o.prefix_seconds));
  std::size_t cuts = 0;
  for (const auto& [name, input] : corpus) cuts += run_prefixes(name, input, prefix_deadline);

  const auto start = std::chrono::steady_clock::now();
  unsigned long done = 0;
  for (; done < o.runs; ++done) {
    if (done % 256 == 0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > o.seconds)
      break;
    std::snprintf(g_current, sizeof g_current, "random input %lu (reproduce with --seed=%lu --dump=%lu FILE)", done,
                  o.seed, done);
    run_one(make_input(o.seed, done, corpus, o.max_len));
  }
  std::printf("replay: %zu corpus inputs, %zu of their cuts and %lu of %lu random inputs passed\n",
              corpus.size(), cuts, done, o.runs);
  return 0;
}
