// The record of a switch in the Windows event log (Application): one event a switch that
// wrote, from the event source the installer registers, with the message table of
// event_messages.mc compiled into the program. Windows only.
#pragma once

#include <string>

#include "platform/registry.h"
#include "switching/switch_record.h"

// The event source's name, as the installer registers it below
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application.
inline constexpr wchar_t kEventSourceName[] = L"Brackwell Modem Configuration Tool";

// Records `record` as made by `program` (its file name): event 1000 (information) when every
// write succeeded, 1001 (warning) when some failed, with the process's account. Returns "" or
// one line saying why no event was recorded. Never throws.
std::string ReportSwitchEvent(const char* program, const SwitchRecord& record,
                              std::string (*statusText)(RegStatus status));

// The system's English text for a status ("Access is denied."), for the text of failed keys.
std::string SystemStatusText(RegStatus status);
