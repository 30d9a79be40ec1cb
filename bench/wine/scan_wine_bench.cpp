// Times the modem scan on Wine's real registry, filled with a generated control set below
// SYSTEM\ControlSet001 (scripts/run-wine-bench runs it in a fresh prefix of its own):
//
//   (a) the tool's scan: ModemScanner on the advapi32 registry operations;
//   (b) the same advapi32 calls replayed from a recording, with nothing else around them;
//   (c) the least registry work that finds the same keys with the same operations: children
//       opened relative to their parent, values read on the handle already open;
//   (d) `reg query HKLM\SYSTEM\ControlSet001 /s`, Wine's own listing of the control set.
//
// Each is timed several times, in rounds of a, b, c, d so that a machine growing busier slows
// all four alike, and the medians are compared: a/b is what the scan's own code costs, a/c
// what its way of using the registry costs, a/d how it compares with a plain listing. Before
// any figure is believed the four are checked against each other: the replay returns every
// status the scan got, and the least-work walk finds the same records, in the same order, as
// the scan and the generator planted. Then the real tool is started on the same registry and
// timed until its dialog is visible, twice: the first GUI program of a Wine session waits for
// Wine's desktop process as well.
//
//   scan_wine_bench.exe [--keys N] [--seed N] [--runs N]
//
// Exits 0 when every figure was measured and checked (goals missed or not), 1 when something
// could not be measured or the checks failed, 2 on a bad command line.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "bench/wine/control_set.h"
#include "bench/wine/least_work_walk.h"
#include "bench/wine/registry_calls.h"
#include "bench/wine/tool_dialog.h"
#include "discovery/modem_inventory.h"
#include "discovery/modem_scan.h"
#include "platform/win32_registry.h"

#ifndef MODEMCONFIG_TOOL_EXE
#error "MODEMCONFIG_TOOL_EXE must name the built tool (a Windows path)"
#endif
#ifndef MODEMCONFIG_COMPANION_EXE
#error "MODEMCONFIG_COMPANION_EXE must name the built modemprefix.exe (a Windows path)"
#endif

namespace {

// The goals.
constexpr double kMostScanOverReplay = 1.05;
constexpr double kMostScanOverLeastWork = 1.25;
constexpr double kScanOverListingBelow = 0.5;
constexpr std::uint64_t kMostToolBytes = 200 * 1024;

constexpr int kMostRuns = 9;
constexpr DWORD kPauseAfterListingMs = 5000;

struct Options {
  ControlSetOptions tree;
  int runs = 3;
};

// Reads the command line into `options`; returns what is wrong with it, or "".
std::string ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (i + 1 >= argc) return "missing value after " + std::string(option);
    char* end = nullptr;
    const unsigned long long value = std::strtoull(argv[++i], &end, 10);
    if (end == argv[i] || *end != '\0') return "not a number: " + std::string(argv[i]);
    if (option == "--keys") {
      if (value < kControlSetMinKeys || value > kControlSetMaxKeys) {
        return "--keys must be from " + std::to_string(kControlSetMinKeys) + " to " +
               std::to_string(kControlSetMaxKeys);
      }
      options->tree.keys = static_cast<std::size_t>(value);
    } else if (option == "--seed") {
      options->tree.seed = value;
    } else if (option == "--runs") {
      if (value < 1 || value > kMostRuns) return "--runs must be from 1 to 9";
      options->runs = static_cast<int>(value);
    } else {
      return "unknown option " + std::string(option);
    }
  }
  return "";
}

// ---- Small helpers.

class Stopwatch {
 public:
  Stopwatch() { ::QueryPerformanceCounter(&m_start); }
  [[nodiscard]] double Seconds() const {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - m_start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
  }

 private:
  LARGE_INTEGER m_start;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// 1234567 as "1,234,567".
std::string Thousands(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void Say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// ---- Filling the registry.

// Creates each generated key below its parent's open handle and sets its values; stops at the
// first failure and remembers it.
class RegistryFiller final : public ControlSetSink {
 public:
  RegistryFiller() = default;
  ~RegistryFiller() override {
    for (HKEY key : m_keys) {
      if (key != nullptr) ::RegCloseKey(key);
    }
  }
  RegistryFiller(const RegistryFiller&) = delete;
  RegistryFiller& operator=(const RegistryFiller&) = delete;

  void EnterKey(std::string_view name) override {
    HKEY key = nullptr;
    if (m_error.empty()) {
      const std::string text(name);
      DWORD disposition = 0;
      const LSTATUS status = ::RegCreateKeyExA(m_keys.empty() ? HKEY_LOCAL_MACHINE : m_keys.back(),
                                               text.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_ALL_ACCESS, nullptr, &key, &disposition);
      if (status != ERROR_SUCCESS) {
        Fail("creating key " + text, status);
        key = nullptr;
      } else if (disposition != REG_CREATED_NEW_KEY) {
        Fail("key " + text + " exists already: the prefix is not a fresh one", 0);
      }
    }
    m_keys.push_back(key);
  }

  void Value(std::string_view name, std::uint32_t type, const std::uint8_t* data,
             std::size_t size) override {
    if (!m_error.empty()) return;
    const std::string text(name);
    const LSTATUS status =
        ::RegSetValueExA(m_keys.back(), text.c_str(), 0, type, data, static_cast<DWORD>(size));
    if (status != ERROR_SUCCESS) Fail("setting value " + text, status);
  }

  void LeaveKey() override {
    if (m_keys.back() != nullptr) ::RegCloseKey(m_keys.back());
    m_keys.pop_back();
  }

  [[nodiscard]] const std::string& Error() const { return m_error; }

 private:
  void Fail(const std::string& what, LSTATUS status) {
    if (m_error.empty()) m_error = what + (status ? " failed with " + std::to_string(status) : "");
  }

  std::vector<HKEY> m_keys;
  std::string m_error;
};

// ---- (a) The scan.

std::vector<ModemRecord> RecordsOf(const ModemInventory& inventory) {
  std::vector<ModemRecord> records;
  for (std::size_t i = 0; i < inventory.Count(); ++i) {
    records.push_back({inventory.keyPaths->GetAt(i), inventory.dialPrefixes->GetAt(i)});
  }
  return records;
}

// One scan as the dialog runs it, on fresh lists; `seconds` receives the scan's own time.
std::vector<ModemRecord> Scan(RegistryOperations& registry, double* seconds) {
  ModemInventory inventory;
  inventory.CreateLists();
  NameBuffer name{};
  ModemScanner scanner(registry, inventory, name);
  const Stopwatch stopwatch;
  scanner.ScanModemSettings();
  *seconds = stopwatch.Seconds();
  return RecordsOf(inventory);
}

// ---- (d) reg query.

constexpr char kListingCommand[] = "reg.exe query HKLM\\SYSTEM\\ControlSet001 /s";

struct Listing {
  std::string error;
  double seconds = 0;
  std::size_t keysListed = 0;  // key lines in its output
};

// Counts the lines of a listing that name a key.
std::size_t KeyLinesIn(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  constexpr char kKeyLine[] = "HKEY_LOCAL_MACHINE\\";
  std::size_t keys = 0;
  std::string line;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    if (c != '\n') {
      if (line.size() < sizeof(kKeyLine)) line.push_back(static_cast<char>(c));
      continue;
    }
    if (line.compare(0, sizeof(kKeyLine) - 1, kKeyLine) == 0) ++keys;
    line.clear();
  }
  std::fclose(file);
  return keys;
}

// Runs reg.exe with its output going to a file (the cheapest place for it under Wine: writes to
// a disk file need no round trip to the server) and times it from start to end.
Listing ListControlSet(const std::string& outputPath) {
  Listing listing;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE output = ::CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    listing.error = "cannot create " + outputPath;
    return listing;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output;
  startup.hStdError = output;
  std::string commandLine = kListingCommand;
  PROCESS_INFORMATION process{};
  const Stopwatch stopwatch;
  const BOOL started = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
  if (started) {
    ::WaitForSingleObject(process.hProcess, INFINITE);
    listing.seconds = stopwatch.Seconds();
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    if (code != 0) listing.error = "reg.exe ended with exit code " + std::to_string(code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  } else {
    listing.error = "cannot start reg.exe (error " + std::to_string(::GetLastError()) + ")";
  }
  ::CloseHandle(output);
  if (listing.error.empty()) listing.keysListed = KeyLinesIn(outputPath);
  ::DeleteFileA(outputPath.c_str());
  return listing;
}

// ---- The tool's file.

struct ToolFile {
  std::uint64_t bytes = 0;
  bool hasSymbols = false;
  bool found = false;
};

// The size of the executable, and whether it still carries a symbol table (a stripped one has
// none: the COFF header's symbol count is 0).
ToolFile InspectToolFile(const char* path) {
  ToolFile tool;
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &attributes)) return tool;
  tool.found = true;
  tool.bytes =
      (static_cast<std::uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  if (FILE* file = std::fopen(path, "rb")) {
    IMAGE_DOS_HEADER dos{};
    IMAGE_FILE_HEADER coff{};
    DWORD signature = 0;
    if (std::fread(&dos, sizeof dos, 1, file) == 1 &&
        std::fseek(file, dos.e_lfanew, SEEK_SET) == 0 &&
        std::fread(&signature, sizeof signature, 1, file) == 1 &&
        std::fread(&coff, sizeof coff, 1, file) == 1 && signature == IMAGE_NT_SIGNATURE) {
      tool.hasSymbols = coff.NumberOfSymbols != 0;
    }
    std::fclose(file);
  }
  return tool;
}

// ---- Reporting.

// One run of `modemprefix status` (or another command that lists the keys, such as `check
// secure`), its standard output in a file: the wall-clock time from start to exit, what it
// printed, and the number of key lines (those naming a path).
struct CompanionRun {
  std::string error;
  double seconds = 0;
  std::size_t keyLines = 0;
  std::string output;
  DWORD exitCode = 0;
};

CompanionRun TimeCompanion(const std::string& command, const std::string& outputPath) {
  CompanionRun run;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE output = ::CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    run.error = "cannot create " + outputPath;
    return run;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = output;
  std::string commandLine = "\"";
  commandLine += MODEMCONFIG_COMPANION_EXE;
  commandLine += "\" " + command;
  PROCESS_INFORMATION started{};
  const Stopwatch stopwatch;
  if (!::CreateProcessA(MODEMCONFIG_COMPANION_EXE, commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started)) {
    ::CloseHandle(output);
    run.error = "modemprefix.exe could not be started";
    return run;
  }
  ::WaitForSingleObject(started.hProcess, INFINITE);
  run.seconds = stopwatch.Seconds();
  ::GetExitCodeProcess(started.hProcess, &run.exitCode);
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  ::CloseHandle(output);
  if (FILE* file = std::fopen(outputPath.c_str(), "rb")) {
    for (int c; (c = std::fgetc(file)) != EOF;) run.output += static_cast<char>(c);
    std::fclose(file);
  }
  for (std::size_t at = 0; at < run.output.size();) {
    if (run.output.compare(at, 7, "SYSTEM\\") == 0) ++run.keyLines;
    const std::size_t end = run.output.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return run;
}

std::string PerKey(const CallCounts& counts, std::size_t keys) {
  const auto per = [&](std::uint64_t calls) {
    return Fixed(static_cast<double>(calls) / static_cast<double>(keys), 2);
  };
  return per(counts.open) + " open, " + per(counts.query) + " query, " + per(counts.enumSubkey) +
         " subkey, " + per(counts.enumValue) + " value, " + per(counts.close) + " close";
}

std::string RunsOf(const std::vector<double>& seconds) {
  std::string text;
  for (const double s : seconds) {
    if (!text.empty()) text += ' ';
    text += Fixed(s, 2);
  }
  return text;
}

void GoalLine(const std::string& what, const std::string& measured, const std::string& goal,
              bool met, const std::string& aside) {
  char line[200];
  std::snprintf(line, sizeof line, "  %-34s %-10s %-15s %s  %s", what.c_str(), measured.c_str(),
                goal.c_str(), met ? "PASS" : "MISS", aside.c_str());
  Say(line);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::string error = ParseOptions(argc, argv, &options); !error.empty()) {
    std::fprintf(stderr,
                 "scan_wine_bench: %s\nusage: scan_wine_bench [--keys N] [--seed N] "
                 "[--runs N]\n",
                 error.c_str());
    return 2;
  }
  bool consistent = true;
  const auto check = [&](bool holds, const std::string& what) {
    if (!holds) {
      Say("CHECK FAILED: " + what);
      consistent = false;
    }
  };

  // ---- The registry.
  HKEY existing = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kControlSetPath, 0, KEY_READ, &existing) ==
      ERROR_SUCCESS) {
    ::RegCloseKey(existing);
    Say(std::string("HKLM\\") + kControlSetPath +
        " exists already: the benchmark fills a fresh prefix (scripts/run-wine-bench makes one).");
    return 1;
  }
  Say("Filling HKLM\\" + std::string(kControlSetPath) + " with " + Thousands(options.tree.keys) +
      " keys (seed " + std::to_string(options.tree.seed) + ")...");
  ControlSetSummary tree;
  {
    RegistryFiller filler;
    const Stopwatch stopwatch;
    try {
      tree = GenerateControlSet(options.tree, filler);
    } catch (const std::exception& error) {
      Say(std::string("Generating the control set failed: ") + error.what());
      return 1;
    }
    if (!filler.Error().empty()) {
      Say("Filling the registry failed: " + filler.Error());
      return 1;
    }
    Say("  " + Thousands(tree.keys) + " keys (" + Thousands(tree.keysWithValues) +
        " with values, " + Thousands(tree.keysWithSubkeys) + " with subkeys), " +
        Thousands(tree.values) + " values (" +
        Fixed(static_cast<double>(tree.values) / static_cast<double>(tree.keys), 2) +
        " a key), depth " + std::to_string(tree.maxDepth) + ", longest path " +
        std::to_string(tree.longestPath) + " bytes; " + std::to_string(tree.modemClassKeys) +
        " modem class keys, " + std::to_string(tree.modems.size()) + " of them qualifying; " +
        Thousands(tree.keysWithLargeData) + " keys with data of 512 bytes or more. Took " +
        Fixed(stopwatch.Seconds(), 1) + " s.");
  }

  // ---- The recording, which also warms everything up.
  Say("Recording the scan's registry calls...");
  Win32Registry advapi32;
  RecordingRegistry recording(advapi32);
  double recordingSeconds = 0;
  const std::vector<ModemRecord> records = Scan(recording, &recordingSeconds);
  if (const std::string problem = recording.Complete(); !problem.empty()) {
    Say("The recording cannot be replayed: " + problem);
    return 1;
  }
  Say("  " + Thousands(recording.Counts().Total()) + " calls in " + Fixed(recordingSeconds, 2) +
      " s.");
  CallReplay replay(recording);
  std::vector<ModemRecord> planted = tree.modems, found = records;
  std::sort(planted.begin(), planted.end());
  std::sort(found.begin(), found.end());
  check(found == planted, "the scan found " + std::to_string(records.size()) +
                              " modem settings keys, not the " +
                              std::to_string(tree.modems.size()) + " planted");

  // ---- The rounds.
  std::vector<double> scanSeconds, replaySeconds, leastSeconds, listingSeconds;
  LeastWorkWalk leastWork;
  const auto timed = [](std::vector<double>& seconds, const auto& run) {
    const Stopwatch stopwatch;
    auto result = run();
    seconds.push_back(stopwatch.Seconds());
    return result;
  };
  char tempDir[MAX_PATH] = {};
  ::GetTempPathA(sizeof tempDir, tempDir);
  const std::string listingPath = std::string(tempDir) + "scan_wine_bench_listing.txt";
  for (int round = 1; round <= options.runs; ++round) {
    double scanTime = 0;
    check(Scan(advapi32, &scanTime) == records, "a scan found other records than the first");
    scanSeconds.push_back(scanTime);

    const std::size_t differing = timed(replaySeconds, [&] { return replay.Run(); });
    check(differing == 0,
          std::to_string(differing) + " replayed calls returned another status or other results");

    check(timed(leastSeconds, [&] { return leastWork.Run(); }) == records,
          "the least-work walk found other records than the scan");
    check(leastWork.KeysPerRoot().size() == 3 && leastWork.KeysPerRoot()[1] == tree.keys,
          "the least-work walk did not reach every generated key");

    const Listing listing = ListControlSet(listingPath);
    if (!listing.error.empty()) {
      Say("The listing failed: " + listing.error);
      return 1;
    }
    listingSeconds.push_back(listing.seconds);
    // The control set's own key has no values, and reg lists a key at the top only with values.
    check(listing.keysListed == tree.keys - 1,
          "reg listed " + Thousands(listing.keysListed) + " keys, not " + Thousands(tree.keys - 1));

    // Whatever runs the next timing would pay for the few seconds of work that reg.exe's exit
    // leaves behind (measured: the run right after it took 15-40% longer, the one after that
    // did not); a pause keeps that out of every figure.
    ::Sleep(kPauseAfterListingMs);

    Say("  round " + std::to_string(round) + " of " + std::to_string(options.runs) + ": (a) " +
        Fixed(scanSeconds.back(), 2) + " s, (b) " + Fixed(replaySeconds.back(), 2) + " s, (c) " +
        Fixed(leastSeconds.back(), 2) + " s, (d) " + Fixed(listingSeconds.back(), 2) + " s");
  }

  // ---- The real tool on the same registry.
  const double scanMedian = Median(scanSeconds), replayMedian = Median(replaySeconds),
               leastMedian = Median(leastSeconds), listingMedian = Median(listingSeconds);
  // Twice: the first GUI program of a Wine session also waits for Wine's desktop process to
  // start (about a second), which a tool started on Windows does not.
  Say("Starting ModemConfig.exe until its dialog is visible, then Cancel (twice)...");
  const auto timeoutMs = static_cast<unsigned long>(60'000 + 4'000 * scanMedian);
  const DialogTiming firstDialog = TimeToolDialog(MODEMCONFIG_TOOL_EXE, timeoutMs);
  const DialogTiming dialog =
      firstDialog.error.empty() ? TimeToolDialog(MODEMCONFIG_TOOL_EXE, timeoutMs) : firstDialog;
  const ToolFile toolFile = InspectToolFile(MODEMCONFIG_TOOL_EXE);
  Say("Running modemprefix.exe status and check secure on the same registry (twice each)...");
  const std::string companionOutput = std::string(tempDir) + "scan_wine_bench_companion";
  std::vector<double> companionSeconds, checkSeconds;
  for (int run = 0; run < 4; ++run) {
    // status, check, status, check: neither is favoured by what the other left in a cache.
    const bool checks = run % 2 == 1;
    const CompanionRun companion = TimeCompanion(checks ? "check secure" : "status",
                                                 companionOutput + std::to_string(run) + ".txt");
    if (!companion.error.empty()) {
      Say("modemprefix.exe: " + companion.error);
      return 1;
    }
    (checks ? checkSeconds : companionSeconds).push_back(companion.seconds);
    // check answers 0 (every key secure) or 1 (some key not): both are a finished scan.
    check(companion.exitCode <= (checks ? 1u : 0u) && companion.keyLines == records.size(),
          std::string("modemprefix ") + (checks ? "check secure" : "status") + " listed " +
              std::to_string(companion.keyLines) + " keys, not the " +
              std::to_string(records.size()) + " the scan recorded:\n" + companion.output);
  }

  // ---- The table.
  const std::vector<std::size_t>& perRoot = leastWork.KeysPerRoot();
  std::size_t walked = 0;
  for (const std::size_t keys : perRoot) walked += keys;
  // reg.exe is not ours to count: its calls follow from the way it lists a key (open relative
  // to the parent, query, every value and, where there are subkeys, every subkey enumerated up
  // to the one past the last, close) and from the tree: 5 a key, plus the values, plus the keys
  // with subkeys, less one (the first key has no parent to be enumerated from).
  const std::uint64_t listingCalls = 5ull * tree.keys + tree.values + tree.keysWithSubkeys - 1;
  const auto perKey = [](std::uint64_t calls, std::size_t keys) {
    return Fixed(static_cast<double>(calls) / static_cast<double>(keys), 2);
  };
  Say("");
  Say("Keys walked below the three roots: " + Thousands(walked) + " (" + kControlSetRoots[0] + " " +
      Thousands(perRoot[0]) + ", " + kControlSetRoots[1] + " " + Thousands(perRoot[1]) + ", " +
      kControlSetRoots[2] + " " + Thousands(perRoot[2]) + "). Medians of " +
      std::to_string(options.runs) + " runs.");
  Say("");
  char line[240];
  std::snprintf(line, sizeof line, "  %-50s %9s  %-22s %11s %9s", "", "median", "runs (s)",
                "reg. calls", "calls/key");
  Say(line);
  const auto row = [&](const char* what, const std::vector<double>& runs, std::uint64_t calls,
                       std::size_t keys, const char* note) {
    std::snprintf(line, sizeof line, "  %-50s %7.2f s  %-22s %11s %9s%s", what, Median(runs),
                  RunsOf(runs).c_str(), Thousands(calls).c_str(), perKey(calls, keys).c_str(),
                  note);
    Say(line);
  };
  row("(a) the tool's scan", scanSeconds, recording.Counts().Total(), walked, "");
  row("(b) its calls replayed, nothing else", replaySeconds, replay.Counts().Total(), walked, "");
  row("(c) least work: relative opens, one handle a key", leastSeconds, leastWork.Counts().Total(),
      walked, "");
  row("(d) reg query HKLM\\SYSTEM\\ControlSet001 /s", listingSeconds, listingCalls, tree.keys,
      "  reckoned; ControlSet001 only");
  Say("");
  Say("  calls a key, (a) and (b): " + PerKey(recording.Counts(), walked));
  Say("  calls a key, (c):         " + PerKey(leastWork.Counts(), walked));
  // A spread this wide means other programs took the processors during some runs.
  double widest = 1;
  for (const auto* runs : {&scanSeconds, &replaySeconds, &leastSeconds, &listingSeconds}) {
    widest = std::max(widest, *std::max_element(runs->begin(), runs->end()) /
                                  *std::min_element(runs->begin(), runs->end()));
  }
  if (widest > 1.1) {
    Say("");
    Say("  NOTE: runs of one kind differ by up to " + Fixed((widest - 1) * 100, 0) +
        "%: the machine was busy and the ratios of times are uncertain; more runs (--runs 5) "
        "or a quiet machine help. The ratios of calls are exact.");
  }
  Say("");
  if (dialog.error.empty()) {
    Say("ModemConfig.exe: dialog visible " + Fixed(dialog.secondsToVisible, 2) +
        " s after the process started, its scan included (the first start in this Wine session: " +
        Fixed(firstDialog.secondsToVisible, 2) + " s); ended " +
        Fixed(dialog.secondsCancelToExit, 2) + " s after Cancel, exit code " +
        std::to_string(dialog.exitCode) + ".");
  } else {
    Say("ModemConfig.exe: " + dialog.error);
  }

  Say("modemprefix.exe status: " + Fixed(Median(companionSeconds), 2) + " s from start to exit (" +
      RunsOf(companionSeconds) + " s), against the dialog's scan (a): ratio " +
      Fixed(Median(companionSeconds) / scanMedian, 3) +
      " (the same scan, so about 1; the rest is starting a process and printing).");
  Say("modemprefix.exe check secure: " + Fixed(Median(checkSeconds), 2) +
      " s from start to exit (" + RunsOf(checkSeconds) + " s), against status: ratio " +
      Fixed(Median(checkSeconds) / Median(companionSeconds), 3) + " (the same scan, so about 1).");

  // ---- The goals.
  const double ab = scanMedian / replayMedian, ac = scanMedian / leastMedian,
               ad = scanMedian / listingMedian;
  // Beside each ratio of times, the same ratio of registry calls a key, which no busy machine
  // changes (the calls set the time: each is a round trip to the wineserver).
  const auto calls = [&](std::uint64_t otherCalls, std::size_t otherKeys) {
    const double ratio = static_cast<double>(recording.Counts().Total()) /
                         static_cast<double>(walked) /
                         (static_cast<double>(otherCalls) / static_cast<double>(otherKeys));
    return "(calls a key: " + Fixed(ratio, 3) + ")";
  };
  Say("");
  Say("Goals (ratios of the wall-clock medians):");
  GoalLine("a/b, the scan's own code", Fixed(ab, 3), "at most " + Fixed(kMostScanOverReplay, 2),
           ab <= kMostScanOverReplay, calls(replay.Counts().Total(), walked));
  GoalLine("a/c, its use of the registry", Fixed(ac, 3),
           "at most " + Fixed(kMostScanOverLeastWork, 2), ac <= kMostScanOverLeastWork,
           calls(leastWork.Counts().Total(), walked));
  GoalLine("a/d, against reg query /s", Fixed(ad, 3), "below " + Fixed(kScanOverListingBelow, 2),
           ad < kScanOverListingBelow, calls(listingCalls, tree.keys));
  if (toolFile.found) {
    GoalLine("ModemConfig.exe size" + std::string(toolFile.hasSymbols ? " (NOT stripped)" : ""),
             Fixed(static_cast<double>(toolFile.bytes) / 1024.0, 1) + " KB",
             "at most " + std::to_string(kMostToolBytes / 1024) + " KB",
             toolFile.bytes <= kMostToolBytes,
             "(" + Thousands(toolFile.bytes) + " bytes, KB = 1024)");
  } else {
    Say(std::string("  ModemConfig.exe not found at ") + MODEMCONFIG_TOOL_EXE);
  }
  if (dialog.peakWorkingSetBytes != 0) {
    Say("  peak working set of ModemConfig.exe: " +
        Fixed(static_cast<double>(dialog.peakWorkingSetBytes) / (1024.0 * 1024.0), 1) + " MB (" +
        Thousands(dialog.peakWorkingSetBytes) + " bytes), with its dialog up");
  } else {
    Say("  peak working set of ModemConfig.exe: not measured");
  }

  if (!consistent) {
    Say("");
    Say("The four did not do the same work (see CHECK FAILED above): the ratios mean nothing.");
    return 1;
  }
  return dialog.error.empty() && toolFile.found ? 0 : 1;
}
