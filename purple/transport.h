// How the libpurple host carries frames (wire.h) between two plug-ins on
// each network, in the forms wire_carriers.h states: XMPP stanzas of the
// plug-in's own namespace (xmpp_transport.cpp), IRC CTCP paced under the
// server's flood limit (irc_transport.cpp), and ordinary messages on every
// other network (transport.cpp). A transport sends what the host gives it
// and hands the host every piece it hears, with what the network said of
// the host's requests; the host judges and puts the pieces together.
// Everything runs on libpurple's main loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "purple/wire.h"

extern "C" {
#include <account.h>
#include <plugin.h>
}

namespace zuvo::purple {

// What a transport tells the host.
class TransportSink {
 public:
  virtual ~TransportSink() = default;

  // A message on |account| from |sender| (XMPP: the full address; IRC: the
  // nick) read as a piece: kPiece with |piece|, or a piece of another
  // version, or a malformed one. It is never shown as chat.
  virtual void HeardPiece(PurpleAccount* account, const std::string& sender, PieceKind kind,
                          const Piece& piece) = 0;

  enum class Delivery {
    kTaken,    // the contact's plug-in took the request (an IQ result)
    kRefused,  // nothing there takes it (an IQ error, a CTCP error reply)
    kAbsent,   // the contact is not there, and the client said so itself
  };
  virtual void RequestDelivered(PurpleAccount* account, const std::string& who,
                                Delivery delivery) = 0;
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Sends one frame of |kind| holding |message| to |who|. |answer|: sent
  // in answer to a frame the contact sent (on IRC by NOTICE); otherwise it
  // is sent for a request of the user, and the sink hears what became of
  // it (RequestDelivered). False when the account cannot send it now; then
  // nothing was sent.
  virtual bool Send(PurpleAccount* account, const std::string& who, FrameKind kind,
                    std::string_view message, bool answer) = 0;
  // How long a request waits for an answer on this network before the
  // user is told that none came.
  virtual std::chrono::seconds AnswerLimit() const = 0;
};

// A random id for a new frame.
uint32_t NewFrameId();

// |prpl| is the protocol plug-in whose accounts the transport carries.
std::unique_ptr<Transport> CreateXmppTransport(PurplePlugin* prpl, TransportSink& sink);
std::unique_ptr<Transport> CreateIrcTransport(PurplePlugin* prpl, TransportSink& sink);
std::unique_ptr<Transport> CreateMessageTransport();

}  // namespace zuvo::purple
