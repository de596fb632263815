// The chat's connection on Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>
// (winsock2.h before windows.h)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/chat/socket.h"
#include "host/chat/socket_common.h"
#include "host/common/system_error_win32.h"

namespace zuvo::chat {
namespace {

std::string SocketError(const char* what) { return SystemErrorText(what, WSAGetLastError()); }

// Winsock is started once for the process and stays up until it exits.
bool StartWinsock(std::string& why) {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) why = SystemErrorText("WSAStartup", started);
  return started == 0;
}

class WinsockSocket : public StreamSocket {
 public:
  explicit WinsockSocket(SOCKET s) : socket_(s) {
    BOOL one = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  }
  ~WinsockSocket() override { closesocket(socket_); }

  bool SendAll(const char* data, size_t size) override {
    while (size > 0) {
      const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
      const int n = send(socket_, data, chunk, 0);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  ptrdiff_t Receive(char* buffer, size_t size, std::string& why) override {
    const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    const int n = recv(socket_, buffer, chunk, 0);
    if (n == SOCKET_ERROR) {
      why = SocketError("receive");
      return -1;
    }
    return n;
  }

  void Shutdown() override { shutdown(socket_, SD_BOTH); }

 private:
  SOCKET socket_;
};

// The Winsock calls for the shared listen and connect.
struct WinsockNet {
  using Handle = SOCKET;
  static constexpr Handle kInvalid = INVALID_SOCKET;
  static bool Start(std::string& why) { return StartWinsock(why); }
  static Handle Open(const addrinfo* ai) {
    return socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
  }
  static void Close(Handle s) { closesocket(s); }
  static bool Bind(Handle s, const addrinfo* ai) {
    // Exclusive use of the address: no other socket may bind it meanwhile.
    BOOL one = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    return bind(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0;
  }
  static bool Listen(Handle s) { return listen(s, 1) == 0; }
  static bool Connect(Handle s, const addrinfo* ai) {
    return connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0;
  }
  static std::string Error(const char* what) { return SocketError(what); }
  static std::string ResolveError(const std::string& host, int rc) {
    return SystemErrorText(("cannot resolve " + host).c_str(), rc);
  }
  static std::unique_ptr<StreamSocket> MakeSocket(Handle s) {
    return std::make_unique<WinsockSocket>(s);
  }
  static Handle AcceptOnce(Handle listener) { return accept(listener, nullptr, nullptr); }
  static bool AcceptAgain() { return WSAGetLastError() == WSAECONNRESET; }
};

}  // namespace

std::unique_ptr<Listener> Listen(const Endpoint& endpoint, std::string& why) {
  return sockets::ListenOn<WinsockNet>(endpoint, why);
}

std::unique_ptr<StreamSocket> Connect(const Endpoint& endpoint, std::string& why) {
  return sockets::ConnectTo<WinsockNet>(endpoint, why);
}

}  // namespace zuvo::chat
