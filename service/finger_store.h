// The enrolled fingers on disk. Each finger is one file of three template
// slots in the user's directory (the data root followed by the user id),
// named "<user id>_<id>_<finger name>" with the id in decimal, at least two
// digits. User ids and finger names may hold "_", so a name is read back as
// the user id (known from the directory), "_", the digits of the id, "_",
// and everything after that as the finger name.
#pragma once

#include <optional>
#include <vector>

#include <QMap>
#include <QString>

namespace vyx {

// Where the framework keeps the enrolled fingers; a user's directory is this
// text followed directly by the user id.
inline constexpr char kDataRoot[] = "/usr/share/vyx-authentication/modes/zq3300/data/";
// The host framework's own database, which the service only reads.
inline constexpr char kUserDatabase[] = "/opt/vantor/db/vantor.db";

// Creates `dir` (with its parents) when it is missing; a failure is only
// reported as a debug message.
void ensureDir(const QString &dir);
// Creates a user's directory when it is missing (its parents as ensureDir
// does), readable by its owner alone (0700).
void ensureUserDir(const QString &dir);

// Size of one template slot and of a whole finger file (three slots, no
// header).
inline constexpr int kTemplateSlotSize = 20480;
inline constexpr int kFingerFileSize = 3 * kTemplateSlotSize;

// A stored finger file as read back from its name.
struct FingerFile {
  QString path;        // absolute path of the file
  QString idText;      // the id as written in the name ("02")
  int id = 0;          // the id as a number
  QString fingerName;  // everything after the id's "_"
};

// True when `name` may be used as one component of a path under the data
// root: not empty, not "." or "..", and without "/" or NUL. User ids and
// finger names that fail this are refused before they reach a path.
bool isSafeName(const QString &name);

// The directory of a user's finger files.
QString userFeatureDir(const QString &userId);

// The id in a file name: at least two digits, zero-padded.
QString paddedFingerId(int id);

// "<featureDir>/<userId>_<id>_<fingerName>".
QString fingerFilePath(const QString &featureDir, const QString &userId, int id, const QString &fingerName);

// Reads a file name of `userId`'s directory; nothing when the name is not
// one of that user's finger files.
std::optional<FingerFile> parseFingerFileName(const QString &fileName, const QString &userId);

// The finger files of a user's directory, largest first and files of equal
// size by name (every stored file has the same size, so this is name order).
// The user id is the directory's own name. Files whose names do not read
// back as finger files are passed over.
std::vector<FingerFile> listFingerFiles(const QString &featureDir);

// Id -> finger name of the files in `dir`; a missing directory gives an
// empty map.
QMap<int, QString> scanFingerFiles(const QString &dir);
// True when one of the map's names equals `name` exactly.
bool getSameFinger(const QMap<int, QString> &fileNames, const QString &name);
// The smallest id from 1 upward that no finger file of `dir` carries.
int nextFingerId(const QString &dir);

// Writes `length` bytes as `featureFile` (in `featureDir`, created 0700 when
// missing): the bytes go to a temporary file in the same directory, which
// is flushed to disk and then renamed to its name, so a reader never sees a
// partial file and a failed write leaves nothing behind. An existing file of
// that name is never replaced. 0 on success, else one of the values below.
enum SaveStatus {
  kSaveOk = 0,
  kSaveCannotCreate = 2,  // the directory or the temporary file cannot be made
  kSaveShortWrite = 3,    // the bytes could not all be written and flushed
  kSaveExists = 4,        // a file of that name is already there
  kSaveCannotRename = 5,  // the finished file could not take its name
};
int saveFeatureData(const void *data, int length, const QString &featureDir, const QString &featureFile);

// Reads the first kFingerFileSize bytes of a finger file into `buffer`
// (which has that size and is zeroed first); false when it cannot be opened.
bool readFingerFile(const QString &path, std::vector<unsigned char> &buffer);

// True when `dir` holds no files (hidden ones included) other than the
// temporary file of a save that did not finish.
bool directoryHoldsNoFiles(const QString &dir);

// Removes a file, a symbolic link (not what it points to) or a directory
// tree. Nothing happens for an empty path.
void removePath(const QString &path);

// True when the host framework's user database names `userId` (table
// `user`, column `user_id`). The database is only read: a missing or
// unreadable database answers false and is never created.
bool userExists(const QString &userId, const QString &database = QString::fromLatin1(kUserDatabase));

}  // namespace vyx
