// The command line of modemprefix: what it is asked to do, parsed strictly (an unknown word or
// option is an error, never ignored).
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class CliCommand {
  kStatus,   // list the modem settings keys and the mode they are in
  kSecure,   // switch every key to secure access ("A")
  kNormal,   // switch every key to normal operation ("D")
  kCheck,    // check normal|secure: whether every key is in that mode (exit 0) or not (exit 1)
  kHelp,     // --help
  kVersion,  // --version
};

struct CommandLine {
  CliCommand command = CliCommand::kStatus;
  bool dryRun = false;   // secure/normal: say what would be written, write nothing
  bool json = false;     // one JSON document on standard output instead of text
  std::string hivePath;  // --hive: an offline SYSTEM hive file instead of the live registry
  bool backup = true;    // --backup / --no-backup: keep the hive's original beside it
  bool backupGiven = false;
  // check: the mode every key must be in (kSecure or kNormal).
  CliCommand checkMode = CliCommand::kSecure;
  // secure/normal: --undo-file, a .reg file that puts back every key about to change.
  std::string undoPath;
};

struct ParsedCommandLine {
  std::optional<CommandLine> commandLine;  // empty when the words are off
  std::string error;                       // then: one line saying what is wrong
};

// Parses the arguments after the program name. `hiveSupported` is true in the build that can
// open hive files; elsewhere --hive is refused with a line saying where it is handled.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args, bool hiveSupported);

// The short usage text printed on standard error after a bad command line.
std::string UsageText(bool hiveSupported);
// The whole --help text, exit codes included.
std::string HelpText(bool hiveSupported);
