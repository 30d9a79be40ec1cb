// modemprefix on a Windows volume as a Linux service machine opens it: an NTFS image made
// with mkntfs, mounted with ntfs-3g. The hive's NTFS security descriptor and DOS attributes
// must survive a switch, on the new hive and on its backup alike.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/hive_front.h"
#include "tests/common/hive_fixture.h"

#ifndef MODEMCONFIG_FIXTURES_DIR
#error "MODEMCONFIG_FIXTURES_DIR must name tests/fixtures"
#endif

namespace {

// A self-relative security descriptor that lets only SYSTEM and the Administrators in: owner
// Administrators, group SYSTEM, a DACL of two full-control entries.
const std::vector<std::uint8_t> kSystemAndAdministratorsOnly = {
    0x01, 0x00, 0x04, 0x80,                          // revision, control: self-relative, DACL
    72,   0,    0,    0,    88,   0,    0,    0,     // owner, group
    0,    0,    0,    0,    20,   0,    0,    0,     // no SACL, DACL at 20
    0x02, 0x00, 52,   0,    2,    0,    0,    0,     // ACL: revision 2, 52 bytes, 2 entries
    0x00, 0x00, 20,   0,    0xFF, 0x01, 0x1F, 0x00,  // allow, full control:
    0x01, 0x01, 0,    0,    0,    0,    0,    5,    18, 0, 0, 0,  // S-1-5-18 (SYSTEM)
    0x00, 0x00, 24,   0,    0xFF, 0x01, 0x1F, 0x00,               // allow, full control:
    0x01, 0x02, 0,    0,    0,    0,    0,    5,    32, 0, 0, 0, 0x20, 0x02, 0, 0,  // S-1-5-32-544
    0x01, 0x02, 0,    0,    0,    0,    0,    5,    32, 0, 0, 0, 0x20, 0x02, 0, 0,  // owner
    0x01, 0x01, 0,    0,    0,    0,    0,    5,    18, 0, 0, 0,                    // group
};
// ARCHIVE | SYSTEM | HIDDEN, as Windows keeps its hives.
const std::vector<std::uint8_t> kHiveAttributes = {0x26, 0x00, 0x00, 0x00};

std::vector<std::uint8_t> Attribute(const std::string& path, const char* name) {
  std::vector<std::uint8_t> value(4096);
  const ssize_t length = ::getxattr(path.c_str(), name, value.data(), value.size());
  if (length < 0) return {};
  value.resize(static_cast<std::size_t>(length));
  return value;
}

class HiveNtfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
      GTEST_SKIP() << "no usable /dev/fuse on this machine: an ntfs-3g mount is not possible";
    }
    const std::string image = folder.File("disk.img");
    mount = folder.File("mnt");
    ASSERT_EQ(::mkdir(mount.c_str(), 0755), 0);
    ASSERT_EQ(
        Shell("truncate -s 20M '" + image + "' && mkntfs -F -q -f '" + image + "' >/dev/null 2>&1"),
        0)
        << "mkntfs (package ntfs-3g) failed";
    ASSERT_EQ(Shell("ntfs-3g '" + image + "' '" + mount + "'"), 0) << "ntfs-3g failed";
    mounted = true;
  }

  // The mount goes on every path, a failed test's too.
  void TearDown() override {
    if (mounted && Shell("fusermount -u '" + mount + "' 2>/dev/null") != 0) {
      Shell("umount -l '" + mount + "'");
    }
  }

  static int Shell(const std::string& command) { return std::system(command.c_str()); }

  TempFolder folder;
  std::string mount;
  bool mounted = false;
};

TEST_F(HiveNtfsTest, TheHiveAndItsBackupKeepTheNtfsDescriptorAndAttributes) {
  const std::string hive = mount + "/SYSTEM";
  MemoryRegistry tree;
  tree.LoadRegFile(std::string(MODEMCONFIG_FIXTURES_DIR) + "/scan_roots.reg");
  tree.DeleteKey("SYSTEM\\CurrentControlSet");
  BuildHive(hive, tree, 1);
  ASSERT_EQ(::setxattr(hive.c_str(), "system.ntfs_acl", kSystemAndAdministratorsOnly.data(),
                       kSystemAndAdministratorsOnly.size(), 0),
            0);
  ASSERT_EQ(::setxattr(hive.c_str(), "system.ntfs_attrib", kHiveAttributes.data(),
                       kHiveAttributes.size(), 0),
            0);
  const std::vector<std::uint8_t> descriptor = Attribute(hive, "system.ntfs_acl");
  const std::vector<std::uint8_t> attributes = Attribute(hive, "system.ntfs_attrib");
  ASSERT_FALSE(descriptor.empty());
  ASSERT_EQ(attributes, kHiveAttributes);
  const std::vector<std::uint8_t> before = ReadBytes(hive);

  ReportText out, err;
  ASSERT_EQ(RunModemPrefixOnHive({"--hive", hive, "secure"}, out, err), 0) << err.str();
  EXPECT_NE(ReadBytes(hive), before);
  EXPECT_EQ(ReadBytes(hive + ".bak"), before);
  for (const std::string& file : {hive, hive + ".bak"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(Attribute(file, "system.ntfs_acl"), descriptor);
    EXPECT_EQ(Attribute(file, "system.ntfs_attrib"), attributes);
  }

  // And back, without a backup: the descriptor does not hang on the backup's hard link.
  ReportText again, againErr;
  ASSERT_EQ(RunModemPrefixOnHive({"--hive", hive, "normal", "--no-backup"}, again, againErr), 0)
      << againErr.str();
  EXPECT_EQ(Attribute(hive, "system.ntfs_acl"), descriptor);
  EXPECT_EQ(Attribute(hive, "system.ntfs_attrib"), attributes);
}

}  // namespace
