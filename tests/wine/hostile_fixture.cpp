#include "hostile_fixture.h"

#include <winternl.h>

#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "owned_key.h"

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::istringstream in(path);
  for (std::string part; std::getline(in, part, '\\');) parts.push_back(part);
  return parts;
}

std::pair<std::string, std::string> SplitLast(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

std::string Failure(const char* call, const std::string& path, LSTATUS status) {
  return std::string(call) + "(" + path + ") = " + std::to_string(status);
}

// Opens `path` in one call where the ANSI open takes it whole, otherwise one component at a
// time, each relative to the one before, so that no call sees more than one key name. Links on
// the way are followed, as any open follows them.
LSTATUS Open(const std::string& path, REGSAM access, OwnedKey& out) {
  if (path.size() <= kAnsiPathLimit) {
    return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, out.Put());
  }
  OwnedKey held;
  HKEY current = HKEY_LOCAL_MACHINE;
  for (const std::string& part : Components(path)) {
    OwnedKey next;
    const LSTATUS status = ::RegOpenKeyExA(current, part.c_str(), 0, access, next.Put());
    if (status != ERROR_SUCCESS) return status;
    held = std::move(next);
    current = held.Get();
  }
  out = std::move(held);
  return ERROR_SUCCESS;
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// NtDeleteKey from ntdll: the only call that deletes a link itself rather than its target.
LONG DeleteOpenKey(HKEY key) {
  using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE);
  const FARPROC proc = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtDeleteKey");
  if (proc == nullptr) return ERROR_PROC_NOT_FOUND;
  const auto ntDeleteKey = reinterpret_cast<NtDeleteKeyFunction>(reinterpret_cast<void*>(proc));
  return ntDeleteKey(key);
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const NamedValue& value) {
  out << "\"";
  if (value.name.size() > 40) {
    out << value.name.substr(0, 20) << "...(" << value.name.size() << " bytes)";
  } else {
    out << value.name;
  }
  out << "\": ";
  if (value.value.data.size() > 40) {
    return out << "type " << value.value.type << ", " << value.value.data.size() << " bytes";
  }
  return out << value.value;
}

ScratchTree::~ScratchTree() {
  const std::string failure = Remove();
  if (!failure.empty()) ADD_FAILURE() << failure;
}

std::string ScratchTree::CreateKey(const std::string& path) {
  OwnedKey key;
  return CreateAndOpen(path, key.Put());
}

std::string ScratchTree::CreateAndOpen(const std::string& path, HKEY* opened) {
  OwnedKey key;
  if (Open(path, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
    // The missing ancestors first, each created relative to its parent.
    const auto [parentPath, name] = SplitLast(path);
    OwnedKey parent;
    if (std::string failure = CreateAndOpen(parentPath, parent.Put()); !failure.empty()) {
      return failure;
    }
    DWORD disposition = 0;
    const LSTATUS status = ::RegCreateKeyExA(parent.Get(), name.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, key.Put(), &disposition);
    if (status != ERROR_SUCCESS) return Failure("RegCreateKeyExA", path, status);
    if (disposition == REG_CREATED_NEW_KEY) m_created.push_back({path, false});
  }
  *opened = key.Release();
  return "";
}

std::string ScratchTree::SetValue(const std::string& path, const std::string& name, DWORD type,
                                  const std::vector<BYTE>& data) {
  OwnedKey key;
  std::string failure = CreateAndOpen(path, key.Put());
  if (!failure.empty()) return failure;
  std::vector<BYTE> guarded(data);
  guarded.push_back(0xCC);  // never a zero after the data: nothing is added to it
  const LSTATUS status = ::RegSetValueExA(key.Get(), name.c_str(), 0, type, guarded.data(),
                                          static_cast<DWORD>(data.size()));
  return status == ERROR_SUCCESS ? "" : Failure("RegSetValueExA", path + " " + name, status);
}

std::string ScratchTree::SetValueNative(const std::string& path, const std::string& asciiName,
                                        DWORD type, const std::vector<BYTE>& data) {
  using NtSetValueKeyFunction = LONG(WINAPI*)(HANDLE, UNICODE_STRING*, ULONG, ULONG, void*, ULONG);
  const auto ntSetValueKey = reinterpret_cast<NtSetValueKeyFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtSetValueKey")));
  if (ntSetValueKey == nullptr) return "ntdll has no NtSetValueKey";
  OwnedKey key;
  std::string failure = CreateAndOpen(path, key.Put());
  if (!failure.empty()) return failure;
  std::wstring name = Widen(asciiName);
  UNICODE_STRING counted{};
  counted.Length = counted.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  counted.Buffer = name.data();
  std::vector<BYTE> copy(data);
  const LONG status =
      ntSetValueKey(key.Get(), &counted, 0, type, copy.data(), static_cast<ULONG>(data.size()));
  return status == 0 ? "" : Failure("NtSetValueKey", path, status);
}

std::string ScratchTree::CreateLink(const std::string& path, const std::string& targetPath) {
  const auto [parentPath, name] = SplitLast(path);
  OwnedKey parent;
  if (std::string failure = CreateAndOpen(parentPath, parent.Put()); !failure.empty()) {
    return failure;
  }

  OwnedKey link;
  DWORD disposition = 0;
  LSTATUS status =
      ::RegCreateKeyExA(parent.Get(), name.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, link.Put(), &disposition);
  if (status != ERROR_SUCCESS) return Failure("RegCreateKeyExA(link)", path, status);
  if (disposition != REG_CREATED_NEW_KEY) return path + " existed already: not made a link";
  m_created.push_back({path, true});

  // The target in the kernel's namespace, as UTF-16 without a terminator.
  const std::wstring target = L"\\Registry\\Machine\\" + Widen(targetPath);
  status = ::RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                            reinterpret_cast<const BYTE*>(target.data()),
                            static_cast<DWORD>(target.size() * sizeof(wchar_t)));
  return status == ERROR_SUCCESS ? "" : Failure("RegSetValueExW(SymbolicLinkValue)", path, status);
}

std::optional<std::vector<NamedValue>> ScratchTree::Values(const std::string& path) const {
  OwnedKey key;
  if (Open(path, KEY_QUERY_VALUE, key) != ERROR_SUCCESS) return std::nullopt;
  DWORD maxName = 0, maxData = 0;
  if (::RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // An ANSI name takes at most two bytes a character; data never grows in the conversion.
  std::vector<char> name(2 * static_cast<std::size_t>(maxName) + 2);
  std::vector<BYTE> data(static_cast<std::size_t>(maxData) + 2);
  std::vector<NamedValue> values;
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    const LSTATUS status = ::RegEnumValueA(key.Get(), index, name.data(), &nameSize, nullptr, &type,
                                           data.data(), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) return values;
    if (status != ERROR_SUCCESS) return std::nullopt;
    values.push_back({std::string(name.data(), nameSize),
                      {type, std::vector<BYTE>(data.begin(), data.begin() + dataSize)}});
  }
}

std::optional<RegistryValue> ScratchTree::Value(const std::string& path,
                                                const std::string& name) const {
  OwnedKey key;
  if (Open(path, KEY_QUERY_VALUE, key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = REG_NONE, size = 0;
  if (::RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  RegistryValue value{type, std::vector<BYTE>(size)};
  if (::RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, value.data.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

bool ScratchTree::Exists(const std::string& path) const {
  OwnedKey key;
  return Open(path, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

std::string ScratchTree::Remove() {
  std::string failures;
  for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
    const auto [parentPath, name] = SplitLast(it->path);
    OwnedKey parent;
    LSTATUS status = Open(parentPath, KEY_ALL_ACCESS, parent);
    if (status == ERROR_FILE_NOT_FOUND) continue;  // gone with its parent already
    if (status != ERROR_SUCCESS) {
      failures += Failure("RegOpenKeyExA", parentPath, status) + "\n";
      continue;
    }
    if (it->link) {
      OwnedKey link;
      status = ::RegOpenKeyExA(parent.Get(), name.c_str(), REG_OPTION_OPEN_LINK,
                               DELETE | KEY_QUERY_VALUE, link.Put());
      if (status == ERROR_SUCCESS) status = DeleteOpenKey(link.Get());
    } else {
      status = ::RegDeleteKeyA(parent.Get(), name.c_str());
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      failures += "removing " + it->path + ": " + std::to_string(status) + "\n";
    }
  }
  m_created.clear();
  return failures;
}

std::vector<BYTE> TextBytes(std::string_view text) {
  std::vector<BYTE> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

std::vector<BYTE> DwordBytes(DWORD value) {
  return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
          static_cast<BYTE>(value >> 24)};
}
