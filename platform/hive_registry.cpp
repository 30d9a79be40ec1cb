// The hive registry: libhivex holds the hive (in memory when open for writing); this file
// resolves ANSI paths, converts names and string data, keeps the handle table, presents
// CurrentControlSet, and writes the hive back safely.
//
// Each key's subkey listing (hive order, names converted once) and value listing (sorted,
// names converted once) are kept after first use, up to a bound, so a walk converts most names
// once and looks a path component up by binary search. A listing is dropped when its key
// changes.
#include "platform/hive_registry.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/registry_common.h"

namespace {

using registry_common::ClampToU32;
using registry_common::ForEachComponent;
using registry_common::IsStringType;

constexpr char kSeparator = '\\';
constexpr char kRootName[] = "SYSTEM";
constexpr char kLinkName[] = "CurrentControlSet";

// The base block: 4096 bytes in front of the hive bins.
constexpr std::size_t kBaseBlockSize = 4096;
constexpr std::size_t kSequence1Offset = 4;
constexpr std::size_t kSequence2Offset = 8;
constexpr std::size_t kBinsSizeOffset = 0x28;
constexpr std::size_t kChecksumOffset = 508;
// Offsets of cells count from the first bin, which follows the base block.
constexpr std::size_t kFirstBin = kBaseBlockSize;
// In a key's record: after the cell's size (4 bytes) and 36 bytes of the record, the number of
// its values and the offset of their list.
constexpr std::size_t kValueCountField = 4 + 36;

// hivex gives node handles that are never 0; 0 stands for HKEY_LOCAL_MACHINE itself here.
constexpr hive_node_h kMachine = 0;

// Listings kept at most; when full, all are dropped. A walk needs those of the keys on its
// path and their parents, so a few hundred keep it from converting a name twice, while a hive
// of a million keys does not end up held twice in memory. Fewer is faster too: the memory of
// the dropped listings is still at hand when the next ones are built (4096 took 25% longer).
constexpr std::size_t kCachedKeys = 256;

constexpr std::uintptr_t kFirstHandle = 0x20000;
constexpr std::uintptr_t kHandleStep = 4;

// ---- Windows-1252.

// The characters of bytes 0x80-0x9F; the five unassigned bytes map to the control characters
// of the same number, as Windows' table for this code page has them.
constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t FromAnsi(unsigned char byte) {
  return (byte >= 0x80 && byte < 0xA0) ? kHigh1252[byte - 0x80] : char16_t{byte};
}

// The 1252 byte of a UTF-16 character, or '?' where 1252 has none.
char ToAnsi(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  for (int i = 0; i < 32; ++i) {
    if (kHigh1252[i] == unit) return static_cast<char>(0x80 + i);
  }
  return '?';
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string wide;
  wide.reserve(ansi.size());
  for (char c : ansi) wide += FromAnsi(static_cast<unsigned char>(c));
  return wide;
}

// A surrogate pair is one character and gives one '?'; a lone surrogate gives one as well.
std::string Utf16ToAnsi(std::u16string_view wide) {
  std::string ansi;
  ansi.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t unit = wide[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      ++i;
    }
    ansi += ToAnsi(unit);
  }
  return ansi;
}

// hivex gives names in UTF-8 (it decodes both stored forms). Malformed sequences, which hivex
// does not produce, count one character each.
std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string wide;
  wide.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0) {
      wide += u'\uFFFD';
      ++i;
      continue;
    }
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    bool valid = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= utf8.size() || (static_cast<unsigned char>(utf8[i + k]) & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    if (!valid) {
      wide += u'\uFFFD';
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      wide += static_cast<char16_t>(0xD800 + (code >> 10));
      wide += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      wide += static_cast<char16_t>(code);
    }
  }
  return wide;
}

std::string Utf16ToUtf8(std::u16string_view wide) {
  std::string utf8;
  utf8.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t code = wide[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[++i] - 0xDC00);
    }
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (code >> 18));
      utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

// Upper case for name matching: ASCII and the letters of 1252.
char16_t FoldUnit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - 0x20);
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return static_cast<char16_t>(unit - 0x20);
  switch (unit) {
    case 0xFF:
      return 0x178;
    case 0x161:
      return 0x160;
    case 0x153:
      return 0x152;
    case 0x17E:
      return 0x17D;
    default:
      return unit;
  }
}

// The folded UTF-16 form of an ANSI name, into a buffer kept from call to call.
void FoldAnsiInto(std::string_view ansi, std::u16string& out) {
  out.resize(ansi.size());
  for (std::size_t i = 0; i < ansi.size(); ++i) {
    out[i] = FoldUnit(FromAnsi(static_cast<unsigned char>(ansi[i])));
  }
}

std::u16string Fold(std::u16string_view wide) {
  std::u16string folded(wide);
  for (char16_t& unit : folded) unit = FoldUnit(unit);
  return folded;
}

// Sorts keeping equal elements in their order, without the buffer std::stable_sort allocates
// for every call: most keys hold only a few values and subkeys.
template <typename T, typename Less>
void StableSort(std::vector<T>& items, Less less) {
  if (items.size() > 32) {
    std::stable_sort(items.begin(), items.end(), less);
    return;
  }
  for (std::size_t i = 1; i < items.size(); ++i) {
    for (std::size_t j = i; j > 0 && less(items[j], items[j - 1]); --j) {
      std::swap(items[j], items[j - 1]);
    }
  }
}

// The forms of a stored name (UTF-8, as hivex gives it) that the listings keep: the ANSI name
// the calls return, its length in UTF-16 characters and, when `folded` is given, the folded
// UTF-16 form that lookups compare. Most names are ASCII, which needs no conversion at all.
struct NameForms {
  std::string ansi;
  std::uint32_t length = 0;
};
NameForms FormsOf(std::string_view utf8, std::u16string* folded) {
  const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    if (folded != nullptr) {
      folded->resize(utf8.size());
      for (std::size_t i = 0; i < utf8.size(); ++i) {
        (*folded)[i] = FoldUnit(static_cast<char16_t>(utf8[i]));
      }
    }
    return NameForms{std::string(utf8), static_cast<std::uint32_t>(utf8.size())};
  }
  const std::u16string wide = Utf8ToUtf16(utf8);
  if (folded != nullptr) *folded = Fold(wide);
  return NameForms{Utf16ToAnsi(wide), static_cast<std::uint32_t>(wide.size())};
}

// hivex's hive_type is a C enum that carries whatever type number a hive holds; C++ may not
// load a number outside its enumerators from it, so numbers cross as bytes.
static_assert(sizeof(hive_type) == sizeof(std::uint32_t));
std::uint32_t TypeNumber(const hive_type& type) {
  std::uint32_t number = 0;
  std::memcpy(&number, &type, sizeof number);
  return number;
}

// String data as the A calls return it: the UTF-16 text in 1252; an odd last byte is dropped.
std::string StringDataToAnsi(const char* data, std::size_t size) {
  std::u16string wide(size / 2, u'\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                                    (static_cast<unsigned char>(data[2 * i + 1]) << 8));
  }
  return Utf16ToAnsi(wide);
}

std::string AnsiToStringData(std::string_view ansi) {
  std::string data;
  data.reserve(2 * ansi.size());
  for (char c : ansi) {
    const char16_t unit = FromAnsi(static_cast<unsigned char>(c));
    data += static_cast<char>(unit & 0xFF);
    data += static_cast<char>(unit >> 8);
  }
  return data;
}

// The order values enumerate in: ASCII letters folded to lower case, other bytes by value.
bool ValueNameLess(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 0x20);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 0x20);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::uint32_t ReadU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void RequireWellFormed(std::string_view path) {
  if (path.empty() || path.front() == kSeparator || path.back() == kSeparator ||
      path.find("\\\\") != std::string_view::npos) {
    throw std::invalid_argument("HiveRegistry: malformed key path \"" + std::string(path) + "\"");
  }
}

// A malloc'd result of hivex, freed on every path.
template <typename T>
struct Freed {
  T* p = nullptr;
  explicit Freed(T* pointer) : p(pointer) {}
  ~Freed() { std::free(p); }
  Freed(const Freed&) = delete;
  Freed& operator=(const Freed&) = delete;
};

std::string ErrnoText(int error) { return std::strerror(error); }

// Reads exactly `size` bytes at `offset`; false on a short read or an error (errno set).
bool ReadAt(int fd, std::uint8_t* buffer, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = 0;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// What the base block says, checked against the file's size.
struct BaseBlockCheck {
  HiveError error = HiveError::kNone;
  std::string reason;
  bool cleanlySaved = true;
};

BaseBlockCheck CheckBaseBlock(int fd, std::uint64_t fileSize) {
  BaseBlockCheck check;
  std::uint8_t block[kBaseBlockSize];
  const std::size_t available =
      static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kBaseBlockSize));
  if (!ReadAt(fd, block, available, 0)) {
    check.error = HiveError::kUnreadable;
    check.reason = errno != 0 ? ErrnoText(errno) : "the file changed while it was read";
    return check;
  }
  if (available < 4 || std::memcmp(block, "regf", 4) != 0) {
    check.error = HiveError::kNotAHive;
    check.reason = "it does not start with a hive signature";
    return check;
  }
  if (available < kBaseBlockSize) {
    check.error = HiveError::kTruncated;
    check.reason = "it ends inside its " + std::to_string(kBaseBlockSize) + "-byte header (" +
                   std::to_string(fileSize) + " bytes)";
    return check;
  }
  std::uint32_t checksum = 0;
  for (std::size_t i = 0; i < kChecksumOffset; i += 4) checksum ^= ReadU32(block + i);
  if (checksum != ReadU32(block + kChecksumOffset)) {
    check.error = HiveError::kDamaged;
    check.reason = "its header checksum is wrong";
    return check;
  }
  const std::uint64_t binsSize = ReadU32(block + kBinsSizeOffset);
  if (kBaseBlockSize + binsSize > fileSize) {
    check.error = HiveError::kTruncated;
    check.reason = "its header says " + std::to_string(kBaseBlockSize + binsSize) +
                   " bytes, the file has " + std::to_string(fileSize);
    return check;
  }
  check.cleanlySaved = ReadU32(block + kSequence1Offset) == ReadU32(block + kSequence2Offset);
  return check;
}

}  // namespace

struct HiveRegistry::Impl {
  struct Child {
    hive_node_h node;
    std::string ansi;
    std::u16string folded;
    std::uint32_t length;  // in UTF-16 characters
  };
  struct Listing {
    std::vector<Child> children;        // in enumeration order
    std::vector<std::uint32_t> byName;  // indexes into children, sorted by folded name
    std::uint32_t maxNameLength = 0;
  };
  // Only what reading needs: a write finds the value it replaces by the stored name.
  struct Value {
    hive_value_h value;
    std::string ansi;
    std::uint32_t type;
  };
  struct Values {
    std::vector<Value> values;  // sorted by ValueNameLess
    std::uint32_t maxNameLength = 0;
    std::uint32_t maxDataLength = 0;
  };
  struct Handle {
    hive_node_h node;
    bool deleted = false;
  };

  ~Impl() {
    if (hive != nullptr) hivex_close(hive);
  }

  // ---- Listings.

  // Where hivex's key records hold their names: from byte 80 (hivex_node_struct_length is that
  // plus the name's stored bytes).
  static constexpr std::size_t kNodeNameAt = 80;

  // A key's stored name whole, from hivex's string of it, which ends at the first zero
  // character. A name may hold one; asking hivex for the name's length finds that out, but
  // decodes the name a second time, so it is asked only where the string may be short. A name
  // stored one byte a character (as Windows stores every name it can) is whole when the string
  // has as many characters as the name has bytes; a name stored in UTF-16 never has (its
  // characters are at most half its bytes), so its length is always asked.
  static std::string NodeNameUtf8(hive_h* h, hive_node_h node) {
    Freed<char> name(hivex_node_name(h, node));
    if (name.p == nullptr) return std::string("?");  // a name hivex cannot decode
    const std::string_view shown(name.p);
    const auto characters =
        static_cast<std::size_t>(std::count_if(shown.begin(), shown.end(), [](char c) {
          return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }));
    const std::size_t structLength = hivex_node_struct_length(h, node);
    if (structLength >= kNodeNameAt && characters == structLength - kNodeNameAt) {
      return std::string(shown);
    }
    errno = 0;
    const std::size_t length = hivex_node_name_len(h, node);
    return std::string(name.p, length > 0 ? length : shown.size());
  }

  // A value's stored name whole. hivex has no cheap measure of a value's stored name (its
  // struct length decodes the name too), so the length is always asked.
  static std::string ValueNameUtf8(hive_h* h, hive_value_h value) {
    errno = 0;
    const std::size_t length = hivex_value_key_len(h, value);
    Freed<char> name(hivex_value_key(h, value));
    if (name.p == nullptr) return std::string("?");
    return std::string(name.p, length);
  }

  static Child MakeChild(hive_node_h node, std::string_view utf8) {
    Child child{node, {}, {}, 0};
    NameForms forms = FormsOf(utf8, &child.folded);
    child.ansi = std::move(forms.ansi);
    child.length = forms.length;
    return child;
  }

  // The listing of `node`, built on first use. Null when the hive cannot list it.
  const Listing* ListingOf(hive_node_h node) {
    const auto found = listings.find(node);
    if (found != listings.end()) return &found->second;
    Listing listing;
    if (node == kMachine) {
      listing.children.push_back(MakeChild(hivex_root(hive), kRootName));
    } else {
      Freed<hive_node_h> children(hivex_node_children(hive, node));
      if (children.p == nullptr) {
        NoteUnreadable(node);
        return nullptr;
      }
      // A list is damaged when a subkey names another key as its parent (the list may name the
      // key itself or a key above it) or has a name that is empty or holds a backslash (its path
      // would name the key itself, or another): a walk through such a list would never end, and
      // with two such subkeys it doubles at every level.
      std::size_t count = 0;
      while (children.p[count] != 0) ++count;
      listing.children.reserve(count + 1);  // and room for the link
      for (const hive_node_h* child = children.p; *child != 0; ++child) {
        const std::string name = NodeNameUtf8(hive, *child);
        if (hivex_node_parent(hive, *child) != node || name.empty() ||
            name.find(kSeparator) != std::string::npos) {
          NoteUnreadable(node);
          return nullptr;
        }
        listing.children.push_back(MakeChild(*child, name));
      }
      if (node == hivex_root(hive) && currentSet != 0) AddLink(listing);
    }
    listing.byName.reserve(listing.children.size());
    for (std::uint32_t i = 0; i < listing.children.size(); ++i) {
      listing.byName.push_back(i);
      listing.maxNameLength = std::max(listing.maxNameLength, listing.children[i].length);
    }
    StableSort(listing.byName, [&](std::uint32_t a, std::uint32_t b) {
      return listing.children[a].folded < listing.children[b].folded;
    });
    if (listings.size() >= kCachedKeys) listings.clear();
    return &listings.emplace(node, std::move(listing)).first->second;
  }

  // Shows CurrentControlSet among the root's subkeys where Windows sorts it, in place of a
  // stored key of that name.
  void AddLink(Listing& listing) const {
    Child link = MakeChild(currentSet, kLinkName);
    auto& children = listing.children;
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [&](const Child& c) { return c.folded == link.folded; }),
                   children.end());
    const auto at = std::find_if(children.begin(), children.end(),
                                 [&](const Child& c) { return link.folded < c.folded; });
    children.insert(at, std::move(link));
  }

  const Child* FindChild(const Listing& listing, const std::u16string& folded) const {
    const auto it = std::lower_bound(listing.byName.begin(), listing.byName.end(), folded,
                                     [&](std::uint32_t index, const std::u16string& name) {
                                       return listing.children[index].folded < name;
                                     });
    if (it == listing.byName.end() || listing.children[*it].folded != folded) return nullptr;
    return &listing.children[*it];
  }

  const Values* ValuesOf(hive_node_h node) {
    const auto found = valueCache.find(node);
    if (found != valueCache.end()) return &found->second;
    Values result;
    if (node != kMachine) {
      Freed<hive_value_h> values(hivex_node_values(hive, node));
      if (values.p == nullptr) {
        NoteUnreadable(node);
        return nullptr;
      }
      std::size_t count = 0;
      while (values.p[count] != 0) ++count;
      result.values.reserve(count);
      for (const hive_value_h* value = values.p; *value != 0; ++value) {
        hive_type type = hive_t_REG_NONE;
        std::size_t size = 0;
        if (hivex_value_type(hive, *value, &type, &size) != 0) {
          NoteUnreadable(node);
          return nullptr;
        }
        NameForms forms = FormsOf(ValueNameUtf8(hive, *value), nullptr);
        result.maxNameLength = std::max(result.maxNameLength, forms.length);
        result.maxDataLength = std::max(result.maxDataLength, ClampToU32(size));
        result.values.push_back(Value{*value, std::move(forms.ansi), TypeNumber(type)});
      }
      if (!CellsFreedOnce(node, values.p)) {
        NoteUnreadable(node);
        return nullptr;
      }
      StableSort(result.values,
                 [](const Value& a, const Value& b) { return ValueNameLess(a.ansi, b.ansi); });
    }
    if (valueCache.size() >= kCachedKeys) valueCache.clear();
    return &valueCache.emplace(node, std::move(result)).first->second;
  }

  // When hivex rewrites a key's values it frees the cells of the old ones: the list of them,
  // each value's record and each value's data kept apart from its record. A cell freed twice,
  // or one that is not a cell in use, ends the program in a failed assertion, and freeing the
  // key's own record would leave the key in free space. A damaged hive may point a value's data
  // at its own record, at the list or at another value's data (found by the fuzzer): such a key
  // is a damaged part, neither read nor written. Whether the data is where it says is hivex's
  // own check; the list's place is read from the key's record in the file, as hivex read it,
  // for a key that was in the file and whose values this session has not rewritten (hivex puts
  // new cells past the end of the file it read).
  bool CellsFreedOnce(hive_node_h node, const hive_value_h* values) {
    std::vector<std::size_t> cells{node};
    if (node + kValueCountField + 8 <= bytesRead && rewritten.count(node) == 0) {
      std::uint8_t field[8];  // the number of values, then the list's offset from the first bin
      if (!ReadAt(file->Descriptor(), field, sizeof field, node + kValueCountField)) return false;
      if (ReadU32(field) != 0) cells.push_back(std::size_t{ReadU32(field + 4)} + kFirstBin);
    }
    for (const hive_value_h* value = values; *value != 0; ++value) {
      cells.push_back(*value);
      errno = 0;
      const hive_value_h data = hivex_value_data_cell_offset(hive, *value, nullptr);
      if (data == 0 && errno != 0) return false;
      if (data != 0) cells.push_back(data);
    }
    std::sort(cells.begin(), cells.end());
    return std::adjacent_find(cells.begin(), cells.end()) == cells.end();
  }

  // ---- Paths.

  // Follows an ANSI path from HKEY_LOCAL_MACHINE; the link is followed as Windows shows it.
  // The keys of the last path resolved are remembered: a walk opens each key by a path that
  // extends one opened just before, so only the components past the shared part are looked up.
  RegStatus Resolve(std::string_view path, hive_node_h* out) {
    std::size_t reused = 0;   // steps of the last path that this one starts with, spelled alike
    std::size_t matched = 0;  // bytes of both known to be alike
    for (const Step& step : lastSteps) {
      if (step.end > path.size() ||
          path.compare(matched, step.end - matched, lastPath, matched, step.end - matched) != 0 ||
          (step.end < path.size() && path[step.end] != kSeparator)) {
        break;
      }
      matched = step.end;
      ++reused;
    }
    lastSteps.resize(reused);
    lastPath.assign(path);  // every step kept or added below ends inside it
    hive_node_h node = reused > 0 ? lastSteps.back().node : kMachine;
    std::size_t start = reused > 0 ? lastSteps.back().end + 1 : 0;
    while (start <= path.size()) {
      std::size_t end = path.find(kSeparator, start);
      if (end == std::string_view::npos) end = path.size();
      if (end > start) {
        const Listing* listing = ListingOf(node);
        if (listing == nullptr) return regstatus::kGenFailure;
        FoldAnsiInto(path.substr(start, end - start), scratch);
        const Child* child = FindChild(*listing, scratch);
        if (child == nullptr) return regstatus::kFileNotFound;
        node = child->node;
        lastSteps.push_back(Step{end, node});
      }
      start = end + 1;
    }
    *out = node;
    return regstatus::kSuccess;
  }

  // Forgets the last path: the keys changed.
  void ForgetLastPath() {
    lastSteps.clear();
    lastPath.clear();
  }

  // Follows a building path through the stored tree only. The first component must be SYSTEM.
  // With `create`, missing keys are added. Returns 0 when absent.
  hive_node_h ResolveStored(std::string_view path, bool create) {
    RequireWellFormed(path);
    hive_node_h node = kMachine;
    ForEachComponent(path, [&](std::string_view name) {
      const std::u16string folded = Fold(AnsiToUtf16(name));
      if (node == kMachine) {
        if (folded != u"SYSTEM") {
          throw std::invalid_argument("HiveRegistry: a hive holds keys below SYSTEM only, not \"" +
                                      std::string(path) + "\"");
        }
        node = hivex_root(hive);
        return true;
      }
      hive_node_h next = 0;
      Freed<hive_node_h> children(hivex_node_children(hive, node));
      if (children.p == nullptr) throw std::runtime_error("HiveRegistry: cannot list a key");
      for (const hive_node_h* child = children.p; *child != 0; ++child) {
        if (Fold(Utf8ToUtf16(NodeNameUtf8(hive, *child))) == folded) {
          next = *child;
          break;
        }
      }
      if (next == 0 && create) {
        next = hivex_node_add_child(hive, node, Utf16ToUtf8(AnsiToUtf16(name)).c_str());
        if (next == 0) {
          throw std::runtime_error("HiveRegistry: cannot add key \"" + std::string(name) +
                                   "\": " + ErrnoText(errno));
        }
        listings.erase(node);
        ForgetLastPath();
        modified = true;
      }
      node = next;
      return node != 0;
    });
    return node;
  }

  // ---- The control set mapping, from the stored tree.

  // A value of Select naming a control set: its number when it is a REG_DWORD from 1 to 999
  // and the hive holds that set (*set), else why not (*why).
  std::optional<std::uint32_t> SelectedSet(hive_node_h select, const char* value, hive_node_h* set,
                                           std::string* why) const {
    const hive_node_h root = hivex_root(hive);
    const hive_value_h stored = select != 0 ? hivex_node_get_value(hive, select, value) : 0;
    if (stored == 0) {
      *why = std::string("Select has no value ") + value;
      return std::nullopt;
    }
    hive_type type = hive_t_REG_NONE;
    std::size_t size = 0;
    Freed<char> data(hivex_value_value(hive, stored, &type, &size));
    if (data.p == nullptr || TypeNumber(type) != regtype::kDword || size != 4) {
      *why = std::string("Select\\") + value + " is not a REG_DWORD";
      return std::nullopt;
    }
    const std::uint32_t number = ReadU32(reinterpret_cast<const std::uint8_t*>(data.p));
    if (number < 1 || number > 999) {
      *why = std::string("Select\\") + value + " is " + std::to_string(number) +
             ", not a control set number";
      return std::nullopt;
    }
    const std::string name = ControlSetName(number);
    *set = hivex_node_get_child(hive, root, name.c_str());
    if (*set == 0) {
      *why = std::string("Select\\") + value + " names " + name + ", which the hive does not hold";
      return std::nullopt;
    }
    return number;
  }

  static std::string ControlSetName(std::uint32_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "ControlSet%03u", static_cast<unsigned>(number));
    return name;
  }

  // Windows starts from the set Select\Default names; Current is the one the last boot used
  // and LastKnownGood the fallback. Where those differ from Default, the note says so, since
  // a reader of the image may expect the set the last boot used.
  void WorkOutMapping() {
    const hive_node_h oldSet = currentSet;
    currentSet = 0;
    mapping = ControlSetMapping{};
    const hive_node_h root = hivex_root(hive);
    const hive_node_h select = hivex_node_get_child(hive, root, "Select");
    if (select == 0) {
      mapping.note = "no CurrentControlSet: the hive has no key Select";
    } else if (ValuesOf(select) == nullptr) {
      mapping.note =
          "no CurrentControlSet: the values of Select cannot be read (the hive is "
          "damaged there)";
    } else {
      hive_node_h defaultSet = 0, lastSet = 0, goodSet = 0;
      std::string defaultWhy, lastWhy, goodWhy;
      const auto byDefault = SelectedSet(select, "Default", &defaultSet, &defaultWhy);
      const auto last = SelectedSet(select, "Current", &lastSet, &lastWhy);
      const auto good = SelectedSet(select, "LastKnownGood", &goodSet, &goodWhy);
      if (byDefault) {
        currentSet = defaultSet;
        mapping.current = byDefault;
        mapping.note = "CurrentControlSet is " + ControlSetName(*byDefault) +
                       " (Select\\Default = " + std::to_string(*byDefault) +
                       ", the set Windows starts from)";
        if (last && *last != *byDefault) {
          mapping.note += "; the last boot used " + ControlSetName(*last) +
                          " (Select\\Current = " + std::to_string(*last) + ")";
        }
        if (good && *good != *byDefault) {
          mapping.note += "; the fallback is " + ControlSetName(*good) +
                          " (Select\\LastKnownGood = " + std::to_string(*good) + ")";
        }
      } else if (last) {
        currentSet = lastSet;
        mapping.current = last;
        mapping.note = "CurrentControlSet is " + ControlSetName(*last) +
                       " (Select\\Current = " + std::to_string(*last) +
                       ", the set the last boot used: " + defaultWhy + ")";
      } else {
        mapping.note = "no CurrentControlSet: " + defaultWhy + ", and " + lastWhy;
      }
    }
    if (currentSet != oldSet) {
      listings.erase(root);
      ForgetLastPath();
    }
  }

  // ---- Keys that cannot be read.

  // The stored path of a key, from the root up.
  std::string StoredPathOf(hive_node_h node) const {
    std::vector<std::string> names;
    const hive_node_h root = hivex_root(hive);
    for (hive_node_h at = node; at != 0 && at != root; at = hivex_node_parent(hive, at)) {
      names.push_back(FormsOf(NodeNameUtf8(hive, at), nullptr).ansi);
      if (names.size() > 512) break;  // a parent chain that loops in a damaged hive
    }
    std::string path = kRootName;
    for (auto name = names.rbegin(); name != names.rend(); ++name) path += kSeparator + *name;
    return path;
  }

  void NoteUnreadable(hive_node_h node) {
    if (node == kMachine || !unreadableNodes.insert(node).second) return;
    unreadable.push_back(StoredPathOf(node));
  }

  // ---- Handles.

  RegStatus Lookup(RegKeyHandle key, Handle** out) {
    const auto it = handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == handles.end()) return regstatus::kInvalidHandle;
    if (it->second.deleted) return regstatus::kKeyDeleted;
    *out = &it->second;
    return regstatus::kSuccess;
  }

  // ---- Writing a value through hivex, keeping the stored spelling of a replaced name.
  RegStatus StoreValue(hive_node_h node, std::string_view ansiName, std::uint32_t type,
                       const std::string& data) {
    const Values* values = ValuesOf(node);
    if (values == nullptr) return regstatus::kGenFailure;
    const std::u16string folded = Fold(AnsiToUtf16(ansiName));
    std::string key = Utf16ToUtf8(AnsiToUtf16(ansiName));
    for (const Value& value : values->values) {
      std::string stored = ValueNameUtf8(hive, value.value);
      if (Fold(Utf8ToUtf16(stored)) == folded) {
        key = std::move(stored);
        break;
      }
    }
    hive_set_value set{key.data(), hive_t_REG_NONE, data.size(), const_cast<char*>(data.data())};
    std::memcpy(&set.t, &type, sizeof type);
    valueCache.erase(node);  // hivex invalidates the node's value handles
    modified = true;
    rewritten.insert(node);
    if (hivex_node_set_value(hive, node, &set, 0) != 0) {
      return errno == ENOMEM ? regstatus::kOutOfMemory : regstatus::kGenFailure;
    }
    return regstatus::kSuccess;
  }

  // The last path resolved: the end of each of its components and the key it leads to.
  struct Step {
    std::size_t end;
    hive_node_h node;
  };
  std::string lastPath;
  std::vector<Step> lastSteps;
  std::u16string scratch;

  std::string filePath;
  HiveAccess access = HiveAccess::kRead;
  hive_h* hive = nullptr;
  std::unique_ptr<HiveFile> file;  // the file opened, locked while open for writing
  ControlSetMapping mapping;
  hive_node_h currentSet = 0;
  std::vector<std::string> warnings;
  bool modified = false;
  bool cleanlySaved = true;
  std::vector<std::string> unreadable;
  std::unordered_set<hive_node_h> unreadableNodes;
  std::unordered_set<hive_node_h> rewritten;  // keys whose values hivex wrote anew
  std::uint64_t bytesRead = 0;                // the size of the file hivex read
  std::optional<std::string> damagedKey;      // DamagedKey(), once worked out

  std::unordered_map<hive_node_h, Listing> listings;
  std::unordered_map<hive_node_h, Values> valueCache;
  std::unordered_map<std::uintptr_t, Handle> handles;
  std::uintptr_t nextHandle = kFirstHandle;
};

HiveRegistry::HiveRegistry() : impl_(std::make_unique<Impl>()) {}
HiveRegistry::~HiveRegistry() = default;

std::unique_ptr<HiveRegistry> HiveRegistry::Open(const std::string& path, HiveAccess access,
                                                 HiveProblem* problem) {
  const auto fail = [&](HiveError error, const std::string& why) {
    return RefuseToOpen(problem, error, path, why);
  };
  const bool writing = access == HiveAccess::kWrite;

  std::unique_ptr<HiveFile> file = HiveFile::Open(path, access, problem);
  if (!file) return nullptr;
  const BaseBlockCheck check = CheckBaseBlock(file->Descriptor(), file->Size());
  if (check.error != HiveError::kNone) {
    const char* what = check.error == HiveError::kNotAHive    ? "is not a registry hive: "
                       : check.error == HiveError::kTruncated ? "is truncated: "
                       : check.error == HiveError::kDamaged   ? "is damaged: "
                                                              : "cannot be read: ";
    return fail(check.error, what + check.reason);
  }
  std::vector<std::string> warnings;
  if (!check.cleanlySaved) {
    if (writing) {
      return fail(HiveError::kNotCleanlySaved,
                  "was not cleanly saved (its header's sequence numbers differ); Windows would "
                  "replay the transaction logs beside it at the next boot, so it is not written");
    }
    warnings.push_back("warning: " + path +
                       " was not cleanly saved; Windows would first replay its transaction logs, "
                       "so what it shows may be out of date");
  }

  std::unique_ptr<HiveRegistry> registry(new HiveRegistry());
  Impl& impl = *registry->impl_;
  // hivex opens the file itself: through our descriptor, so it reads the file we checked and
  // locked, not one put in its place meanwhile.
  const std::string descriptorPath = "/proc/self/fd/" + std::to_string(file->Descriptor());
  errno = 0;
  impl.hive = hivex_open(descriptorPath.c_str(), writing ? HIVEX_OPEN_WRITE : 0);
  if (impl.hive == nullptr) {
    const int error = errno;
    if (error == ENOMEM) return fail(HiveError::kUnreadable, "not enough memory to read it");
    return fail(HiveError::kDamaged,
                "is damaged: its structure cannot be read (" + ErrnoText(error) + ")");
  }
  if (hivex_root(impl.hive) == 0)
    return fail(HiveError::kDamaged, "is damaged: it has no root key");
  impl.filePath = path;
  impl.access = access;
  impl.bytesRead = file->Size();
  impl.file = std::move(file);
  impl.warnings = std::move(warnings);
  impl.cleanlySaved = check.cleanlySaved;
  impl.WorkOutMapping();
  if (problem != nullptr) *problem = HiveProblem{};
  return registry;
}

// ---- The six operations.

RegStatus HiveRegistry::OpenKey(const char* path, RegKeyHandle* key) {
  if (key == nullptr) return regstatus::kInvalidParameter;
  const std::string_view spelled = path != nullptr ? path : "";
  if (!spelled.empty() && spelled.front() == kSeparator) return regstatus::kBadPathname;
  try {
    hive_node_h node = kMachine;
    const RegStatus status = impl_->Resolve(spelled, &node);
    if (status != regstatus::kSuccess) return status;
    const std::uintptr_t value = impl_->nextHandle;
    impl_->handles.emplace(value, Impl::Handle{node});
    impl_->nextHandle += kHandleStep;
    *key = reinterpret_cast<RegKeyHandle>(value);
    return regstatus::kSuccess;
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

RegStatus HiveRegistry::QueryKey(RegKeyHandle key, RegKeyInfo* info) {
  if (info == nullptr) return regstatus::kInvalidParameter;
  try {
    Impl::Handle* handle = nullptr;
    const RegStatus status = impl_->Lookup(key, &handle);
    if (status != regstatus::kSuccess) return status;
    const Impl::Listing* listing = impl_->ListingOf(handle->node);
    const Impl::Values* values = impl_->ValuesOf(handle->node);
    if (listing == nullptr || values == nullptr) return regstatus::kGenFailure;
    info->subKeyCount = ClampToU32(listing->children.size());
    info->maxSubKeyNameLength = listing->maxNameLength;
    info->valueCount = ClampToU32(values->values.size());
    info->maxValueNameLength = values->maxNameLength;
    info->maxValueDataLength = values->maxDataLength;
    return regstatus::kSuccess;
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

// On any failure the name buffer and *nameSize are left as they were.
RegStatus HiveRegistry::EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                                   std::uint32_t* nameSize) {
  if (name == nullptr || nameSize == nullptr) return regstatus::kInvalidParameter;
  try {
    Impl::Handle* handle = nullptr;
    const RegStatus status = impl_->Lookup(key, &handle);
    if (status != regstatus::kSuccess) return status;
    const Impl::Listing* listing = impl_->ListingOf(handle->node);
    if (listing == nullptr) return regstatus::kGenFailure;
    if (index >= listing->children.size()) return regstatus::kNoMoreItems;
    return registry_common::CopySubkeyName(listing->children[index].ansi, name, nameSize);
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

// Outputs as registry_common::CopyValue describes; string data crosses as Windows-1252.
RegStatus HiveRegistry::EnumValue(RegKeyHandle key, std::uint32_t index, char* name,
                                  std::uint32_t* nameSize, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* dataSize) {
  if (name == nullptr || nameSize == nullptr || (data != nullptr && dataSize == nullptr)) {
    return regstatus::kInvalidParameter;
  }
  try {
    Impl::Handle* handle = nullptr;
    const RegStatus status = impl_->Lookup(key, &handle);
    if (status != regstatus::kSuccess) return status;
    const Impl::Values* values = impl_->ValuesOf(handle->node);
    if (values == nullptr) return regstatus::kGenFailure;
    if (index >= values->values.size()) return regstatus::kNoMoreItems;
    const Impl::Value& value = values->values[index];
    hive_type storedType = hive_t_REG_NONE;
    std::size_t storedSize = 0;
    Freed<char> stored(hivex_value_value(impl_->hive, value.value, &storedType, &storedSize));
    if (stored.p == nullptr) return regstatus::kGenFailure;
    std::string converted;
    std::string_view bytes(stored.p, storedSize);
    if (IsStringType(value.type)) bytes = converted = StringDataToAnsi(stored.p, storedSize);
    return registry_common::CopyValue(value.ansi, value.type, bytes, name, nameSize, type, data,
                                      dataSize);
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

RegStatus HiveRegistry::SetStringValue(RegKeyHandle key, const char* name, const char* text) {
  if (text == nullptr) return regstatus::kInvalidParameter;
  try {
    Impl::Handle* handle = nullptr;
    const RegStatus status = impl_->Lookup(key, &handle);
    if (status != regstatus::kSuccess) return status;
    if (impl_->access != HiveAccess::kWrite || handle->node == kMachine) {
      return regstatus::kAccessDenied;
    }
    const std::string_view textView = text;
    return impl_->StoreValue(handle->node, name != nullptr ? name : "", regtype::kSz,
                             AnsiToStringData(std::string_view(text, textView.size() + 1)));
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

RegStatus HiveRegistry::CloseKey(RegKeyHandle key) {
  const auto it = impl_->handles.find(reinterpret_cast<std::uintptr_t>(key));
  if (it == impl_->handles.end()) return regstatus::kInvalidHandle;
  impl_->handles.erase(it);
  return regstatus::kSuccess;
}

// ---- About the hive.

const std::string& HiveRegistry::Path() const { return impl_->filePath; }
const HiveFile& HiveRegistry::File() const { return *impl_->file; }
const std::vector<std::string>& HiveRegistry::UnreadableKeys() const { return impl_->unreadable; }
const ControlSetMapping& HiveRegistry::Mapping() const { return impl_->mapping; }
const std::vector<std::string>& HiveRegistry::Warnings() const { return impl_->warnings; }
bool HiveRegistry::CleanlySaved() const { return impl_->cleanlySaved; }
bool HiveRegistry::Modified() const { return impl_->modified; }
std::size_t HiveRegistry::OpenHandleCount() const { return impl_->handles.size(); }

// ---- Building.

void HiveRegistry::CreateKey(std::string_view path) {
  impl_->ResolveStored(path, /*create=*/true);
  impl_->WorkOutMapping();
}

void HiveRegistry::SetValue(std::string_view path, std::string_view name, std::uint32_t type,
                            const std::vector<std::uint8_t>& data) {
  const hive_node_h node = impl_->ResolveStored(path, /*create=*/true);
  std::string bytes(data.begin(), data.end());
  if (IsStringType(type)) bytes = AnsiToStringData(bytes);
  if (impl_->StoreValue(node, name, type, bytes) != regstatus::kSuccess) {
    throw std::runtime_error("HiveRegistry: cannot set value \"" + std::string(name) +
                             "\": " + ErrnoText(errno));
  }
  impl_->WorkOutMapping();
}

bool HiveRegistry::DeleteKey(std::string_view path) {
  const hive_node_h node = impl_->ResolveStored(path, /*create=*/false);
  if (node == 0) return false;
  if (node == hivex_root(impl_->hive)) throw std::invalid_argument("HiveRegistry: the root stays");
  // Every key of the subtree: handles to them die, their listings go. Each is listed once, so a
  // damaged hive whose keys list one another does not keep the walk going.
  std::unordered_set<hive_node_h> doomed;
  std::vector<hive_node_h> pending{node};
  while (!pending.empty()) {
    const hive_node_h current = pending.back();
    pending.pop_back();
    if (!doomed.insert(current).second) continue;
    Freed<hive_node_h> children(hivex_node_children(impl_->hive, current));
    if (children.p == nullptr) continue;
    for (const hive_node_h* child = children.p; *child != 0; ++child) pending.push_back(*child);
  }
  const hive_node_h parent = hivex_node_parent(impl_->hive, node);
  if (hivex_node_delete_child(impl_->hive, node) != 0) {
    throw std::runtime_error("HiveRegistry: cannot delete \"" + std::string(path) +
                             "\": " + ErrnoText(errno));
  }
  impl_->modified = true;
  for (auto& entry : impl_->handles) {
    if (doomed.count(entry.second.node) != 0) entry.second.deleted = true;
  }
  for (const hive_node_h gone : doomed) {
    impl_->listings.erase(gone);
    impl_->valueCache.erase(gone);
  }
  impl_->listings.erase(parent);
  impl_->ForgetLastPath();
  impl_->WorkOutMapping();
  return true;
}

// ---- Writing back.

namespace {

// Compares two hives key by key: names, values (name, type, data) and subkeys in order.
// Returns an empty string when they hold the same, else what differs first.
// Each key is compared once. A damaged hive may list a key below more than one parent, or
// below itself or a key under it: there the walk would never end. A key met again must be
// met as the same key in both hives, and is not walked again.
std::string CompareHives(hive_h* expected, hive_h* actual, std::string* where = nullptr) {
  struct Pair {
    hive_node_h expected, actual;
    std::string path;
  };
  std::unordered_map<hive_node_h, hive_node_h> paired{{hivex_root(expected), hivex_root(actual)}};
  std::vector<Pair> pending{{hivex_root(expected), hivex_root(actual), "SYSTEM"}};
  while (!pending.empty()) {
    const Pair pair = std::move(pending.back());
    pending.pop_back();
    if (where != nullptr) *where = pair.path;
    Freed<hive_value_h> expectedValues(hivex_node_values(expected, pair.expected));
    Freed<hive_value_h> actualValues(hivex_node_values(actual, pair.actual));
    if (expectedValues.p == nullptr || actualValues.p == nullptr) {
      return pair.path + ": the values cannot be read";
    }
    std::size_t i = 0;
    for (; expectedValues.p[i] != 0 && actualValues.p[i] != 0; ++i) {
      Freed<char> expectedName(hivex_value_key(expected, expectedValues.p[i]));
      Freed<char> actualName(hivex_value_key(actual, actualValues.p[i]));
      hive_type expectedType = hive_t_REG_NONE, actualType = hive_t_REG_NONE;
      std::size_t expectedSize = 0, actualSize = 0;
      Freed<char> expectedData(
          hivex_value_value(expected, expectedValues.p[i], &expectedType, &expectedSize));
      Freed<char> actualData(
          hivex_value_value(actual, actualValues.p[i], &actualType, &actualSize));
      if (expectedName.p == nullptr || actualName.p == nullptr || expectedData.p == nullptr ||
          actualData.p == nullptr) {
        return pair.path + ": a value cannot be read";
      }
      if (std::strcmp(expectedName.p, actualName.p) != 0 ||
          TypeNumber(expectedType) != TypeNumber(actualType) || expectedSize != actualSize ||
          std::memcmp(expectedData.p, actualData.p, expectedSize) != 0) {
        return pair.path + ": value \"" + expectedName.p + "\" differs";
      }
    }
    if (expectedValues.p[i] != 0 || actualValues.p[i] != 0) {
      return pair.path + ": the number of values differs";
    }
    Freed<hive_node_h> expectedChildren(hivex_node_children(expected, pair.expected));
    Freed<hive_node_h> actualChildren(hivex_node_children(actual, pair.actual));
    if (expectedChildren.p == nullptr || actualChildren.p == nullptr) {
      return pair.path + ": the subkeys cannot be read";
    }
    std::size_t k = 0;
    for (; expectedChildren.p[k] != 0 && actualChildren.p[k] != 0; ++k) {
      Freed<char> expectedName(hivex_node_name(expected, expectedChildren.p[k]));
      Freed<char> actualName(hivex_node_name(actual, actualChildren.p[k]));
      if (expectedName.p == nullptr || actualName.p == nullptr ||
          std::strcmp(expectedName.p, actualName.p) != 0) {
        return pair.path + ": subkey " + std::to_string(k) + " differs";
      }
      const auto [seen, first] = paired.emplace(expectedChildren.p[k], actualChildren.p[k]);
      if (!first) {
        if (seen->second != actualChildren.p[k]) {
          return pair.path + ": subkey " + std::to_string(k) + " differs";
        }
        continue;
      }
      pending.push_back(
          {expectedChildren.p[k], actualChildren.p[k], pair.path + "\\" + expectedName.p});
    }
    if (expectedChildren.p[k] != 0 || actualChildren.p[k] != 0) {
      return pair.path + ": the number of subkeys differs";
    }
  }
  if (where != nullptr) where->clear();
  return {};
}

}  // namespace

// The hive as read, walked whole through a reader of its own on the file: a key whose values,
// their data or its subkeys cannot be read. hivex puts the cells it writes past the end of the
// file it read, so a damaged reference anywhere in the hive (a value list that leads past the
// end, say) would lead to them once the hive is written back, giving a key values it never had
// (found by the fuzzer: Select gained a Current). Such a hive is not written.
const std::string& HiveRegistry::DamagedKey() const {
  Impl& impl = *impl_;
  if (impl.damagedKey) return *impl.damagedKey;
  std::string where;
  const std::string descriptorPath = "/proc/self/fd/" + std::to_string(impl.file->Descriptor());
  hive_h* asRead = hivex_open(descriptorPath.c_str(), 0);
  if (asRead == nullptr) {
    where = kRootName;
  } else if (CompareHives(asRead, asRead, &where).empty()) {
    where.clear();
  } else {
    where = FormsOf(where, nullptr).ansi;  // hivex names keys in UTF-8
  }
  if (asRead != nullptr) hivex_close(asRead);
  return *(impl.damagedKey = std::move(where));
}

HiveProblem HiveRegistry::Commit(const CommitOptions& options) {
  Impl& impl = *impl_;
  if (!DamagedKey().empty()) {
    return {HiveError::kDamaged, impl.filePath + ": the key " + DamagedKey() +
                                     " cannot be read (the hive is damaged there), so the hive "
                                     "is not written; it is unchanged"};
  }
  const auto write = [&](const std::string& name) {
    return hivex_commit(impl.hive, name.c_str(), 0) == 0;
  };
  const auto check = [&](int fd, const std::string& name) -> std::string {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return ErrnoText(errno);
    const BaseBlockCheck base = CheckBaseBlock(fd, static_cast<std::uint64_t>(status.st_size));
    if (base.error != HiveError::kNone) return base.reason;
    if (!base.cleanlySaved) return "not cleanly saved";
    hive_h* reread = hivex_open(name.c_str(), 0);
    if (reread == nullptr) return "it cannot be read back";
    std::string difference = CompareHives(impl.hive, reread);
    hivex_close(reread);
    return difference;
  };
  HiveProblem problem = impl.file->Replace(write, check, options);
  if (problem.error == HiveError::kNone || problem.error == HiveError::kNotConfirmed) {
    impl.modified = false;
  }
  return problem;
}

std::string HiveNameUtf8(std::string_view ansiName) { return Utf16ToUtf8(AnsiToUtf16(ansiName)); }
