// The wire decoder against what a contact can send: a run of messages from
// a few senders, each read as a piece and fed to one reassembler with small
// limits, while the clock moves on. What must hold: the buffered bytes never
// pass the limit; a text that completes is a text that round-trips (its
// own encoding decodes to it again); and any text, encoded at the input's
// piece size, comes back exactly.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_support.h"
#include "purple/wire.h"

namespace zuvo::fuzz {
namespace {

using purple::Piece;
using purple::PieceKind;
using purple::Reassembler;

}  // namespace
}  // namespace zuvo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zuvo;
  using namespace zuvo::fuzz;
  FuzzedDataProvider in(data, size);

  Reassembler::Limits limits;
  limits.maxTextBytes = 2048;
  limits.maxTextsPerSender = 2;
  limits.maxTotalBytes = 4096;
  limits.timeout = std::chrono::seconds(30);
  Reassembler r(limits);
  Reassembler::Clock::time_point now{};

  // A few well-formed texts too, so the interesting states are reached.
  const std::u16string text = [&] {
    const std::string bytes = in.ConsumeRandomLengthString(256);
    std::u16string t;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      t.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                        static_cast<uint8_t>(bytes[i + 1]) << 8));
    }
    return t;
  }();
  const size_t pieceBytes = in.ConsumeIntegralInRange<size_t>(0, 600);
  const std::vector<std::string> pieces = purple::EncodeText(text, 7, pieceBytes);
  {
    Reassembler whole;
    Reassembler::Result last;
    for (const std::string& p : pieces) {
      Check(p.size() <= std::max(pieceBytes, purple::kMaxHeaderBytes + 5), "piece too long");
      Piece piece;
      Check(purple::ParsePiece(p, piece) == PieceKind::kPiece, "an encoded piece does not parse");
      last = whole.Add("a", piece, now);
    }
    Check(last.kind == Reassembler::Result::Kind::kComplete && last.text == text,
          "a text does not come back", last.text, text);
  }

  while (in.remaining_bytes() > 0) {
    const std::string sender(1, static_cast<char>('a' + in.ConsumeIntegralInRange(0, 3)));
    now += std::chrono::seconds(in.ConsumeIntegralInRange(0, 20));
    std::string message;
    if (in.ConsumeBool() && !pieces.empty()) {
      message = pieces[in.ConsumeIntegralInRange<size_t>(0, pieces.size() - 1)];
    } else {
      message = in.ConsumeRandomLengthString(512);
    }
    Piece piece;
    if (purple::ParsePiece(message, piece) != PieceKind::kPiece) continue;
    const Reassembler::Result result = r.Add(sender, piece, now);
    Check(r.bufferedBytes() <= limits.maxTotalBytes, "buffered bytes over the limit");
    if (result.kind == Reassembler::Result::Kind::kComplete) {
      std::u16string again;
      Check(purple::UnescapeText(purple::EscapeText(result.text), again) && again == result.text,
            "a decoded text does not round-trip", again, result.text);
    }
    r.Expire(now);
  }
  return 0;
}
