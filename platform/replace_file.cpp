#include "platform/replace_file.h"

#include <cerrno>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

std::string SystemError(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": error " + std::to_string(::GetLastError());
}

// Closes a file handle on every path.
class OwnedFile {
 public:
  explicit OwnedFile(HANDLE handle) : handle_(handle) {}
  ~OwnedFile() { Close(); }
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  [[nodiscard]] HANDLE Get() const { return handle_; }
  [[nodiscard]] bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!IsOpen()) return true;
    const bool closed = ::CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

std::string WriteNew(const std::string& path, const std::string& content, bool* created) {
  OwnedFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsOpen()) return SystemError("cannot create", path);
  *created = true;
  DWORD written = 0;
  if (!::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written,
                   nullptr) ||
      written != content.size()) {
    return SystemError("cannot write", path);
  }
  if (!::FlushFileBuffers(file.Get())) return SystemError("cannot flush", path);
  if (!file.Close()) return SystemError("cannot close", path);
  return "";
}

bool ReadsBackAs(const std::string& path, const std::string& content) {
  OwnedFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsOpen()) return false;
  std::vector<char> bytes(content.size() + 1);
  DWORD read = 0;
  if (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return false;
  }
  return read == content.size() && std::memcmp(bytes.data(), content.data(), read) == 0;
}

std::string NewFileName(const std::string& path) {
  return path + ".new-" + std::to_string(::GetCurrentProcessId());
}

void RemoveNew(const std::string& path) { ::DeleteFileA(path.c_str()); }

std::string Rename(const std::string& from, const std::string& to) {
  if (!::MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return SystemError("cannot rename the new file over", to);
  }
  return "";
}

#else

std::string SystemError(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

// Closes a file descriptor on every path.
class OwnedFile {
 public:
  explicit OwnedFile(int fd) : fd_(fd) {}
  ~OwnedFile() { Close(); }
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  [[nodiscard]] int Get() const { return fd_; }
  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  bool Close() {
    if (!IsOpen()) return true;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
  }

 private:
  int fd_;
};

std::string WriteNew(const std::string& path, const std::string& content, bool* created) {
  OwnedFile file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!file.IsOpen()) return SystemError("cannot create", path);
  *created = true;
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t written = ::write(file.Get(), content.data() + done, content.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return SystemError("cannot write", path);
    done += static_cast<std::size_t>(written);
  }
  if (::fsync(file.Get()) != 0) return SystemError("cannot flush", path);
  if (!file.Close()) return SystemError("cannot close", path);
  return "";
}

bool ReadsBackAs(const std::string& path, const std::string& content) {
  OwnedFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.IsOpen()) return false;
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t read = ::read(file.Get(), buffer, sizeof(buffer));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return false;
    if (read == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(read));
  }
  return bytes == content;
}

std::string NewFileName(const std::string& path) {
  return path + ".new-" + std::to_string(::getpid());
}

void RemoveNew(const std::string& path) { ::unlink(path.c_str()); }

std::string Rename(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    return SystemError("cannot rename the new file over", to);
  }
  // The rename is on disk once the folder is flushed.
  const std::string::size_type slash = to.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : to.substr(0, slash + 1);
  OwnedFile directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.IsOpen()) ::fsync(directory.Get());
  return "";
}

#endif

}  // namespace

std::string ReplaceFileWith(const std::string& path, const std::string& content) {
  const std::string fresh = NewFileName(path);
  bool created = false;  // only a file this call made is removed on failure
  std::string problem = WriteNew(fresh, content, &created);
  if (problem.empty() && !ReadsBackAs(fresh, content)) {
    problem = "the new file " + fresh + " did not read back as written";
  }
  if (problem.empty()) problem = Rename(fresh, path);
  if (!problem.empty() && created) RemoveNew(fresh);
  return problem;
}
