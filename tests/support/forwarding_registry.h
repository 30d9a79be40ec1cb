// ForwardingRegistry: the one registry decorator of the tests and benchmarks; it passes every
// call on to another registry, counts it, and fails the calls a filter picks.
//
// A test that wants more (a record of the calls, an exception at one point) derives from it and
// overrides the calls it watches, passing them on through ForwardingRegistry's own.
#pragma once

#include <functional>
#include <utility>

#include "platform/memory_registry.h"
#include "platform/registry.h"

class ForwardingRegistry : public RegistryOperations {
 public:
  enum class Call { kOpen, kQuery, kEnumSubkey, kEnumValue, kSetValue, kClose };

  // Called before each call is passed on, with the path of an open (nullptr for the others) and
  // the key of the others (nullptr for an open). kSuccess passes the call on; any other status
  // is returned in its place, and the inner registry never sees the call.
  using Filter = std::function<RegStatus(Call call, const char* path, RegKeyHandle key)>;

  explicit ForwardingRegistry(RegistryOperations& inner) : inner_(inner) {}

  // Fails the calls `filter` picks from now on (an empty filter fails none).
  void FailCallsWith(Filter filter) { filter_ = std::move(filter); }

  // Calls made to this registry, failed ones included.
  [[nodiscard]] const RegistryCallCounts& Counts() const { return counts_; }

  RegStatus OpenKey(const char* path, RegKeyHandle* key) override {
    ++counts_.open;
    const RegStatus refused = Filtered(Call::kOpen, path, nullptr);
    return refused != regstatus::kSuccess ? refused : inner_.OpenKey(path, key);
  }
  RegStatus QueryKey(RegKeyHandle key, RegKeyInfo* info) override {
    ++counts_.query;
    const RegStatus refused = Filtered(Call::kQuery, nullptr, key);
    return refused != regstatus::kSuccess ? refused : inner_.QueryKey(key, info);
  }
  RegStatus EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                       std::uint32_t* nameSize) override {
    ++counts_.enumSubkey;
    const RegStatus refused = Filtered(Call::kEnumSubkey, nullptr, key);
    return refused != regstatus::kSuccess ? refused : inner_.EnumSubkey(key, index, name, nameSize);
  }
  RegStatus EnumValue(RegKeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                      std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) override {
    ++counts_.enumValue;
    const RegStatus refused = Filtered(Call::kEnumValue, nullptr, key);
    return refused != regstatus::kSuccess
               ? refused
               : inner_.EnumValue(key, index, name, nameSize, type, data, dataSize);
  }
  RegStatus SetStringValue(RegKeyHandle key, const char* name, const char* text) override {
    ++counts_.setValue;
    const RegStatus refused = Filtered(Call::kSetValue, nullptr, key);
    return refused != regstatus::kSuccess ? refused : inner_.SetStringValue(key, name, text);
  }
  RegStatus CloseKey(RegKeyHandle key) override {
    ++counts_.close;
    const RegStatus refused = Filtered(Call::kClose, nullptr, key);
    return refused != regstatus::kSuccess ? refused : inner_.CloseKey(key);
  }

 private:
  RegStatus Filtered(Call call, const char* path, RegKeyHandle key) {
    return filter_ ? filter_(call, path, key) : regstatus::kSuccess;
  }

  RegistryOperations& inner_;
  Filter filter_;
  RegistryCallCounts counts_;
};
