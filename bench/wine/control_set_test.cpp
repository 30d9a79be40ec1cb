// The generated control set: what the Wine benchmark fills the registry with and then relies on.
// A sink here checks the stream as the registry and the scan would see it: every key's path
// within the limits, sibling names distinct as the registry compares them, text that fits the
// scan's buffers, and exactly the planted keys qualifying under the scan's rules, so that the
// benchmark's comparison of records never fails for the generator's sake.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "bench/wine/control_set.h"
#include "platform/registry.h"

void PrintTo(const ModemRecord& record, std::ostream* out) {
  *out << record.path << " = " << record.prefix;
}

namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// Checks the stream and counts what the tests compare with the summary. A problem is kept
// once, with the first path where it was seen.
class CheckingSink final : public ControlSetSink {
 public:
  void EnterKey(std::string_view name) override {
    std::string path(name);
    if (!frames_.empty()) {
      Frame& parent = frames_.back();
      if (!parent.subkeys.insert(Upper(name)).second) Problem("two subkeys named alike");
      if (name.empty() || name.find('\\') != std::string_view::npos) Problem("a bad key name");
      path = parent.path + "\\" + path;
    }
    frames_.push_back(Frame{path});
    ++keys;
    deepest = std::max(deepest, static_cast<int>(frames_.size()) - 1);
    longestPath = std::max(longestPath, path.size());
    if (path.size() > kControlSetMaxPathLength) Problem("a path too long");
  }

  void Value(std::string_view name, std::uint32_t type, const std::uint8_t* data,
             std::size_t size) override {
    Frame& frame = frames_.back();
    ++values;
    const std::string upper = Upper(name);
    if (!frame.values.insert(upper).second) Problem("two values named alike");
    if (size > kControlSetMaxDataSize) Problem("value data over the most");
    if (size >= kRegBufferSize) frame.largeData = true;
    if (type == regtype::kSz || type == regtype::kExpandSz || type == regtype::kMultiSz) {
      // The registry stores text as UTF-16, twice the bytes; the scan reads below 512.
      if (size * 2 >= kRegBufferSize) Problem("text too long for the scan's buffer");
      if (size == 0 || data[size - 1] != 0) Problem("text without its terminating zero");
    }
    if (upper == "TONE") frame.tone = true;
    if (upper == "PULSE") frame.pulse = true;
    if (upper == "DIALPREFIX") {
      frame.prefix = Upper(
          std::string(reinterpret_cast<const char*>(data), std::find(data, data + size, 0) - data));
    }
  }

  void LeaveKey() override {
    const Frame& frame = frames_.back();
    if (!frame.values.empty()) ++keysWithValues;
    if (!frame.subkeys.empty()) ++keysWithSubkeys;
    if (frame.largeData) ++keysWithLargeData;
    // The scan's rule: TONE, PULSE and a DIALPREFIX of D or A, every value readable.
    if (frame.tone && frame.pulse && (frame.prefix == "D" || frame.prefix == "A") &&
        !frame.largeData) {
      qualifying.insert({frame.path, frame.prefix});
    }
    frames_.pop_back();
  }

  [[nodiscard]] bool Balanced() const { return frames_.empty(); }

  std::size_t keys = 0, values = 0, keysWithValues = 0, keysWithSubkeys = 0, keysWithLargeData = 0,
              longestPath = 0;
  int deepest = 0;
  std::set<ModemRecord> qualifying;
  std::vector<std::string> problems;

 private:
  struct Frame {
    std::string path;
    std::set<std::string> subkeys{};
    std::set<std::string> values{};
    bool tone = false, pulse = false, largeData = false;
    std::string prefix{};
  };

  void Problem(const std::string& what) {
    for (const std::string& seen : problems) {
      if (seen.compare(0, what.size(), what) == 0) return;
    }
    problems.push_back(what + " at " + frames_.back().path);
  }

  std::vector<Frame> frames_;
};

// Folds the whole stream into one number and counts the keys: cheap enough for the largest
// trees, where the checks above are done once.
class HashingSink final : public ControlSetSink {
 public:
  void EnterKey(std::string_view name) override {
    ++keys;
    Fold(name);
    Fold("\x01");
  }
  void Value(std::string_view name, std::uint32_t type, const std::uint8_t* data,
             std::size_t size) override {
    Fold(name);
    Fold(std::string_view(reinterpret_cast<const char*>(&type), sizeof type));
    Fold(std::string_view(reinterpret_cast<const char*>(data), size));
  }
  void LeaveKey() override { Fold("\x02"); }

  std::size_t keys = 0;
  std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a

 private:
  void Fold(std::string_view bytes) {
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  }
};

HashingSink Hash(std::size_t keys, std::uint64_t seed) {
  HashingSink sink;
  GenerateControlSet({keys, seed}, sink);
  return sink;
}

struct Generated {
  ControlSetSummary summary;
  CheckingSink sink;
};

Generated Generate(std::size_t keys, std::uint64_t seed) {
  Generated generated;
  generated.summary = GenerateControlSet({keys, seed}, generated.sink);
  return generated;
}

// ---- Sizes and seeds across the range: the tree is what the summary says, within limits.

struct SizeCase {
  std::size_t keys;
  std::uint64_t seed;
};

std::string SizeCaseName(const ::testing::TestParamInfo<SizeCase>& info) {
  return std::to_string(info.param.keys) + "_keys_seed_" + std::to_string(info.param.seed);
}

class ControlSetSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ControlSetSizes, IsSoundAndMatchesItsSummary) {
  const auto [keys, seed] = GetParam();
  const Generated g = Generate(keys, seed);
  const CheckingSink& sink = g.sink;
  const ControlSetSummary& summary = g.summary;

  EXPECT_TRUE(sink.problems.empty()) << ::testing::PrintToString(sink.problems);
  EXPECT_TRUE(sink.Balanced());
  EXPECT_EQ(sink.keys, keys);
  EXPECT_EQ(summary.keys, keys);
  EXPECT_EQ(summary.values, sink.values);
  EXPECT_EQ(summary.keysWithValues, sink.keysWithValues);
  EXPECT_EQ(summary.keysWithSubkeys, sink.keysWithSubkeys);
  EXPECT_EQ(summary.keysWithLargeData, sink.keysWithLargeData);
  EXPECT_EQ(summary.maxDepth, sink.deepest);
  EXPECT_EQ(summary.longestPath, sink.longestPath);
  EXPECT_LE(sink.deepest, kControlSetMaxDepth);

  // The planted modem keys are exactly the keys the scan's rules accept, no more and no fewer.
  const std::set<ModemRecord> planted(summary.modems.begin(), summary.modems.end());
  EXPECT_EQ(planted.size(), summary.modems.size()) << "a modem key planted twice";
  EXPECT_EQ(planted, sink.qualifying);
  EXPECT_EQ(summary.modems.size(), 2 + keys / 10'000);
  EXPECT_EQ(summary.modemClassKeys, summary.modems.size() + 1);  // and one that does not qualify

  // About three values a key, on two keys in three.
  const double perKey = static_cast<double>(sink.values) / static_cast<double>(keys);
  const double withValues = static_cast<double>(sink.keysWithValues) / static_cast<double>(keys);
  EXPECT_GT(perKey, 2.7);
  EXPECT_LT(perKey, 3.3);
  EXPECT_GT(withValues, 0.6);
  EXPECT_LT(withValues, 0.73);
}

INSTANTIATE_TEST_SUITE_P(Range, ControlSetSizes,
                         ::testing::Values(SizeCase{kControlSetMinKeys, 1}, SizeCase{1'001, 7},
                                           SizeCase{9'999, 3}, SizeCase{30'000, 1},
                                           SizeCase{kControlSetMaxKeys, 11}),
                         SizeCaseName);

TEST(ControlSetSizesTest, SameSizeAndSeedGiveTheSameTree) {
  for (const std::size_t keys : {kControlSetMinKeys, std::size_t{30'000}}) {
    EXPECT_EQ(Hash(keys, 4).hash, Hash(keys, 4).hash) << keys;
    EXPECT_NE(Hash(keys, 4).hash, Hash(keys, 5).hash) << keys;
    EXPECT_NE(Hash(keys, 4).hash, Hash(keys + 1, 4).hash) << keys;
  }
}

TEST(ControlSetSizesTest, LargeTreesReachTheDeepestLevel) {
  for (const std::size_t keys : {std::size_t{30'000}, kControlSetMaxKeys}) {
    DiscardingSink discard;
    EXPECT_EQ(GenerateControlSet({keys, 2}, discard).maxDepth, kControlSetMaxDepth) << keys;
  }
}

TEST(ControlSetSizesTest, SizesOutsideTheRangeAreClamped) {
  EXPECT_EQ(Hash(0, 1).keys, kControlSetMinKeys);
  EXPECT_EQ(Hash(kControlSetMinKeys - 1, 1).keys, kControlSetMinKeys);
  EXPECT_EQ(Hash(kControlSetMaxKeys + 1, 1).keys, kControlSetMaxKeys);
}

// ---- The modem class: where the scan finds its keys, spelled as real ones are.

TEST(ControlSetModemsTest, SettingsKeysBelowTheModemClassInEveryMode) {
  const ControlSetSummary summary = Generate(30'000, 5).summary;
  const std::string classKey =
      std::string(kControlSetPath) + "\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\";
  std::set<std::string> prefixes;
  for (const ModemRecord& modem : summary.modems) {
    EXPECT_EQ(modem.path.compare(0, classKey.size(), classKey), 0) << modem.path;
    EXPECT_EQ(modem.path.substr(modem.path.size() - 9), "\\Settings") << modem.path;
    prefixes.insert(modem.prefix);
  }
  EXPECT_EQ(prefixes, (std::set<std::string>{"A", "D"}));
}

}  // namespace
