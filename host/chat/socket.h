// The platform services of the chat: a TCP stream between the two hosts,
// the no-overwrite rename that publishes a received file, and whether the
// output is a terminal. Variants: chat_platform_posix.cpp (BSD sockets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
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

enum class MoveResult { kMoved, kExists, kFailed };
// Renames |from| to |to| only when nothing exists under |to|, atomically:
// a file that appears there meanwhile is never replaced.
MoveResult MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                         std::string& why);

// std::fopen for a path in the platform's own file-name form. An "x" in
// |mode| creates the file exclusively: it fails when the name exists.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// Calls |handler| (on a thread of its own) when the user interrupts the
// program (Ctrl-C, or a request to terminate); a second interrupt ends the
// program at once. Call it before starting other threads.
void OnInterrupt(std::function<void()> handler);

// Whether standard output is a terminal (progress bars redraw in place).
bool StdoutIsTerminal();

}  // namespace zuvo::chat
