// The libusb-1.0 functions, answered by the virtual devices of the scenario,
// plus the trace, the resource counters and the virtual clock.
#include <libusb.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "virtual_device.h"
#include "vscanner.h"

#define VS_EXPORT extern "C" __attribute__((visibility("default")))

struct libusb_context {
  int refs = 0;
};
struct libusb_device {
  int index = -1;  // device of the scenario
  int generation = 0;
  int refs = 0;
};
struct libusb_device_handle {
  libusb_device* device = nullptr;
};

namespace zyl::test::vscanner {
namespace {

struct State {
  std::mutex mutex;
  std::condition_variable released;
  int release_count = 0;
  int blocked = 0;
  int generation = 0;
  Scenario scenario;
  std::vector<std::unique_ptr<VirtualDevice>> devices;
  // Device objects are never freed: a leaked reference from an earlier
  // scenario must not turn into a use after free.
  std::vector<std::unique_ptr<libusb_device>> objects;
  std::vector<Call> trace;
  Counts counts;
  std::atomic<std::uint64_t> clock{0};
  std::atomic<std::uint64_t> slept{0};
  std::atomic<bool> virtual_clock{true};
  std::string trace_path;
  std::FILE* trace_file = nullptr;
  libusb_context default_context;
};

State& state() {
  static State* s = new State;  // lives to the end of the process
  return *s;
}

void write_trace_line(State& s, const Call& c) {
  if (!s.trace_file) return;
  std::fprintf(s.trace_file, "t=%llu %s dev=%d", static_cast<unsigned long long>(c.clock_us),
               c.what.c_str(), c.device);
  if (c.what == "control")
    std::fprintf(s.trace_file, " type=0x%02x req=0x%02x value=0x%04x index=0x%04x", c.request_type,
                 c.request, c.value, c.index);
  if (c.what == "bulk" || c.what == "interrupt" || c.what == "clear_halt")
    std::fprintf(s.trace_file, " ep=0x%02x", c.endpoint);
  if (c.what == "control" || c.what == "bulk" || c.what == "interrupt")
    std::fprintf(s.trace_file, " len=%d timeout=%u rc=%d n=%d data=", c.length, c.timeout, c.result,
                 c.transferred);
  else if (c.what == "sleep")
    std::fprintf(s.trace_file, " len=%d rc=%d", c.length, c.result);
  else
    std::fprintf(s.trace_file, " rc=%d", c.result);
  std::size_t shown = std::min<std::size_t>(c.data.size(), 64);
  for (std::size_t i = 0; i < shown; ++i) std::fprintf(s.trace_file, "%02X", c.data[i]);
  if (shown < c.data.size()) std::fprintf(s.trace_file, "...");
  if (!c.note.empty()) std::fprintf(s.trace_file, " # %s", c.note.c_str());
  std::fprintf(s.trace_file, "\n");
  std::fflush(s.trace_file);
}

void record(State& s, Call c) {
  write_trace_line(s, c);
  s.trace.push_back(std::move(c));
}

void advance(State& s, std::uint64_t us) { s.clock += us; }

VirtualDevice* device_of(State& s, libusb_device* dev) {
  if (!dev || dev->generation != s.generation || dev->index < 0 ||
      dev->index >= static_cast<int>(s.devices.size()))
    return nullptr;
  return s.devices[static_cast<std::size_t>(dev->index)].get();
}

libusb_device* object_for(State& s, int index) {
  for (auto& o : s.objects)
    if (o->index == index && o->generation == s.generation) return o.get();
  s.objects.push_back(std::make_unique<libusb_device>());
  auto* o = s.objects.back().get();
  o->index = index;
  o->generation = s.generation;
  return o;
}

bool list_fault(State& s) {
  for (auto& f : s.scenario.faults)
    if (f.place == FaultPlace::List && (f.times == 0 || f.fired < f.times)) {
      if (f.skip > 0) {
        --f.skip;
        continue;
      }
      ++f.fired;
      return true;
    }
  return false;
}

bool device_fault(VirtualDevice& d, FaultPlace place) {
  for (auto& f : d.spec().faults)
    if (f.place == place && (f.times == 0 || f.fired < f.times)) {
      if (f.skip > 0) {
        --f.skip;
        continue;
      }
      ++f.fired;
      return true;
    }
  return false;
}

int error_for(FaultKind kind) {
  switch (kind) {
    case FaultKind::Timeout: return LIBUSB_ERROR_TIMEOUT;
    case FaultKind::Stall: return LIBUSB_ERROR_PIPE;
    case FaultKind::Unplug: return LIBUSB_ERROR_NO_DEVICE;
    default: return LIBUSB_ERROR_IO;
  }
}

bool release_file_exists(State& s) {
  struct stat st;
  return !s.scenario.release_file.empty() && ::stat(s.scenario.release_file.c_str(), &st) == 0;
}

// A bulk or interrupt transfer.
int transfer(const char* what, libusb_device_handle* h, unsigned char endpoint, unsigned char* data,
             int length, int* transferred, unsigned timeout) {
  State& s = state();
  std::unique_lock lock(s.mutex);
  Call c;
  c.what = what;
  c.endpoint = endpoint;
  c.length = length;
  c.timeout = timeout;
  c.clock_us = s.clock;
  if (transferred) *transferred = 0;
  VirtualDevice* d = h ? device_of(s, h->device) : nullptr;
  c.device = d ? h->device->index : -1;
  auto finish = [&](int rc, int n) {
    c.result = rc;
    c.transferred = n;
    if (transferred) *transferred = n;
    record(s, c);
    return rc;
  };
  if (!d) {
    c.note = "stale handle";
    return finish(LIBUSB_ERROR_NO_DEVICE, 0);
  }
  if (!d->state().present) {
    c.note = "unplugged";
    return finish(LIBUSB_ERROR_NO_DEVICE, 0);
  }
  if (length < 0 || (length > 0 && !data)) {
    c.note = "bad arguments";
    return finish(LIBUSB_ERROR_INVALID_PARAM, 0);
  }
  if (!d->has_endpoint(endpoint)) {
    c.note = "no such endpoint";
    return finish(LIBUSB_ERROR_IO, 0);
  }
  const bool in = endpoint & 0x80;
  Fault* f = d->match_transfer_fault(d->next_transfer());
  if (!in) {
    c.data.assign(data, data + length);
    std::string token = d->classify(data, length);
    if (!f) f = d->match_command_fault(FaultPlace::Write, token);
    if (f && f->kind != FaultKind::Short && f->kind != FaultKind::Zero) {
      if (f->kind == FaultKind::Unplug) d->state().present = false;
      if (f->kind == FaultKind::Timeout) advance(s, timeout * 1000ull);
      c.note = "fault on write of " + token;
      return finish(error_for(f->kind), 0);
    }
    int n = length;
    if (f) n = f->kind == FaultKind::Zero ? 0 : std::min(length, f->arg);
    if (n < length) {
      c.note = "short write; the device saw nothing";
      return finish(0, n);
    }
    d->receive(data, length, c.note);
    return finish(0, length);
  }
  // IN: take from the front reply.
  auto& q = d->replies();
  if (!f && !q.empty() && !q.front().started && q.front().fault) {
    f = q.front().fault;
    q.front().fault = nullptr;
  }
  if (!q.empty()) q.front().started = true;
  if (f) {
    switch (f->kind) {
      case FaultKind::Timeout:
      case FaultKind::Stall:
      case FaultKind::Error:
      case FaultKind::Unplug:
        if (f->kind == FaultKind::Timeout) advance(s, timeout * 1000ull);
        if (f->kind == FaultKind::Unplug) d->state().present = false;
        if (!q.empty()) q.pop_front();  // the answer is lost
        c.note = "fault on read";
        return finish(error_for(f->kind), 0);
      case FaultKind::Zero:
        if (!q.empty()) q.pop_front();
        c.note = "zero-length packet instead of the answer";
        return finish(0, 0);
      case FaultKind::Zeros:
        // The answer never comes: only zero-length packets from now on. A
        // host that keeps asking is stopped after many of them.
        if (!q.empty()) {
          q.front().fault = f;
          q.front().started = false;
        }
        if (f->fired > 100000) {
          c.note = "runaway: the host keeps reading zero-length packets";
          return finish(LIBUSB_ERROR_IO, 0);
        }
        ++f->fired;
        c.note = "zero-length packet";
        return finish(0, 0);
      case FaultKind::Short:
        if (!q.empty()) {
          auto& m = q.front();
          m.bytes.resize(std::min(m.bytes.size(), m.pos + static_cast<std::size_t>(f->arg)));
        }
        c.note = "short answer";
        break;
      case FaultKind::Block: {
        c.note = "blocked until released";
        int seen = s.release_count;
        ++s.blocked;
        while (s.release_count == seen && !release_file_exists(s))
          s.released.wait_for(lock, std::chrono::milliseconds(10));
        --s.blocked;
        break;
      }
      default:
        break;
    }
  }
  if (q.empty()) {
    if (timeout == 0) c.note = "nothing to read and no time-out: a real device would hang here";
    advance(s, timeout * 1000ull);
    return finish(LIBUSB_ERROR_TIMEOUT, 0);
  }
  auto& m = q.front();
  std::size_t n = std::min(static_cast<std::size_t>(length), m.bytes.size() - m.pos);
  if (n) std::memcpy(data, m.bytes.data() + m.pos, n);
  c.data.assign(m.bytes.begin() + static_cast<long>(m.pos), m.bytes.begin() + static_cast<long>(m.pos + n));
  m.pos += n;
  if (m.pos >= m.bytes.size()) q.pop_front();
  advance(s, 1000);  // a millisecond per transfer keeps the clock moving
  return finish(0, static_cast<int>(n));
}

void load_from_environment() {
  State& s = state();
  if (const char* t = std::getenv("VSCANNER_TRACE")) s.trace_path = t;
  if (const char* p = std::getenv("VSCANNER_SCENARIO")) {
    std::string err = load_file(p);
    if (!err.empty()) std::fprintf(stderr, "vscanner: %s: %s\n", p, err.c_str());
  } else if (!s.trace_path.empty()) {
    load("");
  }
}

__attribute__((constructor)) void at_load() { load_from_environment(); }

// The trace ends with the clock's totals.
__attribute__((destructor)) void at_unload() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.trace_file) return;
  std::fprintf(s.trace_file, "end clock=%llu slept=%llu\n", static_cast<unsigned long long>(s.clock.load()),
               static_cast<unsigned long long>(s.slept.load()));
  std::fflush(s.trace_file);
}

}  // namespace

std::string load(const std::string& text, const std::string& base_dir) {
  State& s = state();
  Scenario sc;
  std::string err = parse_scenario(text, base_dir, sc);
  if (!err.empty()) return err;
  std::lock_guard lock(s.mutex);
  ++s.generation;
  s.scenario = std::move(sc);
  s.devices.clear();
  for (auto& spec : s.scenario.devices) s.devices.push_back(std::make_unique<VirtualDevice>(spec));
  s.trace.clear();
  s.counts = Counts{};
  s.default_context.refs = 0;
  s.clock = 0;
  s.slept = 0;
  s.virtual_clock = s.scenario.virtual_clock;
  if (const char* c = std::getenv("VSCANNER_CLOCK")) s.virtual_clock = std::strcmp(c, "real") != 0;
  if (!s.trace_path.empty() && !s.trace_file) s.trace_file = std::fopen(s.trace_path.c_str(), "a");
  return {};
}

std::string load_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) return "cannot read " + path;
  std::stringstream buf;
  buf << in.rdbuf();
  auto slash = path.find_last_of('/');
  return load(buf.str(), slash == std::string::npos ? "." : path.substr(0, slash));
}

std::vector<Call> trace() {
  std::lock_guard lock(state().mutex);
  return state().trace;
}

std::vector<Call> transfers() {
  std::vector<Call> out;
  for (auto& c : trace())
    if (c.what == "control" || c.what == "bulk" || c.what == "interrupt") out.push_back(c);
  return out;
}

void clear_trace() {
  std::lock_guard lock(state().mutex);
  state().trace.clear();
}

Counts counts() {
  std::lock_guard lock(state().mutex);
  Counts c = state().counts;
  c.context_refs = state().default_context.refs;
  return c;
}

std::uint64_t clock_us() { return state().clock; }
std::uint64_t slept_us() { return state().slept; }

DeviceState device_state(int device) {
  std::lock_guard lock(state().mutex);
  auto& s = state();
  if (device < 0 || device >= static_cast<int>(s.devices.size())) return {};
  return s.devices[static_cast<std::size_t>(device)]->state();
}

int blocked_reads() {
  std::lock_guard lock(state().mutex);
  return state().blocked;
}

void release_captures() {
  std::lock_guard lock(state().mutex);
  ++state().release_count;
  state().released.notify_all();
}

}  // namespace zyl::test::vscanner

using zyl::test::vscanner::state;

// ---- libusb-1.0 -----------------------------------------------------------

VS_EXPORT int libusb_init(libusb_context** ctx) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  ++s.counts.inits;
  if (ctx) {
    *ctx = new libusb_context{1};
  } else {
    ++s.default_context.refs;
  }
  return 0;
}

VS_EXPORT void libusb_exit(libusb_context* ctx) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  ++s.counts.exits;
  if (ctx)
    delete ctx;
  else if (s.default_context.refs > 0)
    --s.default_context.refs;
}

VS_EXPORT void libusb_set_debug(libusb_context*, int) {}
VS_EXPORT int libusb_set_option(libusb_context*, enum libusb_option, ...) { return 0; }

VS_EXPORT ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (!list) return LIBUSB_ERROR_INVALID_PARAM;
  if (zyl::test::vscanner::list_fault(s)) return LIBUSB_ERROR_NO_MEM;
  std::vector<libusb_device*> present;
  for (std::size_t i = 0; i < s.devices.size(); ++i)
    if (s.devices[i]->state().present) present.push_back(zyl::test::vscanner::object_for(s, static_cast<int>(i)));
  auto** l = static_cast<libusb_device**>(std::calloc(present.size() + 1, sizeof(libusb_device*)));
  for (std::size_t i = 0; i < present.size(); ++i) {
    l[i] = present[i];
    ++l[i]->refs;
    ++s.counts.device_refs;
  }
  ++s.counts.lists_taken;
  *list = l;
  return static_cast<ssize_t>(present.size());
}

VS_EXPORT void libusb_free_device_list(libusb_device** list, int unref_devices) {
  if (!list) return;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (unref_devices)
    for (auto** p = list; *p; ++p) {
      --(*p)->refs;
      --s.counts.device_refs;
    }
  ++s.counts.lists_freed;
  std::free(list);
}

VS_EXPORT libusb_device* libusb_ref_device(libusb_device* dev) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  ++dev->refs;
  ++s.counts.device_refs;
  return dev;
}

VS_EXPORT void libusb_unref_device(libusb_device* dev) {
  if (!dev) return;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  --dev->refs;
  --s.counts.device_refs;
}

VS_EXPORT int libusb_get_device_descriptor(libusb_device* dev, struct libusb_device_descriptor* desc) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  auto* d = zyl::test::vscanner::device_of(s, dev);
  if (!d) return LIBUSB_ERROR_NO_DEVICE;
  if (zyl::test::vscanner::device_fault(*d, zyl::test::vscanner::FaultPlace::Descriptor)) return LIBUSB_ERROR_IO;
  std::memset(desc, 0, sizeof *desc);
  desc->bLength = LIBUSB_DT_DEVICE_SIZE;
  desc->bDescriptorType = LIBUSB_DT_DEVICE;
  desc->bcdUSB = 0x0200;
  desc->bMaxPacketSize0 = 64;
  desc->idVendor = d->spec().vid;
  desc->idProduct = d->spec().pid;
  desc->bcdDevice = 0x0100;
  desc->bNumConfigurations = 1;
  return 0;
}

namespace {
struct ConfigBlock {
  libusb_config_descriptor config{};
  libusb_interface interface{};
  libusb_interface_descriptor setting{};
  std::vector<libusb_endpoint_descriptor> endpoints;
};
}  // namespace

VS_EXPORT int libusb_get_config_descriptor(libusb_device* dev, uint8_t config_index,
                                           struct libusb_config_descriptor** config) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  auto* d = zyl::test::vscanner::device_of(s, dev);
  if (!d) return LIBUSB_ERROR_NO_DEVICE;
  if (config_index != 0) return LIBUSB_ERROR_NOT_FOUND;
  if (zyl::test::vscanner::device_fault(*d, zyl::test::vscanner::FaultPlace::Config)) return LIBUSB_ERROR_IO;
  // One block holds the descriptor and everything it points to; the
  // descriptor comes first so freeing it frees the block.
  auto* b = new ConfigBlock;
  for (auto ep : d->spec().endpoints) {
    libusb_endpoint_descriptor e{};
    e.bLength = LIBUSB_DT_ENDPOINT_SIZE;
    e.bDescriptorType = LIBUSB_DT_ENDPOINT;
    e.bEndpointAddress = ep;
    e.bmAttributes = d->spec().transfer_type;
    e.wMaxPacketSize = 512;
    b->endpoints.push_back(e);
  }
  b->setting.bLength = LIBUSB_DT_INTERFACE_SIZE;
  b->setting.bDescriptorType = LIBUSB_DT_INTERFACE;
  b->setting.bNumEndpoints = static_cast<uint8_t>(b->endpoints.size());
  b->setting.bInterfaceClass = d->spec().interface_class;
  b->setting.endpoint = b->endpoints.data();
  b->interface.altsetting = &b->setting;
  b->interface.num_altsetting = 1;
  b->config.bLength = LIBUSB_DT_CONFIG_SIZE;
  b->config.bDescriptorType = LIBUSB_DT_CONFIG;
  b->config.bNumInterfaces = 1;
  b->config.bConfigurationValue = 1;
  b->config.interface = &b->interface;
  ++s.counts.configs_taken;
  *config = &b->config;
  return 0;
}

VS_EXPORT int libusb_get_active_config_descriptor(libusb_device* dev, struct libusb_config_descriptor** config) {
  return libusb_get_config_descriptor(dev, 0, config);
}

VS_EXPORT void libusb_free_config_descriptor(struct libusb_config_descriptor* config) {
  if (!config) return;
  auto& s = state();
  {
    std::lock_guard lock(s.mutex);
    ++s.counts.configs_freed;
  }
  delete reinterpret_cast<ConfigBlock*>(config);
}

VS_EXPORT uint8_t libusb_get_bus_number(libusb_device* dev) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  auto* d = zyl::test::vscanner::device_of(s, dev);
  return d ? d->spec().bus : 0;
}

VS_EXPORT uint8_t libusb_get_device_address(libusb_device* dev) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  auto* d = zyl::test::vscanner::device_of(s, dev);
  return d ? d->spec().address : 0;
}

VS_EXPORT uint8_t libusb_get_port_number(libusb_device* dev) { return libusb_get_device_address(dev); }

VS_EXPORT int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  auto* d = zyl::test::vscanner::device_of(s, dev);
  zyl::test::vscanner::Call c;
  c.what = "open";
  c.clock_us = s.clock;
  c.device = d ? dev->index : -1;
  if (!d || !d->state().present) {
    c.result = LIBUSB_ERROR_NO_DEVICE;
  } else if (zyl::test::vscanner::device_fault(*d, zyl::test::vscanner::FaultPlace::Open)) {
    c.result = LIBUSB_ERROR_ACCESS;
    c.note = "open refused";
  } else {
    *handle = new libusb_device_handle{dev};
    ++dev->refs;
    ++s.counts.opens;
  }
  zyl::test::vscanner::record(s, c);
  return c.result;
}

VS_EXPORT void libusb_close(libusb_device_handle* handle) {
  if (!handle) return;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  zyl::test::vscanner::Call c;
  c.what = "close";
  c.clock_us = s.clock;
  c.device = handle->device->generation == s.generation ? handle->device->index : -1;
  zyl::test::vscanner::record(s, c);
  --handle->device->refs;
  ++s.counts.closes;
  delete handle;
}

VS_EXPORT libusb_device* libusb_get_device(libusb_device_handle* handle) { return handle->device; }

VS_EXPORT libusb_device_handle* libusb_open_device_with_vid_pid(libusb_context* ctx, uint16_t vid, uint16_t pid) {
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(ctx, &list);
  libusb_device_handle* h = nullptr;
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(list[i], &desc) == 0 && desc.idVendor == vid && desc.idProduct == pid) {
      if (libusb_open(list[i], &h) != 0) h = nullptr;
      break;
    }
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  return h;
}

namespace {
// Calls on a handle that only need recording.
int handle_call(const char* what, libusb_device_handle* h, int arg = 0) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  zyl::test::vscanner::Call c;
  c.what = what;
  c.clock_us = s.clock;
  c.endpoint = static_cast<std::uint8_t>(arg);
  c.value = static_cast<std::uint16_t>(arg);
  auto* d = h ? zyl::test::vscanner::device_of(s, h->device) : nullptr;
  c.device = d ? h->device->index : -1;
  c.result = d && d->state().present ? 0 : LIBUSB_ERROR_NO_DEVICE;
  if (c.result == 0) {
    if (std::strcmp(what, "reset") == 0) {
      ++s.counts.resets;
      d->replies().clear();
    } else if (std::strcmp(what, "clear_halt") == 0) {
      ++s.counts.clear_halts;
    }
  }
  zyl::test::vscanner::record(s, c);
  return c.result;
}
}  // namespace

VS_EXPORT int libusb_claim_interface(libusb_device_handle* h, int iface) { return handle_call("claim", h, iface); }
VS_EXPORT int libusb_release_interface(libusb_device_handle* h, int iface) { return handle_call("release", h, iface); }
VS_EXPORT int libusb_set_interface_alt_setting(libusb_device_handle* h, int, int alt) {
  return handle_call("alt_setting", h, alt);
}
VS_EXPORT int libusb_set_configuration(libusb_device_handle* h, int config) {
  return handle_call("set_configuration", h, config);
}
VS_EXPORT int libusb_get_configuration(libusb_device_handle*, int* config) {
  *config = 1;
  return 0;
}
VS_EXPORT int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) { return 0; }
VS_EXPORT int libusb_kernel_driver_active(libusb_device_handle*, int) { return 0; }
VS_EXPORT int libusb_detach_kernel_driver(libusb_device_handle*, int) { return LIBUSB_ERROR_NOT_FOUND; }
VS_EXPORT int libusb_attach_kernel_driver(libusb_device_handle*, int) { return LIBUSB_ERROR_NOT_FOUND; }
VS_EXPORT int libusb_clear_halt(libusb_device_handle* h, unsigned char endpoint) {
  return handle_call("clear_halt", h, endpoint);
}
VS_EXPORT int libusb_reset_device(libusb_device_handle* h) { return handle_call("reset", h); }

VS_EXPORT int libusb_control_transfer(libusb_device_handle* h, uint8_t request_type, uint8_t request,
                                      uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                                      unsigned int timeout) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  zyl::test::vscanner::Call c;
  c.what = "control";
  c.request_type = request_type;
  c.request = request;
  c.value = value;
  c.index = index;
  c.length = length;
  c.timeout = timeout;
  c.clock_us = s.clock;
  auto* d = h ? zyl::test::vscanner::device_of(s, h->device) : nullptr;
  c.device = d ? h->device->index : -1;
  int rc;
  if (!d || !d->state().present) {
    rc = LIBUSB_ERROR_NO_DEVICE;
  } else {
    zyl::test::vscanner::Fault* f = d->match_transfer_fault(d->next_transfer());
    std::string token = request_type == 0xC0 && request == 0 ? "ping" : "control";
    if (!f) f = d->match_command_fault(zyl::test::vscanner::FaultPlace::Reply, token);
    if (f) {
      if (f->kind == zyl::test::vscanner::FaultKind::Unplug) d->state().present = false;
      if (f->kind == zyl::test::vscanner::FaultKind::Timeout) {
        if (timeout == 0) c.note = "no time-out: a real device would hang here";
        zyl::test::vscanner::advance(s, timeout * 1000ull);
      }
      rc = zyl::test::vscanner::error_for(f->kind);
      if (c.note.empty()) c.note = "fault on " + token;
    } else if (request_type & 0x80) {
      rc = d->control_in(request_type, request, value, index, data, length, c.note);
      if (rc > 0) c.data.assign(data, data + rc);
    } else {
      c.note = "refused: control OUT";
      rc = LIBUSB_ERROR_PIPE;
    }
  }
  c.result = rc;
  c.transferred = rc > 0 ? rc : 0;
  zyl::test::vscanner::record(s, c);
  return rc;
}

VS_EXPORT int libusb_bulk_transfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data,
                                   int length, int* transferred, unsigned int timeout) {
  return zyl::test::vscanner::transfer("bulk", h, endpoint, data, length, transferred, timeout);
}

VS_EXPORT int libusb_interrupt_transfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data,
                                        int length, int* transferred, unsigned int timeout) {
  return zyl::test::vscanner::transfer("interrupt", h, endpoint, data, length, transferred, timeout);
}

VS_EXPORT const char* libusb_error_name(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
    default: return "**UNKNOWN**";
  }
}

VS_EXPORT const char* libusb_strerror(int code) { return libusb_error_name(code); }

VS_EXPORT int libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t desc_index, unsigned char* data,
                                                 int length) {
  unsigned char buf[255];
  int rc = libusb_control_transfer(h, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                   static_cast<uint16_t>(LIBUSB_DT_STRING << 8 | desc_index), 0x0409, buf,
                                   sizeof buf, 1000);
  if (rc < 0) return rc;
  int n = 0;
  for (int i = 2; i + 1 < rc && n < length - 1; i += 2) data[n++] = buf[i];
  if (length > 0) data[n] = 0;
  return n;
}

// ---- the virtual clock ----------------------------------------------------

VS_EXPORT int nanosleep(const struct timespec* req, struct timespec* rem) {
  auto& s = state();
  if (!s.virtual_clock) return static_cast<int>(syscall(SYS_nanosleep, req, rem));
  if (!req || req->tv_nsec < 0 || req->tv_nsec >= 1000000000L || req->tv_sec < 0) {
    errno = EINVAL;
    return -1;
  }
  std::uint64_t us = static_cast<std::uint64_t>(req->tv_sec) * 1000000u +
                     static_cast<std::uint64_t>(req->tv_nsec) / 1000u;
  s.clock += us;
  s.slept += us;
  if (rem) rem->tv_sec = 0, rem->tv_nsec = 0;
  {
    std::lock_guard lock(s.mutex);
    zyl::test::vscanner::Call c;
    c.what = "sleep";
    c.clock_us = s.clock - us;
    c.timeout = static_cast<unsigned>(us / 1000);
    c.length = static_cast<int>(us > 0x7FFFFFFF ? 0x7FFFFFFF : us);
    zyl::test::vscanner::record(s, c);
  }
  return 0;
}

VS_EXPORT int usleep(useconds_t us) {
  struct timespec t{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
  return nanosleep(&t, nullptr);
}

VS_EXPORT unsigned int sleep(unsigned int seconds) {
  struct timespec t{static_cast<time_t>(seconds), 0};
  nanosleep(&t, nullptr);
  return 0;
}
