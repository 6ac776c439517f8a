// The Windows side of the test helpers: a scratch file reached through a
// Win32 file handle (what the library's _lread/_lwrite expect, not a C
// runtime descriptor), a loopback UDP peer on Windows Sockets, and the check
// that this process sees no network but loopback.  CMake puts this directory
// on the include path of the Windows build only.
#pragma once

#include <sys/types.h>
#include <windows.h>
#include <winsock.h>
// After the sockets header: the interface table's types need it.
#include <iphlpapi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace arduino::testing {

// The library's messages are code page 1252 on Windows.
constexpr char kUUmlaut[] = "\xfc";

// Locale names that give a comma as decimal separator.  The C runtime knows
// no POSIX names; the empty name is the user's locale, which Wine takes from
// LC_ALL or LANG, so the tests run with LC_ALL=de_DE.UTF-8 to get German.
constexpr const char* kCommaLocaleNames[] = {""};

inline void SleepMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

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

// A temporary file that the system deletes when its handle closes.
class ScratchFile {
 public:
  ScratchFile() {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    if (GetTempPathA(MAX_PATH, directory) == 0 ||
        GetTempFileNameA(directory, "abt", 0, path) == 0) {
      throw std::runtime_error("cannot name a scratch file");
    }
    file_ = CreateFileA(
        path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a scratch file");
  }
  ~ScratchFile() { CloseHandle(file_); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  uint32_t handle() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(file_)); }
  std::string Contents() const {
    off_t position = Position();
    Seek(0);
    std::string all;
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(file_, chunk, sizeof chunk, &n, nullptr) && n > 0) all.append(chunk, n);
    Seek(position);
    return all;
  }
  void Replace(const std::string& bytes) {
    Seek(0);
    DWORD written = 0;
    if (!SetEndOfFile(file_) ||
        !WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      throw std::runtime_error("cannot write scratch file");
    }
    Seek(0);
  }
  off_t Position() const {
    return static_cast<off_t>(SetFilePointer(file_, 0, nullptr, FILE_CURRENT));
  }
  void Rewind() { Seek(0); }

 private:
  void Seek(off_t position) const {
    SetFilePointer(file_, static_cast<LONG>(position), nullptr, FILE_BEGIN);
  }

  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// A plain UDP socket on loopback playing the board's side.  It takes its own
// socket-layer reference, so it works before and after any block exists.
class LoopbackPeer {
 public:
  LoopbackPeer() {
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) throw std::runtime_error("cannot start Windows Sockets");
    socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket_ == INVALID_SOCKET ||
        bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      if (socket_ != INVALID_SOCKET) closesocket(socket_);
      WSACleanup();
      throw std::runtime_error("cannot bind loopback peer");
    }
  }
  ~LoopbackPeer() {
    closesocket(socket_);
    WSACleanup();
  }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  uint16_t port() const {
    sockaddr_in local{};
    int length = sizeof local;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
  }
  void SendTo(uint16_t port, const std::string& bytes) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    sendto(socket_, bytes.data(), static_cast<int>(bytes.size()), 0,
           reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  struct Datagram {
    std::string bytes;
    uint16_t from_port;
  };
  std::optional<Datagram> Receive(int timeout_ms = 1000) const {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &limit) != 1) return std::nullopt;
    static char buffer[65536];
    sockaddr_in from{};
    int length = sizeof from;
    int n =
        recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return std::nullopt;
    return Datagram{std::string(buffer, n), ntohs(from.sin_port)};
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace arduino::testing
