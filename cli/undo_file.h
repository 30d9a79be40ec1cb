// The undo file of a switch: a .reg file (REGEDIT4, the form `reg import`, Regedit and
// hivexregedit --merge read) that puts every key the switch is about to change back to the
// prefix it holds now, and touches nothing else.
#pragma once

#include <string>
#include <vector>

struct UndoEntry {
  std::string path;       // relative to HKEY_LOCAL_MACHINE, as the file's reader names the key
  std::string valueName;  // the dial prefix value's name, spelt as stored
  std::string prefix;     // the prefix to put back, as stored
};

struct UndoText {
  std::string text;   // the whole file; empty when `error` says why it cannot be written
  std::string error;  // "" or one line: which key a .reg file cannot name
};

// The file's text, CR LF line ends as Regedit writes them. Names go in as the registry's ANSI
// bytes (a REGEDIT4 file is read in the ANSI code page), quotes and bytes above 0x7F as they
// are. A name holding a line break or a zero
// byte cannot be written in a .reg file: the text is then refused.
UndoText UndoFileText(const std::vector<UndoEntry>& entries);
