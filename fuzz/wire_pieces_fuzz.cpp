// The piece decoder against any message a network delivers, and the piece
// encoder against any message. What must hold: a message read as a piece
// has exactly one text form, the one it came in (blanks around it aside),
// and a payload that encodes back to itself; every message, cut at any
// piece size, gives pieces no longer than that size (or the shortest a
// piece can be), of safe characters only, that read back to its bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

#include "fuzz/fuzz_support.h"
#include "purple/wire.h"

namespace {

using namespace zuvo::purple;
using zuvo::fuzz::Check;

bool Safe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=' || c == ' ';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool decode = in.ConsumeBool();
  if (decode) {
    const std::string message = in.ConsumeRemainingBytesAsString();
    Piece piece;
    if (ParsePiece(message, piece) != PieceKind::kPiece) return 0;
    const size_t first = message.find_first_not_of(" \t\r\n");
    const std::string trimmed =
        message.substr(first, message.find_last_not_of(" \t\r\n") + 1 - first);
    Check(PieceText(piece) == trimmed, "a piece does not have the text form it came in");
    std::string bytes;
    Check(DecodePayload(piece.payload, bytes), "a parsed payload does not decode");
    Check(EncodePayload(bytes) == piece.payload, "a payload does not encode back to itself");
    Check(piece.index < piece.count && piece.count <= kMaxPieceCount, "a piece out of place");
    return 0;
  }

  const FrameKind kind = static_cast<FrameKind>(in.ConsumeIntegralInRange(1, 5));
  const size_t pieceBytes = in.ConsumeIntegralInRange<size_t>(0, 1000);
  const uint32_t id = in.ConsumeIntegral<uint32_t>();
  const std::string message = in.ConsumeRemainingBytesAsString();
  const std::vector<std::string> texts = EncodePieceTexts(kind, message, id, pieceBytes);
  Check(!texts.empty(), "a message within its cap gives no pieces");
  std::string bytes;
  uint8_t flags = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string& text = texts[i];
    Check(text.size() <= std::max<size_t>(pieceBytes, 42), "a piece is too long");
    Check(std::all_of(text.begin(), text.end(), Safe), "a piece has an unsafe character");
    Piece piece;
    Check(ParsePiece(text, piece) == PieceKind::kPiece, "an encoded piece does not parse");
    Check(piece.id == id && piece.index == i && piece.count == texts.size() && piece.kind == kind,
          "an encoded piece has the wrong header");
    flags = piece.flags;
    std::string part;
    Check(DecodePayload(piece.payload, part), "an encoded payload does not decode");
    bytes += part;
  }
  std::string back;
  if (flags & kFlagDeflated) {
    Check(bytes.size() < message.size(), "a message was deflated that did not shrink");
    Check(Inflate(bytes, message.size(), back), "a deflated message does not inflate");
  } else {
    back = bytes;
  }
  Check(back == message, "a message does not come back");
  return 0;
}
