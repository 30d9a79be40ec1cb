#include "bench/wine/control_set.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "platform/registry.h"

namespace {

// SplitMix64: small, fast, and the same sequence on every compiler (the standard library's
// distributions are not).
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, bound); bound > 0.
  std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }
  // Uniform in [low, high].
  std::size_t Between(std::size_t low, std::size_t high) { return low + Below(high - low + 1); }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  bool Chance(double probability) { return Unit() < probability; }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  std::uint64_t state_;
};

// ---- What keys and values are called and hold.

// Key names of one family. The subkeys of one key mostly share a family, as in a real control
// set (the instances 0000, 0001... of a class; the services; the device ids of a bus).
enum class NameStyle { kWord, kService, kNumbered, kDeviceId, kInstanceId, kGuid };

// Every generated name is at most this long, except GUIDs, which are placed only where the
// path has room for them.
constexpr std::size_t kShortNameLength = 20;
constexpr std::size_t kGuidLength = 38;

constexpr const char* kKeyWords[] = {
    "Parameters",
    "Enum",
    "Security",
    "Linkage",
    "Performance",
    "LogConf",
    "Control",
    "Properties",
    "Instances",
    "Defaults",
    "Config",
    "State",
    "Capabilities",
    "Descriptors",
    "Filters",
    "Adapters",
    "Interfaces",
    "Ports",
    "Modules",
    "Providers",
    "Routing",
    "Power",
    "Storage",
    "Volume",
    "Partition",
    "Display",
    "Video",
    "Audio",
    "Keyboard",
    "Mouse",
    "Printers",
    "Environment",
    "Print",
    "Network",
    "Nls",
    "Diagnostics",
    "Hardware",
    "Policies",
    "Options",
    "Timers",
    "Cache",
    "Queues",
    "Channels",
    "Drivers",
    "Devices",
    "Monitors",
    "Protocols",
    "Bindings",
    "Session",
    "Media",
    "Device Parameters",
    "Interrupt Management",
    "Affinity Policy",
    "Memory Management",
    "Session Manager",
    "Terminal Server",
    "DeviceClasses",
    "Class",
};

constexpr const char* kSyllables[] = {"ka", "bo", "ri", "ne", "tu", "sa", "mi", "lo", "de", "vu",
                                      "pa", "ze", "ho", "fi", "gu", "xe", "wa", "ny", "qu", "cy"};
constexpr const char* kServiceSuffixes[] = {"", "", "svc", "drv", "flt", "bus", "mgr", "port"};

constexpr const char* kTextWords[] = {
    "Standard",   "Generic",   "Bus",       "Controller", "Device",   "Port",   "Network",
    "Adapter",    "Driver",    "Service",   "Host",       "Root",     "Serial", "Audio",
    "Volume",     "Storage",   "Input",     "Display",    "Power",    "System", "Virtual",
    "Enumerator", "Interface", "Monitor",   "Manager",    "Provider", "Filter", "Protocol",
    "Hub",        "Composite", "Legacy",    "Remote",     "Local",    "Secure", "Basic",
    "Extended",   "Primary",   "Secondary", "Channel",    "Memory",   "Timer",  "Clock",
};

enum class DataKind { kText, kPath, kMultiText, kDword, kBinary, kGuid, kVersion };

struct ValueKind {
  const char* name;
  std::uint32_t type;
  DataKind data;
};

// Value names of device, driver and service keys. None of them is one the scan looks for.
constexpr ValueKind kValueKinds[] = {
    {"DisplayName", regtype::kSz, DataKind::kText},
    {"Description", regtype::kSz, DataKind::kText},
    {"ImagePath", regtype::kExpandSz, DataKind::kPath},
    {"ObjectName", regtype::kSz, DataKind::kText},
    {"Group", regtype::kSz, DataKind::kText},
    {"Start", regtype::kDword, DataKind::kDword},
    {"Type", regtype::kDword, DataKind::kDword},
    {"ErrorControl", regtype::kDword, DataKind::kDword},
    {"Tag", regtype::kDword, DataKind::kDword},
    {"DependOnService", regtype::kMultiSz, DataKind::kMultiText},
    {"DriverDesc", regtype::kSz, DataKind::kText},
    {"ProviderName", regtype::kSz, DataKind::kText},
    {"DriverVersion", regtype::kSz, DataKind::kVersion},
    {"InfPath", regtype::kSz, DataKind::kPath},
    {"InfSection", regtype::kSz, DataKind::kText},
    {"MatchingDeviceId", regtype::kSz, DataKind::kText},
    {"DeviceDesc", regtype::kSz, DataKind::kText},
    {"Mfg", regtype::kSz, DataKind::kText},
    {"HardwareID", regtype::kMultiSz, DataKind::kMultiText},
    {"CompatibleIDs", regtype::kMultiSz, DataKind::kMultiText},
    {"Service", regtype::kSz, DataKind::kText},
    {"ClassGUID", regtype::kSz, DataKind::kGuid},
    {"Class", regtype::kSz, DataKind::kText},
    {"ConfigFlags", regtype::kDword, DataKind::kDword},
    {"Capabilities", regtype::kDword, DataKind::kDword},
    {"UINumber", regtype::kDword, DataKind::kDword},
    {"Address", regtype::kDword, DataKind::kDword},
    {"LocationInformation", regtype::kSz, DataKind::kText},
    {"ContainerID", regtype::kSz, DataKind::kGuid},
    {"Driver", regtype::kSz, DataKind::kText},
    {"FriendlyName", regtype::kSz, DataKind::kText},
    {"Security", regtype::kBinary, DataKind::kBinary},
    {"FailureActions", regtype::kBinary, DataKind::kBinary},
    {"Flags", regtype::kDword, DataKind::kDword},
    {"Enabled", regtype::kDword, DataKind::kDword},
    {"Count", regtype::kDword, DataKind::kDword},
    {"NextInstance", regtype::kDword, DataKind::kDword},
    {"Version", regtype::kSz, DataKind::kVersion},
    {"Timeout", regtype::kDword, DataKind::kDword},
    {"Data", regtype::kBinary, DataKind::kBinary},
    {"PnPCapabilities", regtype::kDword, DataKind::kDword},
    {"BusNumber", regtype::kDword, DataKind::kDword},
    {"Index", regtype::kDword, DataKind::kDword},
    {"Library", regtype::kSz, DataKind::kPath},
    {"Order", regtype::kMultiSz, DataKind::kMultiText},
};

// A key's values: none for one key in three (the containers: a bus, a class, a service's
// Enum), else one to eight, so about three a key over the tree.
constexpr double kNoValuesChance = 1.0 / 3.0;
constexpr std::size_t kMostValues = 8;
// One binary value in this many is a large blob (600 to 2,000 bytes): the scan leaves the
// values of such a key unread.
constexpr std::size_t kLargeBlobEvery = 150;

// The modem device class, its instances' settings keys and the values the scan looks for.
constexpr char kModemClassGuid[] = "{4D36E96D-E325-11CE-BFC1-08002BE10318}";
constexpr std::size_t kKeysPerModemInstance = 6;  // the instance, Settings and four command keys

// A subtree below a key at `levels` above the deepest level holds at most this many keys, with
// at most kMostSubkeys subkeys a key near the bottom of the tree.
constexpr std::size_t kMostSubkeys = 40;
// Subkeys of a key with a subtree of n keys below it: about this times the square root of n.
constexpr double kFanOutScale = 1.5;
std::size_t SubtreeCapacity(int levels) {
  std::size_t capacity = 1;
  for (int level = 0; level < levels; ++level) {
    if (capacity > kControlSetMaxKeys) break;
    capacity = 1 + kMostSubkeys * capacity;
  }
  return capacity;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// ---- The generator.

class Generator {
 public:
  Generator(const ControlSetOptions& options, ControlSetSink& sink)
      : keys_(std::clamp(options.keys, kControlSetMinKeys, kControlSetMaxKeys)),
        random_(options.seed),
        sink_(sink) {}

  ControlSetSummary Run() {
    const std::size_t modems = 2 + keys_ / 10'000;
    // The fixed keys: the control set, Control, Class, the modem class and its instances (the
    // qualifying ones and one that does not qualify), Enum, Services and Hardware Profiles.
    const std::size_t fixed = 7 + (modems + 1) * kKeysPerModemInstance;
    const std::size_t grown = keys_ - fixed;
    const std::size_t underClass = grown / 10, underControl = grown * 15 / 100,
                      underEnum = grown * 40 / 100, underServices = grown * 33 / 100;
    const std::size_t underProfiles = grown - underClass - underControl - underEnum - underServices;

    Enter(kControlSetPath, 0);  // no values of its own
    Enter("Control", 1);
    RandomValues();
    Enter("Class", 2);
    Enter(kModemClassGuid, 3);
    ModemClassValues();
    for (std::size_t instance = 0; instance <= modems; ++instance) {
      ModemInstance(instance, instance == modems ? Prefix::kNone : PrefixOf(instance));
    }
    Leave();
    Grow(3, underClass, NameStyle::kGuid);
    Leave();
    Grow(2, underControl, NameStyle::kWord);
    Leave();
    Enter("Enum", 1);
    Grow(2, underEnum, NameStyle::kWord);
    Leave();
    Enter("Services", 1);
    Grow(2, underServices, NameStyle::kService);
    Leave();
    Enter("Hardware Profiles", 1);
    Grow(2, underProfiles, NameStyle::kNumbered);
    Leave();
    Leave();

    if (summary_.keys != keys_ || !frames_.empty()) {
      throw std::logic_error("the control set generator miscounted its keys");
    }
    return std::move(summary_);
  }

 private:
  // The key being filled: the names of its subkeys so far (lower case: the registry's names
  // ignore case) and what it holds.
  struct Frame {
    std::size_t pathLength;
    std::unordered_set<std::string> names;
    std::size_t nextNumber = 0;
    bool hasValues = false;
    bool hasLargeData = false;
  };

  enum class Prefix { kNone, kNormal, kNormalLowerCase, kSecure };

  // Most modems dial normally; some are set for secure access, one in three of those written
  // in lower case, and the value's name is spelled in more than one way.
  static Prefix PrefixOf(std::size_t instance) {
    if (instance % 4 == 1) return Prefix::kSecure;
    if (instance % 6 == 2) return Prefix::kNormalLowerCase;
    return Prefix::kNormal;
  }

  // ---- Keys.

  void Enter(std::string_view name, int depth) {
    if (!frames_.empty()) {
      Frame& parent = frames_.back();
      if (!parent.names.insert(Lower(name)).second) {
        throw std::logic_error("the control set generator named two subkeys alike");
      }
      if (parent.names.size() == 1) ++summary_.keysWithSubkeys;
      path_ += '\\';
    }
    path_ += name;
    frames_.push_back(Frame{path_.size() - name.size() - (frames_.empty() ? 0 : 1), {}});
    sink_.EnterKey(name);
    ++summary_.keys;
    summary_.maxDepth = std::max(summary_.maxDepth, depth);
    summary_.longestPath = std::max(summary_.longestPath, path_.size());
    if (path_.size() > kControlSetMaxPathLength) {
      throw std::logic_error("the control set generator made a path too long: " + path_);
    }
  }

  void Leave() {
    sink_.LeaveKey();
    const Frame& frame = frames_.back();
    if (frame.hasValues) ++summary_.keysWithValues;
    if (frame.hasLargeData) ++summary_.keysWithLargeData;
    path_.resize(frame.pathLength);
    frames_.pop_back();
  }

  // Adds `budget` keys below the current key, whose subkeys are at `depth`: about the square
  // root of the budget as subkeys, with subtrees of random sizes, none deeper than the deepest
  // level.
  void Grow(int depth, std::size_t budget, NameStyle style) {
    if (budget == 0) return;
    const std::size_t capacity = SubtreeCapacity(kControlSetMaxDepth - depth);
    std::size_t count = static_cast<std::size_t>(std::sqrt(static_cast<double>(budget)) *
                                                 (0.5 + random_.Unit()) * kFanOutScale);
    count = std::clamp(count, (budget + capacity - 1) / capacity, budget);
    count = std::max<std::size_t>(count, 1);
    // Each subkey's subtree: one key, and a share of the rest by a random weight.
    std::vector<double> weights(count);
    double total = 0;
    for (double& weight : weights) {
      const double u = -std::log(1.0 - random_.Unit());
      weight = u * u;
      total += weight;
    }
    std::vector<std::size_t> sizes(count, 1);
    std::size_t left = budget - count;
    for (std::size_t i = 0; i < count && left > 0; ++i) {
      const std::size_t share = std::min(
          {left, capacity - 1,
           static_cast<std::size_t>(static_cast<double>(budget - count) * weights[i] / total)});
      sizes[i] += share;
      left -= share;
    }
    for (std::size_t i = 0; left > 0; i = (i + 1) % count) {  // what rounding left over
      if (sizes[i] < capacity) {
        ++sizes[i];
        --left;
      }
    }
    for (const std::size_t size : sizes) {
      Enter(ChildName(style, depth), depth);
      RandomValues();
      Grow(depth + 1, size - 1, ChildStyle(style));
      Leave();
    }
  }

  // The family of the subkeys of a key whose own name is of `style`.
  NameStyle ChildStyle(NameStyle style) {
    switch (style) {
      case NameStyle::kGuid:  // a class: its instances
        if (random_.Chance(0.7)) return NameStyle::kNumbered;
        break;
      case NameStyle::kDeviceId:  // a device: its instances
        if (random_.Chance(0.7)) return NameStyle::kInstanceId;
        break;
      case NameStyle::kWord:  // Enum\PCI and the like: devices
        if (random_.Chance(0.2)) return NameStyle::kDeviceId;
        break;
      default:
        break;
    }
    const double u = random_.Unit();
    if (u < 0.55) return NameStyle::kWord;
    if (u < 0.70) return NameStyle::kService;
    if (u < 0.82) return NameStyle::kNumbered;
    if (u < 0.92) return NameStyle::kDeviceId;
    return NameStyle::kGuid;
  }

  // A name of `style` for a new subkey of the current key at `depth`, unused among its
  // siblings. A name longer than the short ones is given only where the path keeps room for
  // short names down to the deepest level; elsewhere a numbered name stands in.
  std::string ChildName(NameStyle style, int depth) {
    const long long room = static_cast<long long>(kControlSetMaxPathLength) -
                           static_cast<long long>(path_.size() + 1) -
                           static_cast<long long>(kControlSetMaxDepth - depth) *
                               static_cast<long long>(kShortNameLength + 1);
    Frame& frame = frames_.back();
    for (int attempt = 0; attempt < 8; ++attempt) {
      std::string name = NameOf(style, frame);
      if (name.size() > kShortNameLength && static_cast<long long>(name.size()) > room) {
        style = NameStyle::kNumbered;
      } else if (frame.names.count(Lower(name)) == 0)
        return name;
    }
    for (;;) {  // numbered names always fit and run out only after 10,000
      std::string name = NameOf(NameStyle::kNumbered, frame);
      if (frame.names.count(Lower(name)) == 0) return name;
    }
  }

  std::string NameOf(NameStyle style, Frame& frame) {
    char text[64];
    switch (style) {
      case NameStyle::kWord: {
        std::string word = random_.Pick(kKeyWords);
        if (frame.names.count(Lower(word)) != 0 && word.size() + 3 <= kShortNameLength) {
          word += std::to_string(random_.Between(1, 99));
        }
        return word.size() <= kShortNameLength ? word : word.substr(0, kShortNameLength);
      }
      case NameStyle::kService: {
        std::string name;
        const std::size_t syllables = random_.Between(2, 4);
        for (std::size_t i = 0; i < syllables; ++i) name += random_.Pick(kSyllables);
        name += random_.Pick(kServiceSuffixes);
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        return name;
      }
      case NameStyle::kNumbered:
        std::snprintf(text, sizeof text, "%04u",
                      static_cast<unsigned>(frame.nextNumber++ % 10'000));
        return text;
      case NameStyle::kDeviceId:
        std::snprintf(text, sizeof text, "VEN_%04X&DEV_%04X",
                      static_cast<unsigned>(random_.Below(0x10000)),
                      static_cast<unsigned>(random_.Below(0x10000)));
        return text;
      case NameStyle::kInstanceId:
        std::snprintf(text, sizeof text, "%u&%08X&0&%02X",
                      static_cast<unsigned>(random_.Between(1, 7)),
                      static_cast<unsigned>(random_.Next() & 0xFFFFFFFFu),
                      static_cast<unsigned>(random_.Below(0x100)));
        return text;
      case NameStyle::kGuid:
        return Guid();
    }
    return "Key";
  }

  std::string Guid() {
    char text[kGuidLength + 1];
    const std::uint64_t a = random_.Next(), b = random_.Next();
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}",
                  static_cast<unsigned>(a >> 32), static_cast<unsigned>((a >> 16) & 0xFFFF),
                  static_cast<unsigned>(a & 0xFFFF), static_cast<unsigned>(b >> 48),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return text;
  }

  // ---- Values.

  void AddValue(std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
    if (data.size() > kControlSetMaxDataSize) {
      throw std::logic_error("the control set generator made a value too large");
    }
    sink_.Value(name, type, data.data(), data.size());
    ++summary_.values;
    Frame& frame = frames_.back();
    frame.hasValues = true;
    if (data.size() >= kRegBufferSize) frame.hasLargeData = true;
  }

  void AddString(std::string_view name, std::string_view text, std::uint32_t type = regtype::kSz) {
    data_.assign(text.begin(), text.end());
    data_.push_back(0);
    AddValue(name, type, data_);
  }

  void RandomValues() {
    if (random_.Chance(kNoValuesChance)) return;
    // Distinct names: a partial shuffle of the kinds' indexes.
    constexpr std::size_t kKinds = std::size(kValueKinds);
    std::size_t order[kKinds];
    for (std::size_t i = 0; i < kKinds; ++i) order[i] = i;
    const std::size_t count = random_.Between(1, kMostValues);
    for (std::size_t i = 0; i < count; ++i) {
      std::swap(order[i], order[i + random_.Below(kKinds - i)]);
      const ValueKind& kind = kValueKinds[order[i]];
      RandomData(kind.data);
      AddValue(kind.name, kind.type, data_);
    }
  }

  // Fills data_ with data of `kind`; text stays below 128 characters, so that the registry,
  // which stores it as UTF-16, holds it in well under 512 bytes.
  void RandomData(DataKind kind) {
    data_.clear();
    switch (kind) {
      case DataKind::kText:
        AppendWords(random_.Between(1, 6));
        data_.push_back(0);
        break;
      case DataKind::kPath:
        AppendText("\\SystemRoot\\System32\\drivers\\");
        AppendWords(1);
        AppendText(".sys");
        data_.push_back(0);
        break;
      case DataKind::kMultiText:
        for (std::size_t i = random_.Between(1, 4); i > 0; --i) {
          AppendWords(random_.Between(1, 3));
          data_.push_back(0);
        }
        data_.push_back(0);
        break;
      case DataKind::kDword: {
        const std::uint64_t value = random_.Chance(0.6) ? random_.Below(8) : random_.Next();
        for (int i = 0; i < 4; ++i) data_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        break;
      }
      case DataKind::kBinary: {
        const std::size_t size = random_.Below(kLargeBlobEvery) == 0
                                     ? random_.Between(600, kControlSetMaxDataSize)
                                     : random_.Between(8, 160);
        for (std::size_t i = 0; i < size; ++i) {
          data_.push_back(static_cast<std::uint8_t>(random_.Next()));
        }
        break;
      }
      case DataKind::kGuid:
        AppendText(Guid());
        data_.push_back(0);
        break;
      case DataKind::kVersion: {
        char text[48];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u",
                      static_cast<unsigned>(random_.Between(1, 10)),
                      static_cast<unsigned>(random_.Below(4)),
                      static_cast<unsigned>(random_.Between(1000, 22000)),
                      static_cast<unsigned>(random_.Below(5000)));
        AppendText(text);
        data_.push_back(0);
        break;
      }
    }
  }

  void AppendText(std::string_view text) { data_.insert(data_.end(), text.begin(), text.end()); }
  void AppendWords(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) data_.push_back(' ');
      AppendText(random_.Pick(kTextWords));
    }
  }

  // ---- The modem class.

  void ModemClassValues() {
    AddString("Class", "Modem");
    AddString("ClassDesc", "Modems");
    AddString("Icon", "-1");
    AddString("Installer32", "ModemClassInstaller");
    AddString("NoInstallClass", "0");
  }

  // Instance 000N of the modem class with its Settings key (where the scan finds TONE, PULSE
  // and DIALPREFIX) and its command keys. Prefix::kNone makes an instance whose dial prefix is
  // empty: its Settings key holds the three values but does not qualify.
  void ModemInstance(std::size_t instance, Prefix prefix) {
    char name[16];
    std::snprintf(name, sizeof name, "%04u", static_cast<unsigned>(instance));
    Enter(name, 4);
    AddString("DriverDesc", "Standard Modem " + std::to_string(instance + 1));
    AddString("ProviderName", "Generic");
    AddString("InfPath", "mdmgen.inf");
    AddString("InfSection", "Gen56k");
    AddString("MatchingDeviceId", "mdmgen56k");
    AddString("AttachedTo", "COM" + std::to_string(instance + 3));
    AddString("Model", "Standard 56000 bps Modem");
    data_.assign({0x01});
    AddValue("PortSubClass", regtype::kBinary, data_);

    summary_.modemClassKeys++;
    Enter("Settings", 5);
    const bool upperCaseNames = instance % 3 == 2;
    const char* text = prefix == Prefix::kSecure            ? "A"
                       : prefix == Prefix::kNormal          ? "D"
                       : prefix == Prefix::kNormalLowerCase ? "d"
                                                            : "";
    AddString("Prefix", "AT");
    AddString("Terminator", "<cr>");
    AddString(upperCaseNames ? "DIALPREFIX" : "DialPrefix", text);
    AddString("DialSuffix", ";");
    AddString(upperCaseNames ? "TONE" : "Tone", "T");
    AddString(upperCaseNames ? "PULSE" : "Pulse", "P");
    AddString("Blind_On", "X3");
    AddString("Blind_Off", "X4");
    AddString("SpeakerMode_Off", "M0");
    AddString("SpeakerMode_Dial", "M1");
    AddString("SpeakerVolume_Low", "L1");
    if (prefix != Prefix::kNone) {
      summary_.modems.push_back({path_, prefix == Prefix::kSecure ? "A" : "D"});
    }
    Leave();

    const char* const commands[][2] = {{"Init", "AT&F<cr>"},
                                       {"Monitor", "ATS0=0<cr>"},
                                       {"Answer", "ATA<cr>"},
                                       {"Hangup", "ATH<cr>"}};
    for (const auto& command : commands) {
      Enter(command[0], 5);
      AddString("1", command[1]);
      Leave();
    }
    Leave();
  }

  const std::size_t keys_;
  Random random_;
  ControlSetSink& sink_;
  ControlSetSummary summary_;
  std::string path_;
  std::vector<Frame> frames_;
  std::vector<std::uint8_t> data_;
};

}  // namespace

ControlSetSummary GenerateControlSet(const ControlSetOptions& options, ControlSetSink& sink) {
  return Generator(options, sink).Run();
}
