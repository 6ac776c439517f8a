// The Windows side of the test helpers, and the check that this process sees
// no network but loopback.  CMake puts this directory on the include path of
// the Windows build only.
#pragma once

#include <windows.h>
#include <winsock.h>
// After the sockets header: the interface table's types need it.
#include <iphlpapi.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "scratch_file.h"

namespace arduino::testing {

// The library's messages are code page 1252 on Windows.
constexpr char kUUmlaut[] = "\xfc";

// Locale names that give a comma as decimal separator.  The C runtime knows
// no POSIX names; the empty name is the user's locale, which Wine takes from
// LC_ALL or LANG, so the tests run with LC_ALL=de_DE.UTF-8 to get German.
constexpr const char* kCommaLocaleNames[] = {""};

inline void SleepMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

// Waits, at most two seconds, until a datagram just sent to one of this
// thread's endpoints over loopback is there for a pump pass to find.  The
// socket layer posts its report to the endpoint's window a moment after the
// datagram arrives, from a thread of its own (under Wine, from the server),
// so it is the posted message that is waited for.
inline void WaitForSocketReport() {
  for (int waited = 0; waited < 2000; ++waited) {
    if ((HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) != 0) return;
    Sleep(1);
  }
}

// What could carry a name look-up made by this process off the machine, or
// nothing when only loopback is there.  Tests that look up a name that must
// not resolve skip unless this is empty.  Under Wine two things must hold.
// The interface table comes from Wine's device service, which runs beside
// the Wine server, where the sockets are made too; it must list loopback
// alone.  The look-up itself runs in
// this process, which may sit in another network namespace than a server it
// found already running; ARDUINO_BLOCK_LOOPBACK_ONLY, set by ./run test once
// it has checked its namespace, says that this process is inside one too.
inline std::optional<std::string> NetworkBeyondLoopback() {
  const char* checked = std::getenv("ARDUINO_BLOCK_LOOPBACK_ONLY");
  if (checked == nullptr || std::string(checked) != "1") {
    return "this process's own network (ARDUINO_BLOCK_LOOPBACK_ONLY is not set)";
  }
  ULONG size = 0;
  if (GetIfTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) {
    return "the network interfaces cannot be listed";
  }
  std::vector<unsigned char> buffer(size);
  auto* table = reinterpret_cast<MIB_IFTABLE*>(buffer.data());
  if (GetIfTable(table, &size, FALSE) != NO_ERROR) return "the network interfaces cannot be listed";
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IFROW& row = table->table[i];
    if (row.dwType != MIB_IF_TYPE_LOOPBACK) {
      return "the interface " +
             std::string(reinterpret_cast<const char*>(row.bDescr),
                         strnlen(reinterpret_cast<const char*>(row.bDescr), row.dwDescrLen));
    }
  }
  return std::nullopt;
}

using harness::ScratchFile;

}  // namespace arduino::testing
