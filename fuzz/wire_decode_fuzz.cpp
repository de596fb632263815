// The reassembler against what contacts and a server can send: a run of
// messages from a few senders, each read as a piece and judged as the input
// says (unwanted, stranger, buddy, expected reply), fed to one reassembler
// with small allowances while the clock moves on. Some messages are pieces
// of a well-formed frame, whole or out of order, so that frames complete.
// What must hold: no class ever holds more than its total; a completed
// message is never over its kind's cap nor its class's; a message that
// completes is the sender's message whenever it completes from one sender's
// well-formed frame alone; and once every time limit has passed nothing is
// held.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "purple/wire_reassembly.h"

namespace {

using namespace zuvo::purple;
using zuvo::fuzz::Check;
using Clock = Reassembler::Clock;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Reassembler::Limits limits;
  limits.stranger = {64, 1024, 1, 2048, std::chrono::seconds(10)};
  limits.buddy = {kMaxRequestBytes, 4096, 2, 8192, std::chrono::seconds(30)};
  limits.reply = {kMaxRecordBytes, 16384, 2, 24576, std::chrono::seconds(30)};
  const Reassembler::Allowance* allowances[] = {nullptr, &limits.stranger, &limits.buddy,
                                                &limits.reply};
  Reassembler r(limits);
  Clock::time_point now{};

  // One well-formed frame whose pieces the run may use.
  const FrameKind kind = static_cast<FrameKind>(in.ConsumeIntegralInRange(1, 5));
  std::string message = in.ConsumeRandomLengthString(1024);
  if (kind != FrameKind::kHandshake && kind != FrameKind::kRecord && message.size() % 2) {
    message.pop_back();
  }
  const EncodedFrame frame =
      EncodeFrame(kind, message, 7, in.ConsumeIntegralInRange<size_t>(4, 600));
  std::vector<std::string> texts;
  for (size_t i = 0; i < frame.payloads.size(); ++i) texts.push_back(PieceText(frame.piece(i)));

  while (in.remaining_bytes() > 0) {
    const std::string sender(1, static_cast<char>('a' + in.ConsumeIntegralInRange(0, 3)));
    const auto judged = static_cast<SenderClass>(in.ConsumeIntegralInRange(0, 3));
    now += std::chrono::seconds(in.ConsumeIntegralInRange(0, 20));
    const std::string text = in.ConsumeBool()
                                 ? texts[in.ConsumeIntegralInRange<size_t>(0, texts.size() - 1)]
                                 : in.ConsumeRandomLengthString(512);
    Piece piece;
    if (ParsePiece(text, piece) != PieceKind::kPiece) continue;
    const Reassembler::Result result = r.Add(sender, piece, judged, now);
    for (int c = 1; c <= 3; ++c) {
      const auto sc = static_cast<SenderClass>(c);
      Check(r.bufferedBytes(sc) <= allowances[c]->totalBytes, "a class holds over its total");
    }
    if (result.kind == Reassembler::Result::Kind::kComplete) {
      const size_t c = static_cast<size_t>(result.sender);
      Check(c != 0, "an unwanted sender's frame completed");
      Check(result.message.size() <= MaxMessageBytes(result.frameKind) &&
                result.message.size() <= allowances[c]->maxMessageBytes,
            "a message over its cap");
    }
    r.Expire(now);
  }
  r.Expire(now + std::chrono::seconds(31));
  Check(r.bufferedBytes() == 0 && r.framesInProgress() == 0, "something held past every limit");

  // The frame alone, its pieces in the order the input gives, from a sender
  // judged as its kind asks, comes back exactly.
  Reassembler whole;
  const SenderClass judged = ClassifySender(kind, true, true);
  Reassembler::Result last;
  for (size_t i = frame.payloads.size(); i-- > 0;)
    last = whole.Add("a", frame.piece(i), judged, now);
  Check(last.kind == Reassembler::Result::Kind::kComplete && last.message == message,
        "a message does not come back");
  return 0;
}
