#include "cli/undo_file.h"

#include <set>

namespace {

// A .reg file names the value and its data between quotes: a quote or backslash in them is
// escaped with a backslash.
std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

bool NameableInRegFile(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

UndoText UndoFileText(const std::vector<UndoEntry>& entries) {
  UndoText undo;
  undo.text = "REGEDIT4\r\n";
  std::set<std::string> written;
  for (const UndoEntry& entry : entries) {
    if (!NameableInRegFile(entry.path) || !NameableInRegFile(entry.valueName) ||
        !NameableInRegFile(entry.prefix)) {
      return {"", "the key " +
                      entry.path.substr(0, entry.path.find_first_of(std::string("\r\n\0", 3))) +
                      "... holds a line break or a zero byte in its name, which a .reg file "
                      "cannot name"};
    }
    if (!written.insert(entry.path).second) continue;
    undo.text += "\r\n[HKEY_LOCAL_MACHINE\\" + entry.path + "]\r\n";
    undo.text += Quoted(entry.valueName) + "=" + Quoted(entry.prefix) + "\r\n";
  }
  return undo;
}
