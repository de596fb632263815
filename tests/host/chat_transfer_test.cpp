#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <thread>

#include "host/chat/connection.h"
#include "host/chat/transfer.h"
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

TEST(ChatTransferNames, SafeAndFreeNames) {
  struct Case {
    std::u16string offered, stored;
  } safe[] = {
      {u"report.txt", u"report.txt"},
      {u"../../etc/passwd", u"passwd"},
      {u"C:\\Users\\ann\\secret.doc", u"secret.doc"},
      {u"..", u"download"},
      {u"", u"download"},
      {u"dir/", u"download"},
      {u"a\nb\x12:c?.txt", u"a_b__c_.txt"},
      {u"trailing. ", u"trailing"},
      {u".hidden", u"hidden"},
      {u"..bashrc", u"bashrc"},
      {u"invoice\u202Efdp.exe", u"invoice_fdp.exe"},
      {u"a\u0085b\u2028c\u2066d\u200Fe\u009Bf\x7Fg", u"a_b_c_d_e_f_g"},
      {u"AUX.tar.gz", u"_AUX.tar.gz"},
      {u"com1", u"_com1"},
      {u"LPT9 .txt", u"_LPT9 .txt"},
      {u"CONSOLE.txt", u"CONSOLE.txt"},
      {u"COM0", u"COM0"},
  };
  for (const Case& c : safe) {
    SCOPED_TRACE(std::string(c.offered.begin(), c.offered.end()));
    EXPECT_EQ(SafeFileName(c.offered), c.stored);
  }
  const std::u16string longName = std::u16string(300, u'n') + u".txt";
  const std::u16string shortened = SafeFileName(longName);
  EXPECT_LE(shortened.size(), 80u);
  EXPECT_EQ(shortened.substr(shortened.size() - 4), u".txt");

  struct Free {
    std::u16string name;
    unsigned n;
    std::u16string candidate;
  } free[] = {
      {u"a.txt", 0, u"a.txt"},         {u"a.txt", 1, u"a (1).txt"},
      {u"a.txt", 12, u"a (12).txt"},   {u"noext", 2, u"noext (2)"},
      {u".bashrc", 1, u".bashrc (1)"}, {u"a.tar.gz", 1, u"a.tar (1).gz"},
  };
  for (const Free& f : free) EXPECT_EQ(CandidateName(f.name, f.n), f.candidate);
}

Digest DigestOf(const std::string& s) { return Sha256Of(s); }

// The contact plug-in's answer that lets the file at |path| come.
std::u16string AcceptedText(std::u16string_view path) {
  return u"Accepted Request, Sending File " + std::u16string(path) + u"...";
}

TEST(ChatIncomingFile, StoresUnderAFreeNameOnlyAfterVerifying) {
  TempDir dir;
  WriteAll(dir.path() / "a.txt", "old");
  WriteAll(dir.path() / "a (1).txt", "older");
  const std::string data = RandomBytes(200000, 1);
  std::string why;
  {
    auto in = IncomingFile::Open(dir.path(), u"../a.txt", data.size(), DigestOf(data), why);
    ASSERT_TRUE(in) << why;
    ASSERT_TRUE(in->Write(data.substr(0, 1000), why));
    // Mid-transfer nothing new carries a final name.
    EXPECT_EQ(Names(dir.path()).size(), 3u);
    ASSERT_TRUE(in->Write(data.substr(1000), why));
    ASSERT_TRUE(in->Finish(why)) << why;
    EXPECT_EQ(in->finalPath(), dir.path() / "a (2).txt");
  }
  EXPECT_EQ(ReadFileBytes(dir.path() / "a (2).txt"), data);
  EXPECT_EQ(ReadFileBytes(dir.path() / "a.txt"), "old");
  EXPECT_EQ(ReadFileBytes(dir.path() / "a (1).txt"), "older");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"a (1).txt", "a (2).txt", "a.txt"}));
}

TEST(ChatIncomingFile, FailuresLeaveNothingBehind) {
  TempDir dir;
  const std::string data = "0123456789";
  std::string why;
  {
    SCOPED_TRACE("checksum mismatch");
    auto in = IncomingFile::Open(dir.path(), u"b.bin", data.size(), DigestOf("other"), why);
    ASSERT_TRUE(in);
    ASSERT_TRUE(in->Write(data, why));
    EXPECT_FALSE(in->Finish(why));
    EXPECT_EQ(why, "checksum mismatch");
  }
  {
    SCOPED_TRACE("more bytes than offered");
    auto in = IncomingFile::Open(dir.path(), u"b.bin", 4, DigestOf("0123"), why);
    ASSERT_TRUE(in);
    EXPECT_FALSE(in->Write(data, why));
  }
  {
    SCOPED_TRACE("fewer bytes than offered");
    auto in = IncomingFile::Open(dir.path(), u"b.bin", 11, DigestOf(data), why);
    ASSERT_TRUE(in);
    ASSERT_TRUE(in->Write(data, why));
    EXPECT_FALSE(in->Finish(why));
  }
  {
    SCOPED_TRACE("abandoned half way");
    auto in = IncomingFile::Open(dir.path(), u"b.bin", data.size(), DigestOf(data), why);
    ASSERT_TRUE(in->Write(data.substr(0, 5), why));
  }
  EXPECT_TRUE(Names(dir.path()).empty());
}

// Waits for the next event of |type|, collecting the others in |seen|.
Event WaitFor(EventQueue& q, Event::Type type, std::vector<Event>* seen = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    std::optional<Event> e = q.Pop(100ms);
    if (!e) continue;
    if (e->type == type) return *e;
    if (seen) seen->push_back(*e);
  }
  ADD_FAILURE() << "no event of type " << static_cast<int>(type);
  return {};
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
  a.ExpectFile(TextFromPath(share.path() / "big.bin"));
  b.SendText(AcceptedText(TextFromPath(share.path() / "big.bin")));
  // Both are queued before the sender's threads run, so the outcome does not
  // depend on how the machine schedules them: the text, queued after the
  // file, must still go before the file's remaining pieces.
  std::string why;
  ASSERT_NE(b.SendFile(share.path() / "big.bin", why), 0u) << why;
  b.SendText(u"\x12rlist*.*\r\n");
  b.Start();
  std::vector<Event> seen;
  Event done = WaitFor(qa, Event::Type::kIncomingDone, &seen);
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

  Event result = WaitFor(qb, Event::Type::kOutgoingResult);
  EXPECT_TRUE(result.ok);

  // A second offer was not asked for: refused, nothing stored.
  ASSERT_NE(b.SendFile(share.path() / "big.bin", why), 0u);
  Event refused = WaitFor(qa, Event::Type::kIncomingRefused);
  EXPECT_EQ(refused.name, u"big.bin");
  Event stopped = WaitFor(qb, Event::Type::kOutgoingResult);
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(Names(downloadsA.path()), (std::vector<std::string>{"big (1).bin", "big.bin"}));

  b.Close(true);
  Event closed = WaitFor(qa, Event::Type::kClosed);
  EXPECT_TRUE(closed.ok);
  a.Close(false);
}

TEST(ChatConnection, DroppedConnectionMidTransferLeavesNoFile) {
  TempDir downloads;
  auto [raw, sb] = SocketPair();
  EventQueue q;
  Connection receiver(std::move(sb), q, downloads.path());
  receiver.Start();
  receiver.ExpectFile(u"c.dat");
  const std::string data = RandomBytes(300000, 3);
  std::string stream = EncodeText(AcceptedText(u"c.dat"));
  stream += EncodeMessage(OfferMessage(1, data.size(), Sha256Of(data), u"c.dat"));
  stream += EncodeMessage(DataMessage(1, data.substr(0, kChunkSize)));
  ASSERT_TRUE(raw->SendAll(stream.data(), stream.size()));
  WaitFor(q, Event::Type::kIncomingStarted);
  WaitFor(q, Event::Type::kIncomingProgress);
  raw->Shutdown();
  raw.reset();
  Event done = WaitFor(q, Event::Type::kIncomingDone);
  EXPECT_FALSE(done.ok);
  EXPECT_NE(done.why.find("connection ended"), std::string::npos) << done.why;
  Event closed = WaitFor(q, Event::Type::kClosed);
  EXPECT_FALSE(closed.ok);
  EXPECT_TRUE(Names(downloads.path()).empty());
  receiver.Close(false);
}

TEST(ChatConnection, TakesOnlyTheAcceptedFileOnceInTime) {
  TempDir downloads;
  auto [raw, sb] = SocketPair();
  EventQueue q;
  Connection receiver(std::move(sb), q, downloads.path());
  receiver.Start();
  const std::string data = "the notes";
  auto offer = [&](uint32_t id, std::u16string_view name, uint64_t size) {
    return EncodeMessage(OfferMessage(id, size, Sha256Of(data), name));
  };
  auto send = [&](const std::string& bytes) {
    ASSERT_TRUE(raw->SendAll(bytes.data(), bytes.size()));
  };
  auto refused = [&](const char* why) {
    Event e = WaitFor(q, Event::Type::kIncomingRefused);
    EXPECT_NE(e.why.find(why), std::string::npos) << e.why;
  };
  {
    SCOPED_TRACE("another name than the one asked for and accepted");
    receiver.ExpectFile(u"/home/other/notes.txt");
    send(EncodeText(AcceptedText(u"/home/other/notes.txt")) + offer(1, u"invoice.pdf.exe", 9));
    refused("no file of that name");
  }
  {
    SCOPED_TRACE("the request the contact's plug-in refused");
    receiver.ExpectFile(u"/home/other/run-me.sh");
    send(EncodeText(u"That file is not in the shared folder, you do not have access to it") +
         offer(2, u"run-me.sh", 9));
    refused("did not accept");
  }
  {
    SCOPED_TRACE("a size no disk holds, then the accepted file, once");
    send(offer(3, u"notes.txt", ~uint64_t{0}));
    refused("free space");
    receiver.ExpectFile(u"/home/other/notes.txt");
    send(EncodeText(AcceptedText(u"/home/other/notes.txt")) + offer(4, u"notes.txt", 9) +
         EncodeMessage(DataMessage(4, data)) + EncodeMessage(EndMessage(4)) +
         offer(5, u"notes.txt", 9));
    Event done = WaitFor(q, Event::Type::kIncomingDone);
    EXPECT_TRUE(done.ok) << done.why;
    refused("no file of that name");
  }
  {
    SCOPED_TRACE("an offer after the time allowed");
    receiver.SetOfferWait(std::chrono::milliseconds(-1));  // already over
    receiver.ExpectFile(u"late.txt");
    send(EncodeText(AcceptedText(u"late.txt")) + offer(6, u"late.txt", 9));
    refused("no file of that name");
  }
  // Only the one accepted file reached the disk.
  EXPECT_EQ(Names(downloads.path()), std::vector<std::string>{"notes.txt"});
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
    receiver.ExpectFile(u"x");
    const std::string bytes = EncodeText(AcceptedText(u"x")) + c.bytes;
    ASSERT_TRUE(raw->SendAll(bytes.data(), bytes.size()));
    Event closed = WaitFor(q, Event::Type::kClosed);
    EXPECT_FALSE(closed.ok);
    EXPECT_NE(closed.why.find(c.why), std::string::npos) << closed.why;
    receiver.Close(false);
    EXPECT_TRUE(Names(downloads.path()).empty());
  }
}

}  // namespace
}  // namespace zuvo::chat
