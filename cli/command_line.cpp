#include "cli/command_line.h"

#include <string_view>

namespace {

std::optional<CliCommand> CommandNamed(std::string_view word) {
  if (word == "status") return CliCommand::kStatus;
  if (word == "secure") return CliCommand::kSecure;
  if (word == "normal") return CliCommand::kNormal;
  return std::nullopt;
}

ParsedCommandLine Error(std::string message) { return {std::nullopt, std::move(message)}; }

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args, bool hiveSupported) {
  CommandLine line;
  std::optional<CliCommand> command;
  bool help = false;
  bool version = false;
  bool hiveGiven = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--json") {
      line.json = true;
    } else if (arg == "--dry-run") {
      line.dryRun = true;
    } else if (arg == "--backup" || arg == "--no-backup") {
      if (line.backupGiven && line.backup != (arg == "--backup")) {
        return Error("--backup and --no-backup contradict each other");
      }
      line.backup = arg == "--backup";
      line.backupGiven = true;
    } else if (arg == "--hive" || arg.starts_with("--hive=")) {
      if (!hiveSupported) {
        return Error(
            "--hive is not supported here: offline SYSTEM hive files are handled by the Linux "
            "build of modemprefix");
      }
      if (hiveGiven) return Error("--hive is given twice");
      if (arg == "--hive") {
        if (i + 1 >= args.size()) return Error("--hive needs the path of a SYSTEM hive file");
        line.hivePath = args[++i];
      } else {
        line.hivePath = arg.substr(7);
      }
      if (line.hivePath.empty()) return Error("--hive needs the path of a SYSTEM hive file");
      hiveGiven = true;
    } else if (arg.starts_with("-")) {
      return Error("unknown option '" + arg + "'");
    } else if (const std::optional<CliCommand> named = CommandNamed(arg)) {
      if (command) return Error("more than one command ('" + arg + "')");
      command = named;
    } else {
      return Error("unknown command '" + arg + "'");
    }
  }

  if (help || version) {
    // Asked for help or the version: the rest of the line does not matter, except that it must
    // not ask for both.
    if (help && version) return Error("--help and --version exclude each other");
    line.command = help ? CliCommand::kHelp : CliCommand::kVersion;
    return {line, ""};
  }
  if (!command) return Error("no command given (status, secure or normal)");
  line.command = *command;
  if (line.dryRun && line.command == CliCommand::kStatus) {
    return Error("--dry-run goes with secure or normal, not with status");
  }
  if (line.backupGiven && !hiveGiven) return Error("--backup and --no-backup go with --hive");
  if (line.backupGiven && line.command == CliCommand::kStatus) {
    return Error("--backup and --no-backup go with secure or normal, not with status");
  }
  return {line, ""};
}

std::string UsageText(bool hiveSupported) {
  if (hiveSupported) {
    return "usage: modemprefix --hive PATH status [--json]\n"
           "       modemprefix --hive PATH secure|normal [--dry-run] [--no-backup] [--json]\n"
           "       modemprefix --help | --version\n";
  }
  return "usage: modemprefix status [--json]\n"
         "       modemprefix secure|normal [--dry-run] [--json]\n"
         "       modemprefix --help | --version\n";
}

std::string HelpText(bool hiveSupported) {
  std::string text =
      "modemprefix: shows and switches the dial prefix of every modem settings key.\n"
      "\n" +
      UsageText(hiveSupported) +
      "\n"
      "Commands:\n"
      "  status   list every modem settings key with its dial prefix, and the mode:\n"
      "           normal (all \"D\"), secure (all \"A\"), mixed or none\n"
      "  secure   write \"A\" (secure access) into every key that holds \"D\"\n"
      "  normal   write \"D\" (normal operation) into every key that holds \"A\"\n"
      "\n"
      "Options:\n"
      "  --dry-run    say what would be written, write nothing\n"
      "  --json       one JSON document (UTF-8) on standard output instead of text\n";
  if (hiveSupported) {
    text +=
        "  --hive PATH  work on an offline SYSTEM hive file (required in this build)\n"
        "  --no-backup  do not keep the hive's original as PATH.bak before writing\n"
        "  --backup     keep it (the default)\n";
  }
  text +=
      "  --help       this text\n"
      "  --version    the program's version\n"
      "\n"
      "Exit codes:\n"
      "  0     done: nothing to change, changed without restart, or status found modems\n"
      "  3010  changed; restart the PC for the change to take effect\n"
      "  2     no modem settings key found\n"
      "  4     at least one write failed (the other keys were still written)\n"
      "  5     not enough rights: run it as an administrator (elevated)\n"
      "  1     bad command line\n";
  if (hiveSupported) {
    text +=
        "  6     the hive file cannot be read: missing, unreadable, not a hive, or damaged\n"
        "  7     the hive was not cleanly saved (Windows would replay its logs): not written\n"
        "  8     the hive cannot be written (read-only, locked, or the write failed): unchanged\n"
        "\n"
        "An offline image is not running: what is written takes effect when Windows next starts\n"
        "from it, so 3010 is never given here.\n";
  }
  return text;
}
