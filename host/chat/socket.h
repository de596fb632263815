// The chat's connection between the two hosts: a TCP stream, listened for
// or connected to. Variants: socket_posix.cpp (BSD sockets) and
// socket_win32.cpp (Winsock), both through socket_common.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zuvo::chat {

// An address to listen on or connect to. The host part is an IPv4 or IPv6
// literal or a host name; loopback when the user gave none.
struct Endpoint {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
};

// "PORT", "ADDR:PORT" or "[V6ADDR]:PORT". False with |why| otherwise.
bool ParseEndpoint(std::string_view text, Endpoint& endpoint, std::string& why);
std::string EndpointText(const Endpoint& endpoint);

class StreamSocket {
 public:
  virtual ~StreamSocket() = default;
  // Writes every byte; false when the connection is gone.
  virtual bool SendAll(const char* data, size_t size) = 0;
  // Blocks for at least one byte: the count, 0 at the end of the stream, -1
  // on an error (|why| says which).
  virtual ptrdiff_t Receive(char* buffer, size_t size, std::string& why) = 0;
  // Ends both directions; a Receive blocked in another thread returns.
  virtual void Shutdown() = 0;
};

class Listener {
 public:
  virtual ~Listener() = default;
  // The bound address (with the port the system chose for port 0).
  virtual Endpoint local() const = 0;
  // Waits for one connection; nullptr with |why| on failure.
  virtual std::unique_ptr<StreamSocket> Accept(std::string& why) = 0;
};

std::unique_ptr<Listener> Listen(const Endpoint& endpoint, std::string& why);
std::unique_ptr<StreamSocket> Connect(const Endpoint& endpoint, std::string& why);

}  // namespace zuvo::chat
