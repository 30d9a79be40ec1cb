// Writes the scan fuzzer's seed corpus: each .reg fixture turned into the fuzzer's input format,
// alone and with the things the fuzzer should find its way to quickly (a control set shown
// again through a link, a link back to an ancestor, injected failures, allocation failures,
// names and data at the 512-byte limits), plus a few seeds of no fixture.
//
//   scan_fuzz_seeds OUTPUT_DIR FIXTURE.reg...
//
// Every seed that describes a fixture's tree is decoded again and compared with the fixture,
// so a seed cannot quietly stop meaning what its name says.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "platform/memory_registry.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

namespace fs = std::filesystem;
using fuzzinput::Writer;

struct DumpedValue {
  std::string path, name;
  std::uint32_t type;
  std::string data;
};

struct Tree {
  std::vector<std::string> emptyKeys;  // keys with neither values nor subkeys
  std::vector<DumpedValue> values;
  std::vector<std::string> modemKeys;  // keys holding a value named DialPrefix in any case
};

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Reads the whole tree below `path` through the registry operations, as the tool sees it.
void Dump(MemoryRegistry& registry, const std::string& path, Tree& tree) {
  RegKey key(registry);
  if (key.Open(path.c_str()) != regstatus::kSuccess) return;
  RegKeyInfo info;
  if (registry.QueryKey(key.Get(), &info) != regstatus::kSuccess) return;
  std::vector<char> name(std::max(info.maxSubKeyNameLength, info.maxValueNameLength) + 1u);
  std::vector<std::uint8_t> data(info.maxValueDataLength + 1u);
  for (std::uint32_t i = 0; i < info.valueCount; ++i) {
    std::uint32_t nameSize = static_cast<std::uint32_t>(name.size());
    std::uint32_t dataSize = static_cast<std::uint32_t>(data.size());
    std::uint32_t type = 0;
    if (registry.EnumValue(key.Get(), i, name.data(), &nameSize, &type, data.data(), &dataSize) !=
        regstatus::kSuccess) {
      throw std::runtime_error("cannot read a value of " + path);
    }
    const std::string valueName(name.data(), nameSize);
    tree.values.push_back(
        {path, valueName, type, std::string(reinterpret_cast<const char*>(data.data()), dataSize)});
    if (Upper(valueName) == "DIALPREFIX") tree.modemKeys.push_back(path);
  }
  for (std::uint32_t i = 0; i < info.subKeyCount; ++i) {
    std::uint32_t nameSize = static_cast<std::uint32_t>(name.size());
    if (registry.EnumSubkey(key.Get(), i, name.data(), &nameSize) != regstatus::kSuccess) {
      throw std::runtime_error("cannot read a subkey of " + path);
    }
    Dump(registry, (path.empty() ? "" : path + "\\") + std::string(name.data(), nameSize), tree);
  }
  if (info.valueCount == 0 && info.subKeyCount == 0) tree.emptyKeys.push_back(path);
}

Tree DumpAll(MemoryRegistry& registry) {
  Tree tree;
  Dump(registry, "", tree);
  return tree;
}

// One line a key or value, sorted: two trees are the same when their listings are.
std::set<std::string> Listing(const Tree& tree) {
  std::set<std::string> lines;
  for (const std::string& key : tree.emptyKeys) lines.insert("[" + key + "]");
  for (const DumpedValue& v : tree.values) {
    lines.insert("[" + v.path + "] " + v.name + " " + std::to_string(v.type) + " " + v.data);
  }
  return lines;
}

bool StartsWith(const std::string& path, const std::string& base) {
  return path.compare(0, base.size(), base) == 0 &&
         (path.size() == base.size() || path[base.size()] == '\\');
}

std::string Parent(const std::string& path) {
  const std::size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// Writes the tree's keys and values, leaving out those below `skipBelow` if it is not empty.
void WriteTree(Writer& writer, const Tree& tree, const std::string& skipBelow = {}) {
  for (const std::string& key : tree.emptyKeys) {
    if (skipBelow.empty() || !StartsWith(key, skipBelow)) writer.CreateKey(key);
  }
  for (const DumpedValue& v : tree.values) {
    if (v.type > 0xFF) throw std::runtime_error("value type above 255 in " + v.path);
    if (skipBelow.empty() || !StartsWith(v.path, skipBelow)) {
      writer.SetValue(v.path, v.name, static_cast<std::uint8_t>(v.type), v.data);
    }
  }
}

class SeedFolder {
 public:
  explicit SeedFolder(fs::path folder) : folder_(std::move(folder)) {
    fs::create_directories(folder_);
  }

  void Write(const std::string& name, const Writer& writer) {
    std::ofstream out(folder_ / name, std::ios::binary | std::ios::trunc);
    const std::vector<std::uint8_t>& bytes = writer.Bytes();
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + (folder_ / name).string());
    ++written_;
  }
  [[nodiscard]] int Written() const { return written_; }

 private:
  fs::path folder_;
  int written_ = 0;
};

constexpr const char* kCcs = "SYSTEM\\CurrentControlSet";
constexpr const char* kCs1 = "SYSTEM\\ControlSet001";
constexpr const char* kCs3 = "SYSTEM\\ControlSet003";
// The allocation-failure seeds fail each allocation below this, one per seed.
constexpr std::uint32_t kEveryAllocationUpTo = 64;

void WriteFixtureSeeds(SeedFolder& seeds, const fs::path& fixture) {
  MemoryRegistry registry;
  registry.LoadRegFile(fixture.string());
  const Tree tree = DumpAll(registry);
  const std::string stem = fixture.stem().string();

  Writer plain;
  WriteTree(plain, tree);
  {  // The seed must describe the fixture's tree exactly.
    MemoryRegistry decoded;
    fuzzinput::Build(plain.Bytes().data(), plain.Bytes().size(), decoded);
    if (Listing(DumpAll(decoded)) != Listing(tree)) {
      throw std::runtime_error(fixture.string() + ": the seed does not decode to the fixture");
    }
  }
  const auto withTree = [&](auto&& more) {
    Writer writer = plain;
    more(writer);
    return writer;
  };
  seeds.Write(stem + "-secure",
              withTree([](Writer& w) { w.ChooseTarget(fuzzinput::kTargetSecure); }));
  seeds.Write(stem + "-normal", withTree([](Writer& w) {
                w.ChooseTarget(fuzzinput::kTargetNormal | fuzzinput::kVersionQueryFails);
              }));
  seeds.Write(stem + "-no-target",
              withTree([](Writer& w) { w.ChooseTarget(fuzzinput::kTargetNone); }));

  Writer asText;
  std::ifstream in(fixture, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  seeds.Write(stem + "-reg-text", asText.RegText(text));

  // The current control set as a link to the numbered one, in place of a copy.
  Writer linked;
  WriteTree(linked, tree, kCcs);
  seeds.Write(stem + "-linked", linked.AddAlias(kCcs, kCs1));

  if (tree.modemKeys.empty()) return;
  const std::string& modem = tree.modemKeys.front();
  const std::string& lastModem = tree.modemKeys.back();

  seeds.Write(stem + "-cycle",
              withTree([&](Writer& w) { w.AddAlias(modem + "\\Loop", Parent(modem)); }));

  seeds.Write(stem + "-failures", withTree([&](Writer& w) {
                w.DenyAccess(kCs3)
                    .FailQuery(Parent(Parent(modem)), 0)
                    .FailSubkeyEnum(Parent(lastModem), 1, 1)
                    .FailValueEnum(lastModem, 2, 2)
                    .FailWrite(modem, 3);
              }));

  // Every one of the first allocations of the scan in turn, so that the seeds reach each place
  // that recovers from a failed one (a record half made, say) whatever the registry allocates
  // on the way; then a few later ones.
  std::vector<std::uint32_t> points(kEveryAllocationUpTo);
  std::iota(points.begin(), points.end(), 0u);
  points.insert(points.end(), {100u, 400u, 2000u});
  for (const std::uint32_t point : points) {
    seeds.Write(stem + "-allocation-" + std::to_string(point),
                withTree([&](Writer& w) { w.FailAllocation(point); }));
  }

  // Names and data at both sides of the 512-byte buffers. A REG_SZ is sized as UTF-16, so 255
  // characters fit and 256 do not.
  const std::string parent = Parent(modem);
  seeds.Write(stem + "-limits", withTree([&](Writer& w) {
                w.PlantModem(parent + "\\" + std::string(511, 'n') + "\\Inner", 0, "d")
                    .CreateKey(parent + "\\TooLong\\" + std::string(512, 'm'))
                    .PlantModem(parent + "\\TooLong", 1, "A")
                    .PlantModem(parent + "\\LongName", 2, "D")
                    .SetValue(parent + "\\LongName", std::string(511, 'v'), 1, "x")
                    .PlantModem(parent + "\\TooLongName", 3, "A")
                    .SetValue(parent + "\\TooLongName", std::string(512, 'v'), 1, "x")
                    .PlantModem(parent + "\\LongData", 4, "a")
                    .SetValue(parent + "\\LongData", "Blob", 3, std::string(511, 'b'))
                    .PlantModem(parent + "\\TooLongString", 5, "D")
                    .SetValue(parent + "\\TooLongString", "Text", 1, std::string(256, 's'));
              }));
}

// Seeds of no fixture: a chain deeper than the walk goes, two links back to one ancestor,
// names holding zero bytes, and a modem the scan must never find.
void WriteSyntheticSeeds(SeedFolder& seeds) {
  seeds.Write("deep-chain", Writer()
                                .Chain(kCs1, 600, "K")
                                .PlantModemAtLastPath(0, "D")
                                .PlantModem(std::string(kCs1) + "\\K\\Shallow", 0, "A"));
  seeds.Write("two-links-back",
              Writer()
                  .PlantModem(std::string(kCs1) + "\\Loop\\M", 0, "D")
                  .AddAlias(std::string(kCs1) + "\\Loop\\Back1", std::string(kCs1) + "\\Loop")
                  .AddAlias(std::string(kCs1) + "\\Loop\\Back2", std::string(kCs1) + "\\Loop"));
  const std::string zero(1, '\0');
  seeds.Write("zero-bytes",
              Writer()
                  .PlantModem(std::string(kCs1) + "\\A" + zero + "B", 0, "D")
                  .SetValue(std::string(kCs1) + "\\V", "TONE" + zero + "x", 4, std::string(4, '\0'))
                  .SetValue(std::string(kCs1) + "\\V", "Pulse", 1, "P")
                  .SetValue(std::string(kCs1) + "\\V", "DialPrefix", 3, "A" + zero + "junk"));
  // A subkey name that starts with a zero byte reads as an empty name: its path would spell
  // its parent again.
  seeds.Write("zero-first-name", Writer()
                                     .PlantModem(std::string(kCs1) + "\\Parent\\M", 0, "D")
                                     .CreateKey(std::string(kCs1) + "\\Parent\\" + zero + "x")
                                     .CreateKey(std::string(kCs1) + "\\Parent\\" + zero + "y"));
  seeds.Write("control-set-002", Writer().PlantModem("SYSTEM\\ControlSet002\\M", 0, "D"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: scan_fuzz_seeds OUTPUT_DIR FIXTURE.reg...\n";
    return 2;
  }
  try {
    SeedFolder seeds(argv[1]);
    for (int i = 2; i < argc; ++i) WriteFixtureSeeds(seeds, argv[i]);
    WriteSyntheticSeeds(seeds);
    std::printf("scan_fuzz_seeds: %d seeds in %s\n", seeds.Written(), argv[1]);
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "scan_fuzz_seeds: " << error.what() << "\n";
    return 1;
  }
}
