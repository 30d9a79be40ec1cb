#include "cli/undo_file.h"

namespace {

// A line break ends a .reg file's line and a zero byte its text: a key name holding one
// cannot be named there.
const std::string kUnnameable("\r\n\0", 3);

}  // namespace

UndoText UndoFileText(const std::vector<UndoEntry>& entries) {
  UndoText undo;
  undo.text = "REGEDIT4\r\n";
  for (const UndoEntry& entry : entries) {
    const std::size_t unnameable = entry.path.find_first_of(kUnnameable);
    if (unnameable != std::string::npos) {
      return {"", "the key " + entry.path.substr(0, unnameable) +
                      "... holds a line break or a zero byte in its name, which a .reg file "
                      "cannot name"};
    }
    undo.text += "\r\n[HKEY_LOCAL_MACHINE\\" + entry.path + "]\r\n";
    // The value's name matches "DialPrefix" and its text "A" or "D" without regard to case:
    // neither holds a quote or backslash that would need escaping.
    undo.text += "\"" + entry.valueName + "\"=\"" + entry.prefix + "\"\r\n";
  }
  return undo;
}
