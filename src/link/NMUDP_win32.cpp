// The UDP endpoint on Windows Sockets 1.1.  Each endpoint owns a hidden
// window that the socket layer posts its reports to: "a datagram is waiting"
// and "the host-name look-up has finished" both arrive as kSocketMessage and
// are handled when the thread's pump dispatches them, never in between.
#include <windows.h>
#include <winsock.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "arduino_block.h"
#include "base/application.h"
#include "base/system_win32.h"
#include "base/ticks.h"
#include "link/NMUDP.h"
#include "link/socket_address.h"

namespace arduino {
namespace {

constexpr UINT kSocketMessage = WM_USER + 101;
constexpr WORD kSocketVersion = 0x0101;
constexpr char kWindowClass[] = "ArduinoBlockUdpNotify";

// Endpoints alive, and so whether the window class is registered.  A DLL's
// classes outlive it unless it unregisters them, so the last endpoint does.
int g_live_windows = 0;

}  // namespace

struct TNMUDP::Platform {
  HWND window = nullptr;
  SOCKET socket = INVALID_SOCKET;
  bool holds_socket_layer = false;
  // WSAAsyncGetHostByName writes its result here, after the call returns.
  char* lookup_area = nullptr;
  bool lookup_done = false;
  bool lookup_succeeded = false;
  // The task handle of the look-up under way.  A completion that names
  // another task is a cancelled look-up's late message and must not be
  // read as this one's result.
  HANDLE lookup_task = nullptr;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  void StartSocketLayer() {
    WSADATA data;
    int result = WSAStartup(kSocketVersion, &data);
    if (result != 0) RaiseSocketError(result);
    holds_socket_layer = true;
  }
  void StopSocketLayer() {
    if (holds_socket_layer) WSACleanup();
    holds_socket_layer = false;
  }
  void OpenSocket() {
    socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket == INVALID_SOCKET) {
      int error = WSAGetLastError();
      // The reference taken for this socket goes back with it.
      StopSocketLayer();
      RaiseSocketError(error);
    }
  }
  void CloseSocket() {
    if (socket != INVALID_SOCKET) closesocket(socket);
    socket = INVALID_SOCKET;
  }

  ~Platform() {
    delete[] lookup_area;
    lookup_area = nullptr;
    if (window != nullptr) {
      // Reports still queued for the window die with it.
      DestroyWindow(window);
      window = nullptr;
      if (--g_live_windows == 0) UnregisterClassA(kWindowClass, ThisModule());
    }
    CloseSocket();
    StopSocketLayer();
  }
};

LRESULT CALLBACK TNMUDP::Platform::WindowProc(HWND window, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
  if (message != kSocketMessage) return DefWindowProcA(window, message, wparam, lparam);
  auto* self = reinterpret_cast<TNMUDP*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr || !self->ready_) return 0;
  if (LOWORD(lparam) == FD_READ) {
    // A C++ exception cannot travel through the system's dispatch code back
    // to our pump, so a failing handler is reported here and stopped.
    try {
      self->ReceiveWaiting();
    } catch (const std::exception& e) {
      OutputDebugStringA(e.what());
    } catch (...) {
      OutputDebugStringA("ArduinoBlock: the UDP receive handler failed");
    }
  } else if (reinterpret_cast<HANDLE>(wparam) == self->platform_->lookup_task) {
    self->platform_->lookup_done = true;
    self->platform_->lookup_succeeded = HIWORD(lparam) == 0;
  }
  return 0;
}

void TNMUDP::PlatformDeleter::operator()(Platform* platform) const { delete platform; }

void TNMUDP::CreatePlatform() {
  platform_.reset(new Platform);
  Platform& p = *platform_;
  p.lookup_area = new char[kLookupAreaSize];

  HINSTANCE module = ThisModule();
  if (g_live_windows == 0) {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = &Platform::WindowProc;
    window_class.hInstance = module;
    window_class.lpszClassName = kWindowClass;
    RegisterClassA(&window_class);  // already registered is fine
  }
  // A message-only window: never shown, no owner, not enumerated, and it
  // needs no display, which matters on servers and under Wine without one.
  p.window =
      CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  if (p.window == nullptr) {
    throw UDPSockError("Cannot create the UDP notification window (system error " +
                       std::to_string(GetLastError()) + ")");
  }
  ++g_live_windows;
  SetWindowLongPtrA(p.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

  p.StartSocketLayer();
  p.OpenSocket();
}

void TNMUDP::DestroyPlatform() { platform_.reset(); }

void TNMUDP::RecreateSocket() {
  Platform& p = *platform_;
  p.CloseSocket();
  p.StopSocketLayer();
  p.StartSocketLayer();
  p.OpenSocket();
}

void TNMUDP::BindAndRegister(uint16_t port) {
  Platform& p = *platform_;
  // No SO_REUSEADDR: a second bind of a held port must fail, so the first
  // block keeps port 1600 to itself and later ones stay unbound until they
  // send.
  sockaddr_in local = Ipv4SocketAddress<sockaddr_in>(AF_INET, htonl(INADDR_ANY), htons(port));
  (void)bind(p.socket, reinterpret_cast<sockaddr*>(&local), sizeof local);
  (void)WSAAsyncSelect(p.socket, p.window, kSocketMessage, FD_READ);
}

std::optional<uint32_t> TNMUDP::ParseAddressLiteral(const std::string& host) const {
  unsigned long address = inet_addr(host.c_str());
  if (address == INADDR_NONE) return std::nullopt;
  return static_cast<uint32_t>(address);
}

std::optional<uint32_t> TNMUDP::LookUpHost(const std::string& host) {
  Platform& p = *platform_;
  p.lookup_done = false;
  p.lookup_succeeded = false;
  HANDLE task = WSAAsyncGetHostByName(p.window, kSocketMessage, host.c_str(), p.lookup_area,
                                      static_cast<int>(kLookupAreaSize));
  if (task == nullptr) return std::nullopt;
  p.lookup_task = task;

  TApplication& application = Application();
  if (!application.PumpUntil([&p] { return p.lookup_done; }, TickCount(), kLookupLimitMs,
                             kLookupSleepMs)) {
    // Cancelled, the socket layer no longer writes into the area.
    WSACancelAsyncRequest(task);
  }
  // A failed look-up raises before the reply wait that would otherwise hand
  // a quit message taken here back to the host.
  application.RestoreHostState();
  p.lookup_task = nullptr;
  if (!p.lookup_done || !p.lookup_succeeded) return std::nullopt;

  const auto* entry = reinterpret_cast<const hostent*>(p.lookup_area);
  if (entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) return std::nullopt;
  uint32_t address = 0;
  std::memcpy(&address, entry->h_addr_list[0], sizeof address);
  return address;
}

void TNMUDP::SendTo(uint32_t address, uint16_t port, const char* data, int32_t length) {
  sockaddr_in remote = Ipv4SocketAddress<sockaddr_in>(AF_INET, address, htons(port));
  // A refused or undeliverable datagram is lost without a report.
  (void)sendto(platform_->socket, data, length, 0, reinterpret_cast<sockaddr*>(&remote),
               sizeof remote);
}

void TNMUDP::ReceiveWaiting() {
  sockaddr_in from{};
  int from_length = sizeof from;
  // A datagram larger than the buffer fails with WSAEMSGSIZE and is gone;
  // like every failed read it reports -1.
  const int length = recvfrom(platform_->socket, receive_buffer_, sizeof receive_buffer_, 0,
                              reinterpret_cast<sockaddr*>(&from), &from_length);
  Deliver(length == SOCKET_ERROR ? -1 : length, from.sin_addr.s_addr, ntohs(from.sin_port));
}

uint16_t TNMUDP::BoundPort() const {
  sockaddr_in local{};
  int length = sizeof local;
  // An unbound socket fails with WSAEINVAL.
  if (getsockname(platform_->socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return 0;
  }
  return ntohs(local.sin_port);
}

}  // namespace arduino
