#include "finger_store.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace vyx {
namespace {

const QString kSavePrefix = QStringLiteral(".saving-");

}  // namespace

void ensureDir(const QString &dir) {
  QDir d(dir);
  if (!d.exists() && !d.mkpath(dir)) qDebug() << "mkdir error:" << d;
}

void ensureUserDir(const QString &dir) {
  if (QFileInfo(dir).isDir()) return;
  ensureDir(QFileInfo(dir).absolutePath());
  // Who enrolled and the names of their fingers are nobody else's business:
  // only the service lists the directory. The mode is set again after mkdir
  // because the umask may have taken bits off it.
  const QByteArray path = QFile::encodeName(dir);
  if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
    qDebug() << "mkdir error:" << dir;
    return;
  }
  ::chmod(path.constData(), 0700);
}

bool isSafeName(const QString &name) {
  return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
         !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString userFeatureDir(const QString &userId) {
  return QStringLiteral("%1%2").arg(QString::fromLatin1(kDataRoot), userId);
}

QString paddedFingerId(int id) { return QStringLiteral("%1").arg(id, 2, 10, QLatin1Char('0')); }

QString fingerFilePath(const QString &featureDir, const QString &userId, int id, const QString &fingerName) {
  return QStringLiteral("%1/%2_%3_%4").arg(featureDir, userId, paddedFingerId(id), fingerName);
}

std::optional<FingerFile> parseFingerFileName(const QString &fileName, const QString &userId) {
  const QString prefix = userId + QLatin1Char('_');
  if (userId.isEmpty() || !fileName.startsWith(prefix)) return std::nullopt;
  const int idStart = prefix.size();
  const int idEnd = fileName.indexOf(QLatin1Char('_'), idStart);
  if (idEnd <= idStart || idEnd + 1 >= fileName.size()) return std::nullopt;
  const QString idText = fileName.mid(idStart, idEnd - idStart);
  for (QChar c : idText)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
  bool ok = false;
  const int id = idText.toInt(&ok);
  if (!ok) return std::nullopt;
  FingerFile file;
  file.idText = idText;
  file.id = id;
  file.fingerName = fileName.mid(idEnd + 1);
  return file;
}

std::vector<FingerFile> listFingerFiles(const QString &featureDir) {
  std::vector<FingerFile> files;
  QDir dir(featureDir);
  if (featureDir.isEmpty() || !dir.exists()) return files;
  const QString userId = dir.dirName();
  // Hidden files too: a user id may begin with a dot.
  for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Size)) {
    auto file = parseFingerFileName(info.fileName(), userId);
    if (!file) continue;
    file->path = info.absoluteFilePath();
    files.push_back(std::move(*file));
  }
  return files;
}

QMap<int, QString> scanFingerFiles(const QString &dir) {
  QMap<int, QString> names;
  for (const FingerFile &file : listFingerFiles(dir)) names.insert(file.id, file.fingerName);
  return names;
}

bool getSameFinger(const QMap<int, QString> &fileNames, const QString &name) {
  for (const QString &stored : fileNames)
    if (stored == name) return true;
  return false;
}

int nextFingerId(const QString &dir) {
  std::set<int> taken;
  for (const FingerFile &file : listFingerFiles(dir)) taken.insert(file.id);
  int id = 1;
  while (taken.count(id)) ++id;
  return id;
}

namespace {

// Closes a descriptor when it goes out of scope.
struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

bool writeAll(int fd, const unsigned char *data, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// Gives `from` the name `to` unless `to` already exists.
bool renameNoReplace(const char *from, const char *to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link fails as well when the name
  // is taken, and the temporary name is dropped afterwards.
  if (::link(from, to) != 0) return false;
  ::unlink(from);
  return true;
}

}  // namespace

int saveFeatureData(const void *data, int length, const QString &featureDir, const QString &featureFile) {
  if (!data || length < 0) return kSaveShortWrite;
  ensureUserDir(featureDir);
  const QByteArray target = QFile::encodeName(featureFile);
  // The temporary name has no "_", so it never reads back as a finger file.
  QByteArray temp =
      QFile::encodeName(QFileInfo(featureFile).absolutePath() + QLatin1Char('/') + kSavePrefix + QStringLiteral("XXXXXX"));
  FileDescriptor out;
  // The template file holds biometric data: only its owner (the service)
  // reads it, so it is made readable by the owner alone.
  out.fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out.fd < 0) return kSaveCannotCreate;
  const bool written = writeAll(out.fd, static_cast<const unsigned char *>(data), static_cast<std::size_t>(length)) &&
                       ::fsync(out.fd) == 0;
  const bool closed = ::close(out.fd) == 0;
  out.fd = -1;
  if (!written || !closed) {
    ::unlink(temp.constData());
    return kSaveShortWrite;
  }
  if (!renameNoReplace(temp.constData(), target.constData())) {
    const int status = errno == EEXIST ? kSaveExists : kSaveCannotRename;
    ::unlink(temp.constData());
    return status;
  }
  // The new name is on disk only once the directory is.
  FileDescriptor dir;
  dir.fd = ::open(QFile::encodeName(QFileInfo(featureFile).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir.fd >= 0) ::fsync(dir.fd);
  return kSaveOk;
}

bool readFingerFile(const QString &path, std::vector<unsigned char> &buffer) {
  buffer.assign(kFingerFileSize, 0);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  // A shorter file leaves the rest of the buffer zero.
  qint64 total = 0;
  while (total < kFingerFileSize) {
    const qint64 n = file.read(reinterpret_cast<char *>(buffer.data()) + total, kFingerFileSize - total);
    if (n <= 0) break;
    total += n;
  }
  return true;
}

namespace {

void removeFile(const QString &path) {
  QFile::setPermissions(path, QFileDevice::WriteOwner);
  QFile::remove(path);
}

}  // namespace

bool directoryHoldsNoFiles(const QString &dir) {
  for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System))
    if (!name.startsWith(kSavePrefix)) return false;
  return true;
}

void removePath(const QString &path) {
  if (path.isEmpty()) return;
  const QFileInfo info(path);
  if (info.isSymLink() || info.isFile()) {
    // A link is removed itself; what it points to stays.
    removeFile(path);
    return;
  }
  if (!info.isDir()) return;
  // Hidden entries too (a user id may begin with a dot, and an interrupted
  // save leaves a hidden temporary file): the whole tree goes. Links are
  // not followed.
  const auto everything = QDir::Hidden | QDir::System;
  QDirIterator files(path, QDir::Files | everything, QDirIterator::Subdirectories);
  while (files.hasNext()) removeFile(files.next());
  QStringList dirs;
  QDirIterator subdirs(path, QDir::Dirs | QDir::NoDotAndDotDot | everything, QDirIterator::Subdirectories);
  while (subdirs.hasNext()) {
    const QString entry = subdirs.next();
    // A link to a directory is removed as the link it is.
    if (QFileInfo(entry).isSymLink())
      QFile::remove(entry);
    else
      dirs << entry;
  }
  // Deepest first, so that every directory is empty when its turn comes.
  for (auto it = dirs.crbegin(); it != dirs.crend(); ++it) QDir().rmdir(*it);
  QDir().rmdir(path);
}

bool userExists(const QString &userId, const QString &database) {
  // A connection of its own for each lookup, removed again afterwards, so
  // repeated calls never clash over a connection name.
  static int counter = 0;
  const QString connection = QStringLiteral("vyx-userdb-%1").arg(++counter);
  bool found = false;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(database);
    // Read-only: opening never creates a missing database.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (db.open()) {
      {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("SELECT * FROM user WHERE user_id = :user_id"));
        query.bindValue(QStringLiteral(":user_id"), userId, QSql::In);
        found = query.exec() && query.next();
      }
      db.close();
    }
  }
  QSqlDatabase::removeDatabase(connection);
  return found;
}

}  // namespace vyx
