#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "host/chat/platform.h"

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

// Resolves |endpoint| to socket addresses; the caller frees the list.
addrinfo* Resolve(const Endpoint& endpoint, bool passive, std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  if (passive) hints.ai_flags = AI_PASSIVE;
  addrinfo* list = nullptr;
  const std::string port = std::to_string(endpoint.port);
  const int rc = getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &list);
  if (rc != 0) {
    why = "cannot resolve " + endpoint.host + ": " + gai_strerror(rc);
    return nullptr;
  }
  return list;
}

Endpoint FromSockaddr(const sockaddr_storage& addr) {
  Endpoint e;
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(addr);
    inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
    e.port = ntohs(a.sin6_port);
  } else {
    const auto& a = reinterpret_cast<const sockaddr_in&>(addr);
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    e.port = ntohs(a.sin_port);
  }
  e.host = text;
  return e;
}

class PosixListener : public Listener {
 public:
  explicit PosixListener(int fd) : fd_(fd) {}
  ~PosixListener() override { close(fd_); }

  Endpoint local() const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    return FromSockaddr(addr);
  }

  std::unique_ptr<StreamSocket> Accept(std::string& why) override {
    for (;;) {
      const int fd = accept(fd_, nullptr, nullptr);
      if (fd >= 0) return std::make_unique<PosixSocket>(fd);
      if (errno == EINTR || errno == ECONNABORTED) continue;
      why = ErrnoText("accept");
      return nullptr;
    }
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<Listener> Listen(const Endpoint& endpoint, std::string& why) {
  addrinfo* list = Resolve(endpoint, true, why);
  if (!list) return nullptr;
  std::unique_ptr<Listener> result;
  for (addrinfo* ai = list; ai && !result; ai = ai->ai_next) {
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      why = ErrnoText("socket");
      continue;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
      why = ErrnoText(("bind " + EndpointText(endpoint)).c_str());
      close(fd);
      continue;
    }
    if (listen(fd, 1) != 0) {
      why = ErrnoText("listen");
      close(fd);
      continue;
    }
    result = std::make_unique<PosixListener>(fd);
  }
  freeaddrinfo(list);
  return result;
}

std::unique_ptr<StreamSocket> Connect(const Endpoint& endpoint, std::string& why) {
  addrinfo* list = Resolve(endpoint, false, why);
  if (!list) return nullptr;
  std::unique_ptr<StreamSocket> result;
  for (addrinfo* ai = list; ai && !result; ai = ai->ai_next) {
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      why = ErrnoText("socket");
      continue;
    }
    int rc;
    do {
      rc = connect(fd, ai->ai_addr, ai->ai_addrlen);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      why = ErrnoText(("connect " + EndpointText(endpoint)).c_str());
      close(fd);
      continue;
    }
    result = std::make_unique<PosixSocket>(fd);
  }
  freeaddrinfo(list);
  return result;
}

MoveResult MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                         std::string& why) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return MoveResult::kMoved;
  }
  if (errno == EEXIST) return MoveResult::kExists;
  if (errno != EINVAL && errno != ENOSYS) {
    why = ErrnoText("rename");
    return MoveResult::kFailed;
  }
  // File systems without the no-replace rename: a hard link fails the same
  // way when the name is taken.
  if (link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return MoveResult::kExists;
    why = ErrnoText("link");
    return MoveResult::kFailed;
  }
  unlink(from.c_str());
  return MoveResult::kMoved;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

void OnInterrupt(std::function<void()> handler) {
  // The signals wait for this thread alone; every thread started later
  // inherits the blocked mask.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set, handler = std::move(handler)] {
    int signal = 0;
    for (int count = 0; sigwait(&set, &signal) == 0; ++count) {
      if (count > 0) std::_Exit(128 + signal);
      handler();
    }
  }).detach();
}

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace zuvo::chat
