#include "support/socket_pair.h"

#include <gtest/gtest.h>

#include <string>

namespace zuvo::testing {

std::pair<std::unique_ptr<chat::StreamSocket>, std::unique_ptr<chat::StreamSocket>> SocketPair() {
  std::string why;
  chat::Endpoint any;
  auto listener = chat::Listen(any, why);
  if (!listener) {
    ADD_FAILURE() << why;
    return {};
  }
  auto client = chat::Connect(listener->local(), why);
  EXPECT_TRUE(client) << why;
  auto server = listener->Accept(why);
  EXPECT_TRUE(server) << why;
  return {std::move(client), std::move(server)};
}

}  // namespace zuvo::testing
