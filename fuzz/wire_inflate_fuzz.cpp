// Inflating what a contact sends. The input is a cap and a zlib stream, or
// (to reach deep into the inflater) a cap, a message, and where to change
// the message's deflated form. What must hold: the output never passes the
// cap; whatever inflates, deflated again, inflates to the same bytes; a
// stream that is left as deflated inflates to its message when the cap
// allows it, and fails when it does not.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/fuzz_support.h"
#include "purple/wire.h"

namespace {

using namespace zuvo::purple;
using zuvo::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const size_t cap = in.ConsumeIntegralInRange<size_t>(0, 256u << 10);
  std::string stream;
  std::string message;
  bool changed = true;
  if (in.ConsumeBool()) {
    // A message made long by repeating the input's bytes, deflated.
    const size_t repeat = in.ConsumeIntegralInRange<size_t>(1, 4096);
    const size_t at = in.ConsumeIntegral<size_t>();
    const uint8_t flip = in.ConsumeIntegral<uint8_t>();
    const std::string unit = in.ConsumeRemainingBytesAsString();
    // Up to twice the largest cap, so that each run stays quick.
    for (size_t i = 0; i < repeat && message.size() + unit.size() <= 512u << 10; ++i) {
      message += unit;
    }
    stream = Deflate(message);
    changed = flip != 0 && !stream.empty();
    if (changed) stream[at % stream.size()] ^= static_cast<char>(flip);
  } else {
    stream = in.ConsumeRemainingBytesAsString();
  }
  std::string out;
  const bool ok = Inflate(stream, cap, out);
  Check(out.size() <= cap, "inflated past the cap");
  if (!changed) {
    Check(ok == (message.size() <= cap), "a sound stream does not inflate as its cap allows");
    Check(!ok || out == message, "a sound stream inflates to something else");
  }
  if (ok) {
    std::string again;
    Check(Inflate(Deflate(out), cap, again) && again == out, "inflated bytes do not round-trip");
  } else {
    Check(out.empty(), "a failed inflate left output behind");
  }
  return 0;
}
