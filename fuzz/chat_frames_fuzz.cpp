// The one input of the chat a contact controls: the byte stream of frames.
// The input is cut into pieces of sizes it picks and fed to the frame
// decoder; every frame goes through the message decoder, and every message
// it accepts is encoded again and must decode to the same message.
//
// Whatever arrives, the decoder holds no more than one frame of the largest
// size beyond what was fed last, hands out the same frames however the
// stream is cut, never returns a frame once it has found the stream bad, and
// a decoded message is never larger than the frame it came from.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/chat/protocol.h"

namespace zuvo::chat {
namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "\n*** invariant broken: %s\n", what);
    std::abort();
  }
}

size_t MessageBytes(const Message& m) { return m.text.size() * 2 + m.data.size(); }

bool SameMessage(const Message& a, const Message& b) {
  return a.kind == b.kind && a.id == b.id && a.size == b.size && a.sha256 == b.sha256 &&
         a.ok == b.ok && a.version == b.version && a.text == b.text && a.data == b.data;
}

struct Seen {
  std::vector<std::string> frames;  // kind byte + body
  bool bad = false;
};

// Feeds |stream| in the pieces |cuts| gives and decodes what comes out.
Seen Decode(const std::string& stream, const std::vector<size_t>& cuts) {
  Seen seen;
  FrameDecoder decoder;
  size_t at = 0, cut = 0;
  while (at < stream.size()) {
    const size_t piece =
        cut < cuts.size() ? std::min(cuts[cut++], stream.size() - at) : stream.size() - at;
    decoder.Feed(stream.data() + at, piece);
    at += piece;
    Check(decoder.pending() <= piece + 4 + kMaxFrameLength, "the decoder holds more than a frame");
    Frame frame;
    for (;;) {
      const FrameDecoder::Status status = decoder.Next(frame);
      if (status == FrameDecoder::Status::kNeedMore) break;
      if (status == FrameDecoder::Status::kBad) {
        seen.bad = true;
        Check(decoder.Next(frame) == FrameDecoder::Status::kBad, "a bad stream recovered");
        return seen;
      }
      Check(frame.body.size() < kMaxFrameLength, "a frame beyond the largest length");
      seen.frames.push_back(static_cast<char>(frame.kind) + frame.body);
      Message message;
      std::string why;
      if (!DecodeMessage(frame, message, why)) {
        Check(!why.empty(), "a refused message without a reason");
        continue;
      }
      Check(MessageBytes(message) <= frame.body.size(), "a message larger than its frame");
      Frame again;
      FrameDecoder redecoder;
      const std::string encoded = EncodeMessage(message);
      redecoder.Feed(encoded.data(), encoded.size());
      Check(redecoder.Next(again) == FrameDecoder::Status::kFrame, "an encoded message");
      Message back;
      Check(DecodeMessage(again, back, why) && SameMessage(message, back),
            "a message that does not survive encoding");
    }
  }
  return seen;
}

}  // namespace
}  // namespace zuvo::chat

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zuvo::chat;
  FuzzedDataProvider in(data, size);
  std::vector<size_t> cuts;
  const size_t count = in.ConsumeIntegralInRange<size_t>(0, 16);
  for (size_t i = 0; i < count; ++i) cuts.push_back(in.ConsumeIntegralInRange<size_t>(1, 64));
  const std::string stream = in.ConsumeRemainingBytesAsString();
  const Seen whole = Decode(stream, {});
  const Seen pieces = Decode(stream, cuts);
  Check(whole.frames == pieces.frames && whole.bad == pieces.bad,
        "the frames depend on how the stream is cut");
  return 0;
}
