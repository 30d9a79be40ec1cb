#include "bench/wine/registry_calls.h"

namespace {

// What a successful call handed back, folded into one number. Sizes of names and data are at
// most 512, so each fits in 16 bits.
std::uint32_t QueryDigest(std::uint32_t subKeys, std::uint32_t maxSubKeyLen, std::uint32_t values,
                          std::uint32_t maxValueNameLen, std::uint32_t maxValueLen) {
  std::uint32_t digest = subKeys;
  for (const std::uint32_t part : {maxSubKeyLen, values, maxValueNameLen, maxValueLen}) {
    digest = digest * 0x9E3779B1u + part;
  }
  return digest;
}
std::uint32_t SizesDigest(std::uint32_t nameSize, std::uint32_t dataSize = 0) {
  return nameSize | dataSize << 16;
}

}  // namespace

// ---- Recording.

std::uint32_t RecordingRegistry::SlotOf(RegKeyHandle key) {
  const auto found = slotOfKey_.find(key);
  if (found != slotOfKey_.end()) return found->second;
  if (problem_.empty()) problem_ = "a call on a key that no recorded open returned";
  return kScratchSlot;
}

RegStatus RecordingRegistry::Note(Op op, std::uint32_t slot, std::uint32_t argument,
                                  RegStatus status, std::uint32_t digest) {
  calls_.push_back({op, slot, argument, status, status == regstatus::kSuccess ? digest : 0});
  return status;
}

RegStatus RecordingRegistry::OpenKey(const char* path, RegKeyHandle* key) {
  ++counts_.open;
  const auto [entry, added] =
      pathOffsets_.try_emplace(path, static_cast<std::uint32_t>(paths_.size()));
  if (added) paths_.append(path).push_back('\0');
  const RegStatus status = ForwardingRegistry::OpenKey(path, key);
  std::uint32_t slot = kScratchSlot;
  if (status == regstatus::kSuccess) {
    if (freeSlots_.empty()) {
      slot = slotCount_++;
    } else {
      slot = freeSlots_.back();
      freeSlots_.pop_back();
    }
    slotOfKey_[*key] = slot;
  }
  return Note(Op::kOpen, slot, entry->second, status);
}

RegStatus RecordingRegistry::QueryKey(RegKeyHandle key, RegKeyInfo* info) {
  ++counts_.query;
  const std::uint32_t slot = SlotOf(key);
  const RegStatus status = ForwardingRegistry::QueryKey(key, info);
  return Note(Op::kQuery, slot, 0, status,
              QueryDigest(info->subKeyCount, info->maxSubKeyNameLength, info->valueCount,
                          info->maxValueNameLength, info->maxValueDataLength));
}

RegStatus RecordingRegistry::EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                                        std::uint32_t* nameSize) {
  ++counts_.enumSubkey;
  if (*nameSize != kRegBufferSize && problem_.empty()) problem_ = "a name buffer not of 512 bytes";
  const std::uint32_t slot = SlotOf(key);
  const RegStatus status = ForwardingRegistry::EnumSubkey(key, index, name, nameSize);
  return Note(Op::kEnumSubkey, slot, index, status, SizesDigest(*nameSize));
}

RegStatus RecordingRegistry::EnumValue(RegKeyHandle key, std::uint32_t index, char* name,
                                       std::uint32_t* nameSize, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* dataSize) {
  ++counts_.enumValue;
  if ((*nameSize != kRegBufferSize || *dataSize != kRegBufferSize) && problem_.empty()) {
    problem_ = "a name or data buffer not of 512 bytes";
  }
  const std::uint32_t slot = SlotOf(key);
  const RegStatus status =
      ForwardingRegistry::EnumValue(key, index, name, nameSize, type, data, dataSize);
  return Note(Op::kEnumValue, slot, index, status, SizesDigest(*nameSize, *dataSize));
}

RegStatus RecordingRegistry::SetStringValue(RegKeyHandle key, const char* name, const char* text) {
  if (problem_.empty()) problem_ = "a write, which a replay would repeat";
  return ForwardingRegistry::SetStringValue(key, name, text);
}

RegStatus RecordingRegistry::CloseKey(RegKeyHandle key) {
  ++counts_.close;
  const std::uint32_t slot = SlotOf(key);
  slotOfKey_.erase(key);
  if (slot != kScratchSlot) freeSlots_.push_back(slot);
  return Note(Op::kClose, slot, 0, ForwardingRegistry::CloseKey(key));
}

std::string RecordingRegistry::Complete() const {
  if (!problem_.empty()) return problem_;
  if (!slotOfKey_.empty()) return "keys left open at the end";
  return "";
}

// ---- Replay.

CallReplay::CallReplay(const RecordingRegistry& recording)
    : calls_(recording.calls_),
      paths_(recording.paths_),
      slots_(recording.slotCount_, nullptr),
      counts_(recording.counts_) {}

std::size_t CallReplay::Run() {
  const char* const paths = paths_.data();
  HKEY* const slots = slots_.data();
  char name[kRegBufferSize];
  BYTE data[kRegBufferSize];
  std::size_t differing = 0;
  for (const RecordingRegistry::Call& call : calls_) {
    LSTATUS status = ERROR_INVALID_FUNCTION;
    std::uint32_t digest = 0;
    HKEY& key = slots[call.slot];
    switch (call.op) {
      case RecordingRegistry::Op::kOpen:
        status =
            ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, paths + call.argument, 0, KEY_ALL_ACCESS, &key);
        // An open that failed when recorded and succeeds now is not closed by any later call.
        if (status == ERROR_SUCCESS && call.status != regstatus::kSuccess) ::RegCloseKey(key);
        break;
      case RecordingRegistry::Op::kQuery: {
        DWORD subKeys, maxSubKeyLen, values, maxValueNameLen, maxValueLen;
        status =
            ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKeyLen, nullptr,
                               &values, &maxValueNameLen, &maxValueLen, nullptr, nullptr);
        digest = QueryDigest(subKeys, maxSubKeyLen, values, maxValueNameLen, maxValueLen);
        break;
      }
      case RecordingRegistry::Op::kEnumSubkey: {
        DWORD size = kRegBufferSize;
        status =
            ::RegEnumKeyExA(key, call.argument, name, &size, nullptr, nullptr, nullptr, nullptr);
        digest = SizesDigest(size);
        break;
      }
      case RecordingRegistry::Op::kEnumValue: {
        DWORD size = kRegBufferSize, type = 0, bytes = kRegBufferSize;
        status = ::RegEnumValueA(key, call.argument, name, &size, nullptr, &type, data, &bytes);
        digest = SizesDigest(size, bytes);
        break;
      }
      case RecordingRegistry::Op::kClose:
        status = ::RegCloseKey(key);
        break;
    }
    if (status != call.status || (status == ERROR_SUCCESS && digest != call.digest)) ++differing;
  }
  return differing;
}
