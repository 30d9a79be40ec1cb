#include "cli/report_output.h"

#include "cli/modem_prefix.h"

namespace {

// The outcomes a run reports on success (and check's "not compliant", and "no modem"): a
// reader that was given no report cannot act on them, so a failed write replaces them.
bool IsOutcome(int code) {
  return code == exitcode::kDone || code == exitcode::kNotCompliant || code == exitcode::kNoModem ||
         code == exitcode::kRestartNeeded;
}

}  // namespace

int WriteRunOutput(int code, const std::string& out, const std::string& err,
                   const StreamWriter& write) {
  bool failed = false;
  std::string errors = err;
  if (!out.empty()) {
    const std::string problem = write(OutputStream::kOut, out);
    if (!problem.empty()) {
      failed = true;
      errors +=
          "modemprefix: the report could not be written to standard output: " + problem + "\n";
    }
  }
  if (!errors.empty() && !write(OutputStream::kErr, errors).empty()) failed = true;
  return failed && IsOutcome(code) ? exitcode::kReportNotWritten : code;
}
