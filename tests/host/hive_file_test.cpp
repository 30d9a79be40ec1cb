// The hive file replaced whole: what the new file and its backup keep, links given as the
// path, names swapped while a replacement runs, and files that are no hive file at all.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/hive_file.h"
#include "tests/common/hive_fixture.h"

namespace {

const std::vector<std::uint8_t> kOld = {'o', 'l', 'd'};
const std::vector<std::uint8_t> kNew = {'n', 'e', 'w', '!'};

// Every user extended attribute of the file, by name.
std::map<std::string, std::string> UserAttributes(const std::string& path) {
  std::map<std::string, std::string> found;
  char names[4096];
  const ssize_t size = ::llistxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < size;) {
    const std::string name = names + at;
    at += static_cast<ssize_t>(name.size()) + 1;
    char value[256];
    const ssize_t length = ::lgetxattr(path.c_str(), name.c_str(), value, sizeof value);
    if (length >= 0) found[name] = std::string(value, static_cast<std::size_t>(length));
  }
  return found;
}

class HiveFileTest : public ::testing::Test {
 protected:
  // Replaces the file at `path` with kNew; the check compares what reads back.
  static HiveProblem ReplaceWithNew(const std::string& path, const CommitOptions& options,
                                    std::string* nameUsed = nullptr) {
    HiveProblem problem;
    const auto file = HiveFile::Open(path, HiveAccess::kWrite, &problem);
    if (!file) return problem;
    return file->Replace(
        [&](const std::string& name) {
          if (nameUsed != nullptr) *nameUsed = name;
          WriteBytes(name, kNew);
          return true;
        },
        [](int, const std::string& name) {
          return ReadBytes(name) == kNew ? std::string() : std::string("differs");
        },
        options);
  }

  TempFolder folder;
};

TEST_F(HiveFileTest, TheNewFileAndItsBackupKeepOwnerModeAndEveryExtendedAttribute) {
  const std::map<std::string, std::string> attributes = {
      {"user.descriptor", std::string("\x01\x00\x04\x80", 4)}, {"user.attrib", "\x26"}};
  for (const bool linkBackup : {true, false}) {
    SCOPED_TRACE(linkBackup ? "linked backup" : "copied backup");
    const std::string path = folder.File("SYSTEM");
    WriteBytes(path, kOld);
    ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    for (const auto& [name, value] : attributes) {
      ASSERT_EQ(::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0) << name;
    }

    const HiveProblem problem =
        ReplaceWithNew(path, {.keepBackup = true, .linkBackup = linkBackup, .stepHook = {}});
    ASSERT_EQ(problem.error, HiveError::kNone) << problem.message;
    EXPECT_EQ(ReadBytes(path), kNew);
    EXPECT_EQ(ReadBytes(path + ".bak"), kOld);
    for (const std::string& file : {path, path + ".bak"}) {
      SCOPED_TRACE(file);
      struct stat status {};
      ASSERT_EQ(::stat(file.c_str(), &status), 0);
      EXPECT_EQ(status.st_uid, 1234u);
      EXPECT_EQ(status.st_gid, 5678u);
      EXPECT_EQ(status.st_mode & 07777, 0640u);
      EXPECT_EQ(UserAttributes(file), attributes);
    }
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"SYSTEM", "SYSTEM.bak"}));
    ::unlink(path.c_str());
    ::unlink((path + ".bak").c_str());
  }
}

TEST_F(HiveFileTest, ALinkGivenAsThePathIsFollowedAndStaysALink) {
  ::mkdir(folder.File("image").c_str(), 0755);
  ::mkdir(folder.File("work").c_str(), 0755);
  const std::string target = folder.File("image/SYSTEM");
  const std::string link = folder.File("work/SYSTEM");
  WriteBytes(target, kOld);
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

  HiveProblem problem;
  const auto file = HiveFile::Open(link, HiveAccess::kRead, &problem);
  ASSERT_TRUE(file) << problem.message;
  EXPECT_TRUE(file->ThroughLink());
  EXPECT_EQ(file->Target(), target);

  problem = ReplaceWithNew(link, {.keepBackup = true, .stepHook = {}});
  ASSERT_EQ(problem.error, HiveError::kNone) << problem.message;
  struct stat status {};
  ASSERT_EQ(::lstat(link.c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode)) << "the link was replaced by a file";
  EXPECT_EQ(ReadBytes(target), kNew);
  EXPECT_EQ(ReadBytes(target + ".bak"), kOld);
  ASSERT_EQ(::lstat((target + ".bak").c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(::lstat((link + ".bak").c_str(), &status), -1) << "a backup beside the link";
}

// Another user who may write the folder swaps a link in for the new file after it was written:
// nothing is written through it, and it is not renamed over the hive.
TEST_F(HiveFileTest, ANameSwappedDuringTheReplacementIsNeitherWrittenThroughNorRenamed) {
  const std::string path = folder.File("SYSTEM");
  const std::string victim = folder.File("victim");
  WriteBytes(path, kOld);
  WriteBytes(victim, kOld);
  for (const CommitStep swapAt :
       {CommitStep::kCarryAttributes, CommitStep::kSyncNew, CommitStep::kCheckNew,
        CommitStep::kKeepBackup, CommitStep::kReplace}) {
    SCOPED_TRACE(CommitStepName(swapAt));
    std::string nameUsed;
    const HiveProblem problem =
        ReplaceWithNew(path,
                       {.keepBackup = true,
                        .stepHook =
                            [&](CommitStep step) {
                              if (step != swapAt) return true;
                              for (const std::string& entry : folder.Entries()) {
                                if (entry.starts_with(".SYSTEM.new-")) {
                                  const std::string name = folder.File(entry + "/SYSTEM");
                                  ::unlink(name.c_str());
                                  ::symlink(victim.c_str(), name.c_str());
                                }
                              }
                              return true;
                            }},
                       &nameUsed);
    EXPECT_EQ(problem.error, HiveError::kWriteFailed) << problem.message;
    EXPECT_TRUE(nameUsed.starts_with("/proc/self/fd/")) << "written by name: " << nameUsed;
    EXPECT_EQ(ReadBytes(victim), kOld);
    EXPECT_EQ(ReadBytes(path), kOld);
    struct stat status {};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"SYSTEM", "victim"}));
  }
}

TEST_F(HiveFileTest, AnythingButARegularFileIsRefusedWithoutBlocking) {
  ASSERT_EQ(::mkfifo(folder.File("fifo").c_str(), 0600), 0);
  ::mkdir(folder.File("folder").c_str(), 0755);
  ASSERT_EQ(::symlink(folder.File("absent").c_str(), folder.File("dangling").c_str()), 0);
  // A FIFO nobody writes would block an open or a read for ever: the alarm ends such a run.
  ::alarm(20);
  for (const char* name : {"fifo", "folder", "dangling", "absent"}) {
    for (const HiveAccess access : {HiveAccess::kRead, HiveAccess::kWrite}) {
      SCOPED_TRACE(name);
      HiveProblem problem;
      EXPECT_FALSE(HiveFile::Open(folder.File(name), access, &problem));
      EXPECT_EQ(problem.error, HiveError::kUnreadable) << problem.message;
    }
  }
  ::alarm(0);
}

// A user who owns the hive but is not in its group: the file is theirs to replace. The new
// file cannot have that group, so it has none of the group's permissions.
TEST_F(HiveFileTest, AnOwnerOutsideTheFilesGroupReplacesItWithoutGivingItsGroupAccess) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  constexpr uid_t kUser = 65534;  // nobody
  const std::string path = folder.File("SYSTEM");
  WriteBytes(path, kOld);
  ASSERT_EQ(::chmod(folder.Path().c_str(), 0777), 0);
  ASSERT_EQ(::chown(path.c_str(), kUser, 0), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0660), 0);

  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kUser) != 0 || ::setuid(kUser) != 0) ::_exit(3);
    const HiveProblem problem = ReplaceWithNew(path, {.keepBackup = false, .stepHook = {}});
    ::_exit(problem.error == HiveError::kNone && !problem.message.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "refused, or replaced without a note";
  EXPECT_EQ(ReadBytes(path), kNew);
  struct stat replaced {};
  ASSERT_EQ(::stat(path.c_str(), &replaced), 0);
  EXPECT_EQ(replaced.st_uid, kUser);
  EXPECT_EQ(replaced.st_mode & 07777, 0600u);
}

}  // namespace
