#include <charconv>

#include "host/chat/socket.h"

namespace zuvo::chat {

bool ParseEndpoint(std::string_view text, Endpoint& endpoint, std::string& why) {
  Endpoint e;
  std::string_view port = text;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      why = "expected [ADDRESS]:PORT, got \"" + std::string(text) + "\"";
      return false;
    }
    e.host = std::string(text.substr(1, close - 1));
    port = text.substr(close + 2);
  } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    e.host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
    if (e.host.empty() || e.host.find(':') != std::string::npos) {
      why = "expected ADDRESS:PORT, got \"" + std::string(text) + "\"";
      return false;
    }
  }
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value > 65535) {
    why = "bad port \"" + std::string(port) + "\"";
    return false;
  }
  e.port = static_cast<uint16_t>(value);
  endpoint = e;
  return true;
}

std::string EndpointText(const Endpoint& endpoint) {
  if (endpoint.host.find(':') != std::string::npos) {
    return "[" + endpoint.host + "]:" + std::to_string(endpoint.port);
  }
  return endpoint.host + ":" + std::to_string(endpoint.port);
}

}  // namespace zuvo::chat
