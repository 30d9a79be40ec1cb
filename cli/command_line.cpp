#include "cli/command_line.h"

#include <string_view>

namespace {

std::optional<CliCommand> CommandNamed(std::string_view word) {
  if (word == "status") return CliCommand::kStatus;
  if (word == "secure") return CliCommand::kSecure;
  if (word == "normal") return CliCommand::kNormal;
  if (word == "check") return CliCommand::kCheck;
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
    } else if (arg == "--undo-file" || arg.starts_with("--undo-file=")) {
      if (!line.undoPath.empty()) return Error("--undo-file is given twice");
      if (arg == "--undo-file") {
        if (i + 1 < args.size()) line.undoPath = args[++i];
      } else {
        line.undoPath = arg.substr(12);
      }
      if (line.undoPath.empty())
        return Error("--undo-file needs the path of the .reg file to write");
    } else if (arg.starts_with("-")) {
      return Error("unknown option '" + arg + "'");
    } else if (const std::optional<CliCommand> named = CommandNamed(arg)) {
      if (command) return Error("more than one command ('" + arg + "')");
      command = named;
      if (*named == CliCommand::kCheck) {
        // The mode to check for is the next word, not a command of its own.
        const std::optional<CliCommand> mode =
            i + 1 < args.size() ? CommandNamed(args[i + 1]) : std::nullopt;
        if (mode != CliCommand::kSecure && mode != CliCommand::kNormal) {
          return Error("check needs the mode to check for: check normal or check secure");
        }
        line.checkMode = *mode;
        ++i;
      }
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
  if (!command) return Error("no command given (status, check, secure or normal)");
  line.command = *command;
  const bool switches = line.command == CliCommand::kSecure || line.command == CliCommand::kNormal;
  const char* const commandWord = line.command == CliCommand::kCheck ? "check" : "status";
  if (line.dryRun && !switches) {
    return Error(std::string("--dry-run goes with secure or normal, not with ") + commandWord);
  }
  if (line.backupGiven && !hiveGiven) return Error("--backup and --no-backup go with --hive");
  if (line.backupGiven && !switches) {
    return Error(std::string("--backup and --no-backup go with secure or normal, not with ") +
                 commandWord);
  }
  if (!line.undoPath.empty() && !switches) {
    return Error(std::string("--undo-file goes with secure or normal, not with ") + commandWord);
  }
  if (!line.undoPath.empty() && line.dryRun) {
    return Error("--undo-file goes with a switch that writes, not with --dry-run");
  }
  return {line, ""};
}

std::string UsageText(bool hiveSupported) {
  if (hiveSupported) {
    return "usage: modemprefix --hive PATH status [--json]\n"
           "       modemprefix --hive PATH check normal|secure [--json]\n"
           "       modemprefix --hive PATH secure|normal [--dry-run] [--no-backup]\n"
           "                   [--undo-file FILE] [--json]\n"
           "       modemprefix --help | --version\n";
  }
  return "usage: modemprefix status [--json]\n"
         "       modemprefix check normal|secure [--json]\n"
         "       modemprefix secure|normal [--dry-run] [--undo-file FILE] [--json]\n"
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
      "  check    check normal|secure: exit 0 when every key is in that mode (or there is\n"
      "           no modem), 1 when some key is not; the last line says which; writes nothing\n"
      "  secure   write \"A\" (secure access) into every key that holds \"D\"\n"
      "  normal   write \"D\" (normal operation) into every key that holds \"A\"\n"
      "\n"
      "Options:\n"
      "  --dry-run    say what would be written, write nothing\n"
      "  --json       one JSON document (UTF-8) on standard output instead of text\n"
      "  --undo-file FILE\n"
      "               before writing, save a .reg file (REGEDIT4) that puts every key about\n"
      "               to change back to its present prefix\n";
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
      "  0     done: nothing to change, changed without restart, or status found modems;\n"
      "        check: every key is in the mode, or there is no modem\n"
      "  1     check: some key is not in the mode\n"
      "  3010  changed; restart the PC for the change to take effect\n"
      "  2     no modem settings key found\n"
      "  4     at least one write failed (the other keys were still written)\n"
      "  5     not enough rights: run it as an administrator (elevated)\n"
      "  10    the undo file cannot be written: nothing was changed\n"
      "  87    bad command line\n";
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
