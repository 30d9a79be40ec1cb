// The in-memory registry: a tree of keys with case-insensitive names, aliases resolved on every
// path walk, and a table of open handles.
//
// Each key keeps its subkeys and values in ordered maps whose comparison folds ASCII letters to
// lower case, so a lookup costs O(log n) and the map's order is the enumeration order. Indexed
// enumeration reads a listing (a vector of map entries) that is rebuilt once after the key
// changes, so walking n subkeys by index costs O(n) in all, not O(n^2).
//
// Measured behaviour of Wine's registry that is mirrored here (ANSI calls):
// - An open of a path that starts with a backslash fails with 161 (ERROR_BAD_PATHNAME); empty
//   components elsewhere ("A\\B", a trailing backslash) are skipped. "." and ".." are names
//   like any other. An empty path opens HKEY_LOCAL_MACHINE itself (here: a fresh handle to the
//   root, so it is counted and closed like any other).
// - Links that lead to each other without end fail the open with 87; a link whose target does
//   not exist fails it with 2.
// - Operations on a handle whose key was deleted fail with 1018 (ERROR_KEY_DELETED), also when a
//   key of the same name was created again; closing that handle still succeeds.
// - Closing a handle twice, or a handle never issued, fails with 6.
// There is deliberately no limit on the length of a path: a walk deeper than the real registry
// allows can be tested here.
#include "platform/memory_registry.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
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

// How many aliases may lead to one another while one alias is resolved: a chain longer than
// this is taken for a loop of aliases.
constexpr int kMaxAliasNesting = 16;

// First handle value issued; each open takes the next multiple of four, never one used before.
constexpr std::uintptr_t kFirstHandle = 0x10000;
constexpr std::uintptr_t kHandleStep = 4;

unsigned char FoldAscii(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

// Orders names as the enumeration lists them: ASCII letters folded to lower case, every other
// byte by its value, a name before any longer name it begins.
struct NameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
      const unsigned char x = FoldAscii(a[i]);
      const unsigned char y = FoldAscii(b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

// Bytes the real registry holds for the data: string types are kept there in UTF-16.
std::uint64_t StoredSize(std::uint32_t type, std::size_t ansiBytes) {
  return IsStringType(type) ? 2 * static_cast<std::uint64_t>(ansiBytes) : ansiBytes;
}

// The spelling-independent form of a path for the failure tables: ASCII folded to lower case,
// empty components dropped. Written into `canonical`, whose storage is reused; a plain loop
// over the bytes, as an open may fold a path of thousands of them.
void CanonicalPathInto(std::string_view path, std::string& canonical) {
  canonical.resize(path.size());
  char* out = canonical.data();
  std::size_t length = 0;
  bool separatorDue = false;
  for (const char* in = path.data(); in != path.data() + path.size(); ++in) {
    if (*in == kSeparator) {
      separatorDue = length > 0;
      continue;
    }
    if (separatorDue) {
      out[length++] = kSeparator;
      separatorDue = false;
    }
    out[length++] = static_cast<char>(FoldAscii(*in));
  }
  canonical.resize(length);
}

std::string CanonicalPath(std::string_view path) {
  std::string canonical;
  CanonicalPathInto(path, canonical);
  return canonical;
}

// The last component of `path` as CanonicalPath has it (empty when there is none), into `leaf`.
void CanonicalLeafInto(std::string_view path, std::string& leaf) {
  std::size_t end = path.size();
  while (end > 0 && path[end - 1] == kSeparator) --end;
  std::size_t start = end;
  while (start > 0 && path[start - 1] != kSeparator) --start;
  leaf.resize(end - start);
  for (std::size_t i = start; i < end; ++i) leaf[i - start] = static_cast<char>(FoldAscii(path[i]));
}

// The number of leading bytes `a` and `b` share, of the first `n`; compared a word at a time.
std::size_t CommonLength(const char* a, const char* b, std::size_t n) {
  std::size_t i = 0;
  for (; i + sizeof(std::uint64_t) <= n; i += sizeof(std::uint64_t)) {
    std::uint64_t x = 0, y = 0;
    std::memcpy(&x, a + i, sizeof x);
    std::memcpy(&y, b + i, sizeof y);
    if (x != y) break;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Paths given to the building functions must be well formed: a mistake in a test's tree should
// be loud, not quietly mean another key.
void RequireWellFormed(std::string_view path, bool allowEmpty) {
  if (path.empty()) {
    if (allowEmpty) return;
    throw std::invalid_argument("MemoryRegistry: empty key path");
  }
  // A leading, trailing or doubled separator is an empty component. The separators are found
  // with memchr: the oracle of the fuzzer reads keys by paths of thousands of bytes.
  bool wellFormed = true;
  for (std::size_t at = path.find(kSeparator); at != std::string_view::npos && wellFormed;
       at = path.find(kSeparator, at + 1)) {
    wellFormed = at != 0 && at + 1 != path.size() && path[at + 1] != kSeparator;
  }
  if (!wellFormed) {
    throw std::invalid_argument("MemoryRegistry: malformed key path \"" + std::string(path) + "\"");
  }
}

}  // namespace

struct MemoryRegistry::Impl {
  struct Node;
  using SubkeyMap = std::map<std::string, std::unique_ptr<Node>, NameLess>;
  struct ValueData {
    std::uint32_t type = regtype::kNone;
    std::string bytes;  // short data (a DWORD, a one-letter prefix) needs no allocation of its own
  };
  using ValueMap = std::map<std::string, ValueData, NameLess>;

  struct Node {
    SubkeyMap subkeys;  // keyed by the name as first stored
    ValueMap values;
    std::unique_ptr<std::string> aliasTarget;  // set for an alias, which holds nothing itself
    std::uint32_t openHandles = 0;
    Node* nextDoomed = nullptr;  // used only while a subtree is destroyed

    // Listings for indexed enumeration and the key query; valid until the key changes.
    bool subkeyListingValid = false;
    bool valueListingValid = false;
    std::uint32_t maxSubkeyNameLength = 0;
    std::uint32_t maxValueNameLength = 0;
    std::uint32_t maxValueDataLength = 0;
    std::vector<const SubkeyMap::value_type*> subkeyListing;
    std::vector<const ValueMap::value_type*> valueListing;
  };

  // Where a handle stands in the failure tables of the query, enumerations and writes. Worked
  // out at its first call that needs it after a failure was added (see failureGeneration), so
  // the path is folded and looked up once per handle rather than on every call, and kept in a
  // string whose storage a reused handle entry keeps.
  struct FailureKey {
    std::uint64_t generation = 0;  // the failureGeneration it was worked out for; 0: never
    std::string canonical;         // CanonicalPath of the handle's path
    bool named = false;            // some table holds `canonical`
  };

  struct OpenHandle {
    Node* node;        // null once the key was deleted
    std::string path;  // as given to OpenKey
    FailureKey failure;
  };

  using IndexFailures = std::unordered_map<std::string, std::map<std::uint32_t, RegStatus>>;

  Impl() : root(std::make_unique<Node>()) { spareHandles.reserve(kSpareHandles); }
  ~Impl() { DestroySubtree(std::move(root)); }

  // ---- Tree.

  // Follows the components of `path` from `node` through aliases, calling `reached` with the
  // end of each component in `path` and the key it led to. Empty components are skipped. With
  // `create`, missing keys are made (and so is a missing alias target); that may throw.
  template <typename Reached>
  RegStatus FollowFrom(Node* node, std::string_view path, bool create, int nesting, Node** out,
                       Reached&& reached) {
    RegStatus status = regstatus::kSuccess;
    ForEachComponent(path, [&](std::string_view name) {
      auto it = node->subkeys.find(name);
      if (it == node->subkeys.end()) {
        if (!create) {
          status = regstatus::kFileNotFound;
          return false;
        }
        it = node->subkeys.emplace(std::string(name), std::make_unique<Node>()).first;
        node->subkeyListingValid = false;
        ForgetWalk();
      }
      Node* child = it->second.get();
      if (child->aliasTarget) {
        if (nesting >= kMaxAliasNesting) {
          status = regstatus::kInvalidParameter;
          return false;
        }
        status = Follow(*child->aliasTarget, create, nesting + 1, &child);
        if (status != regstatus::kSuccess) return false;
      }
      node = child;
      reached(static_cast<std::size_t>(name.data() - path.data()) + name.size(), node);
      return true;
    });
    if (status == regstatus::kSuccess) *out = node;
    return status;
  }

  // Follows `path` from the root through aliases. Empty components are skipped. With `create`,
  // missing keys are made (and so is a missing alias target); that may throw.
  // A walk that only looks starts where the last one's path and this one part (see walked).
  RegStatus Follow(std::string_view path, bool create, int nesting, Node** out) {
    const auto nothing = [](std::size_t, Node*) {};
    if (create || nesting > 0) return FollowFrom(root.get(), path, create, nesting, out, nothing);

    const std::size_t common =
        CommonLength(path.data(), walked.path.data(), std::min(path.size(), walked.length));
    // The steps that end within the common head, found by halving (a deep key has hundreds).
    // Every one of them but the last is followed by a separator in both paths; the last one
    // ends a component of this path only if this path ends or goes on with a separator there.
    const WalkedStep* const steps = walked.steps.data();
    std::size_t kept = static_cast<std::size_t>(
        std::partition_point(steps, steps + walked.stepCount,
                             [common](const WalkedStep& step) { return step.end <= common; }) -
        steps);
    if (kept > 0) {
      const std::size_t end = steps[kept - 1].end;
      if (end < path.size() && path[end] != kSeparator) --kept;
    }
    const std::size_t offset = kept > 0 ? walked.steps[kept - 1].end : 0;
    Node* start = kept > 0 ? walked.steps[kept - 1].node : root.get();

    // The head up to `common` is already there.
    walked.length = std::min(path.size(), walked.path.size());
    if (walked.length > common) {
      std::copy(path.begin() + static_cast<std::ptrdiff_t>(common),
                path.begin() + static_cast<std::ptrdiff_t>(walked.length),
                walked.path.begin() + static_cast<std::ptrdiff_t>(common));
    }
    walked.stepCount = kept;
    return FollowFrom(
        start, path.substr(offset), false, 0, out, [this, offset](std::size_t end, Node* node) {
          if (offset + end <= walked.length && walked.stepCount < walked.steps.size()) {
            walked.steps[walked.stepCount++] = {offset + end, node};
          }
        });
  }

  // Every change to which keys exist or where an alias leads ends what `walked` knows.
  void ForgetWalk() noexcept {
    walked.length = 0;
    walked.stepCount = 0;
  }

  // The key at `path` for a building function: created when `create`, else null if absent.
  Node* NodeForBuilding(std::string_view path, bool create) {
    RequireWellFormed(path, /*allowEmpty=*/true);
    Node* node = nullptr;
    const RegStatus status = Follow(path, create, 0, &node);
    if (status == regstatus::kInvalidParameter) {
      throw std::invalid_argument("MemoryRegistry: aliases lead to each other without end on \"" +
                                  std::string(path) + "\"");
    }
    return status == regstatus::kSuccess ? node : nullptr;
  }

  // Splits a well-formed non-empty path into the path of its parent and its last name.
  static std::pair<std::string_view, std::string_view> SplitLast(std::string_view path) {
    const std::size_t cut = path.rfind(kSeparator);
    if (cut == std::string_view::npos) return {std::string_view(), path};
    return {path.substr(0, cut), path.substr(cut + 1)};
  }

  static void StoreValue(Node& node, std::string_view name, std::uint32_t type, std::string bytes) {
    auto it = node.values.find(name);
    if (it == node.values.end()) {
      node.values.emplace(std::string(name), ValueData{type, std::move(bytes)});
    } else {
      it->second.type = type;  // the name keeps the spelling it was first stored with
      it->second.bytes.swap(bytes);
    }
    node.valueListingValid = false;
  }

  // Marks every handle into the subtree below `top` (itself included) as deleted. Aliases are
  // not followed: what they show belongs to another part of the tree.
  void OrphanHandlesBelow(const Node* top) {
    if (handles.empty()) return;
    std::unordered_set<const Node*> withHandles;
    std::vector<const Node*> pending{top};
    while (!pending.empty()) {
      const Node* node = pending.back();
      pending.pop_back();
      if (node->openHandles > 0) withHandles.insert(node);
      for (const auto& entry : node->subkeys) pending.push_back(entry.second.get());
    }
    if (withHandles.empty()) return;
    for (auto& entry : handles) {
      if (withHandles.count(entry.second.node) != 0) entry.second.node = nullptr;
    }
  }

  // Frees a subtree without recursion and without allocating, so a chain of keys of any depth
  // is freed safely: each node's children are threaded onto a list before the node goes.
  static void DestroySubtree(std::unique_ptr<Node> top) {
    Node* doomed = top.release();
    if (doomed != nullptr) doomed->nextDoomed = nullptr;
    while (doomed != nullptr) {
      Node* node = doomed;
      doomed = node->nextDoomed;
      for (auto& entry : node->subkeys) {
        Node* child = entry.second.release();
        child->nextDoomed = doomed;
        doomed = child;
      }
      delete node;
    }
  }

  // ---- Listings.

  static void EnsureSubkeyListing(Node& node) {
    if (node.subkeyListingValid) return;
    std::vector<const SubkeyMap::value_type*> listing;
    listing.reserve(node.subkeys.size());
    std::size_t longest = 0;
    for (const auto& entry : node.subkeys) {
      listing.push_back(&entry);
      longest = std::max(longest, entry.first.size());
    }
    node.subkeyListing.swap(listing);
    node.maxSubkeyNameLength = ClampToU32(longest);
    node.subkeyListingValid = true;
  }

  static void EnsureValueListing(Node& node) {
    if (node.valueListingValid) return;
    std::vector<const ValueMap::value_type*> listing;
    listing.reserve(node.values.size());
    std::size_t longestName = 0;
    std::uint64_t longestData = 0;
    for (const auto& entry : node.values) {
      listing.push_back(&entry);
      longestName = std::max(longestName, entry.first.size());
      longestData = std::max(longestData, StoredSize(entry.second.type, entry.second.bytes.size()));
    }
    node.valueListing.swap(listing);
    node.maxValueNameLength = ClampToU32(longestName);
    node.maxValueDataLength = ClampToU32(longestData);
    node.valueListingValid = true;
  }

  // ---- Handles.

  // The handle's entry, or a status saying why there is none to work on.
  RegStatus Lookup(RegKeyHandle key, OpenHandle** out) {
    const auto it = handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == handles.end()) return regstatus::kInvalidHandle;
    if (it->second.node == nullptr) return regstatus::kKeyDeleted;
    *out = &it->second;
    return regstatus::kSuccess;
  }

  // The handle's place in the failure tables, worked out again after any failure was added.
  // Only a path whose last name is the last name of a failure's key is folded whole.
  const FailureKey& FailureKeyOf(OpenHandle& handle) {
    FailureKey& key = handle.failure;
    if (key.generation != failureGeneration) {
      key.named = false;
      CanonicalLeafInto(handle.path, canonicalScratch);
      if (failureLeaves.count(canonicalScratch) != 0) {
        CanonicalPathInto(handle.path, key.canonical);
        key.named = queryFailures.count(key.canonical) != 0 ||
                    writeFailures.count(key.canonical) != 0 ||
                    subkeyEnumFailures.count(key.canonical) != 0 ||
                    valueEnumFailures.count(key.canonical) != 0;
      }
      key.generation = failureGeneration;
    }
    return key;
  }

  // Records a failure's key path for the tables the handles consult.
  void NoteFailure(const std::string& canonical) {
    failureLeaves.insert(canonical.substr(canonical.rfind(kSeparator) + 1));  // npos + 1 == 0
    ++failureGeneration;
  }

  // The injected failure for the key as its handle's path spells it, or kSuccess.
  RegStatus Injected(const std::unordered_map<std::string, RegStatus>& table, OpenHandle& handle) {
    if (table.empty()) return regstatus::kSuccess;
    const FailureKey& key = FailureKeyOf(handle);
    if (!key.named) return regstatus::kSuccess;
    const auto it = table.find(key.canonical);
    return it == table.end() ? regstatus::kSuccess : it->second;
  }
  RegStatus Injected(const IndexFailures& table, OpenHandle& handle, std::uint32_t index) {
    if (table.empty()) return regstatus::kSuccess;
    const FailureKey& key = FailureKeyOf(handle);
    if (!key.named) return regstatus::kSuccess;
    const auto it = table.find(key.canonical);
    if (it == table.end()) return regstatus::kSuccess;
    const auto at = it->second.find(index);
    return at == it->second.end() ? regstatus::kSuccess : at->second;
  }

  // Whether an open of `path` is refused; folds the path into reused storage, and only when
  // its last name is that of a refused key.
  bool Denied(std::string_view path) {
    if (denied.empty()) return false;
    CanonicalLeafInto(path, canonicalScratch);
    if (deniedLeaves.count(canonicalScratch) == 0) return false;
    CanonicalPathInto(path, canonicalScratch);
    return denied.count(canonicalScratch) != 0;
  }

  std::unique_ptr<Node> root;

  // The last walk that only looked: the head of its path and, for each of its components that
  // ends within that head, where it ends and the key it led to. A scan opens the children of a
  // key one after another by their full paths, each beginning with the parent's path; such a
  // walk starts from the key the shared components led to instead of from the root, so an open
  // costs the new part of its path rather than its whole depth. Held in fixed arrays, so that
  // remembering a walk never allocates (an open fails only as it always did); a longer path is
  // remembered up to the arrays' size and walked on from there. Only a change to which keys
  // exist or where an alias leads can change where a path leads: each one calls ForgetWalk.
  struct WalkedStep {
    std::size_t end;  // offset in the path just past the component
    Node* node;
  };
  struct Walked {
    std::array<char, 16384> path;
    std::size_t length = 0;
    std::array<WalkedStep, 1024> steps;
    std::size_t stepCount = 0;
  };
  Walked walked;

  using Handles = std::unordered_map<std::uintptr_t, OpenHandle>;
  Handles handles;
  // Entries of closed handles, kept for the next opens: each keeps the storage of its path, so
  // a walk that opens and closes key after key copies each path without allocating anew.
  static constexpr std::size_t kSpareHandles = 64;
  std::vector<Handles::node_type> spareHandles;
  std::uintptr_t nextHandle = kFirstHandle;
  std::size_t badCloses = 0;
  RegistryCallCounts calls;
  std::vector<Write> writes;

  // Injected failures, keyed by CanonicalPath, and the last names of their keys. Adding one to
  // the tables a handle's calls consult moves failureGeneration on, so every handle works out
  // its FailureKey again.
  std::uint64_t failureGeneration = 1;
  std::string canonicalScratch;
  std::unordered_set<std::string> failureLeaves;
  std::unordered_set<std::string> deniedLeaves;
  std::unordered_set<std::string> denied;
  std::unordered_map<std::string, RegStatus> queryFailures;
  std::unordered_map<std::string, RegStatus> writeFailures;
  IndexFailures subkeyEnumFailures;
  IndexFailures valueEnumFailures;
};

MemoryRegistry::MemoryRegistry() : impl_(std::make_unique<Impl>()) {}
MemoryRegistry::~MemoryRegistry() = default;

// ---- The six operations. Each counts the call first, so failed calls are counted too, and
// turns an allocation failure into kOutOfMemory with nothing changed.

RegStatus MemoryRegistry::OpenKey(const char* path, RegKeyHandle* key) {
  ++impl_->calls.open;
  if (key == nullptr) return regstatus::kInvalidParameter;
  const std::string_view spelled = path != nullptr ? path : "";
  if (!spelled.empty() && spelled.front() == kSeparator) return regstatus::kBadPathname;
  try {
    Impl::Node* node = nullptr;
    const RegStatus status = impl_->Follow(spelled, /*create=*/false, 0, &node);
    if (status != regstatus::kSuccess) return status;
    if (impl_->Denied(spelled)) return regstatus::kAccessDenied;
    const std::uintptr_t value = impl_->nextHandle;
    std::vector<Impl::Handles::node_type>& spare = impl_->spareHandles;
    if (spare.empty()) {
      impl_->handles.emplace(value, Impl::OpenHandle{node, std::string(spelled), {}});
    } else {
      Impl::Handles::node_type& entry = spare.back();
      entry.key() = value;
      entry.mapped().node = node;
      entry.mapped().path.assign(spelled);
      entry.mapped().failure.generation = 0;
      impl_->handles.insert(std::move(entry));
      spare.pop_back();
    }
    // Nothing below can fail.
    impl_->nextHandle += kHandleStep;
    ++node->openHandles;
    *key = reinterpret_cast<RegKeyHandle>(value);
    return regstatus::kSuccess;
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

RegStatus MemoryRegistry::QueryKey(RegKeyHandle key, RegKeyInfo* info) {
  ++impl_->calls.query;
  if (info == nullptr) return regstatus::kInvalidParameter;
  try {
    Impl::OpenHandle* handle = nullptr;
    RegStatus status = impl_->Lookup(key, &handle);
    if (status == regstatus::kSuccess) status = impl_->Injected(impl_->queryFailures, *handle);
    if (status != regstatus::kSuccess) return status;
    Impl::Node& node = *handle->node;
    Impl::EnsureSubkeyListing(node);
    Impl::EnsureValueListing(node);
    info->subKeyCount = ClampToU32(node.subkeys.size());
    info->maxSubKeyNameLength = node.maxSubkeyNameLength;
    info->valueCount = ClampToU32(node.values.size());
    info->maxValueNameLength = node.maxValueNameLength;
    info->maxValueDataLength = node.maxValueDataLength;
    return regstatus::kSuccess;
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

// On any failure the name buffer and *nameSize are left as they were, as Wine leaves them.
RegStatus MemoryRegistry::EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                                     std::uint32_t* nameSize) {
  ++impl_->calls.enumSubkey;
  if (name == nullptr || nameSize == nullptr) return regstatus::kInvalidParameter;
  try {
    Impl::OpenHandle* handle = nullptr;
    RegStatus status = impl_->Lookup(key, &handle);
    if (status == regstatus::kSuccess) {
      status = impl_->Injected(impl_->subkeyEnumFailures, *handle, index);
    }
    if (status != regstatus::kSuccess) return status;
    Impl::Node& node = *handle->node;
    Impl::EnsureSubkeyListing(node);
    if (index >= node.subkeyListing.size()) return regstatus::kNoMoreItems;
    return registry_common::CopySubkeyName(node.subkeyListing[index]->first, name, nameSize);
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

// Past the last value, or on an injected failure, nothing is written; the other outputs are as
// registry_common::CopyValue describes.
RegStatus MemoryRegistry::EnumValue(RegKeyHandle key, std::uint32_t index, char* name,
                                    std::uint32_t* nameSize, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* dataSize) {
  ++impl_->calls.enumValue;
  if (name == nullptr || nameSize == nullptr || (data != nullptr && dataSize == nullptr)) {
    return regstatus::kInvalidParameter;
  }
  try {
    Impl::OpenHandle* handle = nullptr;
    RegStatus status = impl_->Lookup(key, &handle);
    if (status == regstatus::kSuccess) {
      status = impl_->Injected(impl_->valueEnumFailures, *handle, index);
    }
    if (status != regstatus::kSuccess) return status;
    Impl::Node& node = *handle->node;
    Impl::EnsureValueListing(node);
    if (index >= node.valueListing.size()) return regstatus::kNoMoreItems;
    const auto& [valueName, value] = *node.valueListing[index];
    return registry_common::CopyValue(valueName, value.type, value.bytes, name, nameSize, type,
                                      data, dataSize);
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

RegStatus MemoryRegistry::SetStringValue(RegKeyHandle key, const char* name, const char* text) {
  ++impl_->calls.setValue;
  if (text == nullptr) return regstatus::kInvalidParameter;
  const std::string_view valueName = name != nullptr ? name : "";  // null names the default value
  const std::string_view textView = text;
  try {
    Impl::OpenHandle* handle = nullptr;
    RegStatus status = impl_->Lookup(key, &handle);
    if (status == regstatus::kSuccess) status = impl_->Injected(impl_->writeFailures, *handle);
    if (status != regstatus::kSuccess) return status;

    // Everything that can fail is done before the value changes, so a failed write changes
    // neither the value nor the log.
    std::vector<Write>& writes = impl_->writes;
    if (writes.size() == writes.capacity())
      writes.reserve(std::max<std::size_t>(16, 2 * writes.size()));
    Write entry{handle->path, std::string(valueName), std::string(textView)};
    std::string bytes(textView.data(), textView.size() + 1);  // with the terminating zero
    Impl::StoreValue(*handle->node, valueName, regtype::kSz, std::move(bytes));
    writes.push_back(std::move(entry));  // capacity was reserved: cannot fail
    return regstatus::kSuccess;
  } catch (const std::bad_alloc&) {
    return regstatus::kOutOfMemory;
  }
}

RegStatus MemoryRegistry::CloseKey(RegKeyHandle key) {
  ++impl_->calls.close;
  const auto it = impl_->handles.find(reinterpret_cast<std::uintptr_t>(key));
  if (it == impl_->handles.end()) {
    ++impl_->badCloses;
    return regstatus::kInvalidHandle;
  }
  if (it->second.node != nullptr) --it->second.node->openHandles;
  Impl::Handles::node_type entry = impl_->handles.extract(it);
  if (impl_->spareHandles.size() < Impl::kSpareHandles) {
    impl_->spareHandles.push_back(std::move(entry));  // capacity was reserved: cannot fail
  }
  return regstatus::kSuccess;
}

// ---- Building a tree.

void MemoryRegistry::CreateKey(std::string_view path) { impl_->NodeForBuilding(path, true); }

void MemoryRegistry::SetValue(std::string_view path, std::string_view name, std::uint32_t type,
                              std::vector<std::uint8_t> data) {
  std::string bytes(data.begin(), data.end());
  Impl::StoreValue(*impl_->NodeForBuilding(path, true), name, type, std::move(bytes));
}

void MemoryRegistry::SetString(std::string_view path, std::string_view name,
                               std::string_view text) {
  std::string bytes(text);
  bytes += '\0';
  Impl::StoreValue(*impl_->NodeForBuilding(path, true), name, regtype::kSz, std::move(bytes));
}

void MemoryRegistry::SetDword(std::string_view path, std::string_view name, std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  Impl::StoreValue(*impl_->NodeForBuilding(path, true), name, regtype::kDword, std::move(bytes));
}

bool MemoryRegistry::DeleteKey(std::string_view path) {
  RequireWellFormed(path, /*allowEmpty=*/true);
  if (path.empty()) return false;  // the root stays
  const auto [parentPath, name] = Impl::SplitLast(path);
  Impl::Node* parent = impl_->NodeForBuilding(parentPath, false);
  if (parent == nullptr) return false;
  const auto it = parent->subkeys.find(name);
  if (it == parent->subkeys.end()) return false;
  impl_->OrphanHandlesBelow(it->second.get());
  impl_->ForgetWalk();
  std::unique_ptr<Impl::Node> doomed = std::move(it->second);
  parent->subkeys.erase(it);
  parent->subkeyListingValid = false;
  Impl::DestroySubtree(std::move(doomed));
  return true;
}

bool MemoryRegistry::DeleteValue(std::string_view path, std::string_view name) {
  Impl::Node* node = impl_->NodeForBuilding(path, false);
  if (node == nullptr) return false;
  const auto it = node->values.find(name);
  if (it == node->values.end()) return false;
  node->values.erase(it);
  node->valueListingValid = false;
  return true;
}

void MemoryRegistry::AddAlias(std::string_view aliasPath, std::string_view targetPath) {
  RequireWellFormed(aliasPath, /*allowEmpty=*/false);
  RequireWellFormed(targetPath, /*allowEmpty=*/true);
  const auto [parentPath, name] = Impl::SplitLast(aliasPath);
  Impl::Node* parent = impl_->NodeForBuilding(parentPath, true);
  auto target = std::make_unique<std::string>(targetPath);
  const auto it = parent->subkeys.find(name);
  if (it != parent->subkeys.end()) {
    if (!it->second->aliasTarget) {
      throw std::invalid_argument("MemoryRegistry: \"" + std::string(aliasPath) +
                                  "\" is already a key, not an alias");
    }
    it->second->aliasTarget = std::move(target);  // an alias may be pointed elsewhere
    impl_->ForgetWalk();
    return;
  }
  auto node = std::make_unique<Impl::Node>();
  node->aliasTarget = std::move(target);
  parent->subkeys.emplace(std::string(name), std::move(node));
  parent->subkeyListingValid = false;
  impl_->ForgetWalk();
}

// ---- Injected failures.

namespace {
void RequireFailure(RegStatus status) {
  if (status == regstatus::kSuccess) {
    throw std::invalid_argument("MemoryRegistry: an injected failure needs a non-zero status");
  }
}
}  // namespace

void MemoryRegistry::DenyAccess(std::string_view path) {
  std::string canonical = CanonicalPath(path);
  impl_->deniedLeaves.insert(canonical.substr(canonical.rfind(kSeparator) + 1));
  impl_->denied.insert(std::move(canonical));
}

void MemoryRegistry::FailQuery(std::string_view path, RegStatus status) {
  RequireFailure(status);
  std::string canonical = CanonicalPath(path);
  impl_->NoteFailure(canonical);
  impl_->queryFailures[std::move(canonical)] = status;
}

void MemoryRegistry::FailSubkeyEnum(std::string_view path, std::uint32_t index, RegStatus status) {
  RequireFailure(status);
  std::string canonical = CanonicalPath(path);
  impl_->NoteFailure(canonical);
  impl_->subkeyEnumFailures[std::move(canonical)][index] = status;
}

void MemoryRegistry::FailValueEnum(std::string_view path, std::uint32_t index, RegStatus status) {
  RequireFailure(status);
  std::string canonical = CanonicalPath(path);
  impl_->NoteFailure(canonical);
  impl_->valueEnumFailures[std::move(canonical)][index] = status;
}

void MemoryRegistry::FailWrite(std::string_view path, RegStatus status) {
  RequireFailure(status);
  std::string canonical = CanonicalPath(path);
  impl_->NoteFailure(canonical);
  impl_->writeFailures[std::move(canonical)] = status;
}

// ---- Reading back.

bool MemoryRegistry::KeyExists(std::string_view path) const {
  return impl_->NodeForBuilding(path, false) != nullptr;
}

std::optional<StoredValue> MemoryRegistry::GetValue(std::string_view path,
                                                    std::string_view name) const {
  const Impl::Node* node = impl_->NodeForBuilding(path, false);
  if (node == nullptr) return std::nullopt;
  const auto it = node->values.find(name);
  if (it == node->values.end()) return std::nullopt;
  const std::string& bytes = it->second.bytes;
  return StoredValue{it->first, it->second.type,
                     std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

std::vector<StoredValue> MemoryRegistry::Values(std::string_view path) const {
  std::vector<StoredValue> result;
  const Impl::Node* node = impl_->NodeForBuilding(path, false);
  if (node == nullptr) return result;
  for (const auto& [name, value] : node->values) {
    result.push_back(StoredValue{
        name, value.type, std::vector<std::uint8_t>(value.bytes.begin(), value.bytes.end())});
  }
  return result;
}

std::size_t MemoryRegistry::OpenHandleCount() const { return impl_->handles.size(); }
std::size_t MemoryRegistry::BadCloseCount() const { return impl_->badCloses; }
const RegistryCallCounts& MemoryRegistry::CallCounts() const { return impl_->calls; }
const std::vector<MemoryRegistry::Write>& MemoryRegistry::Writes() const { return impl_->writes; }
