// The service's reading of stored fingers: the finger-file name parser on
// arbitrary names and user ids, and the finger-file reader on arbitrary file
// contents. A parsed name rebuilds to itself; the reader gives the file's
// first bytes and zeros after them, never more than one finger file.
//
// Input: a length byte n, then the user id (n bytes, as far as the input
// goes, UTF-8), then the rest, which is both the file name (UTF-8) and the
// file's contents.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include "finger_store.h"
#include "fuzz_check.h"

using zyl::test::require;

namespace {

QString text(const std::uint8_t* data, std::size_t size) {
  return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

void check_name(const QString& name, const QString& user) {
  const auto file = vyx::parseFingerFileName(name, user);
  if (!file) return;
  require(!file->idText.isEmpty() && file->id >= 0);
  for (QChar c : file->idText) require(c >= QLatin1Char('0') && c <= QLatin1Char('9'));
  require(!file->fingerName.isEmpty());
  require(user + QLatin1Char('_') + file->idText + QLatin1Char('_') + file->fingerName == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t n = std::min<std::size_t>(data[0], size - 1);
  const QString user = text(data + 1, n);
  const std::uint8_t* rest = data + 1 + n;
  const std::size_t rest_size = size - 1 - n;
  const QString name = text(rest, rest_size);
  check_name(name, user);
  // The same name under the id it may carry: the common shape "<user>_<digits>_<finger>".
  check_name(user + QStringLiteral("_") + name, user);

  static QTemporaryDir dir;
  require(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("finger"));
  {
    QFile f(path);
    require(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    require(f.write(reinterpret_cast<const char*>(rest), static_cast<qint64>(rest_size)) ==
            static_cast<qint64>(rest_size));
  }
  std::vector<unsigned char> buffer(3, 0xEE);
  require(vyx::readFingerFile(path, buffer));
  require(buffer.size() == static_cast<std::size_t>(vyx::kFingerFileSize));
  const std::size_t kept = std::min<std::size_t>(rest_size, buffer.size());
  require(std::equal(rest, rest + kept, buffer.begin()));
  require(std::all_of(buffer.begin() + kept, buffer.end(), [](unsigned char v) { return v == 0; }));
  return 0;
}
