#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <thread>

#include "host/chat/connection.h"
#include "host/common/path_text.h"
#include "support/settings_test_support.h"
#include "support/socket_pair.h"

namespace zuvo::chat {
namespace {
using zuvo::testing::ReadFileBytes;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

using zuvo::testing::SocketPair;
using zuvo::testing::TempDir;

void WriteAll(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Waits for the next event of |type|, collecting the others in |seen|.
// Plays the host's part for the offers on the way: each is let in while
// |admit| (when given) says so, and refused as not asked for otherwise.
Event WaitFor(Connection& c, EventQueue& q, Event::Type type, std::vector<Event>* seen = nullptr,
              const std::function<bool(const Event&)>& admit = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    std::optional<Event> e = q.Pop(100ms);
    if (!e) continue;
    if (e->type == Event::Type::kFileOffered && type != Event::Type::kFileOffered) {
      c.Decide(e->id, admit && admit(*e) ? HostError{} : Failure(HostErrorKind::kNotAsked));
    }
    if (e->type == type) return *e;
    if (seen) seen->push_back(*e);
  }
  ADD_FAILURE() << "no event of type " << static_cast<int>(type);
  return {};
}

// Lets in the first offer only.
std::function<bool(const Event&)> FirstOnly() {
  return [taken = false](const Event&) mutable { return !std::exchange(taken, true); };
}

TEST(ChatConnection, TransfersAFileWhileTextsKeepFlowing) {
  TempDir share, downloadsA, downloadsB;
  const std::string data = RandomBytes(3 * 1024 * 1024 + 17, 2);
  WriteAll(share.path() / "big.bin", data);
  WriteAll(downloadsA.path() / "big.bin", "already here");
  auto [sa, sb] = SocketPair();
  EventQueue qa, qb;
  Connection a(std::move(sa), qa, downloadsA.path());
  Connection b(std::move(sb), qb, downloadsB.path());
  a.Start();
  // Both are queued before the sender's threads run, so the outcome does not
  // depend on how the machine schedules them: the text, queued after the
  // file, must still go before the file's remaining pieces.
  const std::u16string path = TextFromPath(share.path() / "big.bin");
  const std::u16string folder = TextFromPath(share.path());
  HostError error;
  ASSERT_NE(b.SendSharedFile(path, folder, u"big.bin", error), 0u) << Describe(error);
  b.SendText(u"\x12rlist*.*\r\n");
  b.Start();
  std::vector<Event> seen;
  const auto admit = FirstOnly();
  Event done = WaitFor(a, qa, Event::Type::kIncomingDone, &seen, admit);
  ASSERT_TRUE(done.ok) << done.why;
  EXPECT_EQ(done.path, downloadsA.path() / "big (1).bin");
  EXPECT_EQ(ReadFileBytes(done.path), data);
  EXPECT_EQ(ReadFileBytes(downloadsA.path() / "big.bin"), "already here");
  // The text did not wait for the file.
  auto text = std::find_if(seen.begin(), seen.end(), [](const Event& e) {
    return e.type == Event::Type::kMessage && e.message.kind == Kind::kText &&
           e.message.text[0] == u'\x12';
  });
  ASSERT_NE(text, seen.end());
  EXPECT_EQ(text->message.text, u"\x12rlist*.*\r\n");
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(),
                          [](const Event& e) { return e.type == Event::Type::kIncomingProgress; }));

  Event result = WaitFor(b, qb, Event::Type::kOutgoingResult);
  EXPECT_TRUE(result.ok);

  // The host refuses a second offer: nothing stored, the sender told.
  ASSERT_NE(b.SendSharedFile(path, folder, u"big.bin", error), 0u);
  Event refused = WaitFor(a, qa, Event::Type::kIncomingRefused, nullptr, admit);
  EXPECT_EQ(refused.name, u"big.bin");
  EXPECT_EQ(refused.why, Describe(Failure(HostErrorKind::kNotAsked)));
  Event stopped = WaitFor(b, qb, Event::Type::kOutgoingResult);
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(Names(downloadsA.path()), (std::vector<std::string>{"big (1).bin", "big.bin"}));

  b.Close(true);
  Event closed = WaitFor(a, qa, Event::Type::kClosed);
  EXPECT_TRUE(closed.ok);
  a.Close(false);
}

TEST(ChatConnection, DroppedConnectionMidTransferLeavesNoFile) {
  TempDir downloads;
  auto [raw, sb] = SocketPair();
  EventQueue q;
  Connection receiver(std::move(sb), q, downloads.path());
  receiver.Start();
  const std::string data = RandomBytes(300000, 3);
  std::string stream = EncodeMessage(OfferMessage(1, data.size(), Sha256Of(data), u"c.dat"));
  stream += EncodeMessage(DataMessage(1, data.substr(0, kChunkSize)));
  ASSERT_TRUE(raw->SendAll(stream.data(), stream.size()));
  const auto admit = FirstOnly();
  WaitFor(receiver, q, Event::Type::kIncomingStarted, nullptr, admit);
  WaitFor(receiver, q, Event::Type::kIncomingProgress);
  raw->Shutdown();
  raw.reset();
  Event done = WaitFor(receiver, q, Event::Type::kIncomingDone);
  EXPECT_FALSE(done.ok);
  EXPECT_NE(done.why.find("connection ended"), std::string::npos) << done.why;
  Event closed = WaitFor(receiver, q, Event::Type::kClosed);
  EXPECT_FALSE(closed.ok);
  EXPECT_TRUE(Names(downloads.path()).empty());
  receiver.Close(false);
}

TEST(ChatConnection, AnOfferWaitsForTheHostBehindTheTextsBeforeIt) {
  TempDir downloads;
  auto [raw, sb] = SocketPair();
  EventQueue q;
  Connection receiver(std::move(sb), q, downloads.path());
  receiver.Start();
  const std::string data = "the notes";
  const std::string offer = EncodeMessage(OfferMessage(1, data.size(), Sha256Of(data), u"n.txt"));
  const std::string stream = EncodeText(u"the answer") + offer +
                             EncodeMessage(DataMessage(1, data)) + EncodeMessage(EndMessage(1)) +
                             EncodeText(u"after");
  ASSERT_TRUE(raw->SendAll(stream.data(), stream.size()));
  // The text first, then the offer; nothing is read past it, and nothing
  // written, while the host has not decided.
  std::optional<Event> text = q.Pop(10s);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->message.text, u"the answer");
  std::optional<Event> offered = q.Pop(10s);
  ASSERT_TRUE(offered);
  ASSERT_EQ(offered->type, Event::Type::kFileOffered);
  EXPECT_EQ(offered->name, u"n.txt");
  EXPECT_EQ(offered->total, data.size());
  EXPECT_FALSE(q.Pop(200ms));
  EXPECT_TRUE(Names(downloads.path()).empty());

  receiver.Decide(offered->id + 1, HostError{});  // not the offer waiting: no effect
  EXPECT_FALSE(q.Pop(100ms));
  receiver.Decide(offered->id, HostError{});
  Event done = WaitFor(receiver, q, Event::Type::kIncomingDone);
  EXPECT_TRUE(done.ok) << done.why;
  EXPECT_EQ(Names(downloads.path()), std::vector<std::string>{"n.txt"});
  EXPECT_EQ(WaitFor(receiver, q, Event::Type::kMessage).message.text, u"after");

  // Refused: the sender is told why, nothing is written.
  const std::string again = EncodeMessage(OfferMessage(2, 1, Sha256Of("x"), u"big.iso"));
  ASSERT_TRUE(raw->SendAll(again.data(), again.size()));
  ASSERT_EQ(WaitFor(receiver, q, Event::Type::kFileOffered).id, 2u);
  receiver.Decide(2, Failure(HostErrorKind::kNoRoom));
  Event refused = WaitFor(receiver, q, Event::Type::kIncomingRefused);
  EXPECT_EQ(refused.why, Describe(Failure(HostErrorKind::kNoRoom)));
  EXPECT_EQ(Names(downloads.path()), std::vector<std::string>{"n.txt"});
  receiver.Close(false);
}

TEST(ChatConnection, ABusyHostTakesNoMoreThanItsQueueHolds) {
  struct Phase {
    const char* what;
    size_t count;
    size_t units;
  } phases[] = {
      {"large texts, ten times what the queue holds", 40, 1u << 20},
      {"tiny requests", 100000, 4},
  };
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.what);
    TempDir downloads;
    auto [raw, sb] = SocketPair();
    EventQueue q;
    Connection receiver(std::move(sb), q, downloads.path());
    receiver.Start();
    Event one;
    one.type = Event::Type::kMessage;
    one.message = TextMessage(u"\x12rsrch" + std::u16string(phase.units, u'a'));
    std::string batch;
    const size_t perBatch = phase.count >= 1000 ? 1000 : 1;
    for (size_t i = 0; i < perBatch; ++i) batch += EncodeText(one.message.text);
    std::thread peer([&, sock = raw.get()] {
      for (size_t sent = 0; sent < phase.count; sent += perBatch) {
        if (!sock->SendAll(batch.data(), batch.size())) return;
      }
    });
    // The host is busy until the connection has had to stop reading.
    for (int i = 0; i < 2000 && !receiver.readerWaited(); ++i) std::this_thread::sleep_for(5ms);
    const size_t bound = kMaxQueuedBytes + EventQueue::Cost(one);
    EXPECT_LE(q.peakBytes(), bound);
    // Then it catches up: every text arrives, none is lost.
    size_t texts = 0;
    while (texts < phase.count) {
      std::optional<Event> e = q.Pop(10s);
      if (!e) break;
      texts += e->type == Event::Type::kMessage;
    }
    EXPECT_EQ(texts, phase.count);
    peer.join();
    EXPECT_LE(q.peakBytes(), bound);
    receiver.Close(false);
  }
}

TEST(ChatConnection, HostilePeerIsCutOffWithoutHarm) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* why;
  } cases[] = {
      {"bad length", std::string("\x7f\xff\xff\xff", 4), "protocol error"},
      {"unknown kind", EncodeFrame(static_cast<Kind>(77), "x"), "unknown message kind"},
      {"second offer for one id",
       EncodeMessage(OfferMessage(5, 3, Sha256Of("abc"), u"x")) +
           EncodeMessage(OfferMessage(5, 3, Sha256Of("abc"), u"x")),
       "second offer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir downloads;
    auto [raw, sb] = SocketPair();
    EventQueue q;
    Connection receiver(std::move(sb), q, downloads.path());
    receiver.Start();
    ASSERT_TRUE(raw->SendAll(c.bytes.data(), c.bytes.size()));
    Event closed = WaitFor(receiver, q, Event::Type::kClosed, nullptr, FirstOnly());
    EXPECT_FALSE(closed.ok);
    EXPECT_NE(closed.why.find(c.why), std::string::npos) << closed.why;
    receiver.Close(false);
    EXPECT_TRUE(Names(downloads.path()).empty());
  }
}

}  // namespace
}  // namespace zuvo::chat
