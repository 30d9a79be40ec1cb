// modemprefix's work, apart from the system it runs on: one scan of the registry it is given
// (the dialog's scan), then the dialog's switch for `secure` and `normal`, a report as text or
// JSON, and the exit code. The Windows program and the Linux one (offline hives) call Run with
// what their system provides.
#pragma once

#include <concepts>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "platform/registry.h"
#include "switching/dial_prefix_switch.h"
#include "switching/switch_record.h"

// Exit codes, the same with or without --json. 3010 is what deployment systems read as
// "succeeded, restart required".
namespace exitcode {
inline constexpr int kDone = 0;
// check: some key is not in the mode checked for ("issue found: run the remediation").
inline constexpr int kNotCompliant = 1;
inline constexpr int kNoModem = 2;
inline constexpr int kWriteFailed = 4;
inline constexpr int kNoRights = 5;
inline constexpr int kRestartNeeded = 3010;
// Offline hives only.
inline constexpr int kHiveUnreadable = 6;       // missing, unreadable, not a hive, damaged
inline constexpr int kHiveNotCleanlySaved = 7;  // Windows would replay its logs: not written
inline constexpr int kHiveNotWritten = 8;       // read-only, locked, or the write-back failed
inline constexpr int kHiveNotConfirmed = 9;     // the new hive is in place, not confirmed on disk
// --undo-file: the undo file could not be written, so no key was changed.
inline constexpr int kUndoFileNotWritten = 10;
// The report or an error line could not be written (a full disk, a closed handle); the run
// itself went to its end. Windows' ERROR_WRITE_FAULT, which fits the 8 bits a Linux shell sees.
inline constexpr int kReportNotWritten = 29;
// Windows' ERROR_INVALID_PARAMETER: fits the 8 bits a Linux shell sees, and is no outcome of
// a run.
inline constexpr int kBadCommandLine = 87;
}  // namespace exitcode

// A key name's bytes (in the registry's code page) as UTF-8. `exact` is false when some byte
// has no character in the code page; the text then holds U+FFFD in its place.
struct Utf8Name {
  std::string text;
  bool exact = true;
};

// A run stopped short of its job: its exit code and the one line that says why (without the
// program's name).
struct RunRefusal {
  int exitCode = 0;
  std::string message;
};

// What the system under the program provides.
struct CliSystem {
  RegistryOperations& registry;
  VersionQuery queryVersion;
  // Whether the process runs with administrator rights; nullopt where that cannot be told
  // (then only a refused root tells).
  std::optional<bool> (*isElevated)();
  // The system's text for a registry status ("Access is denied.").
  std::string (*statusText)(RegStatus status);
  // A name in the registry's code page as UTF-8, for JSON.
  Utf8Name (*toUtf8)(std::string_view name);
  // Lines about where the keys come from (an offline hive's control sets), shown before the
  // report and listed in the JSON document.
  std::vector<std::string> notes;
  // The path under which a recorded key is stored, for a .reg file that must name it (an
  // offline hive has no CurrentControlSet); empty: the recorded path itself.
  std::function<std::string(const std::string& path)> storedPath = {};
  // Writes a whole file safely (ReplaceFileWith); "" or what failed. Needed by --undo-file.
  std::string (*replaceFile)(const std::string& path, const std::string& content) = nullptr;
  // Records a switch that tried to write (the event log); returns "" or why it could not.
  std::function<std::string(const SwitchRecord& record)> recordSwitch = {};
  // A registry name as the text report and the error lines show it; nullptr: as it is (the
  // Windows program converts the whole text from the ANSI code page as it writes it). Error
  // lines also carry paths typed on the command line, which are not in the registry's code
  // page, so each name is converted where it is printed.
  std::string (*textName)(std::string_view name) = nullptr;
  // Called once a switch has written, before the report: the offline hive's write-back. A
  // refusal it returns stands for the run: nothing was changed, and the report says what was
  // read and why.
  std::function<std::optional<RunRefusal>()> completeWrites = {};
  // The keys the scan could not read (an offline hive's damaged parts), asked after the scan;
  // empty: every key could be read.
  std::function<std::vector<std::string>()> unreadableKeys = {};
  // A key anywhere in the hive that cannot be read, where the scan goes or not; "" when there
  // is none. A switch writes the whole hive anew, so it refuses (its dry run too) a hive that
  // has one, even when every key the scan met could be read.
  std::function<std::string()> damagedKey = {};
};

// Text a run writes: put together in memory, written out by the caller in one piece (so a JSON
// reader never sees half a document), without the weight of iostreams in the executable.
class ReportText {
 public:
  ReportText& operator<<(std::string_view text) {
    text_ += text;
    return *this;
  }
  ReportText& operator<<(char c) {
    text_ += c;
    return *this;
  }
  template <std::integral Number>
  ReportText& operator<<(Number number) {
    text_ += std::to_string(number);
    return *this;
  }
  [[nodiscard]] const std::string& str() const { return text_; }

 private:
  std::string text_;
};

// What the mode of the recorded keys is.
enum class ModeSummary { kNone, kNormal, kSecure, kMixed };

// One run's outcome, from which the exit code follows.
struct RunOutcome {
  CliCommand command = CliCommand::kStatus;
  bool noRights = false;
  bool modemFound = false;
  bool dryRun = false;
  std::size_t writesSucceeded = 0;
  std::size_t writesFailed = 0;
  bool restartNeeded = false;
  std::size_t keysNotInMode = 0;   // check: keys whose prefix is not the mode's
  std::size_t keysUnreadable = 0;  // keys the scan could not read: the list may be incomplete
};

// The exit code of a run: rights first; then keys that could not be read; for check, whether some
// key is not in the mode (no modem is nothing to fix); then no modem, then a failed write, then a
// restart.
int ExitCodeFor(const RunOutcome& outcome);

// Runs the parsed command against `system`, writing the report to `out` and errors to `err`.
// Returns the exit code. Help and version are the caller's (they need no registry). With
// --json, `out` receives one JSON document on every exit, refusals included.
int RunCommand(const CommandLine& line, CliSystem& system, ReportText& out, ReportText& err);

// A run refused before anything was read (no rights, a hive that cannot be opened): the line on
// `err` and, with --json, a document with the command (and the hive), `error` and `exitCode` on
// `out`. Returns the exit code.
int ReportRefusal(const CommandLine& line, const RunRefusal& refusal, ReportText& out,
                  ReportText& err);

// Runs one parsed command (status, secure or normal) on the system at hand.
using CommandRunner = std::function<int(const CommandLine& line, ReportText& out, ReportText& err)>;

// The whole program: parses `args` (without the program name), prints help, version or usage,
// or hands the command to `run`. Returns the exit code.
int RunModemPrefix(const std::vector<std::string>& args, bool hiveSupported,
                   const CommandRunner& run, ReportText& out, ReportText& err);

// The version printed by --version.
extern const char kModemPrefixVersion[];

// Windows-1252 bytes as UTF-8; the five bytes the code page leaves undefined are not exact.
Utf8Name Windows1252ToUtf8(std::string_view name);
// The text of the registry statuses the logic meets, for systems that have no message table.
std::string PortableStatusText(RegStatus status);
