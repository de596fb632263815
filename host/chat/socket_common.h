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

#include "host/chat/platform.h"

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

template <class Net>
std::unique_ptr<Listener> ListenOn(const Endpoint& endpoint, std::string& why) {
  addrinfo* list = Resolve<Net>(endpoint, true, why);
  if (!list) return nullptr;
  std::unique_ptr<Listener> result;
  for (addrinfo* ai = list; ai && !result; ai = ai->ai_next) {
    const typename Net::Handle handle = Net::Open(ai);
    if (handle == Net::kInvalid) {
      why = Net::Error("socket");
      continue;
    }
    if (!Net::Bind(handle, ai)) {
      why = Net::Error(("bind " + EndpointText(endpoint)).c_str());
      Net::Close(handle);
      continue;
    }
    if (!Net::Listen(handle)) {
      why = Net::Error("listen");
      Net::Close(handle);
      continue;
    }
    result = std::make_unique<BoundListener<Net>>(handle);
  }
  freeaddrinfo(list);
  return result;
}

template <class Net>
std::unique_ptr<StreamSocket> ConnectTo(const Endpoint& endpoint, std::string& why) {
  addrinfo* list = Resolve<Net>(endpoint, false, why);
  if (!list) return nullptr;
  std::unique_ptr<StreamSocket> result;
  for (addrinfo* ai = list; ai && !result; ai = ai->ai_next) {
    const typename Net::Handle handle = Net::Open(ai);
    if (handle == Net::kInvalid) {
      why = Net::Error("socket");
      continue;
    }
    if (!Net::Connect(handle, ai)) {
      why = Net::Error(("connect " + EndpointText(endpoint)).c_str());
      Net::Close(handle);
      continue;
    }
    result = Net::MakeSocket(handle);
  }
  freeaddrinfo(list);
  return result;
}

}  // namespace zuvo::chat::sockets
