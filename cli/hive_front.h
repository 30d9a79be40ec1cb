// modemprefix on Linux: the same commands, reports and exit codes as the Windows program, on an
// offline SYSTEM hive file (--hive PATH) instead of the live registry.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/modem_prefix.h"
#include "platform/hive_registry.h"

// Runs the whole program on `args` (without the program name): opens the hive (for writing
// only when a switch will write), runs the command, and writes the changed hive back
// atomically before the report is final. A hive that cannot be opened or written gives one
// line on `err` and its own exit code; `out` then holds nothing, or with --json one document
// with the error, the exit code and what was read.
// `commitStepHook` is handed to the write-back (CommitOptions::stepHook): tests fail a step.
int RunModemPrefixOnHive(const std::vector<std::string>& args, ReportText& out, ReportText& err,
                         const std::function<bool(CommitStep)>& commitStepHook = {});
