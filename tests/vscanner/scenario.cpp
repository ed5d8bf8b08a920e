#include "scenario.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/pgm.h"
#include "zyl_config.h"

namespace zyl::test::vscanner {

namespace {

struct Product {
  std::uint16_t pid;
  int width, height;
  Family family;
  DeviceSpec::Description description;
};

// What each product is from the device's side: its image, its protocol and how
// it hands out its description.
constexpr Product kProducts[] = {
    {0x0020, 256, 360, Family::Camera, DeviceSpec::Description::None},
    {0x0503, 0, 0, Family::Update, DeviceSpec::Description::None},
    {0x1023, 256, 360, Family::General, DeviceSpec::Description::Plain},
    {0x1024, 300, 400, Family::LargeSensor, DeviceSpec::Description::Plain},
    {0x1061, 160, 160, Family::General, DeviceSpec::Description::Session},
    {0x1124, 300, 400, Family::LargeSensor, DeviceSpec::Description::Plain},
    {0x1200, 192, 192, Family::Packet, DeviceSpec::Description::None},
    {0x2021, 192, 192, Family::General, DeviceSpec::Description::Session},
    {0x2022, 192, 256, Family::General, DeviceSpec::Description::Session},
    {0x2023, 256, 288, Family::General, DeviceSpec::Description::Session},
    {0x2024, 256, 360, Family::General, DeviceSpec::Description::Session},
    {0x2031, 96, 96, Family::General, DeviceSpec::Description::Session},
    {0x2033, 152, 200, Family::General, DeviceSpec::Description::Plain},
    {0x2034, 192, 192, Family::General, DeviceSpec::Description::Plain},
    {0x2041, 180, 256, Family::General, DeviceSpec::Description::Plain},
    {0x2042, 256, 288, Family::General, DeviceSpec::Description::Plain},
    {0x2043, 256, 360, Family::General, DeviceSpec::Description::Plain},
    {0x7000, 300, 400, Family::LargeSensor, DeviceSpec::Description::Plain},
    {0x9005, 256, 288, Family::Ef01, DeviceSpec::Description::Plain},
};

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

long number(const std::string& text) {
  if (text == "vid1") return ZYL_VENDOR_ID_1;
  if (text == "vid2") return ZYL_VENDOR_ID_2;
  if (text == "vid3") return ZYL_VENDOR_ID_3;
  if (text == "vid4") return ZYL_VENDOR_ID_4;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0') throw std::runtime_error("not a number: " + text);
  return v;
}

long bounded(const std::string& text, long lo, long hi) {
  long v = number(text);
  if (v < lo || v > hi) throw std::runtime_error("out of range: " + text);
  return v;
}

// key=value words after the first one; plain words go to rest.
void split_options(std::istringstream& in, std::vector<std::pair<std::string, std::string>>& opts,
                   std::vector<std::string>& rest) {
  std::string word;
  while (in >> word) {
    auto eq = word.find('=');
    if (eq == std::string::npos)
      rest.push_back(word);
    else
      opts.emplace_back(word.substr(0, eq), word.substr(eq + 1));
  }
}

std::vector<std::uint8_t> fit_image(const zyl::test::GreyImage& img, int w, int h, bool resize) {
  std::vector<std::uint8_t> out(static_cast<size_t>(w) * h, 255);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int sx, sy;
      if (resize) {
        sx = static_cast<int>(static_cast<long>(x) * img.width / w);
        sy = static_cast<int>(static_cast<long>(y) * img.height / h);
      } else {
        sx = x - (w - img.width) / 2;
        sy = y - (h - img.height) / 2;
      }
      if (sx >= 0 && sx < img.width && sy >= 0 && sy < img.height)
        out[static_cast<size_t>(y) * w + x] = img.at(sx, sy);
    }
  return out;
}

// The frame a scanner sends for an image of its product size.
std::vector<std::uint8_t> make_frame(const DeviceSpec& spec, const zyl::test::GreyImage& img,
                                     bool resize) {
  if (spec.family == Family::LargeSensor) {
    // The sensor sees the finger upside down; with the default calibration the
    // library's rectification gives the image back pixel for pixel.
    auto small = fit_image(img, spec.width, spec.height, resize);
    std::vector<std::uint8_t> frame(800 * 600, 0);
    for (int i = 0; i < spec.height && i < 600; ++i)
      for (int j = 0; j < spec.width && j < 800; ++j)
        frame[static_cast<size_t>(599 - i) * 800 + j] = small[static_cast<size_t>(i) * spec.width + j];
    return frame;
  }
  int cols, rows;
  frame_size(spec, cols, rows);
  return fit_image(img, cols, rows, resize);
}

Fault parse_fault(std::istringstream& in) {
  Fault f;
  std::vector<std::pair<std::string, std::string>> opts;
  std::vector<std::string> rest;
  split_options(in, opts, rest);
  bool placed = false, kinded = false;
  for (auto& w : rest) {
    if (w == "open" || w == "config" || w == "descriptor" || w == "list") {
      f.place = w == "open" ? FaultPlace::Open
                : w == "config" ? FaultPlace::Config
                : w == "descriptor" ? FaultPlace::Descriptor
                                    : FaultPlace::List;
      f.kind = FaultKind::Error;
      placed = kinded = true;
      continue;
    }
    static const std::pair<const char*, FaultKind> kinds[] = {
        {"timeout", FaultKind::Timeout}, {"zero", FaultKind::Zero},   {"zeros", FaultKind::Zeros},
        {"stall", FaultKind::Stall},     {"error", FaultKind::Error}, {"unplug", FaultKind::Unplug},
        {"corrupt", FaultKind::Corrupt}, {"block", FaultKind::Block}};
    bool known = false;
    for (auto& [name, kind] : kinds)
      if (w == name) {
        f.kind = kind;
        kinded = known = true;
      }
    if (!known) throw std::runtime_error("unknown fault word: " + w);
  }
  for (auto& [k, v] : opts) {
    if (k == "at") {
      f.place = FaultPlace::Transfer;
      f.at = static_cast<int>(bounded(v, 1, 1 << 30));
      placed = true;
    } else if (k == "reply" || k == "write") {
      f.place = k == "reply" ? FaultPlace::Reply : FaultPlace::Write;
      f.command = v;
      if (v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "0x%02x", static_cast<unsigned>(bounded(v, 0, 255)));
        f.command = buf;
      }
      placed = true;
    } else if (k == "short") {
      f.kind = FaultKind::Short;
      f.arg = static_cast<int>(bounded(v, 0, 1 << 30));
      kinded = true;
    } else if (k == "status") {
      f.kind = FaultKind::Status;
      f.arg = static_cast<int>(bounded(v, 0, 255));
      kinded = true;
    } else if (k == "times") {
      f.times = static_cast<int>(bounded(v, 0, 1 << 30));
    } else if (k == "skip") {
      f.skip = static_cast<int>(bounded(v, 0, 1 << 30));
    } else {
      throw std::runtime_error("unknown fault option: " + k);
    }
  }
  if (!placed) throw std::runtime_error("fault without a place (at=, reply=, write=, open, ...)");
  if (!kinded) throw std::runtime_error("fault without a kind");
  return f;
}

void parse_device(std::istringstream& in, DeviceSpec& d) {
  std::string ids;
  if (!(in >> ids)) throw std::runtime_error("device needs vid:pid");
  auto colon = ids.find(':');
  if (colon == std::string::npos) throw std::runtime_error("device needs vid:pid");
  d.vid = static_cast<std::uint16_t>(bounded(ids.substr(0, colon), 0, 0xFFFF));
  d.pid = static_cast<std::uint16_t>(bounded(ids.substr(colon + 1), 0, 0xFFFF));
  d.width = d.height = 192;
  for (auto& p : kProducts)
    if (p.pid == d.pid) {
      d.width = p.width;
      d.height = p.height;
      d.family = p.family;
      d.description = p.description;
    }
  if (d.family == Family::Update) d.interface_class = 3;
  for (int i = 0; i < 24; ++i) d.description_key[i] = static_cast<std::uint8_t>(0xA0 + i * 3);
  std::vector<std::pair<std::string, std::string>> opts;
  std::vector<std::string> rest;
  split_options(in, opts, rest);
  if (!rest.empty()) throw std::runtime_error("unexpected word: " + rest.front());
  for (auto& [k, v] : opts) {
    if (k == "bus") {
      d.bus = static_cast<std::uint8_t>(bounded(v, 0, 255));
    } else if (k == "address") {
      d.address = static_cast<std::uint8_t>(bounded(v, 0, 255));
    } else if (k == "endpoints") {
      d.endpoints.clear();
      std::istringstream list(v);
      std::string ep;
      while (std::getline(list, ep, ',')) d.endpoints.push_back(static_cast<std::uint8_t>(bounded(ep, 0, 255)));
    } else if (k == "transfer") {
      if (v != "bulk" && v != "interrupt") throw std::runtime_error("transfer is bulk or interrupt");
      d.transfer_type = v == "bulk" ? 2 : 3;
    } else if (k == "class") {
      d.interface_class = static_cast<std::uint8_t>(bounded(v, 0, 255));
    } else if (k == "size") {
      auto x = v.find('x');
      if (x == std::string::npos) throw std::runtime_error("size needs WxH");
      d.width = static_cast<int>(bounded(v.substr(0, x), 1, 4096));
      d.height = static_cast<int>(bounded(v.substr(x + 1), 1, 4096));
    } else {
      throw std::runtime_error("unknown device option: " + k);
    }
  }
}

template <size_t N>
void parse_bytes(std::istringstream& in, std::array<std::uint8_t, N>& out) {
  std::string w;
  for (size_t i = 0; i < N; ++i) {
    if (!(in >> w)) throw std::runtime_error("expected " + std::to_string(N) + " values");
    out[i] = static_cast<std::uint8_t>(bounded(w, 0, 255));
  }
}

}  // namespace

void frame_size(const DeviceSpec& spec, int& columns, int& rows) {
  switch (spec.family) {
    case Family::LargeSensor: columns = 800; rows = 600; break;
    case Family::Camera: columns = 384; rows = 800; break;
    default: columns = spec.width; rows = spec.height; break;
  }
}

std::string parse_scenario(const std::string& text, const std::string& base_dir, Scenario& out) {
  out = Scenario{};
  std::istringstream lines(text);
  std::string line;
  int number_of_line = 0;
  try {
    while (std::getline(lines, line)) {
      ++number_of_line;
      auto hash = line.find('#');
      if (hash != std::string::npos) line.resize(hash);
      line = trim(line);
      if (line.empty()) continue;
      std::istringstream in(line);
      std::string key;
      in >> key;
      if (key == "device") {
        out.devices.emplace_back();
        parse_device(in, out.devices.back());
        continue;
      }
      if (key == "clock") {
        std::string v;
        in >> v;
        if (v != "virtual" && v != "real") throw std::runtime_error("clock is virtual or real");
        out.virtual_clock = v == "virtual";
        continue;
      }
      if (key == "release_file") {
        std::string rest;
        std::getline(in, rest);
        out.release_file = trim(rest);
        continue;
      }
      if (key == "fault" && out.devices.empty()) {
        Fault f = parse_fault(in);
        if (f.place != FaultPlace::List) throw std::runtime_error("only 'fault list' comes before a device");
        out.faults.push_back(f);
        continue;
      }
      if (out.devices.empty()) throw std::runtime_error("'" + key + "' before any device");
      DeviceSpec& d = out.devices.back();
      if (key == "fault") {
        Fault f = parse_fault(in);
        if (f.place == FaultPlace::List)
          out.faults.push_back(f);
        else
          d.faults.push_back(f);
      } else if (key == "update_state") {
        std::string rest;
        std::getline(in, rest);
        d.update_state_file = trim(rest);
        if (!d.update_state_file.empty() && d.update_state_file[0] != '/')
          d.update_state_file = base_dir + "/" + d.update_state_file;
        // A scanner flagged by an earlier process comes back in update state.
        if (std::ifstream(d.update_state_file).good()) {
          d.pid = 0x0503;
          d.family = Family::Update;
          d.interface_class = 3;
          d.description = DeviceSpec::Description::None;
        }
      } else if (key == "fw") {
        parse_bytes(in, d.fw);
      } else if (key == "minor") {
        parse_bytes(in, d.minor);
      } else if (key == "mcu") {
        std::string w;
        in >> w;
        d.mcu = static_cast<std::uint8_t>(bounded(w, 0, 255));
      } else if (key == "ef01_version") {
        std::string w;
        in >> w;
        d.ef01_version = static_cast<std::uint16_t>(bounded(w, 0, 0xFFFF));
      } else if (key == "model") {
        std::string w;
        in >> w;
        d.model = static_cast<std::uint16_t>(bounded(w, 0, 0xFFFF));
      } else if (key == "name") {
        std::string rest;
        std::getline(in, rest);
        d.name = trim(rest).substr(0, 29);
      } else if (key == "description") {
        std::string w;
        in >> w;
        if (w == "plain") d.description = DeviceSpec::Description::Plain;
        else if (w == "session") d.description = DeviceSpec::Description::Session;
        else if (w == "none") d.description = DeviceSpec::Description::None;
        else throw std::runtime_error("description is plain, session or none");
      } else if (key == "description_key") {
        parse_bytes(in, d.description_key);
      } else if (key == "calibration") {
        std::string w;
        for (auto& v : d.calibration) {
          if (!(in >> w)) throw std::runtime_error("calibration needs 8 values");
          v = static_cast<std::uint16_t>(bounded(w, 0, 0xFFFF));
        }
      } else if (key == "search") {
        std::string a, b, c;
        if (!(in >> a >> b >> c)) throw std::runtime_error("search needs status byte value");
        d.search_status = static_cast<std::uint8_t>(bounded(a, 0, 255));
        d.search_byte = static_cast<std::uint8_t>(bounded(b, 0, 255));
        d.search_value = static_cast<std::uint16_t>(bounded(c, 0, 0xFFFF));
      } else if (key == "image") {
        std::vector<std::pair<std::string, std::string>> opts;
        std::vector<std::string> rest;
        split_options(in, opts, rest);
        bool resize = false;
        int solid = -1;
        DeviceSpec::Frame frame;
        // "hold" alone holds the frame for good; "hold=FILE" until FILE exists.
        if (auto h = std::find(rest.begin(), rest.end(), "hold"); h != rest.end()) {
          frame.hold = true;
          rest.erase(h);
        }
        for (auto& [k, v] : opts) {
          if (k == "fit") {
            if (v != "pad" && v != "resize") throw std::runtime_error("fit is pad or resize");
            resize = v == "resize";
          } else if (k == "solid") {
            solid = static_cast<int>(bounded(v, 0, 255));
          } else if (k == "hold") {
            if (v.empty()) throw std::runtime_error("hold= needs a file");
            frame.hold = true;
            frame.until = v[0] == '/' ? v : base_dir + "/" + v;
          } else {
            throw std::runtime_error("unknown image option: " + k);
          }
        }
        if (solid >= 0) {
          if (!rest.empty()) throw std::runtime_error("image needs one path or solid=V");
          int cols, rows;
          frame_size(d, cols, rows);
          frame.pixels.assign(static_cast<size_t>(cols) * rows, static_cast<std::uint8_t>(solid));
        } else {
          if (rest.size() != 1) throw std::runtime_error("image needs one path or solid=V");
          std::string path = rest[0];
          if (path.empty() || path[0] != '/') path = base_dir + "/" + path;
          frame.pixels = make_frame(d, zyl::test::read_pgm(path), resize);
        }
        d.frames.push_back(std::move(frame));
      } else {
        throw std::runtime_error("unknown line: " + key);
      }
    }
  } catch (const std::exception& e) {
    return "scenario line " + std::to_string(number_of_line) + ": " + e.what();
  }
  return {};
}

}  // namespace zyl::test::vscanner
