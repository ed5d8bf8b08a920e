#include "virtual_device.h"

#include <mbedtls/des.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <libusb.h>

#include "zyl_config.h"

namespace zyl::test::vscanner {

namespace {

std::uint8_t xor_span(const std::uint8_t* p, int from, int to) {
  std::uint8_t x = 0;
  for (int i = from; i <= to; ++i) x ^= p[i];
  return x;
}

std::uint16_t sum_span(const std::uint8_t* p, int from, int to) {
  unsigned s = 0;
  for (int i = from; i <= to; ++i) s += p[i];
  return static_cast<std::uint16_t>(s);
}

std::string hex_token(std::uint8_t op) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02x", op);
  return buf;
}

constexpr std::uint8_t kSpanFrom2 = 1;  // check word over bytes 2..9
constexpr std::uint8_t kSpanFrom0 = 2;  // check word over bytes 0..9

constexpr std::uint8_t kStartPacket[19] = {0x6F, 0x09, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0x90, 0x0C, 0x80, 0x00, 0x04, 0x00, 0x00, 0x1F, 0x46};
constexpr std::uint8_t kSessionKeyCommand[12] = {0xFF, 0xAA, 0x01, 0x00, 0x0C, 0xF0,
                                                 0x00, 0x18, 0x00, 0x00, 0x00, 0xE5};

}  // namespace

std::array<std::uint8_t, 24> stored_key() {
  std::array<std::uint8_t, 24> key{};
  const char* hex = ZYL_STORED_KEY_HEX;
  for (int i = 0; i < 24; ++i) {
    unsigned v = 0;
    std::sscanf(hex + 2 * i, "%2x", &v);
    key[i] = static_cast<std::uint8_t>(v);
  }
  return key;
}

void triple_des(const std::uint8_t key[24], bool encipher, const std::uint8_t* in, std::uint8_t* out,
                std::size_t n) {
  mbedtls_des3_context ctx;
  mbedtls_des3_init(&ctx);
  if (encipher)
    mbedtls_des3_set3key_enc(&ctx, key);
  else
    mbedtls_des3_set3key_dec(&ctx, key);
  for (std::size_t i = 0; i + 8 <= n; i += 8) mbedtls_des3_crypt_ecb(&ctx, in + i, out + i);
  mbedtls_des3_free(&ctx);
}

bool VirtualDevice::has_endpoint(std::uint8_t ep) const {
  return std::find(spec_.endpoints.begin(), spec_.endpoints.end(), ep) != spec_.endpoints.end();
}

static bool consume(Fault& f) {
  if (f.skip > 0) {
    --f.skip;
    return false;
  }
  if (f.times != 0 && f.fired >= f.times) return false;
  ++f.fired;
  return true;
}

Fault* VirtualDevice::match_command_fault(FaultPlace place, const std::string& token) {
  for (auto& f : spec_.faults)
    if (f.place == place && f.command == token && consume(f)) return &f;
  return nullptr;
}

Fault* VirtualDevice::match_transfer_fault(int transfer) {
  for (auto& f : spec_.faults) {
    if (f.place != FaultPlace::Transfer || transfer < f.at) continue;
    if (f.times != 0 && transfer >= f.at + f.times) continue;
    ++f.fired;
    return &f;
  }
  return nullptr;
}

std::string VirtualDevice::classify(const std::uint8_t* p, int n) const {
  if (expecting_key_ && n == 24) return "key";
  if (spec_.family == Family::Update && n == 64) {
    switch (p[0]) {  // word 0, little-endian: the command
      case 1: return "handshake";
      case 9: return "describe";
      case 5: return "data";
      case 7: return "done";
      default: return "update";
    }
  }
  if (n >= 6 && p[0] == 0xFF && p[1] == 0xAA) return hex_token(p[5]);
  if (n >= 10 && p[0] == 0xEF && p[1] == 0x01) return hex_token(p[9]);
  if (n == 19 && p[0] == 0x6F) return "start";
  if (n == 15 && p[0] == 0x6F) {
    std::size_t total = static_cast<std::size_t>(spec_.width) * spec_.height;
    return streaming_ && streamed_ >= total ? "close" : "request";
  }
  if (n == 2 && p[0] == 0x6A && p[1] == 0x56) return "camera";
  return "data";
}

void VirtualDevice::queue(std::vector<std::uint8_t> bytes) {
  Message m;
  m.bytes = std::move(bytes);
  replies_.push_back(std::move(m));
}

void VirtualDevice::reply(std::uint8_t op, std::uint8_t status, std::uint8_t b7, std::uint8_t b8,
                          std::uint8_t b9) {
  std::vector<std::uint8_t> r{0xFF, 0xAA, 0x01, 0x00, 0x0C, op, status, b7, b8, b9, 0, 0};
  r[11] = xor_span(r.data(), 2, 9);
  queue(std::move(r));
}

void VirtualDevice::take_next_image() {
  int cols, rows;
  frame_size(spec_, cols, rows);
  if (spec_.frames.empty()) {
    captured_.assign(static_cast<std::size_t>(cols) * rows, 0x80);
  } else {
    const auto released = [](const DeviceSpec::Frame& f) {
      return f.hold && !f.until.empty() && std::ifstream(f.until).good();
    };
    // Held frames whose file exists are passed over (all of them at most once).
    for (std::size_t k = 0; k < spec_.frames.size(); ++k) {
      if (!released(spec_.frames[next_image_ % spec_.frames.size()])) break;
      ++next_image_;
    }
    const auto& frame = spec_.frames[next_image_ % spec_.frames.size()];
    captured_ = frame.pixels;
    if (!frame.hold || released(frame)) ++next_image_;
  }
  has_capture_ = true;
  ++state_.captures;
}

std::vector<std::uint8_t> VirtualDevice::description() const {
  // Every byte gets a value of its own, so a test sees which bytes the host
  // copies; then the fields the host reads go where they belong.
  std::vector<std::uint8_t> d(1024);
  for (int i = 0; i < 1024; ++i) d[i] = static_cast<std::uint8_t>(i * 7 + 3);
  d[0] = 0x01, d[1] = 0x00, d[2] = 0x00, d[3] = 0x00;
  std::memset(&d[16], 0, 30);
  std::memcpy(&d[16], spec_.name.data(), std::min<std::size_t>(spec_.name.size(), 29));
  d[100] = static_cast<std::uint8_t>(spec_.model & 0xFF);
  d[101] = static_cast<std::uint8_t>(spec_.model >> 8);
  return d;
}

bool VirtualDevice::receive(const std::uint8_t* p, int n, std::string& note) {
  std::size_t before = replies_.size();
  std::string token = classify(p, n);
  Fault* fault = match_command_fault(FaultPlace::Reply, token);
  bool ok;
  if (token == "key") {
    // The host's session key K, enciphered under the stored key; answer with
    // the description key D enciphered under K.
    auto sk = stored_key();
    triple_des(sk.data(), false, p, session_key_.data(), 24);
    std::vector<std::uint8_t> r(24);
    triple_des(session_key_.data(), true, spec_.description_key.data(), r.data(), 24);
    expecting_key_ = false;
    session_ = true;
    queue(std::move(r));
    note = "session key taken";
    ok = true;
  } else if (n >= 2 && p[0] == 0xFF && p[1] == 0xAA) {
    ok = receive_ffaa(p, n, note);
  } else if (n >= 2 && p[0] == 0xEF && p[1] == 0x01 && spec_.family == Family::Ef01) {
    ok = receive_ef01(p, n, note);
  } else if (n >= 1 && p[0] == 0x6F && spec_.family == Family::Packet) {
    ok = receive_packet(p, n, note);
  } else if (spec_.family == Family::Update) {
    ok = receive_update(p, n, note);
  } else if (token == "camera" && spec_.family == Family::Camera) {
    take_next_image();
    queue(captured_);
    note = "camera frame";
    ok = true;
  } else {
    note = "refused: unknown bytes";
    ok = false;
  }
  if (fault && replies_.size() > before) {
    Message& m = replies_[before];
    auto& b = m.bytes;
    if (fault->kind == FaultKind::Status && b.size() == 12 && b[0] == 0xFF) {
      b[6] = static_cast<std::uint8_t>(fault->arg);
      b[10] = 0;
      b[11] = xor_span(b.data(), 2, 9);
    } else if (fault->kind == FaultKind::Status && b.size() >= 12 && b[0] == 0xEF) {
      b[9] = static_cast<std::uint8_t>(fault->arg);
      std::uint16_t s = sum_span(b.data(), 6, static_cast<int>(b.size()) - 3);
      b[b.size() - 2] = static_cast<std::uint8_t>(s >> 8);
      b[b.size() - 1] = static_cast<std::uint8_t>(s);
    } else if (fault->kind == FaultKind::Status && b.size() == 64 && spec_.family == Family::Update) {
      b[8] = static_cast<std::uint8_t>(fault->arg);  // word 2: the status
    } else if (fault->kind == FaultKind::Corrupt && !b.empty()) {
      b.back() ^= 0x5A;
    } else {
      m.fault = fault;
    }
  }
  return ok;
}

bool VirtualDevice::receive_ffaa(const std::uint8_t* p, int n, std::string& note) {
  if (n != 12) {
    note = "refused: frame of " + std::to_string(n) + " bytes";
    return false;
  }
  if (p[2] != 0x01) {
    note = "refused: packet type";
    return false;
  }
  const std::uint8_t op = p[5];
  const std::uint16_t param = static_cast<std::uint16_t>(p[3] << 8 | p[4]);
  const bool large = spec_.family == Family::LargeSensor;
  std::uint16_t want_param = 0x000C;
  std::uint8_t spans = 0;
  switch (op) {
    case 0x32: case 0x60: spans = kSpanFrom2 | kSpanFrom0; break;
    case 0xB7: case 0xB0: case 0x34: case 0x33: spans = kSpanFrom0; break;
    case 0x56: case 0xF0: spans = kSpanFrom2; break;
    case 0xA4: spans = large ? kSpanFrom0 : 0; want_param = 0x0100; break;
    case 0x90: spans = large ? kSpanFrom0 : kSpanFrom2; break;
    case 0x01: spans = spec_.pid == 0x2043 ? kSpanFrom2 : 0; break;
    case 0x0A: spans = kSpanFrom2; want_param = large ? 0x5300 : 0x6801; break;
    case 0xA6: spans = spec_.description == DeviceSpec::Description::None ? 0 : kSpanFrom2;
               want_param = 0x0400; break;
    default: break;
  }
  if (!spans) {
    note = "refused: opcode " + hex_token(op) + " unknown to this product";
    return false;
  }
  if (param != want_param) {
    note = "refused: parameter word";
    return false;
  }
  const std::uint16_t word = static_cast<std::uint16_t>(p[10] << 8 | p[11]);
  const std::uint8_t x2 = xor_span(p, 2, 9);
  const std::uint8_t x0 = xor_span(p, 0, 9);
  if (!((spans & kSpanFrom2) && word == x2) && !((spans & kSpanFrom0) && word == x0)) {
    note = "refused: bad check word";
    return false;
  }
  auto params_zero = [&](int from) {
    for (int i = from; i <= 9; ++i)
      if (p[i]) return false;
    return true;
  };
  switch (op) {
    case 0x32:
      if (!params_zero(6)) break;
      reply(op, 0, spec_.fw[0], spec_.fw[1], spec_.fw[2]);
      note = "firmware version";
      return true;
    case 0x60:
      if (!params_zero(6)) break;
      reply(op, 0, spec_.minor[0], spec_.minor[1], spec_.minor[2]);
      note = "minor version";
      return true;
    case 0xB7:
      if (!params_zero(6)) break;
      reply(op, 0, spec_.mcu);
      note = "MCU type";
      return true;
    case 0xB0:
      if (!params_zero(6)) break;
      state_.update_flag = true;
      if (!spec_.update_state_file.empty()) std::ofstream(spec_.update_state_file) << "update\n";
      reply(op, 0);
      note = "update flag set";
      return true;
    case 0x56:
      if (!params_zero(6)) break;
      reply(op, spec_.search_status, spec_.search_byte,
            static_cast<std::uint8_t>(spec_.search_value & 0xFF),
            static_cast<std::uint8_t>(spec_.search_value >> 8));
      note = "search";
      return true;
    case 0x34:
    case 0x33: {
      const bool set = op == 0x34;
      const bool led_ok = (p[6] == 2 || p[6] == 3) && (!set || p[7] <= 1) && (set || p[7] == 0) &&
                          params_zero(8);
      if (!led_ok || spec_.model != 600) {
        reply(op, 1);
        note = spec_.model != 600 ? "no LEDs" : "bad LED parameters";
        return true;
      }
      int led = p[6] == 3 ? 1 : 0;
      if (set) state_.led[led] = p[7];
      reply(op, 0, set ? 0 : static_cast<std::uint8_t>(state_.led[led]));
      note = set ? "LED set" : "LED read";
      return true;
    }
    case 0xA4: {
      if (!params_zero(6)) break;
      std::vector<std::uint8_t> block(256);
      for (int i = 0; i < 256; ++i) block[i] = static_cast<std::uint8_t>(0x11 * i);
      // Nine points from byte 36; the host reads points 1, 3, 5 and 7.
      const int slots[4] = {1, 3, 5, 7};
      for (int k = 0; k < 4; ++k) {
        std::uint8_t* at = &block[36 + 4 * slots[k]];
        at[0] = static_cast<std::uint8_t>(spec_.calibration[2 * k] >> 8);
        at[1] = static_cast<std::uint8_t>(spec_.calibration[2 * k]);
        at[2] = static_cast<std::uint8_t>(spec_.calibration[2 * k + 1] >> 8);
        at[3] = static_cast<std::uint8_t>(spec_.calibration[2 * k + 1]);
      }
      queue(std::move(block));
      note = "calibration block";
      return true;
    }
    case 0x90:
    case 0x01: {
      bool form_ok;
      if (large)
        form_ok = params_zero(6) || (p[6] == 0x01 && p[9] == 0);
      else
        form_ok = params_zero(7);
      if (!form_ok) break;
      take_next_image();
      reply(op, 0);
      note = "capture";
      return true;
    }
    case 0x0A:
      if (!params_zero(6)) break;
      if (!has_capture_) {
        note = "refused: upload without capture";
        return false;
      }
      queue(captured_);
      note = "image upload";
      return true;
    case 0xA6:
      if (!params_zero(6)) break;
      if (spec_.description == DeviceSpec::Description::Session) {
        if (!session_) {
          note = "refused: description without session key";
          return false;
        }
        auto plain = description();
        std::vector<std::uint8_t> enc(1024);
        triple_des(spec_.description_key.data(), true, plain.data(), enc.data(), 1024);
        queue(std::move(enc));
        session_ = false;
        note = "description (enciphered)";
        return true;
      }
      queue(description());
      note = "description";
      return true;
    case 0xF0:
      if (spec_.description != DeviceSpec::Description::Session ||
          std::memcmp(p, kSessionKeyCommand, 12) != 0)
        break;
      expecting_key_ = true;
      reply(op, 0);
      note = "session key command";
      return true;
    default:
      break;
  }
  note = "refused: parameter bytes of " + hex_token(op);
  return false;
}

bool VirtualDevice::receive_ef01(const std::uint8_t* p, int n, std::string& note) {
  if (n < 12 || p[2] != 0xFF || p[3] != 0xFF || p[4] != 0xFF || p[5] != 0xFF || p[6] != 0x01) {
    note = "refused: EF01 head";
    return false;
  }
  const int len = p[7] << 8 | p[8];
  if (n != 9 + len) {
    note = "refused: EF01 length";
    return false;
  }
  const std::uint16_t sum = sum_span(p, 6, n - 3);
  if ((p[n - 2] << 8 | p[n - 1]) != sum) {
    note = "refused: EF01 checksum";
    return false;
  }
  auto ack = [&](std::vector<std::uint8_t> data) {
    std::vector<std::uint8_t> r{0xEF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0, 0, 0x00};
    r.insert(r.end(), data.begin(), data.end());
    const int l = static_cast<int>(r.size()) - 9 + 2;
    r[7] = static_cast<std::uint8_t>(l >> 8);
    r[8] = static_cast<std::uint8_t>(l);
    r.push_back(0);
    r.push_back(0);
    std::uint16_t s = sum_span(r.data(), 6, static_cast<int>(r.size()) - 3);
    r[r.size() - 2] = static_cast<std::uint8_t>(s >> 8);
    r[r.size() - 1] = static_cast<std::uint8_t>(s);
    queue(std::move(r));
  };
  switch (p[9]) {
    case 0x01:
      if (len != 3) break;
      take_next_image();
      ack({});
      note = "EF01 capture";
      return true;
    case 0x0A:
      if (len != 3) break;
      if (!has_capture_) {
        note = "refused: upload without capture";
        return false;
      }
      queue(captured_);
      note = "EF01 upload";
      return true;
    case 0x32:
      if (len != 3) break;
      // The version sits in bytes 11-12 of the answer.
      ack({0x00, static_cast<std::uint8_t>(spec_.ef01_version >> 8),
           static_cast<std::uint8_t>(spec_.ef01_version)});
      note = "EF01 version";
      return true;
    case 0xA6:
      if (len != 5 || p[10] != 0x04 || p[11] != 0x00) break;
      queue(description());
      note = "EF01 description";
      return true;
    default:
      break;
  }
  note = "refused: EF01 instruction";
  return false;
}

bool VirtualDevice::receive_packet(const std::uint8_t* p, int n, std::string& note) {
  const std::size_t total = static_cast<std::size_t>(spec_.width) * spec_.height;
  if (n == 19) {
    if (std::memcmp(p, kStartPacket, 19) != 0) {
      note = "refused: start packet";
      return false;
    }
    take_next_image();
    streaming_ = true;
    requests_ = 0;
    streamed_ = 0;
    std::vector<std::uint8_t> a(12, 0);
    a[0] = 0x6F;
    a[1] = 0x0A;
    queue(std::move(a));
    note = "start";
    return true;
  }
  if (n != 15 || p[1] != 0x05 || p[11] != 0xC0) {
    note = "refused: request packet";
    return false;
  }
  for (int i = 2; i < 15; ++i)
    if (i != 6 && i != 11 && p[i] != 0) {
      note = "refused: request packet";
      return false;
    }
  if (!streaming_) {
    note = "refused: request without start";
    return false;
  }
  const std::uint8_t want = static_cast<std::uint8_t>(requests_ == 0 ? 1 : requests_);
  if (p[6] != want) {
    note = "refused: sequence " + std::to_string(p[6]) + ", expected " + std::to_string(want);
    return false;
  }
  ++requests_;
  if (streamed_ >= total) {
    streaming_ = false;
    std::vector<std::uint8_t> a(12, 0);
    a[0] = 0x6F;
    a[1] = 0x0B;
    queue(std::move(a));
    note = "close";
    return true;
  }
  const std::size_t count = std::min<std::size_t>(192, total - streamed_);
  std::vector<std::uint8_t> d(10, 0);
  d[0] = 0x6F;
  d[1] = 0x06;
  d[6] = p[6];
  d[8] = static_cast<std::uint8_t>(count >> 8);
  d[9] = static_cast<std::uint8_t>(count);
  d.insert(d.end(), captured_.begin() + static_cast<long>(streamed_),
           captured_.begin() + static_cast<long>(streamed_ + count));
  std::uint16_t s = sum_span(d.data(), 10, static_cast<int>(d.size()) - 1);
  d.push_back(static_cast<std::uint8_t>(s >> 8));
  d.push_back(static_cast<std::uint8_t>(s));
  streamed_ += count;
  queue(std::move(d));
  note = "data";
  return true;
}

int VirtualDevice::control_in(std::uint8_t request_type, std::uint8_t request, std::uint16_t value,
                              std::uint16_t index, std::uint8_t* buf, int length, std::string& note) {
  if (request_type == 0xC0 && request == 0 && value == 0 && index == 0 && length == 2) {
    buf[0] = 0x00;
    buf[1] = 0x01;
    note = "ping";
    return 2;
  }
  if (spec_.family == Family::Camera && request_type == 0x80 && request == 6 && value == 0x0303 &&
      index == 0x0904 && length > 0) {
    const char* text = "VCAM0020VS";
    std::uint8_t d[22] = {22, 3};
    for (int i = 0; i < 10; ++i) d[2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
    int count = std::min(length, 22);
    std::memcpy(buf, d, static_cast<std::size_t>(count));
    note = "string descriptor 3";
    return count;
  }
  note = "refused: control request";
  return LIBUSB_ERROR_PIPE;
}

}  // namespace zyl::test::vscanner
