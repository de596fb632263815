// The chat's connection on BSD sockets.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/chat/socket.h"
#include "host/chat/socket_common.h"

namespace zuvo::chat {
namespace {

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

class PosixSocket : public StreamSocket {
 public:
  explicit PosixSocket(int fd) : fd_(fd) {
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~PosixSocket() override { close(fd_); }

  bool SendAll(const char* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  ptrdiff_t Receive(char* buffer, size_t size, std::string& why) override {
    for (;;) {
      const ssize_t n = recv(fd_, buffer, size, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) why = ErrnoText("receive");
      return n;
    }
  }

  void Shutdown() override { shutdown(fd_, SHUT_RDWR); }

 private:
  int fd_;
};

// The BSD socket calls for the shared listen and connect.
struct PosixNet {
  using Handle = int;
  static constexpr Handle kInvalid = -1;
  static bool Start(std::string&) { return true; }
  static Handle Open(const addrinfo* ai) {
    return socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
  }
  static void Close(Handle fd) { close(fd); }
  static bool Bind(Handle fd, const addrinfo* ai) {
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    return bind(fd, ai->ai_addr, ai->ai_addrlen) == 0;
  }
  static bool Listen(Handle fd) { return listen(fd, 1) == 0; }
  static bool Connect(Handle fd, const addrinfo* ai) {
    int rc;
    do {
      rc = connect(fd, ai->ai_addr, ai->ai_addrlen);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
  }
  static std::string Error(const char* what) { return ErrnoText(what); }
  static std::string ResolveError(const std::string& host, int rc) {
    return "cannot resolve " + host + ": " + gai_strerror(rc);
  }
  static std::unique_ptr<StreamSocket> MakeSocket(Handle fd) {
    return std::make_unique<PosixSocket>(fd);
  }
  static Handle AcceptOnce(Handle listener) { return accept(listener, nullptr, nullptr); }
  static bool AcceptAgain() { return errno == EINTR || errno == ECONNABORTED; }
};

}  // namespace

std::unique_ptr<Listener> Listen(const Endpoint& endpoint, std::string& why) {
  return sockets::ListenOn<PosixNet>(endpoint, why);
}

std::unique_ptr<StreamSocket> Connect(const Endpoint& endpoint, std::string& why) {
  return sockets::ConnectTo<PosixNet>(endpoint, why);
}

}  // namespace zuvo::chat
