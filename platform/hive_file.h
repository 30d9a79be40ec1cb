// The file side of an offline hive (Linux): opening the file safely, the writer's lock, and
// replacing the file whole with a complete, checked new version that keeps everything Windows
// reads from the file besides its content.
//
// What a replacement keeps: the owner, the group (when the writer may set it), the mode, and
// every extended attribute the file system lets us read, among them the NTFS security
// descriptor and the DOS attributes that ntfs-3g shows as system.ntfs_acl and
// system.ntfs_attrib. An attribute that cannot be set on the new file stops the replacement
// before anything is replaced.
//
// Names another user could swap. The new file and a copied backup are made in a folder of
// their own beside the hive (made by mkdtemp, so 0700 where the file system keeps modes), are
// created O_EXCL|O_NOFOLLOW and written, flushed and read back through their descriptors
// (/proc/self/fd/N), never reopened by name. Before the rename, the name in that folder and
// the hive's name must still be the files this run holds.
//
// A link given as the path: the file it points to is opened and replaced, the backup goes
// beside that file, and the link stays a link (ThroughLink(), Target()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

enum class HiveAccess { kRead, kWrite };

// Why a hive could not be opened or written. A front end turns each into an exit code.
enum class HiveError {
  kNone,
  kUnreadable,       // missing, not a regular file, no permission to read, an I/O error
  kNotAHive,         // no hive signature
  kTruncated,        // shorter than its header says
  kDamaged,          // the header's checksum is wrong, or the structure cannot be read
  kReadOnly,         // opened for writing: the file or its folder cannot be written
  kLocked,           // opened for writing: another writer holds the hive, or no lock is given
  kNotCleanlySaved,  // opened for writing: the header's two sequence numbers differ
  kWriteFailed,      // Commit(): the step named in the message failed; the hive is unchanged
  kNotConfirmed,     // Commit(): the new hive is in place, but could not be confirmed on disk
};

// An error class and one line for people, naming the file. With kNone, `message` may hold a
// line worth showing all the same (what a successful replacement could not keep).
struct HiveProblem {
  HiveError error = HiveError::kNone;
  std::string message;
};

// The steps of a replacement, in order. The hook is asked before each.
enum class CommitStep {
  kWriteNew,         // write the new file in a private folder beside the original, with its
                     // owner and mode
  kCarryAttributes,  // give the new file the original's extended attributes
  kSyncNew,          // flush the new file to disk
  kCheckNew,         // read the new file back, compare it and its attributes with what was meant
  kKeepBackup,       // keep the original as PATH.bak (or PATH.bak.N), when asked
  kReplace,          // rename the new file over the original
  kSyncDirectory,    // flush the folder, so the rename is on disk, and confirm the attributes
};
const char* CommitStepName(CommitStep step);

struct CommitOptions {
  bool keepBackup = true;
  // False: the backup is copied, as where the file system has no hard links. For tests.
  bool linkBackup = true;
  // Asked before each step; returning false makes that step fail (as with an I/O error). For
  // tests; empty in the product.
  std::function<bool(CommitStep)> stepHook;
};

// For an Open that fails: fills *problem, when given, with `error` and one line naming `path`.
std::nullptr_t RefuseToOpen(HiveProblem* problem, HiveError error, const std::string& path,
                            const std::string& why);

class HiveFile {
 public:
  // Opens the file at `path` (a link is followed to the file it names). Refuses anything but a
  // regular file without blocking on it. For writing, also: a file nobody may write, a folder
  // that cannot be written, and a file another writer holds (the lock is then kept until the
  // object goes). On failure returns null and fills *problem.
  static std::unique_ptr<HiveFile> Open(const std::string& path, HiveAccess access,
                                        HiveProblem* problem);
  ~HiveFile();
  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  // The descriptor of the file opened (after a replacement: of the new file).
  [[nodiscard]] int Descriptor() const;
  // The path as given, and the file itself (the link's target, or the path).
  [[nodiscard]] const std::string& Path() const;
  [[nodiscard]] const std::string& Target() const;
  [[nodiscard]] bool ThroughLink() const;
  [[nodiscard]] std::uint64_t Size() const;

  // For a file opened for reading: what opening it for writing and replacing it would refuse
  // (read-only, a folder that cannot be written, extended attributes that cannot be read,
  // another writer's lock), found without changing anything. kNone when nothing would.
  [[nodiscard]] HiveProblem CheckReplaceable() const;

  // Writes the new content through `write` (given a name that reaches the new file's
  // descriptor; true on success, errno set otherwise), then `check` (given the new file's
  // descriptor and that name; "" or what differs), and replaces the file with it as the steps
  // above say. Only for a file opened for writing. On kNone the object holds the new file,
  // locked; on kWriteFailed the file, its folder and any backup are as they were.
  HiveProblem Replace(const std::function<bool(const std::string& name)>& write,
                      const std::function<std::string(int fd, const std::string& name)>& check,
                      const CommitOptions& options);

 private:
  HiveFile();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
