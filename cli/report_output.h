// Writing out what a run of modemprefix has to say, each write checked: output that cannot be
// written is a failure of its own, told on standard error and in the exit code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

enum class OutputStream { kOut, kErr };

// Writes `text` whole to one of the process's streams; returns "" or why it could not (the
// system's text of the error).
using StreamWriter = std::function<std::string(OutputStream stream, std::string_view text)>;

// Writes the report `out` and then the error lines `err` of a run that ended with `code`, and
// returns the process's exit code: `code`, or exitcode::kReportNotWritten when a text could not
// be written and the run had not failed already (a failure's own code says more, and its line
// was meant for standard error). A report that could not be written is told on standard error.
int WriteRunOutput(int code, const std::string& out, const std::string& err,
                   const StreamWriter& write);

// The length of the next piece of UTF-16 `text` (`size` units) to hand the console in one call:
// at most `maxUnits` units, never ending between the two halves of a surrogate pair.
template <typename Unit>
std::size_t ConsolePieceLength(const Unit* text, std::size_t size, std::size_t maxUnits) {
  if (size <= maxUnits) return size;
  const auto last = static_cast<std::uint32_t>(text[maxUnits - 1]);
  const bool highSurrogate = last >= 0xD800 && last <= 0xDBFF;
  return highSurrogate && maxUnits > 1 ? maxUnits - 1 : maxUnits;
}
