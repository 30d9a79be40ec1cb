// Replacing a file whole: the new content lands complete, and a failure at any point leaves
// the old file and nothing else.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/replace_file.h"
#include "tests/common/hive_fixture.h"

namespace {

std::string Content(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void Put(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST(ReplaceFileTest, NewContentReplacesTheOldWholeAndLeavesNothingBeside) {
  TempFolder folder;
  const std::string path = folder.File("undo.reg");
  EXPECT_EQ(ReplaceFileWith(path, "first\r\n"), "");
  EXPECT_EQ(Content(path), "first\r\n");
  const std::string longer(100000, 'x');
  EXPECT_EQ(ReplaceFileWith(path, longer), "");
  EXPECT_EQ(Content(path), longer);
  EXPECT_EQ(ReplaceFileWith(path, ""), "");
  EXPECT_EQ(Content(path), "");
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"undo.reg"});
}

TEST(ReplaceFileTest, AFailureLeavesTheOldFileAndNoNewOne) {
  TempFolder folder;
  const std::string path = folder.File("undo.reg");
  const std::string stale = path + ".new-" + std::to_string(::getpid());
  struct Case {
    const char* name;
    std::string target;
    std::function<void()> arrange;
    const char* said;
    std::vector<std::string> entriesAfter;
  };
  const Case cases[] = {
      {"NoSuchFolder", folder.File("absent/undo.reg"), [] {}, "cannot create", {"undo.reg"}},
      // Somebody else's file of the name the new one would take: kept, not overwritten.
      {"NewNameTaken",
       path,
       [&] { Put(stale, "not mine"); },
       "cannot create",
       {"undo.reg", "undo.reg.new-" + std::to_string(::getpid())}},
      // The rename fails: a folder holding a file cannot be replaced by a file.
      {"RenameRefused",
       folder.File("busy"),
       [&] {
         ::unlink(stale.c_str());
         ::mkdir(folder.File("busy").c_str(), 0755);
         Put(folder.File("busy/inside"), "x");
       },
       "cannot rename",
       {"busy", "undo.reg"}},
  };
  Put(path, "old");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    const std::string problem = ReplaceFileWith(c.target, "new");
    EXPECT_NE(problem.find(c.said), std::string::npos) << problem;
    EXPECT_EQ(Content(path), "old");
    EXPECT_EQ(folder.Entries(), c.entriesAfter);
  }
}

}  // namespace
