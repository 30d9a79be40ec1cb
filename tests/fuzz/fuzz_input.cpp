#include "tests/fuzz/fuzz_input.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace fuzzinput {
namespace {

constexpr std::size_t kCommandCount = static_cast<std::size_t>(Command::kCount);
constexpr std::size_t kStatusCount = std::size(kInjectedStatuses);

// The fixed bases a path can start from, by PathBase; the last two are taken from the state.
constexpr std::array<std::string_view, 6> kFixedBases = {
    "SYSTEM\\CurrentControlSet",
    "SYSTEM\\ControlSet001",
    "SYSTEM\\ControlSet003",
    "SYSTEM\\ControlSet002",
    "SYSTEM",
    "",
};

// All the chains of one input together build at most this many levels, so that a small input
// cannot make a tree of millions of keys.
constexpr std::size_t kMaxChainLevelsPerInput = 4 * kMaxChainDepth;

struct Spelling {
  const char* tone;
  const char* pulse;
  const char* prefix;
};
constexpr Spelling kSpellings[] = {
    {"Tone", "Pulse", "DialPrefix"},
    {"TONE", "PULSE", "DIALPREFIX"},
    {"tone", "pulse", "dialprefix"},
    {"tOnE", "pUlSe", "dIaLpReFiX"},
};

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  [[nodiscard]] bool AtEnd() const { return pos_ >= size_; }

  std::uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t U16() {
    const unsigned low = U8();
    return static_cast<std::uint16_t>(low | (static_cast<unsigned>(U8()) << 8));
  }
  std::uint32_t U24() {
    const std::uint32_t low = U16();
    return low | (static_cast<std::uint32_t>(U8()) << 16);
  }

  // Up to `length` bytes, fewer when the input ends first.
  std::string Literal(std::size_t length) {
    const std::size_t n = std::min(length, size_ - std::min(pos_, size_));
    std::string text(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return text;
  }

  std::string Text() {
    const std::uint8_t mark = U8();
    if (mark < kLongTextMark) return Literal(mark);
    const std::size_t length = std::min<std::size_t>(U16(), kMaxTextLength);
    const char fill = static_cast<char>(U8());
    std::string text = Literal(U8());
    if (text.size() < length) text.append(length - text.size(), fill);
    return text;
  }

  std::string Path() {
    const std::uint8_t selector = U8();
    const auto base = static_cast<PathBase>(selector & 7);
    const unsigned components = selector >> 3;
    std::string path;
    if (base == PathBase::kLastPath) {
      path = lastPath_;
    } else if (base == PathBase::kLastParent) {
      const std::size_t cut = lastPath_.rfind('\\');
      path = cut == std::string::npos ? std::string() : lastPath_.substr(0, cut);
    } else {
      path = kFixedBases[static_cast<std::size_t>(base)];
    }
    for (unsigned i = 0; i < components; ++i) {
      const std::string component = Text();
      if (component.empty() || path.size() + 1 + component.size() > kMaxPathLength) continue;
      if (!path.empty()) path += '\\';
      path += component;
    }
    lastPath_ = path;
    return path;
  }

  RegStatus Status() { return kInjectedStatuses[U8() % kStatusCount]; }

  void SetLastPath(std::string path) { lastPath_ = std::move(path); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::string lastPath_;
};

void PlantModem(MemoryRegistry& registry, const std::string& path, std::uint8_t style,
                const std::string& prefix) {
  const Spelling& names = kSpellings[style & kSpellingMask];
  const bool dwords = (style & kDwordFlags) != 0;
  if ((style & kNoTone) == 0) {
    dwords ? registry.SetDword(path, names.tone, 1) : registry.SetString(path, names.tone, "T");
  }
  if ((style & kNoPulse) == 0) {
    dwords ? registry.SetDword(path, names.pulse, 0) : registry.SetString(path, names.pulse, "P");
  }
  registry.SetString(path, names.prefix, prefix);
}

}  // namespace

Plan Build(const std::uint8_t* input, std::size_t size, MemoryRegistry& registry, BuildPass pass) {
  Plan plan;
  const bool buildTree = pass != BuildPass::kScanFailures;
  // Says whether a failure of the scan's calls is applied; notes that the input named one.
  const auto applyScanFailure = [&] {
    plan.scanFailuresNamed = true;
    return pass != BuildPass::kTree;
  };
  Reader in(input, size);
  std::size_t chainLevelsLeft = kMaxChainLevelsPerInput;
  while (!in.AtEnd()) {
    const auto command = static_cast<Command>(in.U8() % kCommandCount);
    // Arguments are read before anything is applied, so a refused command consumes exactly
    // the bytes it would have used.
    try {
      switch (command) {
        case Command::kCreateKey: {
          const std::string path = in.Path();
          if (buildTree) registry.CreateKey(path);
          break;
        }
        case Command::kSetValue: {
          const std::string path = in.Path();
          const std::string name = in.Text();
          const std::uint8_t type = in.U8();
          const std::string data = in.Text();
          if (buildTree) {
            registry.SetValue(path, name, type,
                              std::vector<std::uint8_t>(data.begin(), data.end()));
          }
          break;
        }
        case Command::kPlantModem: {
          const std::string path = in.Path();
          const std::uint8_t style = in.U8();
          const std::string prefix = in.Text();
          if (buildTree) PlantModem(registry, path, style, prefix);
          break;
        }
        case Command::kAddAlias: {
          const std::string alias = in.Path();
          const std::string target = in.Path();
          if (buildTree) registry.AddAlias(alias, target);
          break;
        }
        case Command::kDeleteKey: {
          const std::string path = in.Path();
          if (buildTree) registry.DeleteKey(path);
          break;
        }
        case Command::kChain: {
          std::string path = in.Path();
          const std::size_t depth =
              std::min({static_cast<std::size_t>(in.U16()), kMaxChainDepth, chainLevelsLeft});
          std::string name = in.Text();
          if (name.empty()) name = "K";
          for (std::size_t level = 0; level < depth; ++level) {
            if (path.size() + 1 + name.size() > kMaxPathLength) break;
            if (!path.empty()) path += '\\';
            path += name;
            --chainLevelsLeft;
          }
          in.SetLastPath(path);
          if (buildTree) registry.CreateKey(path);
          break;
        }
        case Command::kRegText: {
          const std::string text = in.Literal(in.U16());
          if (buildTree) registry.LoadRegText(text, "fuzz input");
          break;
        }
        case Command::kDenyAccess: {
          const std::string path = in.Path();
          if (applyScanFailure()) registry.DenyAccess(path);
          break;
        }
        case Command::kFailQuery: {
          const std::string path = in.Path();
          const RegStatus status = in.Status();
          if (applyScanFailure()) registry.FailQuery(path, status);
          break;
        }
        case Command::kFailSubkeyEnum: {
          const std::string path = in.Path();
          const std::uint16_t index = in.U16();
          const RegStatus status = in.Status();
          if (applyScanFailure()) registry.FailSubkeyEnum(path, index, status);
          break;
        }
        case Command::kFailValueEnum: {
          const std::string path = in.Path();
          const std::uint16_t index = in.U16();
          const RegStatus status = in.Status();
          if (applyScanFailure()) registry.FailValueEnum(path, index, status);
          break;
        }
        case Command::kFailWrite: {
          const std::string path = in.Path();
          const RegStatus status = in.Status();
          if (buildTree) registry.FailWrite(path, status);
          break;
        }
        case Command::kFailAllocation:
          plan.failingAllocation = in.U24();
          break;
        case Command::kChooseTarget: {
          const std::uint8_t choice = in.U8();
          plan.versionQueryFails = (choice & kVersionQueryFails) != 0;
          switch ((choice & ~kVersionQueryFails) % kTargetChoices) {
            case kTargetSecure:
              plan.target = TargetMode::kSecureAccess;
              break;
            case kTargetNormal:
              plan.target = TargetMode::kNormalOperation;
              break;
            default:
              plan.target.reset();
              break;
          }
          break;
        }
        case Command::kCount:
          break;
      }
    } catch (const std::invalid_argument&) {
      // A path the registry refuses (empty component, alias over a key, endless aliases).
    } catch (const RegFileError&) {
      // Malformed .reg text: the loader stores nothing of it.
    }
  }
  return plan;
}

// ---- Writer.

void Writer::U16(std::uint16_t value) {
  U8(static_cast<std::uint8_t>(value & 0xFF));
  U8(static_cast<std::uint8_t>(value >> 8));
}

void Writer::Text(std::string_view text) {
  if (text.size() < kLongTextMark) {
    U8(static_cast<std::uint8_t>(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return;
  }
  // Long form: a head and a run of its last byte.
  const std::size_t headLength = text.find_last_not_of(text.back()) + 1;  // npos + 1 == 0
  if (text.size() > kMaxTextLength || headLength > 0xFF) {
    throw std::invalid_argument("fuzz input: text cannot be encoded");
  }
  U8(kLongTextMark);
  U16(static_cast<std::uint16_t>(text.size()));
  U8(static_cast<std::uint8_t>(text.back()));
  U8(static_cast<std::uint8_t>(headLength));
  bytes_.insert(bytes_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(headLength));
}

void Writer::Path(std::string_view path) {
  // Start from the longest base the path begins with at a component boundary: a fixed one, the
  // previous path or its parent. The machine (the empty path) always matches.
  const auto startsWith = [path](std::string_view base) {
    return base.empty() || (path.substr(0, base.size()) == base &&
                            (path.size() == base.size() || path[base.size()] == '\\'));
  };
  auto base = static_cast<std::uint8_t>(PathBase::kMachine);
  std::size_t baseLength = 0;
  for (std::size_t i = 0; i < kFixedBases.size(); ++i) {
    if (startsWith(kFixedBases[i]) && kFixedBases[i].size() > baseLength) {
      base = static_cast<std::uint8_t>(i);
      baseLength = kFixedBases[i].size();
    }
  }
  if (lastPath_) {
    const std::size_t cut = lastPath_->rfind('\\');
    const std::string parent = cut == std::string::npos ? std::string() : lastPath_->substr(0, cut);
    if (startsWith(parent) && parent.size() > baseLength) {
      base = static_cast<std::uint8_t>(PathBase::kLastParent);
      baseLength = parent.size();
    }
    if (startsWith(*lastPath_) && lastPath_->size() >= baseLength) {
      base = static_cast<std::uint8_t>(PathBase::kLastPath);
      baseLength = lastPath_->size();
    }
  }
  std::vector<std::string_view> components;
  std::string_view rest = path.substr(baseLength);
  while (!rest.empty()) {
    if (rest.front() == '\\') rest.remove_prefix(1);
    const std::size_t cut = std::min(rest.find('\\'), rest.size());
    if (cut > 0) components.push_back(rest.substr(0, cut));
    rest.remove_prefix(cut);
  }
  if (components.size() > kMaxComponents) {
    throw std::invalid_argument("fuzz input: path has too many components");
  }
  U8(static_cast<std::uint8_t>(base | (components.size() << 3)));
  for (std::string_view component : components) Text(component);
  lastPath_ = std::string(path);
}

Writer& Writer::CreateKey(std::string_view path) {
  Op(Command::kCreateKey);
  Path(path);
  return *this;
}

Writer& Writer::SetValue(std::string_view path, std::string_view name, std::uint8_t type,
                         std::string_view data) {
  Op(Command::kSetValue);
  Path(path);
  Text(name);
  U8(type);
  Text(data);
  return *this;
}

Writer& Writer::PlantModem(std::string_view path, std::uint8_t style, std::string_view prefix) {
  Op(Command::kPlantModem);
  Path(path);
  U8(style);
  Text(prefix);
  return *this;
}

Writer& Writer::PlantModemAtLastPath(std::uint8_t style, std::string_view prefix) {
  Op(Command::kPlantModem);
  U8(static_cast<std::uint8_t>(PathBase::kLastPath));  // no components of its own
  U8(style);
  Text(prefix);
  return *this;
}

Writer& Writer::AddAlias(std::string_view aliasPath, std::string_view targetPath) {
  Op(Command::kAddAlias);
  Path(aliasPath);
  Path(targetPath);
  return *this;
}

Writer& Writer::DeleteKey(std::string_view path) {
  Op(Command::kDeleteKey);
  Path(path);
  return *this;
}

Writer& Writer::Chain(std::string_view path, std::uint16_t depth, std::string_view name) {
  Op(Command::kChain);
  Path(path);
  U16(depth);
  Text(name);
  lastPath_.reset();  // the chain's bottom: not worth working out here
  return *this;
}

Writer& Writer::RegText(std::string_view text) {
  if (text.size() > 0xFFFF) throw std::invalid_argument("fuzz input: .reg text too long");
  Op(Command::kRegText);
  U16(static_cast<std::uint16_t>(text.size()));
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return *this;
}

Writer& Writer::DenyAccess(std::string_view path) {
  Op(Command::kDenyAccess);
  Path(path);
  return *this;
}

Writer& Writer::FailQuery(std::string_view path, std::uint8_t statusChoice) {
  Op(Command::kFailQuery);
  Path(path);
  U8(statusChoice);
  return *this;
}

Writer& Writer::FailSubkeyEnum(std::string_view path, std::uint16_t index,
                               std::uint8_t statusChoice) {
  Op(Command::kFailSubkeyEnum);
  Path(path);
  U16(index);
  U8(statusChoice);
  return *this;
}

Writer& Writer::FailValueEnum(std::string_view path, std::uint16_t index,
                              std::uint8_t statusChoice) {
  Op(Command::kFailValueEnum);
  Path(path);
  U16(index);
  U8(statusChoice);
  return *this;
}

Writer& Writer::FailWrite(std::string_view path, std::uint8_t statusChoice) {
  Op(Command::kFailWrite);
  Path(path);
  U8(statusChoice);
  return *this;
}

Writer& Writer::FailAllocation(std::uint32_t point) {
  Op(Command::kFailAllocation);
  U16(static_cast<std::uint16_t>(point & 0xFFFF));
  U8(static_cast<std::uint8_t>((point >> 16) & 0xFF));
  return *this;
}

Writer& Writer::ChooseTarget(std::uint8_t choice) {
  Op(Command::kChooseTarget);
  U8(choice);
  return *this;
}

}  // namespace fuzzinput
