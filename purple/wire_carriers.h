// How each network carries a piece of the wire form (wire.h). The rules:
//
// XMPP: a piece is an element of the plug-in's own namespace, never a
// message body:
//
//   <piece xmlns="urn:zuvo:file-sharing:2" id="0123abcd" index="0" count="3"
//          kind="2" flags="1">BASE64</piece>
//
//   The attributes are the fields of the text form, written the same way
//   (8 lower-case hex digits; decimal without leading zeros); the element's
//   text is the payload, left empty when the piece has none. The number at
//   the end of the namespace is the version of the form: an element of a
//   later version is recognised and not read. The element rides in an IQ
//   of type "set" to the contact's full address, answered with an empty
//   IQ result once taken (or an error where no plug-in takes it), or,
//   where no full address is known, in a message without a body, marked
//   not to be stored or copied (XEP-0334 hints, XEP-0280 "private").
//
// IRC: a piece is a CTCP message whose body is the piece's text form,
// "\x01ZFS2 <id> <index>/<count> <kind> <flags> <payload>\x01". A frame
// that starts an exchange (a request) goes by PRIVMSG; every frame sent
// in answer to one (a reply) by NOTICE, which nothing answers, so two
// plug-ins never loop. Pieces (kIrcPieceBytes) leave room for the prefix a
// server puts before the line it relays within IRC's 512 bytes.
//
// Other networks: the text form as an ordinary message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "purple/wire.h"

namespace zuvo::purple {

// XMPP.
inline constexpr char kXmppNamespacePrefix[] = "urn:zuvo:file-sharing:";
inline constexpr char kXmppNamespace[] = "urn:zuvo:file-sharing:2";
inline constexpr char kXmppPieceElement[] = "piece";

// A piece element's namespace, attributes and text as received; an
// attribute that is missing is null.
struct PieceFields {
  std::string_view ns;
  const char* id = nullptr;
  const char* index = nullptr;
  const char* count = nullptr;
  const char* kind = nullptr;
  const char* flags = nullptr;
  std::string_view payload;
};
// Reads a piece element by the rules of the text form. |storage| holds
// what |piece| refers to. kNotWire: not the plug-in's namespace.
PieceKind ReadPieceFields(const PieceFields& fields, std::string& storage, Piece& piece);
// The attribute values of |piece|, in the order id, index, count, kind,
// flags.
std::vector<std::string> PieceAttributes(const Piece& piece);

// IRC.
inline constexpr char kCtcpDelimiter = '\x01';

// One line a server sends, as RFC 1459 has it (tags, when a server sends
// them, skipped): the prefix's nick, the command and its parameters, the
// last of them the trailing one.
struct IrcLine {
  std::string_view nick;
  std::string_view command;
  std::vector<std::string_view> params;
};
bool ParseIrcLine(std::string_view line, IrcLine& out);
// A message target that is a channel rather than a nick.
bool IsIrcChannel(std::string_view target);
// The body of a CTCP message ("\x01BODY\x01", the closing delimiter
// optional), or nothing when |text| is not one.
std::optional<std::string_view> CtcpBody(std::string_view text);
// The line that sends |body| as CTCP to |target|, CR LF ended.
std::string CtcpLine(bool notice, std::string_view target, std::string_view body);

}  // namespace zuvo::purple
