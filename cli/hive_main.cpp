// modemprefix for Linux: the console companion on an offline SYSTEM hive file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/hive_front.h"
#include "cli/report_output.h"

namespace {

// Writes `text` to standard output or error and flushes it: a full disk or a closed descriptor
// shows at the flush at the latest. Returns "" or the system's text of the error.
std::string WriteStream(OutputStream stream, std::string_view text) {
  std::FILE* const file = stream == OutputStream::kOut ? stdout : stderr;
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool flushed = std::fflush(file) == 0;
  if (written && flushed && !std::ferror(file)) return "";
  const int error = errno;
  return error != 0 ? std::strerror(error) : "the stream reports an error";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  ReportText out, err;
  const int code = RunModemPrefixOnHive(args, out, err);
  return WriteRunOutput(code, out.str(), err.str(), &WriteStream);
}
