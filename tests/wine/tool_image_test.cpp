// The built executables as files: what they import, the oldest Windows their headers name, and
// which resources they carry. The tool ships as a single file that runs on a bare system, so it
// may import nothing but system DLLs.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tool_driver.h"

namespace {

std::vector<char> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The parts of a PE image that the import check reads, with every offset checked against the
// file's size.
class PeImage {
 public:
  explicit PeImage(std::vector<char> bytes) : m_bytes(std::move(bytes)) {
    IMAGE_DOS_HEADER dos{};
    if (!Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return;
    IMAGE_NT_HEADERS64 nt{};
    if (!Read(static_cast<std::size_t>(dos.e_lfanew), &nt) || nt.Signature != IMAGE_NT_SIGNATURE ||
        nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
      return;
    }
    m_nt = nt;
    std::size_t offset = static_cast<std::size_t>(dos.e_lfanew) +
                         offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                         nt.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
      IMAGE_SECTION_HEADER section{};
      if (!Read(offset + i * sizeof(section), &section)) return;
      m_sections.push_back(section);
    }
    m_valid = true;
  }

  [[nodiscard]] bool Valid() const { return m_valid; }
  [[nodiscard]] const IMAGE_OPTIONAL_HEADER64& Optional() const { return m_nt.OptionalHeader; }
  [[nodiscard]] const IMAGE_DATA_DIRECTORY& Directory(int index) const {
    return m_nt.OptionalHeader.DataDirectory[index];
  }

  // The file offset of a relative virtual address, if a section holds it.
  [[nodiscard]] std::optional<std::size_t> FileOffset(DWORD rva) const {
    for (const IMAGE_SECTION_HEADER& section : m_sections) {
      const DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
      if (rva >= section.VirtualAddress && rva < section.VirtualAddress + size) {
        return std::size_t{section.PointerToRawData} + (rva - section.VirtualAddress);
      }
    }
    return std::nullopt;
  }

  template <typename T>
  bool Read(std::size_t offset, T* out) const {
    if (offset > m_bytes.size() || m_bytes.size() - offset < sizeof(T)) return false;
    std::memcpy(out, m_bytes.data() + offset, sizeof(T));
    return true;
  }

  // A zero-terminated name at a relative virtual address; nullopt if it runs off the file.
  [[nodiscard]] std::optional<std::string> NameAt(DWORD rva) const {
    const std::optional<std::size_t> offset = FileOffset(rva);
    if (!offset || *offset >= m_bytes.size()) return std::nullopt;
    const auto begin = m_bytes.begin() + static_cast<std::ptrdiff_t>(*offset);
    const auto end = std::find(begin, m_bytes.end(), '\0');
    if (end == m_bytes.end()) return std::nullopt;
    return std::string(begin, end);
  }

 private:
  std::vector<char> m_bytes;
  IMAGE_NT_HEADERS64 m_nt{};
  std::vector<IMAGE_SECTION_HEADER> m_sections;
  bool m_valid = false;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The DLL names of one import directory (normal or delay-load: both start with the name's
// address, at different places in their descriptors), lower case.
template <typename Descriptor, DWORD Descriptor::*NameField>
std::vector<std::string> ImportedDlls(const PeImage& image, int directory) {
  std::vector<std::string> names;
  const IMAGE_DATA_DIRECTORY& dir = image.Directory(directory);
  if (dir.VirtualAddress == 0) return names;
  const std::optional<std::size_t> start = image.FileOffset(dir.VirtualAddress);
  if (!start) {
    ADD_FAILURE() << "directory " << directory << " lies outside every section";
    return names;
  }
  for (std::size_t offset = *start;; offset += sizeof(Descriptor)) {
    Descriptor descriptor{};
    if (!image.Read(offset, &descriptor)) {
      ADD_FAILURE() << "directory " << directory << " runs off the file";
      break;
    }
    if (descriptor.*NameField == 0) break;
    const std::optional<std::string> name = image.NameAt(descriptor.*NameField);
    if (!name) {
      ADD_FAILURE() << "an imported DLL's name runs off the file";
      break;
    }
    names.push_back(Lower(*name));
  }
  return names;
}

// The two programs shipped: the dialog and its console companion.
struct ImageCase {
  const char* name;
  std::string (*path)();
  const char* executionLevel;  // what its manifest asks for
  bool gui;                    // a dialog program: imports user32
};

const ImageCase kImages[] = {
    {"ModemConfig", &ToolExecutablePath, "requireAdministrator", true},
    {"modemprefix", &CompanionExecutablePath, "asInvoker", false},
};

class ToolImage : public ::testing::TestWithParam<ImageCase> {};

INSTANTIATE_TEST_SUITE_P(Programs, ToolImage, ::testing::ValuesIn(kImages),
                         [](const auto& tested) { return std::string(tested.param.name); });

TEST_P(ToolImage, ImportsOnlySystemDlls) {
  const std::string path = GetParam().path();
  const PeImage image(ReadWholeFile(path));
  ASSERT_TRUE(image.Valid()) << path << " is no 64-bit PE image";

  const std::set<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                        "advapi32.dll", "comctl32.dll", "msvcrt.dll"};
  const std::vector<std::string> imported =
      ImportedDlls<IMAGE_IMPORT_DESCRIPTOR, &IMAGE_IMPORT_DESCRIPTOR::Name>(
          image, IMAGE_DIRECTORY_ENTRY_IMPORT);
  const std::vector<std::string> delayed =
      ImportedDlls<IMAGE_DELAYLOAD_DESCRIPTOR, &IMAGE_DELAYLOAD_DESCRIPTOR::DllNameRVA>(
          image, IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);

  // The registry cannot do without advapi32, the dialog without user32.
  EXPECT_NE(std::find(imported.begin(), imported.end(), "advapi32.dll"), imported.end());
  EXPECT_EQ(std::find(imported.begin(), imported.end(), "user32.dll") != imported.end(),
            GetParam().gui);
  for (const std::string& dll : imported) EXPECT_TRUE(system.count(dll)) << "imports " << dll;
  for (const std::string& dll : delayed) EXPECT_TRUE(system.count(dll)) << "delay-loads " << dll;
}

// Owns a module loaded as data.
struct DataModule {
  explicit DataModule(const std::string& path)
      : handle(::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~DataModule() {
    if (handle != nullptr) ::FreeLibrary(handle);
  }
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;
  HMODULE handle;
};

// A resource name as text: "#n" for a number.
std::string NameText(LPCSTR name) {
  if (!IS_INTRESOURCE(name)) return name;
  std::string text(1, '#');
  text += std::to_string(reinterpret_cast<ULONG_PTR>(name));
  return text;
}

TEST_P(ToolImage, HoldsExactlyOneManifestWithIdOneAskingForItsRights) {
  const DataModule module(GetParam().path());
  ASSERT_NE(module.handle, nullptr) << ::GetLastError();

  std::vector<std::string> names;
  ::EnumResourceNamesA(
      module.handle, RT_MANIFEST,
      [](HMODULE, LPCSTR, LPSTR name, LONG_PTR param) -> BOOL {
        reinterpret_cast<std::vector<std::string>*>(param)->push_back(NameText(name));
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(names, std::vector<std::string>{"#1"});

  // And in one language only: two languages would be two manifests to the loader.
  int languages = 0;
  ::EnumResourceLanguagesA(
      module.handle, RT_MANIFEST, MAKEINTRESOURCEA(1),
      [](HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR param) -> BOOL {
        ++*reinterpret_cast<int*>(param);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, 1);

  const HRSRC found = ::FindResourceA(module.handle, MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const HGLOBAL loaded = ::LoadResource(module.handle, found);
  const auto* text = static_cast<const char*>(::LockResource(loaded));
  ASSERT_NE(text, nullptr);
  const std::string manifest(text, ::SizeofResource(module.handle, found));
  EXPECT_NE(manifest.find(std::string("level=\"") + GetParam().executionLevel + "\""),
            std::string::npos)
      << manifest;
}

TEST_P(ToolImage, VersionRecordSays1001InEnglishUnitedStates) {
  const std::string path = GetParam().path();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << ::GetLastError();
  std::vector<BYTE> record(size);
  ASSERT_TRUE(::GetFileVersionInfoA(path.c_str(), 0, size, record.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);  // .0.1
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);

  // The translations the record declares, and a string block for English (United States).
  struct Translation {
    WORD language;
    WORD codePage;
  };
  Translation* translations = nullptr;
  ASSERT_TRUE(::VerQueryValueA(record.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translations), &length));
  ASSERT_GE(length, sizeof(Translation));
  EXPECT_EQ(translations[0].language, 0x0409);

  for (const char* field : {"FileVersion", "ProductVersion"}) {
    char blockPath[64];
    std::snprintf(blockPath, sizeof(blockPath), "\\StringFileInfo\\%04x%04x\\%s",
                  translations[0].language, translations[0].codePage, field);
    char* text = nullptr;
    ASSERT_TRUE(
        ::VerQueryValueA(record.data(), blockPath, reinterpret_cast<void**>(&text), &length))
        << blockPath;
    EXPECT_STREQ(text, "1.0.0.1") << blockPath;
  }
}

#ifndef MODEMCONFIG_PROJECT_VERSION
#error "MODEMCONFIG_PROJECT_VERSION must give the project's version"
#endif

// The programs call functions that exist only from Windows Vista on, so their headers must not
// let an older Windows start them: both the subsystem and the system version say 6.0.
TEST_P(ToolImage, HeadersNameWindowsVistaAsTheOldestSystem) {
  const std::string path = GetParam().path();
  const PeImage image(ReadWholeFile(path));
  ASSERT_TRUE(image.Valid()) << path << " is no 64-bit PE image";
  const IMAGE_OPTIONAL_HEADER64& header = image.Optional();
  const struct {
    const char* field;
    WORD value;
  } fields[] = {
      {"MajorSubsystemVersion", header.MajorSubsystemVersion},
      {"MinorSubsystemVersion", header.MinorSubsystemVersion},
      {"MajorOperatingSystemVersion", header.MajorOperatingSystemVersion},
      {"MinorOperatingSystemVersion", header.MinorOperatingSystemVersion},
  };
  const WORD wanted[] = {6, 0, 6, 0};
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    EXPECT_EQ(fields[i].value, wanted[i]) << fields[i].field;
  }
}

// The manifest's assembly version comes from the project's one version, as the version record's
// does.
TEST_P(ToolImage, ManifestNamesTheProjectVersion) {
  const DataModule module(GetParam().path());
  ASSERT_NE(module.handle, nullptr) << ::GetLastError();
  const HRSRC found = ::FindResourceA(module.handle, MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(found, nullptr) << "no manifest";
  const auto* bytes =
      static_cast<const char*>(::LockResource(::LoadResource(module.handle, found)));
  ASSERT_NE(bytes, nullptr);
  const std::string manifest(bytes, ::SizeofResource(module.handle, found));
  const std::size_t identity = manifest.find("<assemblyIdentity");
  ASSERT_NE(identity, std::string::npos);
  const std::string attributes =
      manifest.substr(identity, manifest.find("/>", identity) - identity);
  EXPECT_NE(attributes.find(std::string("version=\"") + MODEMCONFIG_PROJECT_VERSION + "\""),
            std::string::npos)
      << attributes;
}

// ---- The tool's icons: every size Windows picks from at 100-200% scaling, in 32-bit colour with
// an alpha channel, the largest PNG-compressed. Fewer sizes, and Windows stretches the nearest
// one (blocky); a 256-pixel image stored as a bitmap costs 256 KB.

#pragma pack(push, 2)
struct IconGroupHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
struct IconGroupEntry {
  BYTE width;  // 0 stands for 256
  BYTE height;
  BYTE colours;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytes;
  WORD id;  // of the RT_ICON resource holding the image
};
#pragma pack(pop)

TEST(ToolIcons, BothHoldEveryStandardSizeIn32BitColour) {
  const DataModule module(ToolExecutablePath());
  ASSERT_NE(module.handle, nullptr) << ::GetLastError();
  const std::set<int> standardSizes = {16, 20, 24, 32, 40, 48, 64, 256};
  const struct {
    const char* name;
    WORD id;
  } icons[] = {{"IDI_APP_LARGE", 130}, {"IDI_APP_SMALL", 131}};
  for (const auto& icon : icons) {
    SCOPED_TRACE(icon.name);
    const HRSRC group = ::FindResourceA(module.handle, MAKEINTRESOURCEA(icon.id), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const auto* data =
        static_cast<const BYTE*>(::LockResource(::LoadResource(module.handle, group)));
    const DWORD groupSize = ::SizeofResource(module.handle, group);
    ASSERT_GE(groupSize, sizeof(IconGroupHeader));
    IconGroupHeader header{};
    std::memcpy(&header, data, sizeof(header));
    ASSERT_EQ(groupSize, sizeof(header) + header.count * sizeof(IconGroupEntry));

    std::set<int> sizes;
    for (WORD i = 0; i < header.count; ++i) {
      IconGroupEntry entry{};
      std::memcpy(&entry, data + sizeof(header) + i * sizeof(entry), sizeof(entry));
      const int side = entry.width == 0 ? 256 : entry.width;
      SCOPED_TRACE(side);
      EXPECT_EQ(entry.height, entry.width);
      EXPECT_EQ(entry.bitCount, 32);
      sizes.insert(side);

      const HRSRC image = ::FindResourceA(module.handle, MAKEINTRESOURCEA(entry.id), RT_ICON);
      ASSERT_NE(image, nullptr);
      const auto* bits =
          static_cast<const BYTE*>(::LockResource(::LoadResource(module.handle, image)));
      ASSERT_GE(::SizeofResource(module.handle, image), 40u);
      static const BYTE kPng[] = {0x89, 'P', 'N', 'G'};
      const bool png = std::memcmp(bits, kPng, sizeof(kPng)) == 0;
      EXPECT_EQ(png, side == 256) << "only the 256-pixel image is PNG-compressed";
      if (!png) {
        BITMAPINFOHEADER info{};
        std::memcpy(&info, bits, sizeof(info));
        EXPECT_EQ(info.biWidth, side);
        EXPECT_EQ(info.biBitCount, 32);
      }
    }
    EXPECT_EQ(sizes, standardSizes);
  }
}

}  // namespace
