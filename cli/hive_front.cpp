#include "cli/hive_front.h"

#include <memory>
#include <optional>

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

}  // namespace

namespace {

int RunOnHive(const CommandLine& line, ReportText& out, ReportText& err,
              const std::function<bool(CommitStep)>& commitStepHook) {
  if (line.hivePath.empty()) {
    err << "modemprefix: this build works on offline SYSTEM hive files: give one with --hive "
           "PATH\n"
        << UsageText(true);
    return exitcode::kBadCommandLine;
  }

  const bool writes = line.command != CliCommand::kStatus && !line.dryRun;
  HiveProblem problem;
  const std::unique_ptr<HiveRegistry> hive =
      HiveRegistry::Open(line.hivePath, writes ? HiveAccess::kWrite : HiveAccess::kRead, &problem);
  if (!hive) {
    err << "modemprefix: " << problem.message << "\n";
    return ExitCodeFor(problem.error);
  }
  for (const std::string& warning : hive->Warnings()) err << "modemprefix: " << warning << "\n";

  CliSystem system{*hive,
                   &NoRunningSystem,
                   nullptr,
                   &PortableStatusText,
                   &Windows1252ToUtf8,
                   {hive->Mapping().note},
                   [&hive](const std::string& path) { return StoredPath(hive->Mapping(), path); },
                   &ReplaceFileWith};
  ReportText report;
  const int code = RunCommand(line, system, report, err);
  if (hive->Modified()) {
    const HiveProblem written =
        hive->Commit({.keepBackup = line.backup, .stepHook = commitStepHook});
    if (written.error != HiveError::kNone) {
      // Nothing reached the file: a report of writes would be false, so none is shown.
      err << "modemprefix: " << written.message << " Nothing was changed.\n";
      return ExitCodeFor(written.error);
    }
  }
  // Text for people names keys in Windows-1252, the hive's code page; a Linux terminal reads
  // UTF-8. JSON is UTF-8 already.
  out << (line.json ? report.str() : Windows1252ToUtf8(report.str()).text);
  return code;
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
