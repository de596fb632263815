// The transport of every network without one of its own: the text form of
// each piece as an ordinary message.
#include "purple/transport.h"

#include <random>

extern "C" {
#include <connection.h>
#include <server.h>
}

namespace zuvo::purple {
namespace {

class MessageTransport : public Transport {
 public:
  bool Send(PurpleAccount* account, const std::string& who, FrameKind kind,
            std::string_view message, bool) override {
    PurpleConnection* gc = purple_account_get_connection(account);
    if (!gc || !purple_account_is_connected(account)) return false;
    for (const std::string& piece :
         EncodePieceTexts(kind, message, NewFrameId(), kOtherPieceBytes)) {
      serv_send_im(gc, who.c_str(), piece.c_str(), static_cast<PurpleMessageFlags>(0));
    }
    return true;
  }
  std::chrono::seconds AnswerLimit() const override { return std::chrono::seconds(60); }
};

}  // namespace

uint32_t NewFrameId() {
  static std::mt19937 random{std::random_device{}()};
  return static_cast<uint32_t>(random());
}

std::unique_ptr<Transport> CreateMessageTransport() { return std::make_unique<MessageTransport>(); }

}  // namespace zuvo::purple
