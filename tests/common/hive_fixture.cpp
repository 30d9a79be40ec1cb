#include "tests/common/hive_fixture.h"

#include <dirent.h>
#include <hivex.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace {

void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A self-relative security descriptor: owner and group Administrators, a DACL granting
// Everyone full access to keys.
std::vector<std::uint8_t> SecurityDescriptor() {
  std::vector<std::uint8_t> sd(80, 0);
  sd[0] = 1;             // revision
  Put16(sd, 2, 0x8004);  // self-relative, DACL present
  Put32(sd, 4, 48);      // owner
  Put32(sd, 8, 64);      // group
  Put32(sd, 16, 20);     // DACL
  sd[20] = 2;            // ACL revision
  Put16(sd, 22, 28);     // ACL size
  Put16(sd, 24, 1);      // one ACE
  Put16(sd, 30, 20);     // ACE: allowed, size 20
  Put32(sd, 32, 0xF003F);
  sd[36] = 1;  // S-1-1-0
  sd[37] = 1;
  sd[43] = 1;
  for (const std::size_t sid : {std::size_t{48}, std::size_t{64}}) {  // S-1-5-32-544
    sd[sid] = 1;
    sd[sid + 1] = 2;
    sd[sid + 7] = 5;
    Put32(sd, sid + 8, 32);
    Put32(sd, sid + 12, 544);
  }
  return sd;
}

void CopyKey(MemoryRegistry& from, HiveRegistry& to, const std::string& path) {
  to.CreateKey(path);
  for (const StoredValue& value : from.Values(path)) {
    to.SetValue(path, value.name, value.type, value.data);
  }
  RegKey key(from);
  if (key.Open(path.c_str()) != regstatus::kSuccess)
    throw std::runtime_error("cannot open " + path);
  std::vector<std::string> children;
  char name[4096];
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t size = sizeof name;
    const RegStatus status = from.EnumSubkey(key.Get(), index, name, &size);
    if (status == regstatus::kNoMoreItems) break;
    if (status != regstatus::kSuccess) throw std::runtime_error("cannot list " + path);
    children.emplace_back(name, size);
  }
  key.Reset();
  for (const std::string& child : children) CopyKey(from, to, path + "\\" + child);
}

}  // namespace

std::vector<std::uint8_t> MinimalEmptyHive() {
  constexpr std::size_t kBins = 0x1000;
  std::vector<std::uint8_t> hive(2 * kBins, 0);
  // Base block: signature, equal sequence numbers, version 1.5, root at 0x20, one bin.
  std::memcpy(&hive[0], "regf", 4);
  Put32(hive, 4, 1);
  Put32(hive, 8, 1);
  Put32(hive, 0x14, 1);
  Put32(hive, 0x18, 5);
  Put32(hive, 0x20, 1);
  Put32(hive, 0x24, 0x20);
  Put32(hive, 0x28, kBins);
  Put32(hive, 0x2C, 1);
  std::uint32_t checksum = 0;
  for (std::size_t i = 0; i < 508; i += 4) {
    checksum ^= static_cast<std::uint32_t>(hive[i] | (hive[i + 1] << 8) | (hive[i + 2] << 16) |
                                           (static_cast<std::uint32_t>(hive[i + 3]) << 24));
  }
  Put32(hive, 508, checksum);

  // The bin, with the root key at offset 0x20 of the bins.
  std::memcpy(&hive[kBins], "hbin", 4);
  Put32(hive, kBins + 8, kBins);
  constexpr char kName[] = "ROOT";
  constexpr std::size_t kNameLength = sizeof kName - 1;
  const std::size_t keySize = (4 + 0x4C + kNameLength + 7) & ~std::size_t{7};
  const std::size_t key = kBins + 0x20;
  Put32(hive, key, static_cast<std::uint32_t>(-static_cast<std::int32_t>(keySize)));
  const std::size_t nk = key + 4;
  std::memcpy(&hive[nk], "nk", 2);
  Put16(hive, nk + 2, 0x2C);  // hive entry, not deletable, name in Latin-1
  for (const std::size_t none : {0x10, 0x1C, 0x20, 0x28, 0x30}) Put32(hive, nk + none, 0xFFFFFFFF);
  const std::size_t securityOffset = 0x20 + keySize;
  Put32(hive, nk + 0x2C, static_cast<std::uint32_t>(securityOffset));
  Put16(hive, nk + 0x48, kNameLength);
  std::memcpy(&hive[nk + 0x4C], kName, kNameLength);

  const std::vector<std::uint8_t> descriptor = SecurityDescriptor();
  const std::size_t securitySize = (4 + 20 + descriptor.size() + 7) & ~std::size_t{7};
  const std::size_t security = kBins + securityOffset;
  Put32(hive, security, static_cast<std::uint32_t>(-static_cast<std::int32_t>(securitySize)));
  std::memcpy(&hive[security + 4], "sk", 2);
  Put32(hive, security + 8, static_cast<std::uint32_t>(securityOffset));   // next: itself
  Put32(hive, security + 12, static_cast<std::uint32_t>(securityOffset));  // previous: itself
  Put32(hive, security + 16, 1);                                           // one key uses it
  Put32(hive, security + 20, static_cast<std::uint32_t>(descriptor.size()));
  std::memcpy(&hive[security + 24], descriptor.data(), descriptor.size());
  // The rest of the bin is one free cell.
  const std::size_t freeCell = security + securitySize;
  Put32(hive, freeCell, static_cast<std::uint32_t>(2 * kBins - freeCell));
  return hive;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void CopyTree(MemoryRegistry& from, HiveRegistry& to) {
  if (!from.KeyExists("SYSTEM")) return;
  CopyKey(from, to, "SYSTEM");
}

TempFolder::TempFolder() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/hive-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temp folder");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void BuildHive(const std::string& path, MemoryRegistry& source,
               std::optional<std::uint32_t> current) {
  WriteBytes(path, MinimalEmptyHive());
  auto hive = OpenHive(path, HiveAccess::kWrite);
  CopyTree(source, *hive);
  if (current) {
    SetDword(*hive, "SYSTEM\\Select", "Default", *current);
    SetDword(*hive, "SYSTEM\\Select", "Current", *current);
  }
  const HiveProblem problem = hive->Commit({.keepBackup = false, .stepHook = {}});
  if (problem.error != HiveError::kNone) throw std::runtime_error(problem.message);
}

void SetDword(HiveRegistry& hive, std::string_view key, std::string_view name,
              std::uint32_t value) {
  hive.SetValue(key, name, regtype::kDword,
                {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

std::unique_ptr<HiveRegistry> OpenHive(const std::string& path, HiveAccess access) {
  HiveProblem problem;
  auto hive = HiveRegistry::Open(path, access, &problem);
  if (!hive) throw std::runtime_error(problem.message);
  return hive;
}

std::vector<std::string> SubkeyNames(RegistryOperations& registry, RegKeyHandle key) {
  std::vector<std::string> names;
  char name[kRegBufferSize];
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t size = sizeof name;
    if (registry.EnumSubkey(key, index, name, &size) != regstatus::kSuccess) break;
    names.emplace_back(name, size);
  }
  return names;
}

std::vector<std::size_t> NodesAt(const std::string& path, const std::vector<std::string>& keys) {
  std::vector<std::size_t> nodes;
  hive_h* raw = hivex_open(path.c_str(), 0);
  if (raw == nullptr) return nodes;
  for (const std::string& key : keys) {
    hive_node_h at = hivex_root(raw);
    std::istringstream parts(key);
    for (std::string part; at != 0 && std::getline(parts, part, '\\');) {
      at = hivex_node_get_child(raw, at, part.c_str());
    }
    nodes.push_back(at);
  }
  hivex_close(raw);
  return nodes;
}

void ListAValuePastTheEnd(const std::string& path, const std::string& key) {
  const std::size_t node = NodesAt(path, {key}).at(0);
  if (node == 0) throw std::runtime_error("no key " + key + " in " + path);
  std::vector<std::uint8_t> bytes = ReadBytes(path);
  // A key record: its cell's size (4 bytes), then 36 bytes of the record, the number of its
  // values and the offset of their list from the first bin; the list's cell: its size, then
  // the offsets of the values' records.
  const std::size_t listField = node + 4 + 40;
  const std::size_t list =
      0x1000 + (bytes.at(listField) | bytes[listField + 1] << 8 | bytes[listField + 2] << 16 |
                static_cast<std::size_t>(bytes[listField + 3]) << 24);
  const std::size_t past = bytes.size() - 0x1000 + 0x178;
  for (std::size_t byte = 0; byte < 4; ++byte) {
    bytes.at(list + 4 + byte) = static_cast<std::uint8_t>(past >> (8 * byte));
  }
  WriteBytes(path, bytes);
}

std::vector<std::uint8_t> WithU32(std::vector<std::uint8_t> bytes, std::size_t at,
                                  std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  return bytes;
}

std::vector<std::uint8_t> Resummed(std::vector<std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 508; i += 4) {
    sum ^= static_cast<std::uint32_t>(bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) |
                                      (static_cast<std::uint32_t>(bytes[i + 3]) << 24));
  }
  return WithU32(std::move(bytes), 508, sum);
}
