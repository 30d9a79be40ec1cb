// Message maps: per-class tables that bind window messages and control notifications to typed
// member handlers.
//
// A class declares DECLARE_MESSAGE_MAP() and writes its table in its source file:
//
//   BEGIN_MESSAGE_MAP(CMyDialog, CDialog)
//     ON_WM_CREATE()                                   // int OnCreate(LPCREATESTRUCTA)
//     ON_BN_CLICKED(IDC_APPLY, OnApply)                // void OnApply()
//     ON_CONTROL_RANGE(BN_CLICKED, 1000, 1001, OnPick)  // void OnPick(unsigned id)
//   END_MESSAGE_MAP()
//
// Entries are searched in the order written; the first that matches takes the message and no
// other entry sees it. A message no entry of the class takes goes on to the base class's table,
// and from the root to the window's default processing. Handlers are named without `&` and may
// be private; a handler of a base class is named with its class (`CWinApp::OnHelp`).
//
// This header is portable (no Windows header), so the table and its lookup are tested on every
// build. The entries that crack Windows message parameters (ON_WM_CREATE and the like) are in
// framework/dialog.h; the ones here need only message numbers and ids.
#pragma once

#include <cstdint>
#include <span>

namespace fw {

using MessageId = std::uint32_t;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using Result = std::intptr_t;

// The command message (WM_COMMAND): wParam holds the command or control id in its low word and
// the notification code in its high word.
inline constexpr MessageId kCommandMessage = 0x0111;

// One message as it reaches a message map.
struct Message {
  MessageId message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
};

[[nodiscard]] constexpr unsigned CommandId(const Message& msg) noexcept {
  return static_cast<unsigned>(msg.wParam & 0xFFFFu);
}

[[nodiscard]] constexpr unsigned NotifyCode(const Message& msg) noexcept {
  return static_cast<unsigned>((msg.wParam >> 16) & 0xFFFFu);
}

enum class EntryKind : std::uint8_t {
  kEnd,      // closes a table; never matches
  kMessage,  // matches one window message, whatever its parameters
  kCommand,  // matches a command message with one notification code from a range of ids
};

template <class T>
struct MessageMapEntry {
  EntryKind kind;
  MessageId message;  // kMessage: the window message
  unsigned code;      // kCommand: the notification code
  unsigned firstId;   // kCommand: the first id of the range
  unsigned lastId;    // kCommand: the last id of the range, inclusive
  Result (*handler)(T& self, const Message& msg);
};

// True when `entry` takes `msg`.
template <class T>
[[nodiscard]] constexpr bool EntryMatches(const MessageMapEntry<T>& entry,
                                          const Message& msg) noexcept {
  switch (entry.kind) {
    case EntryKind::kMessage:
      return entry.message == msg.message;
    case EntryKind::kCommand: {
      if (msg.message != kCommandMessage || NotifyCode(msg) != entry.code) return false;
      const unsigned id = CommandId(msg);
      return id >= entry.firstId && id <= entry.lastId;
    }
    case EntryKind::kEnd:
      break;
  }
  return false;
}

// The first entry, in table order, that takes `msg`; nullptr when none does. The search stops at
// the closing entry.
template <class T>
[[nodiscard]] constexpr const MessageMapEntry<T>* FindMessageMapEntry(
    std::span<const MessageMapEntry<T>> entries, const Message& msg) noexcept {
  for (const MessageMapEntry<T>& entry : entries) {
    if (entry.kind == EntryKind::kEnd) break;
    if (EntryMatches(entry, msg)) return &entry;
  }
  return nullptr;
}

// Calls the handler of the first entry that takes `msg` and stores its result in `result`.
// Returns false, leaving `result` untouched, when no entry takes it. Exceptions from the
// handler propagate: the window procedure that called in catches them.
template <class T>
bool DispatchMessageMap(std::span<const MessageMapEntry<T>> entries, T& self, const Message& msg,
                        Result& result) {
  const MessageMapEntry<T>* entry = FindMessageMapEntry(entries, msg);
  if (entry == nullptr || entry->handler == nullptr) return false;
  result = entry->handler(self, msg);
  return true;
}

// Entry factories for the table macros.
template <class T>
constexpr MessageMapEntry<T> MessageEntry(MessageId message,
                                          Result (*handler)(T&, const Message&)) noexcept {
  return {EntryKind::kMessage, message, 0, 0, 0, handler};
}

template <class T>
constexpr MessageMapEntry<T> CommandEntry(unsigned code, unsigned firstId, unsigned lastId,
                                          Result (*handler)(T&, const Message&)) noexcept {
  return {EntryKind::kCommand, kCommandMessage, code, firstId, lastId, handler};
}

template <class T>
constexpr MessageMapEntry<T> EndEntry() noexcept {
  return {EntryKind::kEnd, 0, 0, 0, 0, nullptr};
}

}  // namespace fw

// The root of every class with a message map: windows (CDialog) and the application (CWinApp).
class CCmdTarget {
 public:
  CCmdTarget() = default;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;
  virtual ~CCmdTarget() = default;

  // Offers `msg` to the message maps of this object's class and its bases, most derived first.
  // True when an entry took it, with the handler's result in `result`.
  bool RouteMessage(const fw::Message& msg, fw::Result& result) {
    return OnMappedMessage(msg, result);
  }

 protected:
  // Written by BEGIN_MESSAGE_MAP/END_MESSAGE_MAP; the root has no entries.
  virtual bool OnMappedMessage(const fw::Message& /*msg*/, fw::Result& /*result*/) { return false; }
};

// clang-format off

// In the class declaration. Leaves the access at `protected`.
#define DECLARE_MESSAGE_MAP()                                                               \
 protected:                                                                                 \
  bool OnMappedMessage(const ::fw::Message& fwMessage, ::fw::Result& fwResult) override;

// In the source file: opens the table of `theClass`, whose unmatched messages go on to the
// table of `baseClass`.
#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                              \
  bool theClass::OnMappedMessage(const ::fw::Message& fwMessage, ::fw::Result& fwResult) {  \
    using ThisClass = theClass;                                                             \
    using TheBaseClass = baseClass;                                                         \
    static constexpr ::fw::MessageMapEntry<ThisClass> kMessageMapEntries[] = {

#define END_MESSAGE_MAP()                                                                   \
      ::fw::EndEntry<ThisClass>()};                                                         \
    return ::fw::DispatchMessageMap<ThisClass>(kMessageMapEntries, *this, fwMessage,        \
                                               fwResult) ||                                 \
           TheBaseClass::OnMappedMessage(fwMessage, fwResult);                              \
  }

// The lambda that calls a handler: `self` is the object, `m` the message.
#define FW_MAP_HANDLER(body) \
  [](ThisClass& self, [[maybe_unused]] const ::fw::Message& m) -> ::fw::Result { body }

// Any window message, parameters uncracked:
//   LRESULT OnMessage(WPARAM wParam, LPARAM lParam)
#define ON_MESSAGE(message, memberFxn)                                                      \
  ::fw::MessageEntry<ThisClass>((message), FW_MAP_HANDLER(                                  \
      return static_cast<::fw::Result>(self.memberFxn(m.wParam, m.lParam));)),

// A command (a menu item, a button's click, a command sent by the framework):
//   void OnCommand()
#define ON_COMMAND(id, memberFxn) ON_CONTROL(0, id, memberFxn)

// One notification code from one control:
//   void OnNotify()
#define ON_CONTROL(notifyCode, id, memberFxn)                                               \
  ::fw::CommandEntry<ThisClass>((notifyCode), (id), (id), FW_MAP_HANDLER(                   \
      self.memberFxn(); return 0;)),

// One notification code from any control with an id in [firstId, lastId]:
//   void OnNotifyRange(unsigned id)
#define ON_CONTROL_RANGE(notifyCode, firstId, lastId, memberFxn)                            \
  ::fw::CommandEntry<ThisClass>((notifyCode), (firstId), (lastId), FW_MAP_HANDLER(          \
      self.memberFxn(::fw::CommandId(m)); return 0;)),

// clang-format on
