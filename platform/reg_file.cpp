// Loading .reg text into the in-memory registry.
//
// The same files are imported into Wine with `reg import`, so this loader accepts only what
// that import takes, with the same meaning, and rejects the rest instead of guessing: Wine skips
// a line it cannot read (with or without a warning), which would leave a fixture quietly
// different from what its author meant. Measured on Wine's import:
// - the first line is exactly "REGEDIT4" or "Windows Registry Editor Version 5.00" (a UTF-8
//   byte order mark, other case or trailing blanks make it ignore the file);
// - a UTF-16LE file (FF FE) holds text as UTF-16, and so does its hex(1), hex(2) and hex(7)
//   data; in an ANSI file that data is ANSI, whichever header the file has;
// - hex(1), hex(2) and hex(7) data without a final zero gets one appended; an empty one stays
//   empty;
// - "dword:" and "hex" are lower case only; dword takes 1 to 8 hex digits; hex bytes take 1 or
//   2 digits, blanks around commas, a trailing comma, and a backslash at the end of the line
//   (comment allowed after it) to continue on the next;
// - blanks around '=', blanks before a line, and a ';' comment after a complete line are fine;
// - the root may be HKEY_LOCAL_MACHINE or HKLM in any case; a trailing backslash after the key
//   name is ignored, an empty component inside it fails;
// - string escapes are \\, \", \n and \r; "" names the default value like @.
// A file is read whole before anything is stored, so a malformed file changes nothing.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory_registry.h"

namespace {

// "file:line: message", or "file: message" when no line is known.
std::string ErrorText(const std::string& file, int line, const std::string& message) {
  std::string text = file;
  if (line > 0) {
    text += ':';
    text += std::to_string(line);
  }
  text += ": ";
  text += message;
  return text;
}

}  // namespace

RegFileError::RegFileError(const std::string& file, int line, const std::string& message)
    : std::runtime_error(ErrorText(file, line, message)), file_(file), line_(line) {}

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

// One change a file asks for, applied only after the whole file was read.
struct Change {
  enum Kind { kOpenKey, kDeleteKey, kSetValue, kDeleteValue } kind;
  std::string path;
  std::string name;
  std::uint32_t type = regtype::kNone;
  std::vector<std::uint8_t> data;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The single byte of the system code page for a UTF-16 code unit, or -1 where there is none
// that is the same in every Western code page (ASCII and U+00A0..U+00FF).
int ByteForCodeUnit(std::uint16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
  return -1;
}

class RegTextParser {
 public:
  RegTextParser(std::string_view text, const std::string& source) : source_(source) {
    Decode(text);
  }

  std::vector<Change> Parse() {
    if (lines_.empty() || (lines_[0] != kHeader4 && lines_[0] != kHeader5)) {
      lineIndex_ = 0;
      Fail("the first line must be \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\"");
    }
    for (lineIndex_ = 1; lineIndex_ < lines_.size(); ++lineIndex_) {
      line_ = lines_[lineIndex_];
      pos_ = 0;
      SkipBlanks();
      if (AtEndOrComment()) continue;
      if (line_[pos_] == '[') {
        ParseKeyLine();
      } else if (line_[pos_] == '@' || line_[pos_] == '"') {
        ParseValueLine();
      } else {
        Fail("expected a [key], a \"name\"= or @= value line, or a ; comment");
      }
    }
    return std::move(changes_);
  }

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    throw RegFileError(source_, static_cast<int>(lineIndex_) + 1, message);
  }

  // Splits the text into lines without their CR LF or LF, decoding UTF-16LE text to bytes.
  void Decode(std::string_view text) {
    std::string narrow;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
      unicode_ = true;
      if (text.size() % 2 != 0) {
        for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
          if (text[i] == '\n' && text[i + 1] == '\0') ++lineIndex_;
        }
        Fail("UTF-16 text ends in half a character");
      }
      narrow.reserve(text.size() / 2);
      std::size_t line = 0;
      for (std::size_t i = 2; i < text.size(); i += 2) {
        const auto unit = static_cast<std::uint16_t>(static_cast<unsigned char>(text[i]) |
                                                     static_cast<unsigned char>(text[i + 1]) << 8);
        const int byte = ByteForCodeUnit(unit);
        if (byte < 0) {
          lineIndex_ = line;
          Fail("character U+" + Hex4(unit) + " has no single byte in the ANSI code page");
        }
        if (byte == '\n') ++line;
        narrow += static_cast<char>(byte);
      }
      text = narrow;
    }
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.emplace_back(line);
      start = end + 1;
    }
  }

  static std::string Hex4(std::uint16_t unit) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(unit >> shift) & 0xF];
    return out;
  }

  // ---- Cursor over the current line.

  void SkipBlanks() {
    while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
  }
  bool AtEndOrComment() const { return pos_ >= line_.size() || line_[pos_] == ';'; }
  bool Consume(std::string_view token) {
    if (line_.substr(pos_, token.size()) != token) return false;
    pos_ += token.size();
    return true;
  }
  // Only blanks and a comment may follow a complete line.
  void ExpectLineEnd() {
    SkipBlanks();
    if (!AtEndOrComment()) Fail("unexpected text after the entry: \"" + line_.substr(pos_) + "\"");
  }

  // ---- Keys.

  void ParseKeyLine() {
    ++pos_;  // '['
    const std::size_t close = line_.rfind(']');
    if (close == std::string::npos || close < pos_) Fail("a key name must end with ']'");
    std::string_view inner = std::string_view(line_).substr(pos_, close - pos_);
    pos_ = close + 1;
    ExpectLineEnd();

    const bool deletion = !inner.empty() && inner.front() == '-';
    if (deletion) inner.remove_prefix(1);
    const std::size_t cut = inner.find('\\');
    const std::string_view rootName = inner.substr(0, cut);
    if (!EqualsIgnoringAsciiCase(rootName, "HKEY_LOCAL_MACHINE") &&
        !EqualsIgnoringAsciiCase(rootName, "HKLM")) {
      Fail("the key \"" + std::string(inner) + "\" is not below HKEY_LOCAL_MACHINE");
    }
    std::string_view path =
        cut == std::string_view::npos ? std::string_view() : inner.substr(cut + 1);
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (!path.empty() && (path.front() == '\\' || path.find("\\\\") != std::string_view::npos)) {
      Fail("the key \"" + std::string(inner) + "\" has an empty name in its path");
    }

    if (deletion) {
      if (path.empty()) Fail("HKEY_LOCAL_MACHINE itself cannot be deleted");
      changes_.push_back(Change{Change::kDeleteKey, std::string(path), {}, regtype::kNone, {}});
      haveKey_ = false;
    } else {
      changes_.push_back(Change{Change::kOpenKey, std::string(path), {}, regtype::kNone, {}});
      haveKey_ = true;
      keyPath_ = path;
    }
  }

  // ---- Values.

  void ParseValueLine() {
    if (!haveKey_) Fail("a value line must follow a [key] line");
    std::string name;
    if (Consume("@")) {
      name.clear();
    } else {
      name = ParseQuoted("value name");
    }
    SkipBlanks();
    if (!Consume("=")) Fail("expected '=' after the value name");
    SkipBlanks();

    Change change{Change::kSetValue, keyPath_, std::move(name), regtype::kSz, {}};
    if (Consume("-")) {
      change.kind = Change::kDeleteValue;
      ExpectLineEnd();
    } else if (pos_ < line_.size() && line_[pos_] == '"') {
      const std::string text = ParseQuoted("string");
      change.data.assign(text.begin(), text.end());
      change.data.push_back(0);
      ExpectLineEnd();
    } else if (Consume("dword:")) {
      change.type = regtype::kDword;
      SkipBlanks();
      const std::uint32_t value = ParseHexNumber("dword");
      for (int i = 0; i < 4; ++i)
        change.data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
      ExpectLineEnd();
    } else if (Consume("hex")) {
      change.type = regtype::kBinary;
      if (Consume("(")) {
        change.type = ParseHexNumber("hex type");
        if (!Consume(")")) Fail("expected ')' after the type number of hex(");
      }
      if (!Consume(":")) Fail("expected ':' after hex");
      change.data = ParseHexBytes();
      if (change.type == regtype::kSz || change.type == regtype::kExpandSz ||
          change.type == regtype::kMultiSz) {
        change.data = StringTypeData(std::move(change.data));
      }
    } else {
      Fail("unknown value data: expected \"text\", -, dword:, hex: or hex(type):");
    }
    changes_.push_back(std::move(change));
  }

  // A quoted name or string with its escapes resolved; the cursor is on the opening quote.
  std::string ParseQuoted(const char* what) {
    ++pos_;
    std::string text;
    for (;;) {
      if (pos_ >= line_.size()) Fail(std::string("the ") + what + " has no closing quote");
      const char c = line_[pos_++];
      if (c == '"') return text;
      if (c != '\\') {
        text += c;
        continue;
      }
      if (pos_ >= line_.size()) Fail(std::string("the ") + what + " has no closing quote");
      const char escaped = line_[pos_++];
      switch (escaped) {
        case '\\':
        case '"':
          text += escaped;
          break;
        case 'n':
          text += '\n';
          break;
        case 'r':
          text += '\r';
          break;
        default:
          Fail(std::string("unknown escape \\") + escaped + " in a " + what);
      }
    }
  }

  std::uint32_t ParseHexNumber(const char* what) {
    std::uint32_t value = 0;
    int digits = 0;
    for (; pos_ < line_.size() && HexDigit(line_[pos_]) >= 0; ++pos_, ++digits) {
      if (digits == 8) Fail(std::string("a ") + what + " takes at most 8 hex digits");
      value = value << 4 | static_cast<std::uint32_t>(HexDigit(line_[pos_]));
    }
    if (digits == 0) Fail(std::string("a ") + what + " needs 1 to 8 hex digits");
    return value;
  }

  // Comma-separated bytes, continued onto the next line after a trailing backslash.
  std::vector<std::uint8_t> ParseHexBytes() {
    std::vector<std::uint8_t> bytes;
    bool expectByte = true;  // at the start or after a comma
    for (;;) {
      SkipBlanks();
      if (AtEndOrComment()) return bytes;
      const char c = line_[pos_];
      if (expectByte && c == '\\') {
        ++pos_;
        ExpectLineEnd();
        if (lineIndex_ + 1 >= lines_.size()) Fail("the hex data continues past the end of file");
        line_ = lines_[++lineIndex_];
        pos_ = 0;
        SkipBlanks();
        if (AtEndOrComment()) Fail("a continued hex line holds no bytes");
        continue;
      }
      if (expectByte) {
        int digits = 0;
        unsigned value = 0;
        for (; digits < 2 && pos_ < line_.size() && HexDigit(line_[pos_]) >= 0; ++digits, ++pos_) {
          value = value << 4 | static_cast<unsigned>(HexDigit(line_[pos_]));
        }
        if (digits == 0 || (pos_ < line_.size() && HexDigit(line_[pos_]) >= 0)) {
          Fail("hex data must be bytes of 1 or 2 hex digits separated by commas");
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
        expectByte = false;
      } else if (c == ',') {
        ++pos_;
        expectByte = true;
      } else {
        Fail("expected ',' between hex bytes");
      }
    }
  }

  // hex(1), hex(2) and hex(7) data as stored: ANSI bytes, UTF-16 narrowed in a UTF-16 file, with
  // a final zero appended when missing.
  std::vector<std::uint8_t> StringTypeData(std::vector<std::uint8_t> raw) const {
    std::vector<std::uint8_t> data;
    if (unicode_) {
      if (raw.size() % 2 != 0) Fail("UTF-16 string data must have an even number of bytes");
      for (std::size_t i = 0; i < raw.size(); i += 2) {
        const auto unit = static_cast<std::uint16_t>(raw[i] | raw[i + 1] << 8);
        const int byte = ByteForCodeUnit(unit);
        if (byte < 0)
          Fail("character U+" + Hex4(unit) + " has no single byte in the ANSI code page");
        data.push_back(static_cast<std::uint8_t>(byte));
      }
    } else {
      data = std::move(raw);
    }
    if (!data.empty() && data.back() != 0) data.push_back(0);
    return data;
  }

  const std::string& source_;
  std::vector<std::string> lines_;
  bool unicode_ = false;
  std::size_t lineIndex_ = 0;
  std::string line_;
  std::size_t pos_ = 0;
  bool haveKey_ = false;
  std::string keyPath_;
  std::vector<Change> changes_;
};

}  // namespace

void MemoryRegistry::LoadRegText(std::string_view text, const std::string& sourceName) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
    throw RegFileError(sourceName, 1,
                       "UTF-8 with a byte order mark is not a .reg encoding; save "
                       "it as ANSI or UTF-16");
  }
  const std::vector<Change> changes = RegTextParser(text, sourceName).Parse();
  for (const Change& change : changes) {
    switch (change.kind) {
      case Change::kOpenKey:
        CreateKey(change.path);
        break;
      case Change::kDeleteKey:
        DeleteKey(change.path);
        break;
      case Change::kSetValue:
        SetValue(change.path, change.name, change.type, change.data);
        break;
      case Change::kDeleteValue:
        DeleteValue(change.path, change.name);
        break;
    }
  }
}

void MemoryRegistry::LoadRegFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw RegFileError(file, 0, "cannot open the file");
  std::ostringstream contents;
  contents << in.rdbuf();
  if (in.bad()) throw RegFileError(file, 0, "cannot read the file");
  LoadRegText(contents.str(), file);
}
