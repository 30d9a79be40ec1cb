// The scan and the switch on an offline SYSTEM hive file of about 100,000 keys.
//
// - The scan through the hive registry against a bare walk of the same hive through hivex that
//   reads what the scan needs (every key's subkeys, every value's name, type and data) and
//   nothing more: the ratio is the cost of the registry layer (paths, name conversion, handles).
//   The scan walks ControlSet001 twice, once through CurrentControlSet (Select\Current is 1)
//   and once by its own name; so does the bare walk.
// - The switch to secure access on a copy of the hive: open for writing, scan, writes, and the
//   atomic commit with a backup.
// Each measurement runs in a new process of this program (fork and exec), so its peak memory
// is its own and it starts on a fresh heap: a forked child would inherit the heap that making
// the hive left behind, which made the bare walk twice as fast as in a program of its own and
// the scan vary by half from run to run. Times are processor time (user and system) of that
// process.
//
//   hive_benchmark [--keys N] [--repetitions R] [--folder DIR]
//
// Figures only: the program exits 0 whatever it measures.
#include <hivex.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "discovery/modem_inventory.h"
#include "discovery/modem_scan.h"
#include "platform/hive_registry.h"
#include "switching/dial_prefix_switch.h"
#include "tests/common/hive_fixture.h"

namespace {

constexpr std::size_t kFanOut = 10;
constexpr std::size_t kModemEvery = 1000;

// Processor time of this process: on a machine shared with other builds, wall-clock time
// says more about the neighbours than about the code.
struct Clock {
  using time_point = double;
  static double now() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
};

double Seconds(Clock::time_point since) { return Clock::now() - since; }

std::string Utf16(const std::string& ascii, bool terminator = true) {
  std::string data;
  for (char c : ascii) {
    data += c;
    data += '\0';
  }
  if (terminator) data.append(2, '\0');
  return data;
}

// A SYSTEM hive: ControlSet001 of `keys` keys filled breadth first, kFanOut subkeys a key; two
// keys in three hold a name and a flags word, every kModemEvery-th is a modem settings key.
// Built with hivex directly, from the minimal empty hive.
void Generate(const std::string& path, std::size_t keys) {
  WriteBytes(path, MinimalEmptyHive());
  hive_h* hive = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  if (hive == nullptr) std::abort();
  const hive_node_h root = hivex_root(hive);
  const hive_node_h select = hivex_node_add_child(hive, root, "Select");
  std::uint32_t one = 1;
  hive_set_value current{const_cast<char*>("Current"), hive_t_REG_DWORD, 4,
                         reinterpret_cast<char*>(&one)};
  hivex_node_set_value(hive, select, &current, 0);

  std::vector<hive_node_h> nodes{hivex_node_add_child(hive, root, "ControlSet001")};
  nodes.reserve(keys);
  char name[32];
  for (std::size_t parent = 0; nodes.size() < keys; ++parent) {
    for (std::size_t child = 0; child < kFanOut && nodes.size() < keys; ++child) {
      std::snprintf(name, sizeof name, "Subkey%04zu", child);
      nodes.push_back(hivex_node_add_child(hive, nodes[parent], name));
    }
  }
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    std::vector<std::string> data;
    std::vector<hive_set_value> values;
    const auto add = [&](const char* valueName, hive_type type, std::string bytes) {
      data.push_back(std::move(bytes));
      values.push_back({const_cast<char*>(valueName), type, 0, nullptr});
    };
    if (i % 3 != 0) {
      add("DisplayName", hive_t_REG_SZ, Utf16("Device " + std::to_string(i)));
      const auto flags = static_cast<std::uint32_t>(i);
      add("Flags", hive_t_REG_DWORD, std::string(reinterpret_cast<const char*>(&flags), 4));
    }
    if (i % kModemEvery == 0) {
      add("Tone", hive_t_REG_SZ, Utf16("T"));
      add("Pulse", hive_t_REG_SZ, Utf16("P"));
      add("DialPrefix", hive_t_REG_SZ, Utf16(i % (2 * kModemEvery) == 0 ? "D" : "A"));
    }
    for (std::size_t v = 0; v < values.size(); ++v) {
      values[v].len = data[v].size();
      values[v].value = data[v].data();
    }
    if (!values.empty()) hivex_node_set_values(hive, nodes[i], values.size(), values.data(), 0);
  }
  if (hivex_commit(hive, nullptr, 0) != 0) std::abort();
  hivex_close(hive);
}

// ---- The bare walk: what the scan reads, through hivex alone.

std::size_t BareWalk(hive_h* hive, hive_node_h node) {
  std::size_t modems = 0;
  hive_node_h* children = hivex_node_children(hive, node);
  for (hive_node_h* child = children; *child != 0; ++child) {
    std::free(hivex_node_name(hive, *child));
    modems += BareWalk(hive, *child);
  }
  std::free(children);
  hive_value_h* values = hivex_node_values(hive, node);
  for (hive_value_h* value = values; *value != 0; ++value) {
    char* key = hivex_value_key(hive, *value);
    hive_type type;
    std::size_t size = 0;
    std::free(hivex_value_value(hive, *value, &type, &size));
    if (strcasecmp(key, "DialPrefix") == 0) ++modems;
    std::free(key);
  }
  std::free(values);
  return modems;
}

// ---- Measurements, each in a child process.

struct Figures {
  double seconds[3] = {0, 0, 0};  // up to three phases
  long peakKilobytes = 0;
  long count = 0;  // modem settings keys found, or keys written
};

// Runs the measurement `kind` (scan, bare or switch) on `hive` in a new process of this
// program, which writes its figures to a pipe.
Figures Measure(const char* kind, const std::string& hive) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) std::abort();
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    const std::string fd = std::to_string(pipeEnds[1]);
    ::execl("/proc/self/exe", "hive_benchmark", "--measure", kind, hive.c_str(), fd.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeEnds[1]);
  Figures figures;
  const bool complete = ::read(pipeEnds[0], &figures, sizeof figures) == sizeof figures;
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!complete) {
    std::fprintf(stderr, "hive_benchmark: a measurement failed\n");
    std::exit(0);
  }
  return figures;
}

std::size_t ScanRecords(HiveRegistry& hive, ModemInventory& inventory) {
  inventory.CreateLists();
  NameBuffer nameBuffer{};
  ModemScanner(hive, inventory, nameBuffer).ScanModemSettings();
  return inventory.Count();
}

Figures ScanThroughRegistry(const std::string& path) {
  Figures figures;
  const auto start = Clock::now();
  HiveProblem problem;
  auto hive = HiveRegistry::Open(path, HiveAccess::kRead, &problem);
  if (!hive) std::abort();
  ModemInventory inventory;
  figures.count = static_cast<long>(ScanRecords(*hive, inventory));
  figures.seconds[0] = Seconds(start);
  return figures;
}

Figures ScanThroughHivex(const std::string& path) {
  Figures figures;
  const auto start = Clock::now();
  hive_h* hive = hivex_open(path.c_str(), 0);
  if (hive == nullptr) std::abort();
  const hive_node_h set = hivex_node_get_child(hive, hivex_root(hive), "ControlSet001");
  figures.count = static_cast<long>(BareWalk(hive, set) + BareWalk(hive, set));
  figures.seconds[0] = Seconds(start);
  hivex_close(hive);
  return figures;
}

// On a copy of the hive, which the caller makes.
Figures SwitchAndCommit(const std::string& work) {
  Figures figures;
  auto start = Clock::now();
  HiveProblem problem;
  auto hive = HiveRegistry::Open(work, HiveAccess::kWrite, &problem);
  if (!hive) std::abort();
  ModemInventory inventory;
  ScanRecords(*hive, inventory);
  figures.seconds[0] = Seconds(start);
  start = Clock::now();
  figures.count = static_cast<long>(
      WriteTargetPrefix(*hive, inventory, TargetMode::kSecureAccess).WritesSucceeded());
  figures.seconds[1] = Seconds(start);
  start = Clock::now();
  if (hive->Commit({.keepBackup = true, .stepHook = {}}).error != HiveError::kNone) std::abort();
  figures.seconds[2] = Seconds(start);
  return figures;
}

// In the process that Measure started: one measurement, its figures to descriptor `fd`.
int MeasureHere(const std::string& kind, const std::string& hive, int fd) {
  Figures figures = kind == "scan"   ? ScanThroughRegistry(hive)
                    : kind == "bare" ? ScanThroughHivex(hive)
                                     : SwitchAndCommit(hive);
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  figures.peakKilobytes = usage.ru_maxrss;
  return ::write(fd, &figures, sizeof figures) == sizeof figures ? 0 : 1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--measure") {
    return MeasureHere(argv[2], argv[3], std::atoi(argv[4]));
  }
  std::size_t keys = 100'000;
  int repetitions = 3;
  std::string folder;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--keys") keys = std::strtoull(argv[i + 1], nullptr, 10);
    if (option == "--repetitions") repetitions = std::max(1, std::atoi(argv[i + 1]));
    if (option == "--folder") folder = argv[i + 1];
  }
  TempFolder temporary;
  if (folder.empty()) folder = temporary.Path();
  const std::string hive = folder + "/SYSTEM";
  const std::string work = folder + "/SYSTEM.work";

  auto start = Clock::now();
  Generate(hive, keys);
  std::printf("Generated a SYSTEM hive of %zu keys below ControlSet001 (%ju bytes) in %.2f s\n",
              keys, static_cast<std::uintmax_t>(std::filesystem::file_size(hive)), Seconds(start));

  std::vector<double> registryTimes, hivexTimes, openScan, writes, commits;
  Figures registry, bare, switched;
  for (int r = 0; r < repetitions; ++r) {
    registry = Measure("scan", hive);
    bare = Measure("bare", hive);
    std::filesystem::copy_file(hive, work, std::filesystem::copy_options::overwrite_existing);
    for (const char* suffix : {".bak", ".bak.1"}) std::filesystem::remove(work + suffix);
    switched = Measure("switch", work);
    registryTimes.push_back(registry.seconds[0]);
    hivexTimes.push_back(bare.seconds[0]);
    openScan.push_back(switched.seconds[0]);
    writes.push_back(switched.seconds[1]);
    commits.push_back(switched.seconds[2]);
  }
  const double scan = Median(registryTimes), walk = Median(hivexTimes);
  std::printf("Medians of %d runs; walks of 2 x %zu keys:\n", repetitions, keys);
  std::printf("  scan through the hive registry  %8.3f s  peak %6ld MB  %ld records\n", scan,
              registry.peakKilobytes / 1024, registry.count);
  std::printf("  bare walk through hivex         %8.3f s  peak %6ld MB  %ld modem keys\n", walk,
              bare.peakKilobytes / 1024, bare.count);
  std::printf("  ratio scan / bare walk          %8.2f\n", walk > 0 ? scan / walk : 0.0);
  std::printf("Switch to secure access (%ld writes), peak %ld MB:\n", switched.count,
              switched.peakKilobytes / 1024);
  std::printf("  open for writing and scan       %8.3f s\n", Median(openScan));
  std::printf("  writes in memory                %8.3f s\n", Median(writes));
  std::printf("  atomic commit with backup       %8.3f s\n", Median(commits));
  std::printf("  total                           %8.3f s\n",
              Median(openScan) + Median(writes) + Median(commits));
  return 0;
}
