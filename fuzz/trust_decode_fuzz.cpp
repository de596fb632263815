// The protection's decoders against what anyone can send: bytes read as
// handshake messages in each state a handshake waits in, and as a run of
// records of an established session; genuine messages too, whole, with
// bytes changed or cut. Also the two files' parsers. What must hold:
// - a handshake proves a peer only on the genuine message;
// - a record opens only when it is the genuine next record, with its body;
//   after a rejected one the session stays closed;
// - a key file or pin file that parses writes back to what it read.
//
// The input: one byte choosing the scene, then messages, each an op byte
// (low two bits: 0 raw bytes, 1 a genuine message, 2 one with bytes
// changed, 3 one cut short) and its operands (see NextMessage).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/common/trust/identity.h"
#include "host/common/trust/pin_store.h"
#include "host/common/trust/secure_channel.h"

namespace zuvo::fuzz {
namespace {

using trust::Error;
using trust::Handshake;
using trust::RecordKind;
using trust::Session;
using Step = Handshake::Step;

trust::Identity IdentityOf(uint8_t n) {
  std::array<uint8_t, trust::kKeyBytes> seed{};
  seed.fill(n);
  return trust::Identity::FromSeed(seed);
}

// One handshake from the same seeds every time, so its messages are known.
struct Genuine {
  trust::Identity ann = IdentityOf(1), bob = IdentityOf(2);
  std::string hello, reply, finish, finishAlone;
  std::vector<std::string> records;  // bob's to ann, in order

  Genuine() {
    Handshake a(ann, trust::SeededRandom(5)), b(bob, trust::SeededRandom(6));
    hello = a.Start();
    reply = b.Receive(hello).send;
    a.Receive(reply);
    Handshake::Established annDone = a.Accept(RecordKind::kRequest, "rlist *.txt");
    finish = annDone.send;
    finishAlone = finish.substr(0, trust::kFinishBytes);
    b.Receive(finish);
    Handshake::Established bobDone = b.Accept();
    for (const char* body : {"Accepted Request, Offering...", "", "rfile /a"}) {
      records.push_back(bobDone.session.Seal(RecordKind::kReply, body));
    }
  }
};

const Genuine& Known() {
  static const Genuine genuine;
  return genuine;
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  size_t Length() { return Byte() | size_t{Byte()} << 8; }
  std::string Bytes(size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::string out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The next message: raw bytes (length, bytes), or one of |known| (index)
// whole, with edits (count, then position and xor mask each) or cut (length).
std::string NextMessage(Input& in, const std::vector<std::string>& known) {
  const uint8_t op = in.Byte();
  if ((op & 3) == 0 || known.empty()) return in.Bytes(in.Length());
  std::string message = known[in.Byte() % known.size()];
  if ((op & 3) == 2) {
    for (size_t n = in.Byte() % 8; n > 0 && !message.empty(); --n) {
      const size_t at = in.Length() % message.size();
      message[at] = static_cast<char>(message[at] ^ in.Byte());
    }
  } else if ((op & 3) == 3) {
    message.resize(std::min(message.size(), in.Length()));
  }
  return message;
}

// A handshake that has sent HELLO (ann) or REPLY (bob), fed what comes.
void HandshakeScene(Input& in, bool annWaits) {
  const Genuine& g = Known();
  Handshake ann(g.ann, trust::SeededRandom(5)), bob(g.bob, trust::SeededRandom(6));
  ann.Start();
  if (!annWaits) bob.Receive(g.hello);
  Handshake& side = annWaits ? ann : bob;
  const std::vector<std::string> known = {g.reply, g.finish, g.finishAlone, g.hello};
  while (!in.empty()) {
    const std::string message = NextMessage(in, known);
    const Step step = side.Receive(message);
    if (step.kind == Step::kPeer) {
      const bool genuine =
          annWaits ? message == g.reply : message.substr(0, trust::kFinishBytes) == g.finishAlone;
      Check(genuine, "a handshake proved a peer on a message that is not genuine");
      Handshake::Established done = side.Accept();
      if (!annWaits && message.size() > trust::kFinishBytes) {
        Check((done.first.has_value()) == (message == g.finish),
              "the record after FINISH opened though changed, or not though genuine");
        Check(done.session.open() == done.first.has_value(),
              "a rejected first record left the session open");
      }
      return;
    }
    if (step.kind == Step::kFailed) {
      Check(side.Receive(g.hello).kind == Step::kFailed, "a failed handshake took a message");
      return;
    }
  }
}

void RecordScene(Input& in) {
  const Genuine& g = Known();
  Handshake a(g.ann, trust::SeededRandom(5)), b(g.bob, trust::SeededRandom(6));
  a.Receive(b.Receive(a.Start()).send);
  Session session = a.Accept(RecordKind::kRequest, "rlist *.txt").session;
  static const std::vector<std::string> bodies = {"Accepted Request, Offering...", "", "rfile /a"};
  size_t next = 0;
  bool closed = false;
  while (!in.empty()) {
    const std::string message = NextMessage(in, g.records);
    Session::Opened opened;
    const Error error = session.Open(message, opened);
    if (closed) {
      Check(error == Error::kClosed, "a closed session opened a record");
      continue;
    }
    if (error == Error::kNone) {
      Check(next < g.records.size() && message == g.records[next] && opened.body == bodies[next],
            "a record opened that is not the genuine next one");
      ++next;
    } else {
      Check(!session.open(), "a rejected record left the session open");
      closed = true;
    }
  }
}

void FileScene(Input& in) {
  const std::string text = in.Bytes(in.Length());
  std::optional<trust::Identity> identity;
  std::string why;
  if (trust::ParseIdentityFile(text, identity, why)) {
    Check(identity->FileText() == text, "a key file read back differently");
  }
  trust::PinStore::Pins pins, again;
  const trust::PinStore::Limits limits{.maxPins = 8, .maxNameBytes = 16};
  if (trust::PinStore::Parse(text, limits, pins, why)) {
    Check(
        trust::PinStore::Parse(trust::PinStore::Format(pins), limits, again, why) && again == pins,
        "a pin file read back differently");
  }
}

}  // namespace
}  // namespace zuvo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zuvo::fuzz;
  Input in(data, size);
  switch (in.Byte() % 4) {
    case 0:
      HandshakeScene(in, true);
      break;
    case 1:
      HandshakeScene(in, false);
      break;
    case 2:
      RecordScene(in);
      break;
    default:
      FileScene(in);
      break;
  }
  return 0;
}
