#include "platform/hive_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace {

// A file descriptor, closed on every path.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int value) : fd(value) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd = std::exchange(other.fd, -1);
    }
    return *this;
  }
  void Reset() {
    if (fd >= 0) ::close(std::exchange(fd, -1));
  }
};

std::string ErrnoText(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name that reaches an open descriptor's file without looking up any name in a folder.
std::string DescriptorName(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The private folder a replacement works in beside the hive, before its random part.
std::string PrivateFolderPrefix(const std::string& target) {
  std::string prefix = ".";
  prefix += BaseNameOf(target);
  prefix += ".new-";
  return prefix;
}

// ntfs-3g does not list these, but reads and writes them: the NTFS security descriptor and the
// DOS attributes.
constexpr const char* kUnlistedAttributes[] = {"system.ntfs_acl", "system.ntfs_attrib"};

using Attributes = std::map<std::string, std::string>;

// Every extended attribute of the file that can be read. Returns "" or what failed.
std::string ReadAttributes(int fd, Attributes* out) {
  out->clear();
  std::vector<std::string> names;
  ssize_t size = ::flistxattr(fd, nullptr, 0);
  if (size < 0 && errno != ENOTSUP) return "listing its extended attributes: " + ErrnoText(errno);
  if (size > 0) {
    std::string list(static_cast<std::size_t>(size), '\0');
    size = ::flistxattr(fd, list.data(), list.size());
    if (size < 0) return "listing its extended attributes: " + ErrnoText(errno);
    list.resize(static_cast<std::size_t>(size));
    for (std::size_t at = 0; at < list.size();) {
      const std::string name = list.c_str() + at;
      at += name.size() + 1;
      if (!name.empty()) names.push_back(name);
    }
  }
  for (const char* name : kUnlistedAttributes) names.emplace_back(name);
  for (const std::string& name : names) {
    if (out->count(name) != 0) continue;
    const ssize_t length = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (length < 0) {
      // Absent, or not one this file system keeps (the unlisted names elsewhere than NTFS).
      if (errno == ENODATA || errno == ENOTSUP || errno == EOPNOTSUPP) continue;
      return "reading its extended attribute " + name + ": " + ErrnoText(errno);
    }
    std::string value(static_cast<std::size_t>(length), '\0');
    const ssize_t read = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (read < 0) return "reading its extended attribute " + name + ": " + ErrnoText(errno);
    value.resize(static_cast<std::size_t>(read));
    (*out)[name] = std::move(value);
  }
  return "";
}

// Sets every attribute on the file. Returns "" or which could not be set.
std::string WriteAttributes(int fd, const Attributes& attributes) {
  for (const auto& [name, value] : attributes) {
    if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
      return "its extended attribute " + name + " (" +
             (name == "system.ntfs_acl" ? std::string("the NTFS security descriptor")
                                        : std::string("kept by the file system")) +
             ") cannot be carried to a new file: " + ErrnoText(errno);
    }
  }
  return "";
}

// "" when the file holds every attribute of `wanted` with the same value.
std::string CompareAttributes(int fd, const Attributes& wanted) {
  for (const auto& [name, value] : wanted) {
    std::string now(value.size() + 1, '\0');
    const ssize_t read = ::fgetxattr(fd, name.c_str(), now.data(), now.size());
    if (read < 0 || static_cast<std::size_t>(read) != value.size() ||
        now.compare(0, value.size(), value) != 0) {
      return "its extended attribute " + name + " differs from the old hive's";
    }
  }
  return "";
}

// Gives the new file the original's owner and mode. A writer who owns the file but is not in
// its group cannot give the new file that group: the new file then keeps the writer's group
// with no group permissions, so that nobody gains access, and *note says so.
bool CarryOwnerAndMode(int fd, const struct stat& original, std::string* note) {
  mode_t mode = original.st_mode & 07777;
  // The owner first: changing it may clear set-id bits that the mode then restores.
  if (::fchown(fd, original.st_uid, original.st_gid) != 0) {
    if (errno != EPERM || original.st_uid != ::geteuid()) return false;
    mode &= ~static_cast<mode_t>(070);
    *note = "its group " + std::to_string(original.st_gid) +
            " could not be kept (only its members or the superuser may give it); the new hive "
            "belongs to your group, without group permissions";
  }
  return ::fchmod(fd, mode) == 0;
}

// Writes the bytes of `from` (from its start) into `to`, flushed.
bool CopyContent(int from, int to) {
  char buffer[1 << 16];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(from, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return false;
      done += w;
    }
    offset += n;
  }
  return ::fsync(to) == 0;
}

// Moves `from` to `to` only if `to` does not exist. Where the file system cannot refuse an
// existing name in the rename itself, the name is checked first.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  struct stat existing {};
  if (::lstat(to.c_str(), &existing) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

// Removes a private folder and the files in it.
void RemovePrivateFolder(const std::string& folder) {
  if (DIR* listing = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") ::unlinkat(::dirfd(listing), entry->d_name, 0);
    }
    ::closedir(listing);
  }
  ::rmdir(folder.c_str());
}

// Removes what a writer killed during its replacement left beside the hive: its private
// folder (and, from earlier versions, a new file of the same name pattern). Called with the
// lock held, so no other writer is in the middle of one.
void RemoveStaleNewFiles(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::string prefix = PrivateFolderPrefix(target);
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) return;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix) {
      stale.emplace_back(name);
    }
  }
  ::closedir(listing);
  for (const std::string& name : stale) {
    const std::string path = folder + "/" + name;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) continue;
    if (S_ISDIR(status.st_mode)) {
      RemovePrivateFolder(path);
    } else {
      ::unlink(path.c_str());
    }
  }
}

}  // namespace

const char* CommitStepName(CommitStep step) {
  switch (step) {
    case CommitStep::kWriteNew:
      return "writing the new hive";
    case CommitStep::kCarryAttributes:
      return "giving the new hive the old one's extended attributes";
    case CommitStep::kSyncNew:
      return "flushing the new hive to disk";
    case CommitStep::kCheckNew:
      return "checking the new hive";
    case CommitStep::kKeepBackup:
      return "keeping a backup";
    case CommitStep::kReplace:
      return "replacing the hive";
    case CommitStep::kSyncDirectory:
      return "flushing the folder to disk";
  }
  return "?";
}

std::nullptr_t RefuseToOpen(HiveProblem* problem, HiveError error, const std::string& path,
                            const std::string& why) {
  if (problem != nullptr) *problem = HiveProblem{error, path + ": " + why};
  return nullptr;
}

struct HiveFile::Impl {
  std::string path;
  std::string target;
  bool throughLink = false;
  HiveAccess access = HiveAccess::kRead;
  Fd file;
  struct stat status {};
};

HiveFile::HiveFile() : impl_(std::make_unique<Impl>()) {}
HiveFile::~HiveFile() = default;

int HiveFile::Descriptor() const { return impl_->file.fd; }
const std::string& HiveFile::Path() const { return impl_->path; }
const std::string& HiveFile::Target() const { return impl_->target; }
bool HiveFile::ThroughLink() const { return impl_->throughLink; }
std::uint64_t HiveFile::Size() const { return static_cast<std::uint64_t>(impl_->status.st_size); }

std::unique_ptr<HiveFile> HiveFile::Open(const std::string& path, HiveAccess access,
                                         HiveProblem* problem) {
  const auto fail = [&](HiveError error, const std::string& why) {
    return RefuseToOpen(problem, error, path, why);
  };
  const bool writing = access == HiveAccess::kWrite;

  std::unique_ptr<HiveFile> opened(new HiveFile());
  Impl& impl = *opened->impl_;
  impl.path = path;
  impl.access = access;
  impl.target = path;
  struct stat named {};
  if (::lstat(path.c_str(), &named) == 0 && S_ISLNK(named.st_mode)) {
    // The link stays; the file it names is the hive.
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
      return fail(HiveError::kUnreadable,
                  "is a link to nothing that can be read (" + ErrnoText(errno) + ")");
    }
    impl.target = resolved;
    impl.throughLink = true;
  }

  // Non-blocking, so that a FIFO or a device is refused rather than waited on; no link is
  // followed any more: one put in the target's place meanwhile is refused.
  Fd file(::open(impl.target.c_str(),
                 (writing ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (file.fd < 0) {
    const int error = errno;
    if (writing && (error == EACCES || error == EPERM || error == EROFS)) {
      return fail(HiveError::kReadOnly, "cannot be written (" + ErrnoText(error) + ")");
    }
    if (error == EISDIR) return fail(HiveError::kUnreadable, "is a folder, not a hive file");
    if (error == ELOOP) return fail(HiveError::kUnreadable, "was replaced by a link");
    if (error == ENXIO) return fail(HiveError::kUnreadable, "is not a regular file");
    return fail(HiveError::kUnreadable, "cannot be read (" + ErrnoText(error) + ")");
  }
  if (::fstat(file.fd, &impl.status) != 0) {
    return fail(HiveError::kUnreadable, "cannot be read (" + ErrnoText(errno) + ")");
  }
  if (S_ISDIR(impl.status.st_mode)) {
    return fail(HiveError::kUnreadable, "is a folder, not a hive file");
  }
  if (!S_ISREG(impl.status.st_mode)) return fail(HiveError::kUnreadable, "is not a regular file");
  const int flags = ::fcntl(file.fd, F_GETFL);
  if (flags < 0 || ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return fail(HiveError::kUnreadable, "cannot be read (" + ErrnoText(errno) + ")");
  }
  impl.file = std::move(file);

  if (writing) {
    // A file that nobody may write was made read-only on purpose: even the superuser, whom
    // the permission check lets through, leaves it alone.
    if ((impl.status.st_mode & 0222) == 0) {
      return fail(HiveError::kReadOnly, "is read-only (no write permission is set)");
    }
    const std::string folder = FolderOf(impl.target);
    if (::access(folder.c_str(), W_OK) != 0) {
      return fail(HiveError::kReadOnly, "its folder " + folder + " cannot be written (" +
                                            ErrnoText(errno) +
                                            "); the new hive is written beside the old one");
    }
    if (::flock(impl.file.fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) {
        return fail(HiveError::kLocked, "is locked by another program writing it");
      }
      // Without the lock another writer could replace it meanwhile: not written.
      return fail(HiveError::kLocked, "cannot be locked against other writers (" +
                                          ErrnoText(errno) + "); it is not written");
    }
    // Another writer may have replaced the file between our open and our lock.
    struct stat now {};
    if (::lstat(impl.target.c_str(), &now) != 0 || !SameFile(now, impl.status)) {
      return fail(HiveError::kLocked, "was replaced by another program while it was opened");
    }
    RemoveStaleNewFiles(impl.target);
  }
  if (problem != nullptr) *problem = HiveProblem{};
  return opened;
}

HiveProblem HiveFile::CheckReplaceable() const {
  const Impl& impl = *impl_;
  const auto refused = [&](HiveError error, const std::string& why) {
    return HiveProblem{error, impl.path + ": " + why};
  };
  if ((impl.status.st_mode & 0222) == 0) {
    return refused(HiveError::kReadOnly, "is read-only (no write permission is set)");
  }
  if (::access(impl.target.c_str(), W_OK) != 0) {
    return refused(HiveError::kReadOnly, "cannot be written (" + ErrnoText(errno) + ")");
  }
  const std::string folder = FolderOf(impl.target);
  if (::access(folder.c_str(), W_OK) != 0) {
    return refused(HiveError::kReadOnly, "its folder " + folder + " cannot be written (" +
                                             ErrnoText(errno) +
                                             "); the new hive is written beside the old one");
  }
  Attributes attributes;
  if (const std::string why = ReadAttributes(impl.file.fd, &attributes); !why.empty()) {
    return refused(HiveError::kWriteFailed, why + "; the hive would not be written");
  }
  // A second descriptor: a lock taken on it is another open file's, as a real run's would be.
  Fd probe(::open(DescriptorName(impl.file.fd).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (probe.fd < 0 || ::flock(probe.fd, LOCK_EX | LOCK_NB) != 0) {
    if (probe.fd >= 0 && errno == EWOULDBLOCK) {
      return refused(HiveError::kLocked, "is locked by another program writing it");
    }
    return refused(HiveError::kLocked,
                   "cannot be locked against other writers (" + ErrnoText(errno) + ")");
  }
  return {};
}

HiveProblem HiveFile::Replace(
    const std::function<bool(const std::string& name)>& write,
    const std::function<std::string(int fd, const std::string& name)>& check,
    const CommitOptions& options) {
  Impl& impl = *impl_;
  const std::string& target = impl.target;
  const std::string shown = impl.throughLink ? impl.path + " (" + target + ")" : impl.path;
  if (impl.access != HiveAccess::kWrite) {
    return {HiveError::kReadOnly, shown + ": was opened for reading only"};
  }
  const std::string folder = FolderOf(target);
  std::string privateFolder = folder + "/" + PrivateFolderPrefix(target) + "XXXXXX";
  bool privateFolderExists = false;
  std::string newName;  // in the private folder
  std::string backup;   // once made
  std::string note;     // what could not be kept, for the caller to show
  Fd fresh;

  CommitStep step = CommitStep::kWriteNew;
  int error = 0;
  std::string detail;
  const auto failed = [&]() {
    if (privateFolderExists) RemovePrivateFolder(privateFolder);
    if (!backup.empty()) ::unlink(backup.c_str());
    std::string message = shown + ": " + CommitStepName(step) + " failed";
    if (!detail.empty()) {
      message += " (" + detail + ")";
    } else if (error != 0) {
      message += " (" + ErrnoText(error) + ")";
    }
    return HiveProblem{HiveError::kWriteFailed, message + "; the hive is unchanged."};
  };
  // Runs the hook, then the step; false when either fails (errno kept in `error`).
  const auto run = [&](CommitStep next, const std::function<bool()>& action) {
    step = next;
    error = 0;
    if (options.stepHook && !options.stepHook(next)) {
      error = EIO;
      return false;
    }
    errno = 0;
    if (action()) return true;
    error = errno != 0 ? errno : EIO;
    return false;
  };

  const struct stat& original = impl.status;
  Attributes attributes;
  if (const std::string why = ReadAttributes(impl.file.fd, &attributes); !why.empty()) {
    detail = why;
    return failed();
  }

  if (!run(CommitStep::kWriteNew, [&] {
        if (::mkdtemp(privateFolder.data()) == nullptr) return false;
        privateFolderExists = true;
        newName = privateFolder + "/" + BaseNameOf(target);
        fresh = Fd(::open(newName.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
        if (fresh.fd < 0) return false;
        // Locked before it has the hive's name, so no other writer ever holds it unlocked.
        if (::flock(fresh.fd, LOCK_EX | LOCK_NB) != 0) return false;
        if (!CarryOwnerAndMode(fresh.fd, original, &note)) return false;
        return write(DescriptorName(fresh.fd));
      })) {
    return failed();
  }
  if (!run(CommitStep::kCarryAttributes, [&] {
        detail = WriteAttributes(fresh.fd, attributes);
        return detail.empty();
      })) {
    return failed();
  }
  if (!run(CommitStep::kSyncNew, [&] { return ::fsync(fresh.fd) == 0; })) return failed();

  if (!run(CommitStep::kCheckNew, [&] {
        struct stat written {};
        if (::fstat(fresh.fd, &written) != 0) return false;
        if (note.empty() &&
            (written.st_uid != original.st_uid || written.st_gid != original.st_gid ||
             (written.st_mode & 07777) != (original.st_mode & 07777))) {
          detail = "its owner or mode differs from the old hive's";
          return false;
        }
        detail = CompareAttributes(fresh.fd, attributes);
        if (detail.empty()) detail = check(fresh.fd, DescriptorName(fresh.fd));
        return detail.empty();
      })) {
    return failed();
  }

  if (options.keepBackup && !run(CommitStep::kKeepBackup, [&] {
        // A hard link to the file held keeps the old contents, owner, mode and attributes
        // under the backup name at no cost. Where the file system has none, a copy made as
        // the new hive is: a whole, flushed file in the private folder, then given the name.
        std::string copy;
        for (int n = 0; n < 1000; ++n) {
          std::string name = target + ".bak";
          if (n > 0) name += '.' + std::to_string(n);
          if (copy.empty()) {
            if (options.linkBackup && ::linkat(AT_FDCWD, DescriptorName(impl.file.fd).c_str(),
                                               AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
              backup = name;
              return true;
            }
            if (options.linkBackup && errno == EEXIST) continue;
            if (options.linkBackup && errno != EPERM && errno != EOPNOTSUPP && errno != EXDEV &&
                errno != EMLINK && errno != ENOENT) {
              return false;
            }
            copy = privateFolder + "/backup";
            Fd copied(::open(copy.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
            if (copied.fd < 0) return false;
            std::string copyNote;
            if (!CarryOwnerAndMode(copied.fd, original, &copyNote)) return false;
            if (!CopyContent(impl.file.fd, copied.fd)) return false;
            if (const std::string why = WriteAttributes(copied.fd, attributes); !why.empty()) {
              detail = why;
              return false;
            }
            if (::fsync(copied.fd) != 0) return false;
          }
          if (RenameNoReplace(copy, name)) {
            backup = name;
            return true;
          }
          if (errno != EEXIST) return false;
        }
        errno = EEXIST;
        return false;
      })) {
    return failed();
  }

  if (!run(CommitStep::kReplace, [&] {
        // The hive's name must still be the file held locked, and the new name the file
        // written and checked.
        struct stat now {};
        struct stat made {};
        struct stat held {};
        if (::lstat(target.c_str(), &now) != 0 || ::lstat(newName.c_str(), &made) != 0 ||
            ::fstat(fresh.fd, &held) != 0) {
          return false;
        }
        if (!SameFile(now, original) || !SameFile(made, held) || !S_ISREG(made.st_mode)) {
          errno = EBUSY;
          return false;
        }
        return ::rename(newName.c_str(), target.c_str()) == 0;
      })) {
    return failed();
  }
  // From here on the file is the new hive, and this object holds it, locked.
  RemovePrivateFolder(privateFolder);
  privateFolderExists = false;
  impl.file = std::move(fresh);
  ::fstat(impl.file.fd, &impl.status);
  const std::string kept = backup.empty() ? std::string() : "; the old hive is kept as " + backup;
  backup.clear();

  if (!run(CommitStep::kSyncDirectory, [&] {
        Fd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (directory.fd < 0 || ::fsync(directory.fd) != 0) return false;
        // What the file system shows under the hive's name now.
        Fd named(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
        if (named.fd < 0) return false;
        detail = CompareAttributes(named.fd, attributes);
        return detail.empty();
      })) {
    std::string message = shown + ": the new hive is in place" + kept + ", but " +
                          CommitStepName(step) + " failed (" +
                          (detail.empty() ? ErrnoText(error) : detail) +
                          "); check the file before the image is used";
    return HiveProblem{HiveError::kNotConfirmed, message};
  }
  return HiveProblem{HiveError::kNone, note.empty() ? std::string() : shown + ": " + note};
}
