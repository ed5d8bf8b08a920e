// fwdownload: downloads a firmware image to a scanner waiting in its
// firmware-update state, over libusb-1.0 only.
//
// The exchange is a sequence of 64-byte packets of sixteen little-endian
// 32-bit words: a handshake, the image description (address, size, byte
// sum), the image in 52-byte pieces, and an end packet. The device answers
// every packet with command + 1 in word 0 and a status in word 2 (0 accepted).

#include <libusb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "zyl_config.h"

namespace {

constexpr std::uint16_t kDefaultProductId = 0x0503;
constexpr std::uint32_t kDefaultAddress = 0x20000;
constexpr std::uint32_t kHandshakeWord = 0x5c2e91a7;
constexpr std::size_t kPacketBytes = 64;
constexpr std::size_t kPieceBytes = 52;   // bytes 12..63 of a data packet
constexpr std::size_t kWorkArea = 0x5F000;  // largest image the device takes
constexpr unsigned kTimeoutMs = 7000;
constexpr unsigned kOpenAttempts = 3;

enum Command : std::uint32_t {
  kHandshake = 1,
  kData = 5,
  kEndOfImage = 7,
  kImageDescription = 9,
  kTwoValue = 11,
};

using Packet = std::array<std::uint8_t, kPacketBytes>;

void put_word(Packet& p, int index, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[static_cast<std::size_t>(index * 4 + i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t word(const Packet& p, int index) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[static_cast<std::size_t>(index * 4 + i)];
  return v;
}

Packet make_packet(std::uint32_t command, std::uint32_t w1 = 0, std::uint32_t w2 = 0, std::uint32_t w3 = 0,
                   std::uint32_t w4 = 0) {
  Packet p{};
  put_word(p, 0, command);
  put_word(p, 1, w1);
  put_word(p, 2, w2);
  put_word(p, 3, w3);
  put_word(p, 4, w4);
  return p;
}

bool accepted(const Packet& reply, std::uint32_t command) {
  return word(reply, 0) == command + 1 && word(reply, 2) == 0;
}

// The link to one device in update state, for the program's lifetime.
class DeviceLink {
 public:
  DeviceLink(std::uint16_t vid, std::uint16_t pid, std::optional<std::pair<unsigned, unsigned>> path,
             std::string path_text)
      : vendor_id_(vid), product_id_(pid), path_(path), path_text_(std::move(path_text)) {
    libusb_init(nullptr);
  }
  ~DeviceLink() {
    if (handle_) {
      libusb_release_interface(handle_, interface_);
      libusb_close(handle_);
    }
    libusb_exit(nullptr);
  }
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Opens the device unless it is open already: 0 when a handle is held.
  int open_with_retry() {
    if (!handle_) handle_ = search_and_open();
    return handle_ ? 0 : -3;
  }

  // One packet out, one packet back. The transfer answers are not examined:
  // a failed read leaves the reply zero, which fails the reply test.
  Packet exchange(Packet packet) {
    transfer(packet.data(), false, "write");
    Packet reply{};
    transfer(reply.data(), true, "read");
    return reply;
  }

 private:
  libusb_device_handle* search_and_open();
  int transfer(std::uint8_t* data, bool in, const char* what);

  std::uint16_t vendor_id_;
  std::uint16_t product_id_;
  std::optional<std::pair<unsigned, unsigned>> path_;
  std::string path_text_;
  libusb_device_handle* handle_ = nullptr;
  const int interface_ = 0;
  const int alt_setting_ = 0;
  const std::uint8_t class_ = 3, subclass_ = 0, protocol_ = 0;
  std::uint8_t in_type_ = 0, out_type_ = 0;
  std::uint8_t in_ep_ = 0, out_ep_ = 0;
};

libusb_device_handle* DeviceLink::search_and_open() {
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(nullptr, &list);
  if (count < 0) {
    std::printf("libusb_get_device_list failed: %s\n", libusb_error_name(static_cast<int>(count)));
    return nullptr;
  }
  libusb_device* found = nullptr;
  const libusb_interface_descriptor* setting = nullptr;
  libusb_config_descriptor* config = nullptr;
  for (ssize_t i = 0; i < count && !found; ++i) {
    libusb_device* dev = list[i];
    if (path_) {
      std::printf("%s device_path %s\n", "_open", path_text_.c_str());
      if (libusb_get_bus_number(dev) != path_->first || libusb_get_device_address(dev) != path_->second) continue;
    } else {
      libusb_device_descriptor desc{};
      if (libusb_get_device_descriptor(dev, &desc) != 0) {
        std::fprintf(stderr, "failed to get device descriptor");
        libusb_free_device_list(list, 1);
        return nullptr;
      }
      std::printf("Examing %04x:%04x (bus %d, device %d)\n", desc.idVendor, desc.idProduct,
                  libusb_get_bus_number(dev), libusb_get_device_address(dev));
      if (desc.idVendor != vendor_id_ || desc.idProduct != product_id_) continue;
    }
    libusb_config_descriptor* cfg = nullptr;
    if (libusb_get_config_descriptor(dev, 0, &cfg) != 0) continue;
    if (interface_ < cfg->bNumInterfaces && alt_setting_ < cfg->interface[interface_].num_altsetting) {
      const libusb_interface_descriptor* s = &cfg->interface[interface_].altsetting[alt_setting_];
      if (s->bInterfaceClass == class_ && s->bInterfaceSubClass == subclass_ &&
          s->bInterfaceProtocol == protocol_) {
        found = dev;
        setting = s;
        config = cfg;
        continue;
      }
    }
    libusb_free_config_descriptor(cfg);
  }
  if (!found) {
    libusb_free_device_list(list, 1);
    return nullptr;
  }

  libusb_device_handle* h = nullptr;
  int rc = libusb_open(found, &h);
  if (rc != 0) {
    std::printf("libusb_open failed: %s\n", libusb_error_name(rc));
    libusb_free_config_descriptor(config);
    libusb_free_device_list(list, 1);
    return nullptr;
  }
  bool claimed = false;
  const char* failed = nullptr;
  if ((rc = libusb_set_auto_detach_kernel_driver(h, 1)) != 0) {
    failed = "libusb_set_auto_detach_kernel_driver";
  } else if ((rc = libusb_claim_interface(h, interface_)) != 0) {
    failed = "libusb_claim_interface";
  } else {
    claimed = true;
    if ((rc = libusb_set_interface_alt_setting(h, interface_, alt_setting_)) != 0)
      failed = "libusb_set_interface_alt_setting";
  }
  if (failed) {
    std::printf("%s failed: %s\n", failed, libusb_error_name(rc));
    if (claimed) libusb_release_interface(h, interface_);
    libusb_close(h);
    libusb_free_config_descriptor(config);
    libusb_free_device_list(list, 1);
    return nullptr;
  }
  for (int e = 0; e < setting->bNumEndpoints; ++e) {
    const libusb_endpoint_descriptor& ep = setting->endpoint[e];
    if (ep.bEndpointAddress & 0x80) {
      in_ep_ = ep.bEndpointAddress;
      in_type_ = ep.bmAttributes;
    } else {
      out_ep_ = ep.bEndpointAddress;
      out_type_ = ep.bmAttributes;
    }
  }
  libusb_free_config_descriptor(config);
  libusb_free_device_list(list, 1);
  return h;
}

int DeviceLink::transfer(std::uint8_t* data, bool in, const char* what) {
  const std::uint8_t ep = in ? in_ep_ : out_ep_;
  const std::uint8_t type = in ? in_type_ : out_type_;
  if (ep == 0) {
    std::printf(in ? "%s no IN endpoint\n" : "%s no OUT endpoint\n", what);
    return -1;
  }
  int done = 0;
  int rc;
  if (type == LIBUSB_TRANSFER_TYPE_BULK)
    rc = libusb_bulk_transfer(handle_, ep, data, static_cast<int>(kPacketBytes), &done, kTimeoutMs);
  else if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT)
    rc = libusb_interrupt_transfer(handle_, ep, data, static_cast<int>(kPacketBytes), &done, kTimeoutMs);
  else
    return -1;
  if (rc == 0) return done;
  libusb_clear_halt(handle_, in_ep_);
  libusb_clear_halt(handle_, out_ep_);
  sleep(10);
  std::printf(in ? "libusb in transfer failed: %s\n" : "libusb out transfer failed: %s\n", libusb_error_name(rc));
  return rc == LIBUSB_ERROR_TIMEOUT ? -2 : -1;
}

bool handshake(DeviceLink& link) {
  Packet reply = link.exchange(make_packet(kHandshake, kHandshakeWord));
  if (accepted(reply, kHandshake)) {
    std::puts("handshake successfully ... ");
    return true;
  }
  std::printf("handshake failed 0x%x ... \n", word(reply, 2));
  return false;
}

// Command 11 carries two caller values; the download sequence does not use
// it, but the device's protocol offers it.
[[maybe_unused]] bool two_value_command(DeviceLink& link, std::uint32_t value1, std::uint32_t value2) {
  Packet reply = link.exchange(make_packet(kTwoValue, value1, value2));
  if (accepted(reply, kTwoValue)) {
    std::puts("image info successfully ... ");
    return true;
  }
  std::printf("image info failed 0x%x ... \n", word(reply, 2));
  return false;
}

// Reads the whole image once: the bytes summed are the bytes sent, whatever
// happens to the file meanwhile. Answers nothing on any failure, after
// saying why.
std::optional<std::vector<std::uint8_t>> load_image(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::printf("%s: cannot open %s\n", "send_image", path);
    return std::nullopt;
  }
  struct stat st {};
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::printf("%s: %s is not a regular file\n", "send_image", path);
    std::fclose(f);
    return std::nullopt;
  }
  std::vector<std::uint8_t> image(kWorkArea + 1);
  const std::size_t got = std::fread(image.data(), 1, image.size(), f);
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) {
    std::printf("%s: cannot read %s\n", "send_image", path);
    return std::nullopt;
  }
  // The device's work area holds 0x5F000 bytes: a larger image would overrun
  // it, so it is refused before anything is sent.
  if (got > kWorkArea) {
    std::printf("%s: %s is larger than %zu bytes\n", "send_image", path, kWorkArea);
    return std::nullopt;
  }
  image.resize(got);
  return image;
}

bool send_image(DeviceLink& link, const char* path, std::uint32_t value, std::uint32_t address) {
  auto loaded = load_image(path);
  if (!loaded) return false;
  const std::vector<std::uint8_t>& image = *loaded;
  std::uint32_t sum = 0;
  for (std::uint8_t b : image) sum += b;

  Packet reply = link.exchange(
      make_packet(kImageDescription, value, address, static_cast<std::uint32_t>(image.size()), sum));
  if (!accepted(reply, kImageDescription)) {
    std::printf("image info failed 0x%x ... \n", word(reply, 2));
    return false;
  }
  std::puts("image info successfully ... ");

  std::size_t offset = 0;
  int packets = 0;
  for (;;) {
    const std::size_t length = std::min(kPieceBytes, image.size() - offset);
    if (length == 0) {
      reply = link.exchange(make_packet(kEndOfImage));
      if (accepted(reply, kEndOfImage)) {
        std::puts("done packet successfully ... ");
        return true;
      }
      std::printf("done packet failed 0x%x ... \n", word(reply, 2));
      return false;
    }
    std::printf("PacketCount=%d\n", ++packets);
    Packet data = make_packet(kData, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length));
    std::memcpy(data.data() + 12, image.data() + offset, length);
    reply = link.exchange(data);
    if (!accepted(reply, kData)) {
      std::printf("\n sentLen = %d", static_cast<int>(offset));
      std::printf("data sent failed offset=0x%x, 0x%x ... \n", word(reply, 1), word(reply, 2));
      return false;
    }
    std::puts("data sent successfully ... ");
    offset += length;
  }
}

void usage(const char* program) {
  std::fprintf(stderr, "\nUsage: %s [-d vid:pid] [-p bus,addr] [-a address] -f firmware\n", program);
  std::fprintf(stderr, "  -d <vid:pid>   -- Target device, as an USB VID:PID\n");
  std::fprintf(stderr, "  -p <bus,addr>  -- Target device, as a libusb bus number and device address path\n");
  std::fprintf(stderr, "  -f frimware    -- firmware path to download\n");
  std::fprintf(stderr, "  -a address     -- firmware download address\n");
}

// Parses "x<sep>y" with both numbers in the given base and nothing after
// them; values must fit max.
bool parse_pair(const char* text, char sep, int base, unsigned long max, unsigned long& a, unsigned long& b) {
  char* end = nullptr;
  if (!text || !*text || *text == '-' || *text == '+') return false;
  errno = 0;
  a = std::strtoul(text, &end, base);
  if (errno || end == text || *end != sep || a > max) return false;
  const char* second = end + 1;
  if (!*second || *second == '-' || *second == '+') return false;
  b = std::strtoul(second, &end, base);
  return !errno && end != second && *end == '\0' && b <= max;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint16_t vid = ZYL_VENDOR_ID_1;
  std::uint16_t pid = kDefaultProductId;
  std::optional<std::pair<unsigned, unsigned>> path;
  std::string path_text;
  const char* firmware = nullptr;
  std::uint32_t address = kDefaultAddress;

  int opt;
  while ((opt = getopt(argc, argv, "?hd:p:f:a:")) != -1) {
    unsigned long a = 0, b = 0;
    switch (opt) {
      case 'd':
        // Ids are 16-bit: a value that does not fit is refused like a bad form.
        if (!parse_pair(optarg, ':', 16, 0xFFFF, a, b)) {
          std::fprintf(stderr, "please specify VID & PID as \"vid:pid\" in hexadecimal format\n");
          return -1;
        }
        vid = static_cast<std::uint16_t>(a);
        pid = static_cast<std::uint16_t>(b);
        break;
      case 'p':
        // Bus numbers and device addresses are 8-bit in USB.
        if (!parse_pair(optarg, ',', 10, 0xFF, a, b)) {
          std::fprintf(stderr, "please specify bus number & device number as \"bus,dev\" in decimal format\n");
          return -1;
        }
        path = std::make_pair(static_cast<unsigned>(a), static_cast<unsigned>(b));
        path_text = optarg;
        break;
      case 'f':
        firmware = optarg;
        break;
      case 'a': {
        char* end = nullptr;
        errno = 0;
        const unsigned long v = std::strtoul(optarg, &end, 0);
        if (errno || end == optarg || *end != '\0' || *optarg == '-' ||
            v > std::numeric_limits<std::uint32_t>::max()) {
          std::fprintf(stderr, "please specify the download address as a 32-bit number\n");
          return -1;
        }
        address = static_cast<std::uint32_t>(v);
        std::printf("%x\n", address);
        break;
      }
      default:
        usage(argv[0]);
        return -1;
    }
  }
  if (!firmware) {
    std::fprintf(stderr, "no firmware specified!\n");
    usage(argv[0]);
    return -1;
  }

  DeviceLink link(vid, pid, path, path_text);
  bool held = false;
  for (unsigned attempt = 0; attempt < kOpenAttempts && !held; ++attempt) {
    held = link.open_with_retry() == 0;
    if (!held) sleep(1);
  }
  // No device found is not an error of the download; a download that was
  // attempted and failed is.
  if (!held) return 0;
  handshake(link);  // a refused handshake does not stop the download
  return send_image(link, firmware, 0, address) ? 0 : 1;
}
