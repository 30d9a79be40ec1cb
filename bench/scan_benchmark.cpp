// The modem scan on an in-memory registry of 1,000,000 keys, against a bare traversal of the
// same tree: the same six registry operations in the same sequence, with none of the scan's own
// work (no path string, no copied or upper-cased names, no records). What the scan takes beyond
// the bare traversal is the cost of its own code; the goal is a scan within twice the bare
// traversal's time. Before timing, both are run once through a tracing registry and must make
// exactly the same calls with the same arguments.
//
// Figures only: the program exits 0 whatever it measures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "discovery/modem_inventory.h"
#include "discovery/modem_scan.h"
#include "platform/memory_registry.h"
#include "tests/support/forwarding_registry.h"

namespace {

constexpr std::size_t kKeyCount = 1'000'000;  // keys below the roots, the root of the tree included
constexpr std::size_t kFanOut = 10;           // subkeys of every key but the last level's
constexpr std::size_t kModemEvery = 1000;     // one key in this many is a modem settings key
constexpr char kTreeRoot[] = "SYSTEM\\ControlSet001";

// ---- The tree.

// A control set of kKeyCount keys, filled breadth first, kFanOut subkeys a key. Two keys in
// three hold values: a name and a flags word, as device keys do; every kModemEvery-th key is a
// modem settings key besides. The other two roots do not exist: their opens fail at once.
MemoryRegistry& Tree() {
  static MemoryRegistry* const registry = [] {
    auto* built = new MemoryRegistry;
    std::vector<std::string> paths{kTreeRoot};
    paths.reserve(kKeyCount);
    char name[32];
    for (std::size_t parent = 0; paths.size() < kKeyCount; ++parent) {
      for (std::size_t child = 0; child < kFanOut && paths.size() < kKeyCount; ++child) {
        std::snprintf(name, sizeof name, "\\Subkey%04zu", child);
        paths.push_back(paths[parent] + name);
      }
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const std::string& path = paths[i];
      built->CreateKey(path);
      if (i % 3 != 0) {
        built->SetString(path, "DisplayName", "Device " + std::to_string(i));
        built->SetDword(path, "Flags", static_cast<std::uint32_t>(i));
      }
      if (i % kModemEvery == 0) {
        built->SetString(path, "Tone", "T");
        built->SetString(path, "Pulse", "P");
        built->SetString(path, "DialPrefix", i % (2 * kModemEvery) == 0 ? "D" : "a");
      }
    }
    return built;
  }();
  return *registry;
}

// ---- The bare traversal: the scan's sequence of calls and nothing else.

class BareTraversal {
 public:
  explicit BareTraversal(RegistryOperations& registry)
      : registry_(registry), path_((kMaxWalkDepth + 2) * (kRegBufferSize + 1)) {}

  // Visits the three roots as the scan does; returns the number of modem settings keys found.
  std::size_t Run() {
    modems_ = 0;
    for (const char* root : kControlSetRoots) {
      const std::size_t length = std::strlen(root);
      std::memcpy(path_.data(), root, length + 1);
      Walk(length, 0);
    }
    return modems_;
  }

 private:
  void Walk(std::size_t length, int depth) {
    RegKeyHandle key = nullptr;
    if (registry_.OpenKey(path_.data(), &key) != regstatus::kSuccess) return;
    RegKeyInfo info;
    if (registry_.QueryKey(key, &info) == regstatus::kSuccess) {
      if (info.maxSubKeyNameLength < kRegBufferSize && depth < kMaxWalkDepth) {
        for (std::uint32_t index = 0; index < info.subKeyCount; ++index) {
          std::uint32_t size = kRegBufferSize;
          if (registry_.EnumSubkey(key, index, name_, &size) != regstatus::kSuccess) break;
          if (std::strlen(name_) != size) continue;
          path_[length] = '\\';
          std::memcpy(&path_[length + 1], name_, size + 1);
          Walk(length + 1 + size, depth + 1);
          path_[length] = '\0';
        }
      }
      if (info.valueCount > 0) Inspect();
    }
    registry_.CloseKey(key);
  }

  // Compares a name with an upper-case literal, ASCII letters matching either case.
  static bool NameIs(const char* name, const char* upper) {
    for (; *upper != '\0'; ++name, ++upper) {
      const char c = (*name >= 'a' && *name <= 'z') ? static_cast<char>(*name - 32) : *name;
      if (c != *upper) return false;
    }
    return *name == '\0';
  }

  void Inspect() {
    RegKeyHandle key = nullptr;
    if (registry_.OpenKey(path_.data(), &key) != regstatus::kSuccess) return;
    RegKeyInfo info;
    if (registry_.QueryKey(key, &info) == regstatus::kSuccess &&
        info.maxValueNameLength < kRegBufferSize && info.maxValueDataLength < kRegBufferSize) {
      bool tone = false, pulse = false, prefix = false;
      for (std::uint32_t index = 0; index < info.valueCount; ++index) {
        std::uint32_t nameSize = kRegBufferSize, dataSize = kRegBufferSize, type = 0;
        if (registry_.EnumValue(key, index, name_, &nameSize, &type, data_, &dataSize) !=
            regstatus::kSuccess) {
          break;
        }
        if (NameIs(name_, "TONE")) {
          tone = true;
        } else if (NameIs(name_, "PULSE")) {
          pulse = true;
        } else if (NameIs(name_, "DIALPREFIX")) {
          const char first = static_cast<char>(data_[0] & ~0x20);
          prefix =
              dataSize >= 1 && (first == 'D' || first == 'A') && (dataSize == 1 || data_[1] == 0);
        }
      }
      if (tone && pulse && prefix) ++modems_;
    }
    registry_.CloseKey(key);
  }

  RegistryOperations& registry_;
  std::vector<char> path_;
  char name_[kRegBufferSize];
  std::uint8_t data_[kRegBufferSize];
  std::size_t modems_ = 0;
};

// ---- The check that both make the same calls.

// Passes every call on and folds the operation, its arguments and its status into a hash.
// Handle values differ from run to run (the registry never reuses one), so a handle is folded
// as the number of the open that issued it.
class TracingRegistry final : public ForwardingRegistry {
 public:
  explicit TracingRegistry(RegistryOperations& inner) : ForwardingRegistry(inner) {}

  RegStatus OpenKey(const char* path, RegKeyHandle* key) override {
    Fold(1);
    Fold(path, std::strlen(path));
    const RegStatus status = ForwardingRegistry::OpenKey(path, key);
    if (status == regstatus::kSuccess) handleNumbers_[*key] = opened_++;
    return Result(status);
  }
  RegStatus QueryKey(RegKeyHandle key, RegKeyInfo* info) override {
    Fold(2);
    Fold(key);
    return Result(ForwardingRegistry::QueryKey(key, info));
  }
  RegStatus EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                       std::uint32_t* nameSize) override {
    Fold(3);
    Fold(key);
    Fold(index);
    Fold(*nameSize);
    return Result(ForwardingRegistry::EnumSubkey(key, index, name, nameSize));
  }
  RegStatus EnumValue(RegKeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                      std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) override {
    Fold(4);
    Fold(key);
    Fold(index);
    Fold(*nameSize);
    Fold(*dataSize);
    return Result(ForwardingRegistry::EnumValue(key, index, name, nameSize, type, data, dataSize));
  }
  RegStatus SetStringValue(RegKeyHandle key, const char* name, const char* text) override {
    Fold(5);
    Fold(key);
    return Result(ForwardingRegistry::SetStringValue(key, name, text));
  }
  RegStatus CloseKey(RegKeyHandle key) override {
    Fold(6);
    Fold(key);
    return Result(ForwardingRegistry::CloseKey(key));
  }

  [[nodiscard]] std::uint64_t Hash() const { return hash_; }
  [[nodiscard]] std::uint64_t Calls() const { return calls_; }

 private:
  void Fold(RegKeyHandle key) {
    const auto found = handleNumbers_.find(key);
    Fold(found == handleNumbers_.end() ? ~0ull : found->second);
  }
  void Fold(std::uint64_t value) { Fold(&value, sizeof value); }
  void Fold(const void* bytes, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i) hash_ = (hash_ ^ p[i]) * 0x100000001B3ull;  // FNV-1a
  }
  RegStatus Result(RegStatus status) {
    ++calls_;
    Fold(static_cast<std::uint64_t>(static_cast<std::uint32_t>(status)));
    return status;
  }

  std::uint64_t hash_ = 0xCBF29CE484222325ull;
  std::uint64_t calls_ = 0;
  std::uint64_t opened_ = 0;
  std::unordered_map<RegKeyHandle, std::uint64_t> handleNumbers_;
};

struct Trace {
  std::uint64_t hash, calls;
  std::size_t modems;
};

template <typename Traverse>
Trace TraceOf(Traverse traverse) {
  TracingRegistry tracer(Tree());
  const std::size_t modems = traverse(static_cast<RegistryOperations&>(tracer));
  return {tracer.Hash(), tracer.Calls(), modems};
}

std::size_t Scan(RegistryOperations& registry) {
  ModemInventory inventory;
  inventory.CreateLists();
  NameBuffer nameBuffer{};
  ModemScanner(registry, inventory, nameBuffer).ScanModemSettings();
  return inventory.Count();
}

// ---- The benchmarks.

void BM_Scan(benchmark::State& state) {
  MemoryRegistry& registry = Tree();
  for (auto _ : state) benchmark::DoNotOptimize(Scan(registry));
  state.counters["keys/s"] =
      benchmark::Counter(kKeyCount, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_BareTraversal(benchmark::State& state) {
  BareTraversal traversal(Tree());
  for (auto _ : state) benchmark::DoNotOptimize(traversal.Run());
  state.counters["keys/s"] =
      benchmark::Counter(kKeyCount, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BareTraversal)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Shows the usual table and keeps each benchmark's CPU time for one iteration, in seconds (the
// median when repetitions are asked for). CPU time, not elapsed time: on a machine shared with
// other work the elapsed time measures the other work too.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.run_name.function_name;
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        if (seconds_.count(name) == 0 || !hasMedian_[name]) {
          seconds_[name] = run.cpu_accumulated_time / static_cast<double>(run.iterations);
        }
      } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        seconds_[name] = run.cpu_accumulated_time / static_cast<double>(run.iterations);
        hasMedian_[name] = true;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  [[nodiscard]] const std::map<std::string, double>& Seconds() const { return seconds_; }
  [[nodiscard]] bool HasMedians() const { return !hasMedian_.empty(); }

 private:
  std::map<std::string, double> seconds_;
  std::map<std::string, bool> hasMedian_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::printf("Building a registry of %zu keys below %s...\n", kKeyCount, kTreeRoot);
  Tree();
  // Both once, untimed: the same calls, the same modems, and the registry's listings warm.
  const Trace scan = TraceOf([](RegistryOperations& r) { return Scan(r); });
  const Trace bare = TraceOf([](RegistryOperations& r) { return BareTraversal(r).Run(); });
  std::printf(
      "Registry calls a scan makes: %llu (bare traversal: %llu, %s sequence); modem "
      "keys found: %zu (bare traversal: %zu)\n",
      static_cast<unsigned long long>(scan.calls), static_cast<unsigned long long>(bare.calls),
      scan.hash == bare.hash ? "the same" : "A DIFFERENT", scan.modems, bare.modems);
  if (scan.hash != bare.hash || scan.calls != bare.calls || scan.modems != bare.modems) {
    std::printf("The bare traversal does not make the scan's calls: no comparison is possible.\n");
    return 0;
  }

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const auto& seconds = reporter.Seconds();
  const auto scanTime = seconds.find("BM_Scan");
  const auto bareTime = seconds.find("BM_BareTraversal");
  if (scanTime == seconds.end() || bareTime == seconds.end()) return 0;  // filtered out
  const double ratio = scanTime->second / bareTime->second;
  std::printf("\nCPU time of one scan of %zu keys (%s):\n", kKeyCount,
              reporter.HasMedians() ? "median of the repetitions" : "mean of the iterations");
  std::printf("Scan:           %8.0f ms, %6.2f million keys/s\n", scanTime->second * 1e3,
              kKeyCount / scanTime->second / 1e6);
  std::printf("Bare traversal: %8.0f ms, %6.2f million keys/s\n", bareTime->second * 1e3,
              kKeyCount / bareTime->second / 1e6);
  std::printf("The scan's own code: %.0f ns a key (%.0f%% of the scan)\n",
              (scanTime->second - bareTime->second) / kKeyCount * 1e9,
              100.0 * (scanTime->second - bareTime->second) / scanTime->second);
  std::printf("Goal: the scan within 2x of the bare traversal. Ratio %.2fx: %s.\n", ratio,
              ratio <= 2.0 ? "met" : "NOT met");
  return 0;
}
