// The chat's platform services on Windows: Winsock streams, MoveFileExW
// without replacement, and the console check.
#include <winsock2.h>
#include <ws2tcpip.h>
// (winsock2.h before windows.h)
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/chat/platform.h"
#include "host/chat/socket_common.h"

namespace zuvo::chat {
namespace {

std::string SystemText(const char* what, int code) {
  char* text = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = std::string(what) + ": " + (text ? text : ("error " + std::to_string(code)));
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
    out.pop_back();
  }
  return out;
}

std::string SocketError(const char* what) { return SystemText(what, WSAGetLastError()); }

// Winsock is started once for the process and stays up until it exits.
bool StartWinsock(std::string& why) {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) why = SystemText("WSAStartup", started);
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
    return SystemText(("cannot resolve " + host).c_str(), rc);
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

// MoveFileExW without MOVEFILE_REPLACE_EXISTING fails when the target name
// is taken, and never replaces a file that appears there meanwhile.
MoveResult MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                         std::string& why) {
  if (MoveFileExW(from.c_str(), to.c_str(), 0)) return MoveResult::kMoved;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return MoveResult::kExists;
  why = SystemText("rename", static_cast<int>(error));
  return MoveResult::kFailed;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  std::wstring wideMode;
  bool exclusive = false;
  for (const char* m = mode; *m; ++m) {
    if (*m == 'x') {
      exclusive = true;
    } else {
      wideMode.push_back(static_cast<wchar_t>(*m));
    }
  }
  if (!exclusive) return _wfopen(path.c_str(), wideMode.c_str());
  // The C runtime's _wfopen knows no "x": create the file with CREATE_NEW
  // and hand its handle to a stream.
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _wfdopen(fd, wideMode.c_str());
  if (!file) _close(fd);
  return file;
}

namespace {

std::function<void()> g_interruptHandler;
LONG g_interrupts = 0;

BOOL WINAPI ConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  if (InterlockedIncrement(&g_interrupts) > 1) std::_Exit(130);
  g_interruptHandler();
  return TRUE;
}

}  // namespace

void OnInterrupt(std::function<void()> handler) {
  g_interruptHandler = std::move(handler);
  SetConsoleCtrlHandler(ConsoleControl, TRUE);
}

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

}  // namespace zuvo::chat
