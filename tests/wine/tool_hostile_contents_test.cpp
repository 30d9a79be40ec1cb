// The real tool on hostile registry contents, in Wine's real registry: names and data at and far
// past the 512-byte buffers, dial prefixes of every type, bytes above 0x7F, value names in every
// mix of case, a tree deeper than the ANSI open reaches and a link back to its own parent.
//
// Most cases plant a hostile key and, after it in the walk, a sound modem key holding the same
// letter: the sound key is the last one found, so the status shows the scan got past the
// hostile one, and OK (which writes the other letter into every key recorded with this one)
// shows by what it rewrote whether the hostile key was recorded. The registry under Wine
// enumerates subkeys by name, so "Hostile..." comes before "Sound".
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "hostile_fixture.h"
#include "tool_driver.h"
#include "tool_expected.h"

namespace {

const std::string kCaseKey = "SYSTEM\\CurrentControlSet\\Control\\HostileCase";
const std::string kSoundKey = kCaseKey + "\\Sound";

std::string Other(const std::string& letter) { return letter == "D" ? "A" : "D"; }

bool SameAsciiLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

class ToolHostileTest : public ToolTest {
 protected:
  void TearDown() override {
    // Before the base releases the lock that keeps other tool tests out of the control sets.
    EXPECT_EQ(tree.Remove(), "");
    ToolTest::TearDown();
  }

  // A modem settings key holding `letter`, its names in their usual spelling.
  void PlantModem(const std::string& path, const std::string& letter) {
    ASSERT_EQ(tree.SetValue(path, "Tone", REG_DWORD, DwordBytes(1)), "");
    ASSERT_EQ(tree.SetValue(path, "Pulse", REG_DWORD, DwordBytes(0)), "");
    ASSERT_EQ(tree.SetValue(path, "DialPrefix", REG_SZ, TextBytes(letter)), "");
  }

  // Starts the tool and expects the status of a last key holding `letter`, with the other mode
  // pre-selected; then OK, which writes the other letter into every key recorded with this one
  // (the sound key at least, so the restart notice follows). The tool must end by itself in
  // time with exit code 0.
  void ExpectModeThenOk(const std::string& letter) {
    const bool normal = letter == "D";
    ToolRun tool;
    ASSERT_EQ(tool.Start(), "");
    EXPECT_EQ(tool.StatusText(), normal ? kStatusNormal : kStatusSecure);
    const UINT checked = BST_CHECKED, unchecked = BST_UNCHECKED;
    EXPECT_EQ(tool.CheckState(kRadioSecure), normal ? checked : unchecked);
    EXPECT_EQ(tool.CheckState(kRadioNormal), normal ? unchecked : checked);
    tool.PostClick(IDOK);
    const RunEnding ending = tool.FinishPressingOk();
    EXPECT_EQ(ending.messages, std::vector<ShownMessage>{kRestartNotice});
    EXPECT_EQ(ending.exitCode, std::optional<DWORD>(0)) << "the tool did not end by itself";
  }

  ScratchTree tree;
};

// ---- One hostile key of values: limits, types, terminators, bytes above 0x7F.

struct PlantedValue {
  std::string name;
  DWORD type;
  std::vector<BYTE> data;
  bool native = false;  // name and data stored exactly as given: UTF-16 data, zeros in the name
};

PlantedValue Dword(const std::string& name, DWORD value) {
  return {name, REG_DWORD, DwordBytes(value)};
}
PlantedValue Text(const std::string& name, const std::string& text) {
  return {name, REG_SZ, TextBytes(text)};
}
// Tone and Pulse as a modem has them, then `prefix` and whatever else the case adds.
std::vector<PlantedValue> Modem(PlantedValue prefix, std::vector<PlantedValue> more = {}) {
  std::vector<PlantedValue> values = {Dword("Tone", 1), Dword("Pulse", 0), std::move(prefix)};
  values.insert(values.end(), more.begin(), more.end());
  return values;
}

struct ValueCase {
  const char* name;
  std::vector<PlantedValue> values;
  // The letter the hostile key is recorded with, or "" when it must not be recorded: then it
  // holds a value that would be taken for "D" if the key were recorded wrongly.
  std::string recordedAs;
  std::string keyName = "Hostile";
  friend void PrintTo(const ValueCase& c, std::ostream* out) { *out << c.name; }
};

std::vector<BYTE> Bytes(std::initializer_list<int> bytes) {
  std::vector<BYTE> out;
  for (int b : bytes) out.push_back(static_cast<BYTE>(b));
  return out;
}

std::vector<BYTE> Filled(std::size_t size, BYTE first, BYTE rest) {
  std::vector<BYTE> data(size, rest);
  data.front() = first;
  return data;
}

constexpr std::size_t kMegabyte = 1024 * 1024;

const ValueCase kValueCases[] = {
    // A key whose longest value name or data reaches 512 has its values passed over.
    {"ValueName511", Modem(Text("DialPrefix", "D"), {Dword(std::string(511, 'v'), 1)}), "D"},
    {"ValueName512", Modem(Text("DialPrefix", "D"), {Dword(std::string(512, 'v'), 1)}), ""},
    {"ValueName16383", Modem(Text("DialPrefix", "D"), {Dword(std::string(16383, 'v'), 1)}), ""},
    {"Data511", Modem(Text("DialPrefix", "D"), {{"Blob", REG_BINARY, Filled(511, 'x', 'x')}}), "D"},
    {"Data512", Modem(Text("DialPrefix", "D"), {{"Blob", REG_BINARY, Filled(512, 'x', 'x')}}), ""},
    {"Data1MB", Modem(Text("DialPrefix", "D"), {{"Blob", REG_BINARY, Filled(kMegabyte, 'x', 'x')}}),
     ""},
    {"DialPrefixOf1MB", Modem({"DialPrefix", REG_BINARY, Filled(kMegabyte, 'D', 0)}), ""},
    // A string's text ends at its first zero or at its end, whichever comes first.
    {"StringWithoutTerminator", Modem({"DialPrefix", REG_SZ, Bytes({'D'})}), "D"},
    {"StringOfOddByteCount", Modem({"DialPrefix", REG_SZ, Bytes({'a', 0, 'x'}), true}), "A"},
    {"StringZeroThenMore", Modem({"DialPrefix", REG_SZ, Bytes({'a', 0, 'D', 0})}), "A"},
    // Data of any type is read as text.
    {"BinaryWithoutZero", Modem({"DialPrefix", REG_BINARY, Bytes({'D'})}), "D"},
    {"BinaryZeroThenMore", Modem({"DialPrefix", REG_BINARY, Bytes({'a', 0, 0xFF})}), "A"},
    {"DwordD", Modem(Dword("DialPrefix", 0x44)), "D"},
    {"DwordLowerA", Modem(Dword("DialPrefix", 0x61)), "A"},
    {"DwordTwoLetters", Modem(Dword("DialPrefix", 0x4144)), ""},
    {"QwordLowerD", Modem({"DialPrefix", REG_QWORD, Bytes({'d', 0, 0, 0, 0, 0, 0, 0})}), "D"},
    {"MultiString", Modem({"DialPrefix", REG_MULTI_SZ, Bytes({'a', 0, 'x', 0, 0})}), "A"},
    {"MultiStringEmptyFirst", Modem({"DialPrefix", REG_MULTI_SZ, Bytes({0, 'D', 0, 0})}), ""},
    // Bytes above 0x7F never match a name or a letter, and travel unharmed in a key's path.
    {"HighByteForToneLetter",
     {Dword("T\xD4NE", 1), Dword("Pulse", 0), Text("DialPrefix", "D")},
     ""},
    {"HighByteAfterPrefixName",
     {Dword("Tone", 1), Dword("Pulse", 0), Text("DialPrefix\xA0", "D")},
     ""},
    {"HighByteAfterPrefixLetter", Modem(Text("DialPrefix", "D\xA0")), ""},
    {"HighByteBeforePrefixLetter", Modem(Text("DialPrefix", std::string("\xA0") + "D")), ""},
    // (The ANSI code page is 1252 here: these bytes make characters and come back unchanged.)
    {"HighBytesInKeyName", Modem(Text("DialPrefix", "d")), "D", "Hostile\xC4\xE9\xFF"},
};

class ToolHostileValueTest : public ToolHostileTest,
                             public ::testing::WithParamInterface<ValueCase> {};

TEST_P(ToolHostileValueTest, ScanGoesOnAndOkRewritesOnlyKeysRecorded) {
  const ValueCase& c = GetParam();
  const std::string hostileKey = kCaseKey + "\\" + c.keyName;
  for (const PlantedValue& v : c.values) {
    ASSERT_EQ(v.native ? tree.SetValueNative(hostileKey, v.name, v.type, v.data)
                       : tree.SetValue(hostileKey, v.name, v.type, v.data),
              "");
  }
  const std::optional<std::vector<NamedValue>> before = tree.Values(hostileKey);
  ASSERT_TRUE(before.has_value());
  ASSERT_EQ(before->size(), c.values.size());
  const std::string letter = c.recordedAs.empty() ? "D" : c.recordedAs;
  PlantModem(kSoundKey, letter);

  ASSERT_NO_FATAL_FAILURE(ExpectModeThenOk(letter));

  // The hostile key keeps every value as it was, but for a recorded key's dial prefix: that
  // now holds the other letter as a string, under the name it was stored with.
  std::vector<NamedValue> expected = *before;
  if (!c.recordedAs.empty()) {
    for (NamedValue& v : expected) {
      if (SameAsciiLetters(v.name, "DialPrefix")) v.value = StringValue(Other(letter));
    }
  }
  EXPECT_EQ(tree.Values(hostileKey), expected);
  EXPECT_EQ(tree.Value(kSoundKey, "DialPrefix"), StringValue(Other(letter)));
}

INSTANTIATE_TEST_SUITE_P(HostileValues, ToolHostileValueTest, ::testing::ValuesIn(kValueCases),
                         CaseName());

// Value names that hold a zero byte. The registry counts a name's length, so "DialPrefix\0x" is
// a name of its own, not DIALPREFIX: a key whose only prefix (or tone) value is spelled so is no
// modem, and OK leaves it as it was. (Read up to its zero, the name would pass for DIALPREFIX:
// OK would add a second value beside it that the next scan never reads, and report success.)
const ValueCase kZeroByteNameCases[] = {
    {"ZeroByteInPrefixName",
     {Dword("Tone", 1),
      Dword("Pulse", 0),
      {std::string("DialPrefix\0x", 12), REG_SZ, Bytes({'D', 0, 0, 0}), true}},
     ""},
    {"ZeroByteInToneName",
     {{std::string("Tone\0x", 6), REG_DWORD, DwordBytes(1), true},
      Dword("Pulse", 0),
      Text("DialPrefix", "D")},
     ""},
};

INSTANTIATE_TEST_SUITE_P(HostileNamesWithZeroBytes, ToolHostileValueTest,
                         ::testing::ValuesIn(kZeroByteNameCases), CaseName());

// ---- Value names in every mix of upper and lower case.

// The name with the letters whose bit is set in `mask` in upper case, the others in lower.
std::string MixedCase(const std::string& name, unsigned mask) {
  std::string mixed;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char lower = static_cast<char>(name[i] | 0x20);
    mixed += (mask >> i) & 1u ? static_cast<char>(lower - 32) : lower;
  }
  return mixed;
}

TEST_F(ToolHostileTest, ValueNamesInEveryMixOfCaseAreAllRecognised) {
  // One key for each of the 1024 spellings of DIALPREFIX, each with one of the 16 spellings of
  // TONE and the 32 of PULSE, and a secure-access letter in either case. Every key is recorded,
  // so OK writes "D" into each of them: through the name the value was stored with.
  constexpr unsigned kKeys = 1u << 10;
  std::vector<std::pair<std::string, std::vector<NamedValue>>> keys;
  for (unsigned i = 0; i < kKeys; ++i) {
    char name[8];
    std::snprintf(name, sizeof(name), "K%04u", i);
    const std::string path = kCaseKey + "\\" + name;
    const std::vector<NamedValue> values = {
        {MixedCase("dialprefix", i), StringValue(i % 2 ? "A" : "a")},
        {MixedCase("pulse", i >> 4), {REG_DWORD, DwordBytes(0)}},
        {MixedCase("tone", i & 15u), {REG_DWORD, DwordBytes(1)}},
    };
    for (const NamedValue& v : values) {
      ASSERT_EQ(tree.SetValue(path, v.name, v.value.type, v.value.data), "");
    }
    keys.emplace_back(path, values);
  }

  ASSERT_NO_FATAL_FAILURE(ExpectModeThenOk("A"));  // the last key, K1023, holds "A"

  for (auto& [path, values] : keys) {
    values[0].value = StringValue("D");
    EXPECT_EQ(tree.Values(path), values) << path;
  }
}

// ---- A tree deeper than the ANSI open reaches.

TEST_F(ToolHostileTest, TreePastThePathLimitIsPassedOverBelowIt) {
  // Modem keys holding "D" whose paths have 250 characters, then below that key 260 and 261,
  // and below the last ever deeper ones, to about 1,300. The walk opens each key by its full
  // path, so it finds the keys of up to 260 characters and passes over the rest; the sound key
  // after them is still found, and OK rewrites exactly the keys found.
  const std::string deep = kCaseKey + "\\Deep";
  std::vector<std::string> chain = {deep};
  const auto extendTo = [&](const std::string& from, std::size_t length) {
    return from + "\\" + std::string(length - from.size() - 1, 'n');
  };
  const std::string at250 = extendTo(deep, 250);
  chain.push_back(at250);
  chain.push_back(extendTo(at250, kAnsiPathLimit));
  std::string below = extendTo(at250, kAnsiPathLimit + 1);
  chain.push_back(below);
  for (int level = 0; level < 4; ++level) {
    below = extendTo(below, below.size() + 1 + 255);
    chain.push_back(below);
  }
  for (const std::string& path : chain) PlantModem(path, "D");
  PlantModem(kSoundKey, "D");

  ASSERT_NO_FATAL_FAILURE(ExpectModeThenOk("D"));

  for (const std::string& path : chain) {
    const bool reachable = path.size() <= kAnsiPathLimit;
    EXPECT_EQ(tree.Value(path, "DialPrefix"), StringValue(reachable ? "A" : "D"))
        << path.size() << " characters";
  }
}

// ---- A link that leads back to its own parent.

TEST_F(ToolHostileTest, LinkToItsOwnParentEndsTheWalkAndTheScanGoesOn) {
  // Loop\Back leads to Loop, so Loop\Back\Back\...\M names Loop\M again at every level. Opening
  // by full path, the walk goes down until the path passes the ANSI limit, records M at every
  // level on its way, and goes on with the sound key after Loop. OK writes "A" through every
  // recorded path: all of them end at the one key Loop\M.
  const std::string loop = kCaseKey + "\\Loop";
  PlantModem(loop + "\\M", "D");
  ASSERT_EQ(tree.CreateLink(loop + "\\Back", loop), "");
  ASSERT_TRUE(tree.Exists(loop + "\\Back\\Back\\Back\\M"));
  PlantModem(kSoundKey, "D");

  ASSERT_NO_FATAL_FAILURE(ExpectModeThenOk("D"));

  EXPECT_EQ(tree.Value(loop + "\\M", "DialPrefix"), StringValue("A"));
  EXPECT_EQ(tree.Values(loop), std::vector<NamedValue>{});
  EXPECT_EQ(tree.Value(kSoundKey, "DialPrefix"), StringValue("A"));

  // The link is taken down as a link, before its target: nothing of the case is left.
  EXPECT_EQ(tree.Remove(), "");
  EXPECT_FALSE(MachineKeyExists(kCaseKey));
}

}  // namespace
