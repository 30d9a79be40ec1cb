// CStringList: an ordered list of strings that owns copies of what it holds.
//
// Portable (no Windows header), so the modem inventory can use it on every build. The
// allocation block size is the classic list's growth step; it is accepted for compatibility and
// used as the minimum reserve, the list itself growing geometrically.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CStringList {
 public:
  explicit CStringList(std::size_t blockSize = 10) : blockSize_(blockSize == 0 ? 1 : blockSize) {}
  CStringList(const CStringList&) = delete;
  CStringList& operator=(const CStringList&) = delete;

  // Appends a copy of `text` at the end. Throws std::bad_alloc when memory runs out, in which
  // case the list is unchanged.
  void AddTail(std::string_view text) {
    if (items_.size() == items_.capacity())
      items_.reserve(items_.size() + GrowthFor(items_.size()));
    items_.emplace_back(text);
  }

  // Removes the last entry; does nothing on an empty list. Never throws.
  void RemoveTail() noexcept {
    if (!items_.empty()) items_.pop_back();
  }

  [[nodiscard]] std::size_t GetCount() const noexcept { return items_.size(); }
  [[nodiscard]] bool IsEmpty() const noexcept { return items_.empty(); }
  [[nodiscard]] std::size_t GetBlockSize() const noexcept { return blockSize_; }

  // The entry at `index`, counting from 0; `index` must be below GetCount().
  [[nodiscard]] const std::string& GetAt(std::size_t index) const { return items_.at(index); }

 private:
  [[nodiscard]] std::size_t GrowthFor(std::size_t size) const noexcept {
    return size < blockSize_ ? blockSize_ : size;
  }

  std::size_t blockSize_;
  std::vector<std::string> items_;
};
