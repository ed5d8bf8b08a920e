// Finger database records, the enciphered file and its atomic rewrite.
#include "device/finger_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <memory>
#include <numeric>

#include "device/des_buffer.h"
#include "zylscan/zylfpscan_status.h"

namespace zyl::device::fingerdb {

namespace {

// Closes a descriptor on scope exit.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded (a delayed write
  // error shows up here on some file systems).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Room for the enciphered file; null when memory is short.
std::unique_ptr<std::uint8_t[]> FileBuffer() {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[kPlainSize]);
}

void ReportOpenFailure() {
  std::fputs("open file fail", stdout);
  std::fflush(stdout);
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Creates a fresh file next to path for the new content. Its name starts
// with a dot, so it can never be taken for a database file ("ZYL_..."), and
// O_EXCL never reuses a file that someone else holds. Mode 0666 under the
// process's umask, as a plain file creation would give.
int CreateSibling(const std::string& path, std::string& temp_path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u", static_cast<long>(::getpid()), counter++);
    temp_path = dir + "." + base + suffix;
    const int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void SyncDirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Best effort: the rename has happened; a directory that cannot be
  // synced does not undo it.
  if (fd.get() >= 0) ::fsync(fd.get());
}

using Block = std::array<std::uint8_t, kDesBlock>;

const Block& ZeroBlockCipher() {
  static const Block cipher = [] {
    const Block zero{};
    Block out{};
    triple_des_ecb_encrypt(zero, stored_key(), out);
    return out;
  }();
  return cipher;
}

// Runs the cipher over the blocks of in that are not `special`, in runs of
// consecutive ones, and writes `replacement` for each special block.
template <typename Cipher>
void CipherSkippingBlock(std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                         const Block& special, const Block& replacement, Cipher cipher) {
  const std::size_t blocks = in.size() / kDesBlock;
  auto is_special = [&](std::size_t b) {
    return std::memcmp(in.data() + b * kDesBlock, special.data(), kDesBlock) == 0;
  };
  std::size_t b = 0;
  while (b < blocks) {
    if (is_special(b)) {
      std::copy(replacement.begin(), replacement.end(), out.begin() + b * kDesBlock);
      ++b;
      continue;
    }
    std::size_t end = b + 1;
    while (end < blocks && !is_special(end)) ++end;
    const std::size_t from = b * kDesBlock;
    const std::size_t length = (end - b) * kDesBlock;
    cipher(in.subspan(from, length), out.subspan(from, length));
    b = end;
  }
}

}  // namespace

void EncipherDatabase(Plain plain, std::span<std::uint8_t, kPlainSize> file) {
  CipherSkippingBlock(plain, file, Block{}, ZeroBlockCipher(),
                      [](std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
                        triple_des_ecb_encrypt(in, stored_key(), out);
                      });
}

void DecipherDatabase(std::span<const std::uint8_t, kPlainSize> file, Plain plain) {
  CipherSkippingBlock(file, plain, ZeroBlockCipher(), Block{},
                      [](std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
                        triple_des_ecb_decrypt(in, stored_key(), out);
                      });
}

bool RecordView::name_starts_with(std::string_view prefix) const {
  const auto field = name();
  return prefix.size() <= kNameSize &&
         std::equal(prefix.begin(), prefix.end(), field.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

int RecordView::capped_template_count() {
  if (bytes_[kTemplateCountOffset] > kSlotCount) bytes_[kTemplateCountOffset] = kSlotCount;
  return bytes_[kTemplateCountOffset];
}

void RecordView::make_blank() {
  std::fill(bytes_.begin(), bytes_.end(), 0);
  std::copy(kMagic.begin(), kMagic.end(), bytes_.begin() + kMagicOffset);
  std::fill_n(bytes_.begin() + kFillOffset, kFillSize + kNameSize, kBlankName);
  // The sum covers bytes 0..kBlankSumOffset-1; past the name they are zero.
  bytes_[kBlankSumOffset] = static_cast<std::uint8_t>(
      std::accumulate(bytes_.begin(), bytes_.begin() + kSlotsOffset, 0u));
}

void RecordView::set_name(std::string_view name) {
  auto field = bytes_.subspan<kNameOffset, kNameSize>();
  std::fill(field.begin(), field.end(), 0);
  std::copy_n(name.begin(), std::min(name.size(), kNameSize), field.begin());
}

void RecordView::enrol(std::string_view name, const StagingArea& staged) {
  bytes_[kInUseOffset] = 1;
  std::copy(staged.begin(), staged.end(), bytes_.begin() + kSlotsOffset);
  std::fill_n(bytes_.begin() + kEnrolledMarkOffset, kEnrolledMarkSize, kEnrolledMark);
  bytes_[kTemplateCountOffset] = kEnrolSlots;
  set_name(name);
}

bool RecordView::learn(std::span<const std::uint8_t, kFeatureSize> feature) {
  const std::size_t count = static_cast<std::size_t>(capped_template_count());
  if (count >= kSlotCount) return false;
  static_assert(kFeatureSize == kSlotSize, "a feature replaces the whole slot");
  std::copy(feature.begin(), feature.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(kSlotsOffset + count * kSlotSize));
  bytes_[kTemplateCountOffset] = static_cast<std::uint8_t>(count + 1);
  return true;
}

void RecordView::release(bool clear_name) {
  bytes_[kInUseOffset] = 0;
  std::fill_n(bytes_.begin() + kSlotsOffset, kSlotCount * kSlotSize, 0);
  if (clear_name) std::fill_n(bytes_.begin() + kNameOffset, kNameSize, kBlankName);
}

void FormatBlank(Plain plain) {
  for (std::size_t r = 0; r < kRecordCount; ++r) RecordAt(plain, r).make_blank();
}

std::optional<std::size_t> FindByName(Plain plain, std::string_view name) {
  for (std::size_t r = 0; r < kRecordCount; ++r) {
    const RecordView record = RecordAt(plain, r);
    if (record.in_use() && record.name_starts_with(name)) return r;
  }
  return std::nullopt;
}

std::optional<std::size_t> FirstFree(Plain plain) {
  for (std::size_t r = 0; r < kRecordCount; ++r)
    if (RecordAt(plain, r).is_free()) return r;
  return std::nullopt;
}

int ListNames(Plain plain, std::span<std::uint8_t, kRecordCount * kNameSize> names) {
  std::size_t count = 0;
  for (std::size_t r = 0; r < kRecordCount; ++r) {
    const RecordView record = RecordAt(plain, r);
    if (!record.in_use()) continue;
    std::copy(record.name().begin(), record.name().end(), names.begin() + count * kNameSize);
    ++count;
  }
  return static_cast<int>(count);
}

bool ValidDatabaseName(const char* name) {
  if (!name) return false;
  const std::size_t length = ::strnlen(name, kMaxDatabaseName + 1);
  // A '/' would lead the path out of the database directory.
  return length <= kMaxDatabaseName && std::memchr(name, '/', length) == nullptr;
}

bool ValidFingerName(const char* name) {
  return name && ::strnlen(name, kNameSize + 1) <= kNameSize;
}

std::string DatabasePath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  path += '/';
  path += kFilePrefix;
  path += name;
  return path;
}

int DecodeDatabase(std::span<const std::uint8_t> file, Plain plain) {
  if (file.empty()) return ZYLFPSCAN_ERR_DB_EMPTY;
  if (file.size() < kPlainSize) return ZYLFPSCAN_ERR_DB_SHORT;
  DecipherDatabase(file.first<kPlainSize>(), plain);
  return ZYLFPSCAN_OK;
}

int ReadDatabase(const std::string& path, Plain plain) {
  // Opened without blocking: a FIFO or a device in the file's place would
  // otherwise hold the call in open() before the type check below refuses it.
  // The check runs on the open descriptor, so the file cannot be swapped in
  // between.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    // Reading never creates the file: a missing database reads as an empty
    // one.
    if (errno == ENOENT) return ZYLFPSCAN_ERR_DB_EMPTY;
    ReportOpenFailure();
    return ZYLFPSCAN_ERR_DB_OPEN;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    ReportOpenFailure();
    return ZYLFPSCAN_ERR_DB_OPEN;
  }
  const auto file = FileBuffer();
  if (!file) return ZYLFPSCAN_ERR_NO_MEMORY;
  std::size_t got = 0;
  while (got < kPlainSize) {
    const ssize_t n = ::read(fd.get(), file.get() + got, kPlainSize - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ZYLFPSCAN_ERR_DB_SHORT;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return DecodeDatabase(std::span<const std::uint8_t>(file.get(), got), plain);
}

int WriteDatabase(const std::string& path, Plain plain) {
  const auto file = FileBuffer();
  if (!file) return ZYLFPSCAN_ERR_NO_MEMORY;
  const std::span<std::uint8_t, kPlainSize> cipher(file.get(), kPlainSize);
  EncipherDatabase(plain, cipher);

  std::string temp_path;
  FileDescriptor fd(CreateSibling(path, temp_path));
  if (fd.get() < 0) return ZYLFPSCAN_ERR_DB_WRITE;
  // The replacement keeps the permissions of the file it replaces.
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) ::fchmod(fd.get(), old.st_mode & 07777);

  const bool written = WriteAll(fd.get(), cipher) && ::fsync(fd.get()) == 0;
  const bool closed = fd.close();
  if (!written || !closed || ::rename(temp_path.c_str(), path.c_str()) != 0) {
    ::unlink(temp_path.c_str());
    return ZYLFPSCAN_ERR_DB_WRITE;
  }
  SyncDirectoryOf(path);
  return ZYLFPSCAN_OK;
}

}  // namespace zyl::device::fingerdb
