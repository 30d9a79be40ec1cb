// Loading .reg text into the in-memory registry: every kind of entry, deletions, UTF-16 files,
// and malformed lines reported by file and line with nothing loaded.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory_registry.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

struct Expected {
  std::string path, name;
  std::uint32_t type;
  Bytes data;
};

void ExpectValues(const MemoryRegistry& registry, const std::vector<Expected>& expected) {
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.path + " : " + e.name);
    const auto value = registry.GetValue(e.path, e.name);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, e.type);
    EXPECT_EQ(value->data, e.data);
  }
}

TEST(RegFile, LoadsEveryKindOfEntry) {
  MemoryRegistry registry;
  registry.LoadRegText(
      "REGEDIT4\r\n"
      "\r\n"
      "; modem settings\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Modem]\r\n"
      "\"DialPrefix\"=\"D\"\r\n"
      "  \"Escaped\" = \"a\\\\b\\\"c\\nd\\re\"   ; a comment\r\n"
      "@=\"default\"\r\n"
      "\"Tone\"=dword:0000001f\r\n"
      "\"Short\"=dword:1F\r\n"
      "\"Bin\"=hex:01, 2,ff,\r\n"
      "\"Empty\"=hex:\r\n"
      "\"Expand\"=hex(2):25,41,25\r\n"
      "\"Multi\"=hex(7):61,00,62,00,00\r\n"
      "\"None\"=hex(0):\\ ; continued\r\n"
      "    7f,\\\r\n"
      "    80\r\n"
      "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\"Odd type\"=hex(100):09\r\n"
      "[hklm\\SYSTEM\\ControlSet001\\Modem\\Sub\\]\r\n",
      "every.reg");
  ExpectValues(
      registry,
      {
          {"SYSTEM\\ControlSet001\\Modem", "DialPrefix", regtype::kSz, B({"D\0", 2})},
          {"SYSTEM\\ControlSet001\\Modem", "Escaped", regtype::kSz, B({"a\\b\"c\nd\re\0", 10})},
          {"SYSTEM\\ControlSet001\\Modem", "", regtype::kSz, B({"default\0", 8})},
          {"SYSTEM\\ControlSet001\\Modem", "Tone", regtype::kDword, {0x1f, 0, 0, 0}},
          {"SYSTEM\\ControlSet001\\Modem", "Short", regtype::kDword, {0x1f, 0, 0, 0}},
          {"SYSTEM\\ControlSet001\\Modem", "Bin", regtype::kBinary, {1, 2, 0xff}},
          {"SYSTEM\\ControlSet001\\Modem", "Empty", regtype::kBinary, {}},
          // String types gain the terminating zero they lack, as Wine's import adds it.
          {"SYSTEM\\ControlSet001\\Modem", "Expand", regtype::kExpandSz, B({"%A%\0", 4})},
          {"SYSTEM\\ControlSet001\\Modem", "Multi", regtype::kMultiSz, B({"a\0b\0\0", 5})},
          {"SYSTEM\\ControlSet001\\Modem", "None", regtype::kNone, {0x7f, 0x80}},
          {"SYSTEM\\ControlSet001\\Modem", "Qword", regtype::kQword, {1, 0, 0, 0, 0, 0, 0, 0}},
          {"SYSTEM\\ControlSet001\\Modem", "Odd type", 0x100, {9}},
      });
  EXPECT_TRUE(registry.KeyExists("SYSTEM\\ControlSet001\\Modem\\Sub"));
  EXPECT_EQ(registry.Values("SYSTEM\\ControlSet001\\Modem").size(), 12u);
}

TEST(RegFile, DeletesKeysAndValues) {
  MemoryRegistry registry;
  registry.SetString("SYSTEM\\Keep", "a", "1");
  registry.SetString("SYSTEM\\Keep", "b", "2");
  registry.SetString("SYSTEM\\Gone\\Deeper", "v", "x");
  registry.SetString("SYSTEM\\Target", "v", "x");
  registry.AddAlias("SYSTEM\\Link", "SYSTEM\\Target");
  registry.LoadRegText(
      "Windows Registry Editor Version 5.00\n"
      "[-HKEY_LOCAL_MACHINE\\SYSTEM\\Gone]\n"
      "[-HKEY_LOCAL_MACHINE\\SYSTEM\\Link]\n"
      "[-HKEY_LOCAL_MACHINE\\SYSTEM\\Never\\There]\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\Keep]\n"
      "\"A\"=-\n"
      "\"missing\"=-\n");
  EXPECT_FALSE(registry.KeyExists("SYSTEM\\Gone"));
  EXPECT_FALSE(registry.KeyExists("SYSTEM\\Link"));
  EXPECT_TRUE(registry.GetValue("SYSTEM\\Target", "v").has_value());  // an alias goes alone
  const std::vector<StoredValue> kept = registry.Values("SYSTEM\\Keep");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].name, "b");
}

// A UTF-16LE file as the import reads it: byte order mark, then the text.
std::string Utf16File(std::u16string_view text) {
  std::string raw = "\xFF\xFE";
  for (char16_t unit : text) {
    raw += static_cast<char>(unit & 0xFF);
    raw += static_cast<char>(unit >> 8);
  }
  return raw;
}

TEST(RegFile, ReadsUtf16TextAndUtf16StringData) {
  const std::u16string_view head =
      u"Windows Registry Editor Version 5.00\r\n"
      u"[HKEY_LOCAL_MACHINE\\SYSTEM\\Wide]\r\n";
  MemoryRegistry registry;
  registry.LoadRegText(Utf16File(std::u16string(head) + u"\"Caf\u00e9\"=\"\u00e9t\u00e9\"\r\n"
                                                        u"\"Path\"=hex(2):25,00,41,00,25,00\r\n"));
  ExpectValues(registry, {
                             {"SYSTEM\\Wide", "Caf\xE9", regtype::kSz, B({"\xE9t\xE9\0", 4})},
                             {"SYSTEM\\Wide", "Path", regtype::kExpandSz, B({"%A%\0", 4})},
                         });

  const struct {
    std::u16string_view line;
    const char* message;
  } bad[] = {
      {u"\"Odd\"=hex(2):41,00,42\r\n", "even number"},
      {u"\"Euro\"=\"\u20ac\"\r\n", "U+20AC"},
      {u"\"Euro\"=hex(1):ac,20,00,00\r\n", "U+20AC"},
  };
  for (const auto& c : bad) {
    try {
      registry.LoadRegText(Utf16File(std::u16string(head) + std::u16string(c.line)));
      ADD_FAILURE() << c.message;
    } catch (const RegFileError& error) {
      EXPECT_EQ(error.Line(), 3);
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
}

// Each text is malformed on the given line. Whatever came before that line is not loaded.
TEST(RegFile, MalformedLineIsReportedByFileAndLineAndNothingIsLoaded) {
  const std::string head = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Loaded]\n\"ok\"=\"1\"\n";
  const struct {
    std::string text;
    int line;
    const char* message;  // a part of it
  } cases[] = {
      {"", 1, "first line"},
      {"regedit4\n", 1, "first line"},
      {"REGEDIT4 \n", 1, "first line"},
      {"\nREGEDIT4\n", 1, "first line"},
      {"\xEF\xBB\xBFREGEDIT4\n", 1, "UTF-8"},
      {"\xFF\xFEX", 1, "half a character"},
      {"REGEDIT4\n\"v\"=\"x\"\n", 2, "must follow a [key]"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\Software]\n", 2, "not below HKEY_LOCAL_MACHINE"},
      {head + "[HKEY_LOCAL_MACHINE\\SYSTEM\\Open\n", 4, "']'"},
      {head + "[HKEY_LOCAL_MACHINE\\\\SYSTEM]\n", 4, "empty name"},
      {head + "[-HKEY_LOCAL_MACHINE]\n", 4, "cannot be deleted"},
      {head + "[HKEY_LOCAL_MACHINE\\SYSTEM] x\n", 4, "unexpected text"},
      {head + "# not a comment\n", 4, "expected a [key]"},
      {head + "\"v\" \"x\"\n", 4, "'='"},
      {head + "\"v\"=\"x\n", 4, "closing quote"},
      {head + "\"v\"=\"a\"b\"\n", 4, "unexpected text"},
      {head + "\"v\"=\"a\\qb\"\n", 4, "unknown escape \\q"},
      {head + "\"v\"=DWORD:1\n", 4, "unknown value data"},
      {head + "\"v\"=dword:\n", 4, "1 to 8 hex digits"},
      {head + "\"v\"=dword:123456789\n", 4, "at most 8"},
      {head + "\"v\"=dword:12 34\n", 4, "unexpected text"},
      {head + "\"v\"=str:\"x\"\n", 4, "unknown value data"},
      {head + "\"v\"=hex :01\n", 4, "':'"},
      {head + "\"v\"=hex(2:01\n", 4, "')'"},
      {head + "\"v\"=hex:0102\n", 4, "1 or 2 hex digits"},
      {head + "\"v\"=hex:01 02\n", 4, "','"},
      {head + "\"v\"=hex:01,,02\n", 4, "1 or 2 hex digits"},
      {head + "\"v\"=hex:01,\\\n  02,\\\n  zz\n", 6, "1 or 2 hex digits"},
      {head + "\"v\"=hex:01,\\\n\"next\"=\"x\"\n", 5, "1 or 2 hex digits"},
      {head + "\"v\"=hex:01,\\\n", 4, "past the end"},
      {head + "\"v\"=hex:01,\\\n\n", 5, "no bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    MemoryRegistry registry;
    try {
      registry.LoadRegText(c.text, "fixture.reg");
      ADD_FAILURE() << "loaded";
    } catch (const RegFileError& error) {
      EXPECT_EQ(error.File(), "fixture.reg");
      EXPECT_EQ(error.Line(), c.line);
      const std::string what = error.what();
      EXPECT_EQ(what.rfind("fixture.reg:" + std::to_string(c.line) + ": ", 0), 0u) << what;
      EXPECT_NE(what.find(c.message), std::string::npos) << what;
    }
    EXPECT_FALSE(registry.KeyExists("SYSTEM\\Loaded"));
  }
}

TEST(RegFile, LoadRegFileNamesTheFileItCouldNotReadOrParse) {
  const std::string path = ::testing::TempDir() + "reg_file_test_bad.reg";
  {
    std::ofstream out(path, std::ios::binary);
    out << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\X]\r\n\"v\"=dword:zz\r\n";
  }
  MemoryRegistry registry;
  try {
    registry.LoadRegFile(path);
    ADD_FAILURE() << "loaded";
  } catch (const RegFileError& error) {
    EXPECT_EQ(error.File(), path);
    EXPECT_EQ(error.Line(), 4);
  }
  std::remove(path.c_str());
  try {
    registry.LoadRegFile(path);
    ADD_FAILURE() << "loaded a missing file";
  } catch (const RegFileError& error) {
    EXPECT_EQ(error.File(), path);
    EXPECT_EQ(error.Line(), 0);
  }
}

}  // namespace
