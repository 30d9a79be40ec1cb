// libFuzzer target of the hive registry: the input is a hive file, malformed as the fuzzer
// likes. Each input is written to a file of a private folder and opened for writing (for
// reading where that is refused); then the scan, the switch to secure access and the commit
// run on it, and the new file is opened and scanned again. Checked after every input:
// - a refused open gives an error class and one line naming the file, and no registry;
// - every key the scan records opens again by its path; no key is left open;
// - a commit that succeeds leaves a file that opens cleanly and scans to the same keys, with
//   no file left beside it; one that fails leaves the input's bytes untouched.
// A failed check prints what failed and aborts, which libFuzzer reports as a crash.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "discovery/modem_inventory.h"
#include "discovery/modem_scan.h"
#include "platform/hive_registry.h"
#include "switching/dial_prefix_switch.h"

namespace {

std::string g_folder;
std::string g_hive;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "\nhive_fuzzer: invariant failed: %s\n  %s\n", what, detail.c_str());
  std::abort();
}

#define CHECK_INVARIANT(condition, detail)      \
  do {                                          \
    if (!(condition)) Fail(#condition, detail); \
  } while (0)

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Scan(HiveRegistry& hive, ModemInventory& inventory) {
  inventory.CreateLists();
  NameBuffer nameBuffer{};
  ModemScanner(hive, inventory, nameBuffer).ScanModemSettings();
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < inventory.Count(); ++i) {
    const std::string& path = inventory.keyPaths->GetAt(i);
    RegKey key(hive);
    CHECK_INVARIANT(key.Open(path.c_str()) == regstatus::kSuccess, "recorded " + path);
    paths.push_back(path);
  }
  CHECK_INVARIANT(hive.OpenHandleCount() == 0, "keys left open after the scan");
  return paths;
}

void CheckRefusal(const HiveProblem& problem) {
  CHECK_INVARIANT(problem.error != HiveError::kNone, problem.message);
  CHECK_INVARIANT(problem.message.rfind(g_hive + ": ", 0) == 0, problem.message);
  CHECK_INVARIANT(problem.message.find('\n') == std::string::npos, problem.message);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory where the machine has a tmpfs: every commit flushes its files to disk.
  const std::string base = std::filesystem::is_directory("/dev/shm")
                               ? std::string("/dev/shm")
                               : std::filesystem::temp_directory_path().string();
  std::string pattern = base + "/hive-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  g_folder = pattern;
  g_hive = g_folder + "/SYSTEM";
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(g_hive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  HiveProblem problem;
  auto hive = HiveRegistry::Open(g_hive, HiveAccess::kWrite, &problem);
  if (!hive) {
    CheckRefusal(problem);
    hive = HiveRegistry::Open(g_hive, HiveAccess::kRead, &problem);
    if (!hive) {
      CheckRefusal(problem);
      return 0;
    }
  }
  CHECK_INVARIANT(!hive->Mapping().note.empty(), "no note on CurrentControlSet");
  ModemInventory inventory;
  const std::vector<std::string> before = Scan(*hive, inventory);
  WriteTargetPrefix(*hive, inventory, TargetMode::kSecureAccess);
  CHECK_INVARIANT(hive->OpenHandleCount() == 0, "keys left open after the switch");

  const HiveProblem written = hive->Commit({.keepBackup = false, .stepHook = {}});
  hive.reset();
  if (written.error != HiveError::kNone) {
    CHECK_INVARIANT(FileBytes(g_hive) == std::vector<std::uint8_t>(data, data + size),
                    "a failed commit changed the file: " + written.message);
    return 0;
  }
  auto reread = HiveRegistry::Open(g_hive, HiveAccess::kRead, &problem);
  CHECK_INVARIANT(reread != nullptr, "the committed hive does not open: " + problem.message);
  CHECK_INVARIANT(reread->Warnings().empty(), "the committed hive is not clean");
  ModemInventory after;
  CHECK_INVARIANT(Scan(*reread, after) == before, "the committed hive scans to other keys");
  CHECK_INVARIANT(std::distance(std::filesystem::directory_iterator(g_folder),
                                std::filesystem::directory_iterator()) == 1,
                  "a file was left beside the hive");
  return 0;
}
