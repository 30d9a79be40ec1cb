// OwnedKey: the one owner of a registry key (HKEY) for the Wine tests, closing it when it goes.
#pragma once

#include <windows.h>

#include <utility>

class OwnedKey {
 public:
  OwnedKey() = default;
  explicit OwnedKey(HKEY key) : m_key(key) {}
  ~OwnedKey() { Reset(); }
  OwnedKey(const OwnedKey&) = delete;
  OwnedKey& operator=(const OwnedKey&) = delete;
  OwnedKey(OwnedKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
  OwnedKey& operator=(OwnedKey&& other) noexcept {
    if (this != &other) {
      Reset();
      m_key = std::exchange(other.m_key, nullptr);
    }
    return *this;
  }

  [[nodiscard]] HKEY Get() const { return m_key; }
  // The out-parameter for an open or create; closes any key held before.
  [[nodiscard]] HKEY* Put() {
    Reset();
    return &m_key;
  }
  // Hands the key over to the caller, who closes it.
  [[nodiscard]] HKEY Release() { return std::exchange(m_key, nullptr); }
  void Reset() {
    if (m_key != nullptr) ::RegCloseKey(std::exchange(m_key, nullptr));
  }

 private:
  HKEY m_key = nullptr;
};
