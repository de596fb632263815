// The carriers' decoders (wire_carriers.h) against anything a network
// delivers: an XMPP piece element's namespace, attributes and text, and an
// IRC line read for a CTCP piece. What must hold: an element read as a
// piece gives back exactly its attributes and text; a line parses into
// parameters that are views of it, and the CTCP body of a piece sent by
// CtcpLine is the piece's text.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/fuzz_support.h"
#include "purple/wire_carriers.h"

namespace {

using namespace zuvo::purple;
using zuvo::fuzz::Check;

bool Within(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    // An element: the namespace, five attributes (each maybe missing), text.
    const std::string ns = in.ConsumeBool() ? kXmppNamespace : in.ConsumeRandomLengthString(40);
    std::string values[5];
    bool present[5];
    for (int i = 0; i < 5; ++i) {
      present[i] = in.ConsumeProbability<float>() < 0.9f;
      // An attribute is a C string.
      values[i] = in.ConsumeRandomLengthString(12).c_str();
    }
    const std::string payload = in.ConsumeRemainingBytesAsString();
    PieceFields fields;
    fields.ns = ns;
    const char** slots[] = {&fields.id, &fields.index, &fields.count, &fields.kind, &fields.flags};
    for (int i = 0; i < 5; ++i) *slots[i] = present[i] ? values[i].c_str() : nullptr;
    fields.payload = payload;
    std::string storage;
    Piece piece;
    if (ReadPieceFields(fields, storage, piece) != PieceKind::kPiece) return 0;
    const std::vector<std::string> attributes = PieceAttributes(piece);
    for (int i = 0; i < 5; ++i) {
      Check(present[i] && attributes[i] == values[i], "an element's attribute does not come back");
    }
    Check(piece.payload == payload, "an element's text does not come back");
    Check(piece.index < piece.count, "a piece out of place");
    return 0;
  }

  const bool notice = in.ConsumeBool();
  const std::string raw = in.ConsumeRemainingBytesAsString();
  IrcLine line;
  if (ParseIrcLine(raw, line)) {
    Check(!line.command.empty() && Within(line.command, raw) && Within(line.nick, raw),
          "a parsed line has parts that are not its own");
    for (std::string_view param : line.params) {
      Check(Within(param, raw), "a parameter that is not part of its line");
    }
    if (line.params.size() == 2) {
      if (std::optional<std::string_view> body = CtcpBody(line.params[1])) {
        Check(Within(*body, raw), "a CTCP body that is not part of its line");
      }
    }
  }
  // What is sent reads back, for any piece text without line breaks or
  // delimiters (the text form has none).
  if (raw.find_first_of("\r\n\x01") == std::string::npos) {
    const std::string relayed = ":ann!a@b " + CtcpLine(notice, "bob", raw);
    IrcLine sent;
    Check(ParseIrcLine(relayed, sent) && sent.params.size() == 2 && CtcpBody(sent.params[1]) == raw,
          "a CTCP line does not read back");
  }
  return 0;
}
