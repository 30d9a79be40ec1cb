// Writes the hive fuzzer's seed corpus: the minimal empty hive, and a hive of each .reg fixture
// with Select\Current naming no control set, ControlSet001 and ControlSet002.
//
//   hive_fuzz_seeds OUTPUT_DIR FIXTURE.reg...
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "platform/memory_registry.h"
#include "tests/common/hive_fixture.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: hive_fuzz_seeds OUTPUT_DIR FIXTURE.reg...\n";
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path output = argv[1];
  fs::create_directories(output);
  try {
    WriteBytes((output / "empty.hive").string(), MinimalEmptyHive());
    int written = 1;
    for (int i = 2; i < argc; ++i) {
      MemoryRegistry source;
      source.LoadRegFile(argv[i]);
      for (const std::optional<std::uint32_t> current :
           {std::optional<std::uint32_t>(), std::optional<std::uint32_t>(1),
            std::optional<std::uint32_t>(2)}) {
        const std::string name = fs::path(argv[i]).stem().string() + "-current" +
                                 (current ? std::to_string(*current) : std::string("none")) +
                                 ".hive";
        BuildHive((output / name).string(), source, current);
        ++written;
      }
    }
    std::cout << written << " seeds in " << output.string() << "\n";
  } catch (const std::exception& error) {
    std::cerr << "hive_fuzz_seeds: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
