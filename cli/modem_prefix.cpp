#include "cli/modem_prefix.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include <nlohmann/json.hpp>

#include "cli/undo_file.h"
#include "discovery/modem_scan.h"

#ifndef MODEMPREFIX_VERSION
#error "MODEMPREFIX_VERSION must name the project's version"
#endif

const char kModemPrefixVersion[] = MODEMPREFIX_VERSION;

namespace {

using nlohmann::ordered_json;

// ---- What one run found and did.

struct KeyRecord {
  std::string path;    // as the registry enumerated it, in its code page
  std::string prefix;  // "D" or "A"
};

enum class WriteResult { kWritten, kPlanned, kUnchanged, kFailed };

struct KeyResult {
  std::size_t record = 0;
  WriteResult result = WriteResult::kUnchanged;
  RegStatus status = regstatus::kSuccess;
};

struct Report {
  ModemInventory inventory;  // the scan's, exactly as the dialog would hold it
  std::vector<KeyRecord> keys;
  ModeSummary mode = ModeSummary::kNone;
  std::optional<bool> dialogShowsNormal;  // the mode the dialog would show; empty when none
  std::vector<KeyResult> results;         // secure/normal: one entry a key, in record order
  SwitchOutcome switchOutcome;            // the writes tried (none in a dry run)
  RunOutcome outcome;
  std::vector<std::string> unreadable;  // keys the scan could not read
  // `unreadable` holds instead the one damaged key, out of the scan's way, that stops a switch.
  bool damagedElsewhere = false;
};

ModeSummary Summarise(const std::vector<KeyRecord>& keys) {
  const bool anyNormal =
      std::any_of(keys.begin(), keys.end(), [](const KeyRecord& key) { return key.prefix == "D"; });
  const bool anySecure =
      std::any_of(keys.begin(), keys.end(), [](const KeyRecord& key) { return key.prefix == "A"; });
  if (anyNormal && anySecure) return ModeSummary::kMixed;
  if (anyNormal) return ModeSummary::kNormal;
  if (anySecure) return ModeSummary::kSecure;
  return ModeSummary::kNone;
}

const char* ModeName(ModeSummary mode) {
  switch (mode) {
    case ModeSummary::kNormal:
      return "normal";
    case ModeSummary::kSecure:
      return "secure";
    case ModeSummary::kMixed:
      return "mixed";
    case ModeSummary::kNone:
      break;
  }
  return "none";
}

const char* CommandName(CliCommand command) {
  switch (command) {
    case CliCommand::kSecure:
      return "secure";
    case CliCommand::kNormal:
      return "normal";
    case CliCommand::kCheck:
      return "check";
    default:
      return "status";
  }
}

// A root that exists but refuses full access: the process lacks the rights the scan needs,
// and a scan would pass the whole root over and wrongly report no modem there.
std::optional<std::string> RefusedRoot(RegistryOperations& registry) {
  for (const char* root : kControlSetRoots) {
    RegKey key(registry);
    if (key.Open(root) == regstatus::kAccessDenied) return std::string(root);
  }
  return std::nullopt;
}

// ---- Text for people: one line a key, aligned.

// Control characters of a name would move the cursor or end the line: text output shows
// them as '?' (the JSON document names the key exactly).
std::string Printable(std::string_view name) {
  std::string text(name);
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return text;
}

std::size_t PathWidth(const std::vector<KeyRecord>& keys) {
  std::size_t width = 0;
  for (const KeyRecord& key : keys) width = std::max(width, Printable(key.path).size());
  return width;
}

void PrintPadded(ReportText& out, const std::string& text, std::size_t width) {
  out << text;
  if (text.size() < width) out << std::string(width - text.size(), ' ');
}

// A key's path as text shows it: control characters as '?', in the text's encoding.
std::string TextName(const CliSystem& system, std::string_view path) {
  const std::string printable = Printable(path);
  return system.textName ? system.textName(printable) : printable;
}

// A key's path padded to `width` columns: one byte of the registry's code page is one column,
// whatever the text's encoding makes of it.
void PrintPaddedName(ReportText& out, const CliSystem& system, std::string_view path,
                     std::size_t width) {
  const std::size_t columns = Printable(path).size();
  out << TextName(system, path);
  if (columns < width) out << std::string(width - columns, ' ');
}

void PrintDialogMode(ReportText& out, const Report& report) {
  if (report.mode != ModeSummary::kMixed) return;
  out << "The dialog would show "
      << (*report.dialogShowsNormal ? "normal operation" : "secure access")
      << " (the mode of the last key found).\n";
}

std::string CountOf(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// One line a key: its path, aligned, and its prefix.
void PrintKeyLines(const Report& report, const CliSystem& system, ReportText& out) {
  const std::size_t width = PathWidth(report.keys);
  for (const KeyRecord& key : report.keys) {
    PrintPaddedName(out, system, key.path, width);
    out << "  " << key.prefix << "\n";
  }
}

void PrintStatusText(const Report& report, const CliSystem& system, ReportText& out) {
  PrintKeyLines(report, system, out);
  if (report.keys.empty()) {
    out << "No modem settings key found below SYSTEM\\CurrentControlSet, SYSTEM\\ControlSet001 "
           "or SYSTEM\\ControlSet003.\n";
    return;
  }
  out << "Mode: " << ModeName(report.mode) << " ("
      << CountOf(report.keys.size(), "modem settings key", "modem settings keys") << ")\n";
  PrintDialogMode(out, report);
}

TargetMode TargetOf(CliCommand mode) {
  return mode == CliCommand::kSecure ? TargetMode::kSecureAccess : TargetMode::kNormalOperation;
}

// The one line a detection step shows: whether every key is in the mode, and how many are not.
std::string CheckSummary(const Report& report, const CommandLine& line) {
  const char* mode = CommandName(line.checkMode);
  const std::size_t total = report.keys.size();
  if (total == 0) return std::string("compliant: no modem settings key (nothing to switch)");
  const std::size_t off = report.outcome.keysNotInMode;
  if (off == 0) {
    return std::string("compliant: ") + mode + " (" + std::to_string(total) + " of " +
           CountOf(total, "key", "keys") + ")";
  }
  return "not compliant: " + std::to_string(off) + " of " + CountOf(total, "key", "keys") +
         " not " + mode;
}

void PrintCheckText(const Report& report, const CliSystem& system, const CommandLine& line,
                    ReportText& out) {
  PrintKeyLines(report, system, out);
  out << CheckSummary(report, line) << "\n";
}

const char* ResultWord(WriteResult result) {
  switch (result) {
    case WriteResult::kWritten:
      return "written";
    case WriteResult::kPlanned:
      return "would write";
    case WriteResult::kFailed:
      return "failed";
    case WriteResult::kUnchanged:
      break;
  }
  return "unchanged";
}

// A line on standard error for each write that failed, with or without --json: a script that
// reads the document still leaves these lines in its log.
void PrintFailedWrites(const Report& report, const CliSystem& system, ReportText& err) {
  for (const KeyResult& result : report.results) {
    if (result.result != WriteResult::kFailed) continue;
    err << "modemprefix: could not write " << TextName(system, report.keys[result.record].path)
        << ": error " << result.status << ": " << system.statusText(result.status) << "\n";
  }
}

void PrintSwitchText(const Report& report, const CliSystem& system, TargetMode target,
                     ReportText& out) {
  const std::size_t width = PathWidth(report.keys);
  std::size_t written = 0, planned = 0, unchanged = 0, failed = 0;
  for (const KeyResult& result : report.results) {
    const KeyRecord& key = report.keys[result.record];
    PrintPadded(out, ResultWord(result.result), 12);
    PrintPaddedName(out, system, key.path, width);
    out << "  " << key.prefix;
    if (result.result == WriteResult::kWritten || result.result == WriteResult::kPlanned) {
      out << " -> " << TargetPrefix(target);
    }
    out << "\n";
    switch (result.result) {
      case WriteResult::kWritten:
        ++written;
        break;
      case WriteResult::kPlanned:
        ++planned;
        break;
      case WriteResult::kUnchanged:
        ++unchanged;
        break;
      case WriteResult::kFailed:
        ++failed;
        break;
    }
  }
  if (report.outcome.dryRun) {
    out << CountOf(planned, "key", "keys") << " would be written, " << unchanged
        << " already in the mode; nothing was written (dry run).\n";
    return;
  }
  out << written << " written, " << unchanged << " already in the mode, " << failed << " failed.\n";
  if (report.outcome.restartNeeded) {
    out << "Restart the PC for the change to take effect.\n";
  }
}

// ---- JSON for programs.

ordered_json PathJson(const std::string& path, const CliSystem& system) {
  const Utf8Name name = system.toUtf8(path);
  ordered_json key;
  key["path"] = name.text;
  if (!name.exact) {
    // Bytes without a character in the code page: give the exact bytes as well, so two keys
    // whose names differ only there are still told apart.
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const char c : path) {
      const auto byte = static_cast<unsigned char>(c);
      hex += kHex[byte >> 4];
      hex += kHex[byte & 0xF];
    }
    key["pathBytes"] = hex;
  }
  return key;
}

// The warning for a key that could not be read, as the text report shows it: one the scan met
// leaves its keys out of the report; one elsewhere only stops a switch.
std::string UnreadableWarning(const std::string& key, bool elsewhere) {
  return "the key " + key + " cannot be read (the hive is damaged there)" +
         (elsewhere ? ": a switch writes the whole hive anew, so it does not write a damaged one"
                    : ": the keys below it are missing from this report");
}

// What every document starts with: the command, and the hive it ran on.
ordered_json DocumentHead(const CommandLine& line) {
  ordered_json doc;
  doc["command"] = CommandName(line.command);
  // A file path as the system gives it, not a registry name: UTF-8 where --hive is taken
  // (Linux). Bytes that are not UTF-8 show as U+FFFD when the document is written.
  if (!line.hivePath.empty()) doc["hive"] = line.hivePath;
  return doc;
}

// The document as it goes out: pure ASCII, every other character escaped (\u00e9, and a
// surrogate pair above U+FFFF), so that it reads the same whatever code page its reader decodes
// a program's output with (PowerShell uses the console's, not UTF-8).
std::string DocumentText(const ordered_json& doc) {
  return doc.dump(2, ' ', /*ensure_ascii=*/true, ordered_json::error_handler_t::replace) + "\n";
}

// The report of a run. With `refusal`, the run stopped after the scan and changed nothing: the
// document says what was read, the error and its exit code, and lists no writes.
ordered_json ReportJson(const Report& report, const CliSystem& system, const CommandLine& line,
                        const RunRefusal* refusal = nullptr) {
  ordered_json doc = DocumentHead(line);
  if (!system.notes.empty()) doc["notes"] = system.notes;
  if (!report.unreadable.empty()) {
    ordered_json warnings = ordered_json::array();
    for (const std::string& key : report.unreadable) {
      warnings.push_back(system.toUtf8(UnreadableWarning(key, report.damagedElsewhere)).text);
    }
    doc["warnings"] = std::move(warnings);
  }
  ordered_json keys = ordered_json::array();
  for (const KeyRecord& key : report.keys) {
    ordered_json entry = PathJson(key.path, system);
    entry["prefix"] = key.prefix;
    keys.push_back(std::move(entry));
  }
  doc["keys"] = std::move(keys);
  doc["mode"] = ModeName(report.mode);
  doc["dialogMode"] =
      report.dialogShowsNormal ? (*report.dialogShowsNormal ? "normal" : "secure") : "none";
  if (line.command == CliCommand::kCheck) {
    doc["checkMode"] = CommandName(line.checkMode);
    doc["compliant"] = report.outcome.keysNotInMode == 0;
    doc["keysNotInMode"] = report.outcome.keysNotInMode;
    doc["summary"] = CheckSummary(report, line);
  } else if (line.command != CliCommand::kStatus) {
    doc["dryRun"] = line.dryRun;
  }
  // A refused run changed nothing, so it lists no writes.
  if ((line.command == CliCommand::kSecure || line.command == CliCommand::kNormal) && !refusal) {
    ordered_json written = ordered_json::array();
    ordered_json unchanged = ordered_json::array();
    ordered_json failed = ordered_json::array();
    const TargetMode target = line.command == CliCommand::kSecure ? TargetMode::kSecureAccess
                                                                  : TargetMode::kNormalOperation;
    for (const KeyResult& result : report.results) {
      const KeyRecord& key = report.keys[result.record];
      ordered_json entry = PathJson(key.path, system);
      entry["prefix"] = key.prefix;
      switch (result.result) {
        case WriteResult::kWritten:
        case WriteResult::kPlanned:
          entry["newPrefix"] = TargetPrefix(target);
          written.push_back(std::move(entry));
          break;
        case WriteResult::kUnchanged:
          unchanged.push_back(std::move(entry));
          break;
        case WriteResult::kFailed:
          entry["status"] = result.status;
          entry["error"] = system.statusText(result.status);
          failed.push_back(std::move(entry));
          break;
      }
    }
    doc["written"] = std::move(written);
    doc["unchanged"] = std::move(unchanged);
    doc["failed"] = std::move(failed);
    doc["restartNeeded"] = report.outcome.restartNeeded;
  }
  if (refusal) {
    doc["error"] = refusal->message;
    doc["exitCode"] = refusal->exitCode;
  } else {
    doc["exitCode"] = ExitCodeFor(report.outcome);
  }
  return doc;
}

// A run that read the keys and then stopped without changing anything.
int ReportRefusalAfterScan(const Report& report, const CliSystem& system, const CommandLine& line,
                           const RunRefusal& refusal, ReportText& out, ReportText& err) {
  err << "modemprefix: " << refusal.message << "\n";
  if (line.json) out << DocumentText(ReportJson(report, system, line, &refusal));
  return refusal.exitCode;
}

// ---- The run.

Report Scan(CliSystem& system) {
  Report report;
  ModemInventory& inventory = report.inventory;
  inventory.CreateLists();
  NameBuffer nameBuffer{};
  ModemScanner(system.registry, inventory, nameBuffer).ScanModemSettings();
  for (std::size_t i = 0; i < inventory.Count(); ++i) {
    report.keys.push_back({inventory.keyPaths->GetAt(i), inventory.dialPrefixes->GetAt(i)});
  }
  report.mode = Summarise(report.keys);
  if (inventory.modemFound) report.dialogShowsNormal = inventory.normalMode;
  report.outcome.modemFound = inventory.modemFound;
  return report;
}

void Switch(Report& report, CliSystem& system, TargetMode target, bool dryRun) {
  // The dialog's switch on the scan's inventory, so both write the same keys in the same order.
  const ModemInventory& inventory = report.inventory;
  std::vector<bool> writes(report.keys.size(), false);
  for (const std::size_t record : RecordsToWrite(inventory, target)) writes[record] = true;
  for (std::size_t i = 0; i < report.keys.size(); ++i) {
    report.results.push_back(
        {i, writes[i] ? WriteResult::kPlanned : WriteResult::kUnchanged, regstatus::kSuccess});
  }
  if (dryRun) return;

  report.switchOutcome = WriteTargetPrefix(system.registry, inventory, target);
  const SwitchOutcome& outcome = report.switchOutcome;
  for (const KeyWrite& write : outcome.writes) {
    KeyResult& result = report.results[write.record];
    result.status = write.status;
    result.result =
        write.status == regstatus::kSuccess ? WriteResult::kWritten : WriteResult::kFailed;
  }
  report.outcome.writesSucceeded = outcome.WritesSucceeded();
  report.outcome.writesFailed = outcome.writesFailed;
  report.outcome.restartNeeded = RestartNeeded(outcome, system.queryVersion);
}

// The dial prefix value a key holds now, name and text exactly as stored (the scan records the
// prefix in upper case, and "d" is as much normal operation as "D"); nullopt when it cannot be
// read.
std::optional<UndoEntry> StoredPrefix(RegistryOperations& registry, const std::string& path) {
  RegKey key(registry);
  if (key.Open(path.c_str()) != regstatus::kSuccess) return std::nullopt;
  std::array<char, kRegBufferSize> name{};
  std::array<std::uint8_t, kRegBufferSize> data{};
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t nameSize = kRegBufferSize;
    std::uint32_t dataSize = kRegBufferSize;
    std::uint32_t type = 0;
    const RegStatus status =
        registry.EnumValue(key.Get(), index, name.data(), &nameSize, &type, data.data(), &dataSize);
    if (status == regstatus::kMoreData) continue;  // a long value: not the one sought
    if (status != regstatus::kSuccess) return std::nullopt;
    const std::string_view found(name.data(), nameSize);
    if (found.size() != std::strlen(kDialPrefixValueName) ||
        !std::equal(found.begin(), found.end(), kDialPrefixValueName, [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) ==
                 std::toupper(static_cast<unsigned char>(b));
        })) {
      continue;
    }
    const auto* text = reinterpret_cast<const char*>(data.data());
    return UndoEntry{path, std::string(found),
                     std::string(text, std::find(text, text + dataSize, '\0'))};
  }
}

// Writes the undo file of a switch of `report` to `target`: every key about to change, with
// the prefix it holds now as stored. Returns "" or why the file was not written.
std::string WriteUndoFile(const Report& report, const CliSystem& system, TargetMode target,
                          const std::string& path) {
  std::vector<UndoEntry> entries;
  for (const std::size_t record : RecordsToWrite(report.inventory, target)) {
    const KeyRecord& key = report.keys[record];
    UndoEntry entry = StoredPrefix(system.registry, key.path)
                          .value_or(UndoEntry{key.path, kDialPrefixValueName, key.prefix});
    if (system.storedPath) entry.path = system.storedPath(key.path);
    entries.push_back(std::move(entry));
  }
  const UndoText undo = UndoFileText(entries);
  if (!undo.error.empty()) return undo.error;
  if (system.replaceFile == nullptr) return "files cannot be written here";
  return system.replaceFile(path, undo.text);
}

}  // namespace

int ExitCodeFor(const RunOutcome& outcome) {
  if (outcome.noRights) return exitcode::kNoRights;
  if (outcome.keysUnreadable > 0) return exitcode::kHiveUnreadable;
  if (outcome.command == CliCommand::kCheck) {
    return outcome.keysNotInMode > 0 ? exitcode::kNotCompliant : exitcode::kDone;
  }
  if (!outcome.modemFound) return exitcode::kNoModem;
  if (outcome.command == CliCommand::kStatus || outcome.dryRun) return exitcode::kDone;
  if (outcome.writesFailed > 0) return exitcode::kWriteFailed;
  if (outcome.restartNeeded) return exitcode::kRestartNeeded;
  return exitcode::kDone;
}

int RunCommand(const CommandLine& line, CliSystem& system, ReportText& out, ReportText& err) {
  if (system.isElevated && system.isElevated() == false) {
    return ReportRefusal(line,
                         {exitcode::kNoRights,
                          "administrator rights are needed to read and change the modem "
                          "settings; run it from an elevated prompt (Run as administrator). "
                          "Nothing was written."},
                         out, err);
  }
  if (const std::optional<std::string> root = RefusedRoot(system.registry)) {
    return ReportRefusal(line,
                         {exitcode::kNoRights, "access to HKEY_LOCAL_MACHINE\\" + Printable(*root) +
                                                   " was denied; run it as an administrator "
                                                   "(elevated). Nothing was written."},
                         out, err);
  }

  // The text report, given out only when the run is not refused on the way.
  ReportText text;
  for (const std::string& note : system.notes) {
    if (!line.json) text << "Note: " << note << "\n";
  }

  Report report = Scan(system);
  report.outcome.command = line.command;
  report.outcome.dryRun = line.dryRun;
  if (system.unreadableKeys) report.unreadable = system.unreadableKeys();
  const bool switches = line.command == CliCommand::kSecure || line.command == CliCommand::kNormal;
  if (switches && report.unreadable.empty() && system.damagedKey) {
    std::string damaged = system.damagedKey();
    report.damagedElsewhere = !damaged.empty();
    if (report.damagedElsewhere) report.unreadable.push_back(std::move(damaged));
  }
  report.outcome.keysUnreadable = report.unreadable.size();
  if (!report.unreadable.empty()) {
    if (switches && !line.dryRun) {
      // What could not be read may hold keys the switch would miss, or lead into the cells a
      // hive written anew would put at the end: nothing is written.
      return ReportRefusalAfterScan(
          report, system, line,
          {exitcode::kHiveUnreadable,
           UnreadableWarning(TextName(system, report.unreadable.front()), report.damagedElsewhere) +
               ". Nothing was written."},
          out, err);
    }
    for (const std::string& key : report.unreadable) {
      if (!line.json) {
        text << "Warning: " << UnreadableWarning(TextName(system, key), report.damagedElsewhere)
             << "\n";
      }
    }
  }
  if (line.command == CliCommand::kCheck) {
    // The scan's records only: check never writes.
    const char* const wanted = TargetPrefix(TargetOf(line.checkMode));
    report.outcome.keysNotInMode = static_cast<std::size_t>(
        std::count_if(report.keys.begin(), report.keys.end(),
                      [&](const KeyRecord& key) { return key.prefix != wanted; }));
    if (!line.json) PrintCheckText(report, system, line, text);
  } else if (line.command != CliCommand::kStatus && report.outcome.modemFound) {
    const TargetMode target = TargetOf(line.command);
    if (!line.undoPath.empty()) {
      // The undo file is complete on disk before the first key changes; without it, nothing
      // is written.
      const std::string problem = WriteUndoFile(report, system, target, line.undoPath);
      if (!problem.empty()) {
        return ReportRefusalAfterScan(
            report, system, line,
            {exitcode::kUndoFileNotWritten, "the undo file " + Printable(line.undoPath) +
                                                " could not be written: " + Printable(problem) +
                                                ". Nothing was written."},
            out, err);
      }
    }
    Switch(report, system, target, line.dryRun);
    if (!line.dryRun && system.completeWrites) {
      if (const std::optional<RunRefusal> refusal = system.completeWrites()) {
        return ReportRefusalAfterScan(report, system, line, *refusal, out, err);
      }
    }
    if (report.switchOutcome.writesTried > 0 && system.recordSwitch) {
      // The record never undoes or blocks the switch, nor changes its exit code.
      const std::string problem =
          system.recordSwitch(RecordOfSwitch(report.inventory, target, report.switchOutcome));
      if (!problem.empty()) {
        err << "modemprefix: the switch could not be recorded in the event log: " << problem
            << "\n";
      }
    }
    PrintFailedWrites(report, system, err);
    if (!line.json) PrintSwitchText(report, system, target, text);
  } else if (!line.json) {
    if (line.command == CliCommand::kStatus) {
      PrintStatusText(report, system, text);
    } else {
      err << "modemprefix: no modem settings key found below SYSTEM\\CurrentControlSet, "
             "SYSTEM\\ControlSet001 or SYSTEM\\ControlSet003; nothing was written.\n";
    }
  }
  out << (line.json ? DocumentText(ReportJson(report, system, line)) : text.str());
  return ExitCodeFor(report.outcome);
}

int ReportRefusal(const CommandLine& line, const RunRefusal& refusal, ReportText& out,
                  ReportText& err) {
  err << "modemprefix: " << refusal.message << "\n";
  if (line.json) {
    ordered_json doc = DocumentHead(line);
    doc["error"] = refusal.message;
    doc["exitCode"] = refusal.exitCode;
    out << DocumentText(doc);
  }
  return refusal.exitCode;
}

int RunModemPrefix(const std::vector<std::string>& args, bool hiveSupported,
                   const CommandRunner& run, ReportText& out, ReportText& err) {
  const ParsedCommandLine parsed = ParseCommandLine(args, hiveSupported);
  if (!parsed.commandLine) {
    err << "modemprefix: " << parsed.error << "\n" << UsageText(hiveSupported);
    return exitcode::kBadCommandLine;
  }
  const CommandLine& line = *parsed.commandLine;
  if (line.command == CliCommand::kHelp) {
    out << HelpText(hiveSupported);
    return exitcode::kDone;
  }
  if (line.command == CliCommand::kVersion) {
    out << "modemprefix " << kModemPrefixVersion << "\n";
    return exitcode::kDone;
  }
  return run(line, out, err);
}

Utf8Name Windows1252ToUtf8(std::string_view name) {
  // The characters of bytes 0x80-0x9F; 0 marks the five the code page leaves undefined.
  static constexpr std::array<char16_t, 32> kHigh = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  Utf8Name result;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    char32_t code = byte;
    if (byte >= 0x80 && byte <= 0x9F) {
      code = kHigh[byte - 0x80];
      if (code == 0) {
        code = 0xFFFD;
        result.exact = false;
      }
    }
    if (code < 0x80) {
      result.text += static_cast<char>(code);
    } else if (code < 0x800) {
      result.text += static_cast<char>(0xC0 | (code >> 6));
      result.text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      result.text += static_cast<char>(0xE0 | (code >> 12));
      result.text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      result.text += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return result;
}

std::string PortableStatusText(RegStatus status) {
  switch (status) {
    case regstatus::kFileNotFound:
      return "The system cannot find the file specified.";
    case regstatus::kAccessDenied:
      return "Access is denied.";
    case regstatus::kInvalidHandle:
      return "The handle is invalid.";
    case regstatus::kOutOfMemory:
      return "Not enough memory resources are available to complete this operation.";
    case regstatus::kGenFailure:
      return "A device attached to the system is not functioning.";
    case regstatus::kInvalidParameter:
      return "The parameter is incorrect.";
    case regstatus::kMoreData:
      return "More data is available.";
    case regstatus::kNoMoreItems:
      return "No more data is available.";
    default:
      return "Error " + std::to_string(status) + ".";
  }
}
