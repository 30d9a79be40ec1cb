#include "cli/hive_front.h"

#include <memory>
#include <optional>

#include "discovery/modem_scan.h"
#include "platform/hive_registry.h"
#include "platform/replace_file.h"

namespace {

int ExitCodeFor(HiveError error) {
  switch (error) {
    case HiveError::kNone:
      return exitcode::kDone;
    case HiveError::kUnreadable:
    case HiveError::kNotAHive:
    case HiveError::kTruncated:
    case HiveError::kDamaged:
      return exitcode::kHiveUnreadable;
    case HiveError::kNotCleanlySaved:
      return exitcode::kHiveNotCleanlySaved;
    case HiveError::kNotConfirmed:
      return exitcode::kHiveNotConfirmed;
    case HiveError::kReadOnly:
    case HiveError::kLocked:
    case HiveError::kWriteFailed:
      break;
  }
  return exitcode::kHiveNotWritten;
}

// An offline image is not running: what is written takes effect when Windows next starts from
// it, so no restart of this machine is asked for.
std::optional<PlatformVersion> NoRunningSystem() { return std::nullopt; }

// A key's path as a .reg file merged into the hive (hivexregedit --merge) names it: in UTF-8,
// as hivexregedit reads a file, and below the control set CurrentControlSet stands for, since
// the hive stores no CurrentControlSet.
std::string StoredPath(const ControlSetMapping& mapping, const std::string& path) {
  static constexpr std::string_view kCurrent = "SYSTEM\\CurrentControlSet";
  const bool current = mapping.current && path.starts_with(kCurrent) &&
                       (path.size() == kCurrent.size() || path[kCurrent.size()] == '\\');
  if (!current) return HiveNameUtf8(path);
  std::string number = std::to_string(*mapping.current);
  number.insert(0, number.size() < 3 ? 3 - number.size() : 0, '0');
  return "SYSTEM\\ControlSet" + number + HiveNameUtf8(path.substr(kCurrent.size()));
}

// Text for people names keys in Windows-1252, the hive's code page; a Linux terminal reads
// UTF-8, as standard output and standard error are read.
std::string TextNameUtf8(std::string_view name) { return Windows1252ToUtf8(name).text; }

// Whether the switch to `target` has anything to write on the hive: the scan the run makes,
// without writing. A switch with nothing to write needs neither write access nor the lock.
bool SwitchWouldWrite(HiveRegistry& hive, TargetMode target) {
  ModemInventory inventory;
  inventory.CreateLists();
  NameBuffer nameBuffer{};
  ModemScanner(hive, inventory, nameBuffer).ScanModemSettings();
  return !RecordsToWrite(inventory, target).empty();
}

}  // namespace

namespace {

int RunOnHive(const CommandLine& line, ReportText& out, ReportText& err,
              const std::function<bool(CommitStep)>& commitStepHook) {
  if (line.hivePath.empty()) {
    const int code =
        ReportRefusal(line,
                      {exitcode::kBadCommandLine,
                       "this build works on offline SYSTEM hive files: give one with --hive PATH"},
                      out, err);
    err << UsageText(true);
    return code;
  }

  // A switch takes the hive for writing (and its lock) at once when it can: one scan. Where
  // that is refused as read-only or locked, the hive is read instead: a switch with nothing to
  // write needs neither write access nor the lock. A dry run only reads, and asks the file what
  // the real run would refuse, without writing or locking anything.
  const bool switches = line.command == CliCommand::kSecure || line.command == CliCommand::kNormal;
  const bool writing = switches && !line.dryRun;
  HiveProblem problem;
  std::unique_ptr<HiveRegistry> hive;
  HiveProblem refusedForWriting;
  if (writing) {
    hive = HiveRegistry::Open(line.hivePath, HiveAccess::kWrite, &problem);
    if (!hive && problem.error != HiveError::kReadOnly && problem.error != HiveError::kLocked) {
      return ReportRefusal(line, {ExitCodeFor(problem.error), problem.message}, out, err);
    }
    refusedForWriting = problem;
  }
  if (!hive) {
    hive = HiveRegistry::Open(line.hivePath, HiveAccess::kRead, &problem);
    if (!hive) {
      return ReportRefusal(line, {ExitCodeFor(problem.error), problem.message}, out, err);
    }
    if (switches && !hive->CleanlySaved()) {
      // Its logs may hold a newer state than the file, so even "nothing to write" could be
      // wrong: a switch (a dry run too) is refused whatever the file holds.
      return ReportRefusal(
          line,
          {exitcode::kHiveNotCleanlySaved,
           line.hivePath +
               ": was not cleanly saved (its header's sequence numbers differ); Windows would "
               "replay the transaction logs beside it at the next boot, so it is not switched. "
               "Nothing was changed."},
          out, err);
    }
    if (switches &&
        SwitchWouldWrite(*hive, line.command == CliCommand::kSecure
                                    ? TargetMode::kSecureAccess
                                    : TargetMode::kNormalOperation) &&
        hive->UnreadableKeys().empty() && hive->DamagedKey().empty()) {
      const HiveProblem refused = writing ? refusedForWriting : hive->File().CheckReplaceable();
      if (refused.error != HiveError::kNone) {
        return ReportRefusal(
            line, {ExitCodeFor(refused.error), refused.message + ". Nothing was changed."}, out,
            err);
      }
    }
  }
  for (const std::string& warning : hive->Warnings()) err << "modemprefix: " << warning << "\n";

  std::vector<std::string> notes{hive->Mapping().note};
  // File paths are UTF-8 already, as the text and the JSON show them.
  std::string linkNote;
  if (hive->File().ThroughLink()) {
    linkNote = line.hivePath + " is a link: the hive is the file it points to, " +
               hive->File().Target() +
               (switches ? ", which is written, with its backup beside it" : "");
    notes.push_back(linkNote);
  }
  CliSystem system{*hive,
                   &NoRunningSystem,
                   nullptr,
                   &PortableStatusText,
                   &Windows1252ToUtf8,
                   notes,
                   [&hive](const std::string& path) { return StoredPath(hive->Mapping(), path); },
                   &ReplaceFileWith};
  system.textName = &TextNameUtf8;
  system.unreadableKeys = [&hive] { return hive->UnreadableKeys(); };
  // A damaged key anywhere refuses a switch, a dry run too, as the registry's Commit would.
  system.damagedKey = [&hive] { return hive->DamagedKey(); };
  system.completeWrites = [&]() -> std::optional<RunRefusal> {
    if (!hive->Modified()) return std::nullopt;
    const HiveProblem written =
        hive->Commit({.keepBackup = line.backup, .stepHook = commitStepHook});
    if (written.error == HiveError::kNone) {
      if (!written.message.empty()) err << "modemprefix: note: " << written.message << "\n";
      return std::nullopt;
    }
    // Nothing reached the file, or (exit 9) the new hive is in place unconfirmed, as the
    // message says: either way the report lists no write it cannot vouch for.
    return RunRefusal{ExitCodeFor(written.error), written.message};
  };
  return RunCommand(line, system, out, err);
}

}  // namespace

int RunModemPrefixOnHive(const std::vector<std::string>& args, ReportText& out, ReportText& err,
                         const std::function<bool(CommitStep)>& commitStepHook) {
  return RunModemPrefix(
      args, /*hiveSupported=*/true,
      [&](const CommandLine& line, ReportText& report, ReportText& errors) {
        return RunOnHive(line, report, errors, commitStepHook);
      },
      out, err);
}
