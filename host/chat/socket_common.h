// The chat's address resolution, listening and connecting, written once for
// the BSD sockets and Winsock. A platform variant includes this after its
// socket headers and instantiates it with a |Net| that gives its calls:
//
//   Net::Handle, Net::kInvalid              the socket type and its invalid value
//   Net::Start(why)                         makes the socket calls usable
//   Net::Open(ai)                           a socket for the address, or kInvalid
//   Net::Close(handle)
//   Net::Bind(handle, ai), Net::Connect(handle, ai), Net::Listen(handle)
//                                           true on success
//   Net::Error(what)                        the last socket error, as text
//   Net::ResolveError(host, rc)             a getaddrinfo failure, as text
//   Net::AcceptOnce(handle)                 one accepted connection, or kInvalid
//   Net::AcceptAgain()                      whether that failure calls for another try
//   Net::MakeSocket(handle)                 the StreamSocket that owns it
#pragma once

#include <memory>
#include <string>

#include "host/chat/socket.h"

namespace zuvo::chat::sockets {

// Resolves |endpoint| to socket addresses; the caller frees the list.
template <class Net>
addrinfo* Resolve(const Endpoint& endpoint, bool passive, std::string& why) {
  if (!Net::Start(why)) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  if (passive) hints.ai_flags = AI_PASSIVE;
  addrinfo* list = nullptr;
  const std::string port = std::to_string(endpoint.port);
  const int rc = getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &list);
  if (rc != 0) {
    why = Net::ResolveError(endpoint.host, rc);
    return nullptr;
  }
  return list;
}

inline Endpoint FromSockaddr(const sockaddr_storage& addr) {
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

template <class Net>
class BoundListener : public Listener {
 public:
  explicit BoundListener(typename Net::Handle handle) : handle_(handle) {}
  ~BoundListener() override { Net::Close(handle_); }

  Endpoint local() const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    getsockname(handle_, reinterpret_cast<sockaddr*>(&addr), &len);
    return FromSockaddr(addr);
  }

  std::unique_ptr<StreamSocket> Accept(std::string& why) override {
    for (;;) {
      const typename Net::Handle handle = Net::AcceptOnce(handle_);
      if (handle != Net::kInvalid) return Net::MakeSocket(handle);
      if (Net::AcceptAgain()) continue;
      why = Net::Error("accept");
      return nullptr;
    }
  }

 private:
  typename Net::Handle handle_;
};

// Tries the addresses of |endpoint| in turn: the first socket that |prepare|
// makes ready (false with |why| set) is the answer, kInvalid when none is.
template <class Net, class Prepare>
typename Net::Handle FirstReady(const Endpoint& endpoint, bool passive, std::string& why,
                                Prepare prepare) {
  addrinfo* list = Resolve<Net>(endpoint, passive, why);
  if (!list) return Net::kInvalid;
  typename Net::Handle ready = Net::kInvalid;
  for (addrinfo* ai = list; ai && ready == Net::kInvalid; ai = ai->ai_next) {
    const typename Net::Handle handle = Net::Open(ai);
    if (handle == Net::kInvalid) {
      why = Net::Error("socket");
    } else if (prepare(handle, ai)) {
      ready = handle;
    } else {
      Net::Close(handle);
    }
  }
  freeaddrinfo(list);
  return ready;
}

template <class Net>
std::unique_ptr<Listener> ListenOn(const Endpoint& endpoint, std::string& why) {
  const typename Net::Handle handle =
      FirstReady<Net>(endpoint, true, why, [&](typename Net::Handle h, const addrinfo* ai) {
        if (!Net::Bind(h, ai)) {
          why = Net::Error(("bind " + EndpointText(endpoint)).c_str());
          return false;
        }
        if (!Net::Listen(h)) {
          why = Net::Error("listen");
          return false;
        }
        return true;
      });
  if (handle == Net::kInvalid) return nullptr;
  return std::make_unique<BoundListener<Net>>(handle);
}

template <class Net>
std::unique_ptr<StreamSocket> ConnectTo(const Endpoint& endpoint, std::string& why) {
  const typename Net::Handle handle =
      FirstReady<Net>(endpoint, false, why, [&](typename Net::Handle h, const addrinfo* ai) {
        if (Net::Connect(h, ai)) return true;
        why = Net::Error(("connect " + EndpointText(endpoint)).c_str());
        return false;
      });
  if (handle == Net::kInvalid) return nullptr;
  return Net::MakeSocket(handle);
}

}  // namespace zuvo::chat::sockets
