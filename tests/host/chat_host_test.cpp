// The chat host's own duties, with a plug-in whose answers the test
// chooses: which "#/dropfile " lines it acts on, and what it never sends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <tuple>

#include "base/text.h"
#include "host/chat/chat_host.h"
#include "host/common/drop_file.h"
#include "host/common/host_notice.h"
#include "host/common/path_text.h"
#include "host/common/settings_key.h"
#include "support/settings_test_support.h"
#include "support/socket_pair.h"

namespace zuvo::chat {
namespace {
using zuvo::testing::WriteFileBytes;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

using zuvo::testing::SocketPair;
using zuvo::testing::TempDir;

// A plug-in that answers every notification with |reply| and every command
// with a file request for its argument.
class ScriptedPlugin : public PXPluginDef {
 public:
  bool Initialize(int32_t, const std::u16string&, HostObject*) override { return true; }
  bool GetPublishInfo(std::u16string& name, int32_t& commands, int32_t& tags) override {
    name = u"Scripted";
    commands = 1;
    tags = 0;
    return true;
  }
  Variant GetPublishCommandInfo(int32_t, std::u16string& name, std::u16string& value,
                                std::u16string& help) override {
    name = u"Request File";
    value = u"xrfile";
    help = u"File Path";
    return {};
  }
  bool ParseCommand(const std::u16string&, const std::u16string& arg, HostObject*,
                    std::u16string& sResult) override {
    sResult = u"\x12rfile" + arg;
    return true;
  }
  bool ReceiveNotify(const std::u16string& code, const std::u16string& text, const std::u16string&,
                     HostObject*, std::u16string& sTextToSend) override {
    if (notified.size() < 100) notified.push_back(code + u"|" + text);
    ++calls;
    sTextToSend = reply;
    return true;
  }
  std::u16string reply;
  std::vector<std::u16string> notified;
  std::atomic<size_t> calls{0};
};

class ScriptedDriver : public PluginDriver {
 public:
  PXPluginDef& plugin() override { return plugin_; }
  void SetFormActions(std::vector<FormAction>) override {}
  std::vector<ToastSeen> TakeToasts() override { return {}; }
  std::vector<MessageBoxSeen> TakeMessageBoxes() override { return {}; }
  std::optional<BetaState> State() override { return std::nullopt; }
  HolderFields ReadHolder() override { return {}; }
  ScriptedPlugin plugin_;
};

class Lines : public ChatOutput {
 public:
  void Line(const std::string& text) override { lines.push_back(text); }
  void Progress(uint32_t, const std::string&, unsigned) override {}
  void ProgressEnd(uint32_t) override {}
  bool EchoTyped() const override { return false; }
  bool Has(const std::string& text) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }
  std::vector<std::string> lines;
};

Event Incoming(const std::u16string& text) { return Event::Arrived(TextMessage(text)); }

// The contact's next event; the contact lets in every file offered.
std::optional<Event> ContactEvent(Connection& contact, EventQueue& q) {
  std::optional<Event> e = q.Pop(10s);
  if (e && e->type == Event::Type::kFileOffered) contact.Decide(e->id, HostError{});
  return e;
}

// What the contact received before a marker text that the host's connection
// sends now, after everything the host queued so far: texts arrive in order.
std::vector<Event> UntilMarker(Connection& host, Connection& contact, EventQueue& q) {
  static unsigned n = 0;
  const std::u16string marker = u"marker " + DecimalText(++n);
  host.SendText(marker);
  std::vector<Event> out;
  while (std::optional<Event> e = ContactEvent(contact, q)) {
    if (e->type == Event::Type::kMessage && e->message.text == marker) return out;
    out.push_back(*e);
  }
  ADD_FAILURE() << "the marker did not arrive";
  return out;
}

// A settings store in |dir| prepared as the host prepares it, sharing
// |share|.
std::unique_ptr<RegistryBackend> StoreSharing(const fs::path& dir, const fs::path& share) {
  std::unique_ptr<RegistryBackend> store = OpenPlatformRegistry((dir / "s.reg").string());
  HostSettings settings;
  settings.sharedFolder = TextFromPath(share);
  PrepareSettings(*store, settings);
  return store;
}

size_t Count(const std::vector<Event>& events, Event::Type type) {
  return std::count_if(events.begin(), events.end(),
                       [&](const Event& e) { return e.type == type; });
}

TEST(ChatHostDropFile, SendsOnlyWhatItsOwnPluginNamedInsideTheShare) {
  TempDir dir;
  const fs::path share = dir.path() / "share";
  WriteFileBytes(share / "ok.txt", "fine");
  WriteFileBytes(dir.path() / "secret.txt", "private");
  WriteFileBytes(dir.path() / "share2" / "next.txt", "a sibling whose name extends the share's");
  fs::create_symlink(dir.path() / "secret.txt", share / "link.txt");
  fs::create_directories(share / "folder");

  std::unique_ptr<RegistryBackend> store = StoreSharing(dir.path(), share);
  EXPECT_EQ(StoredSharedFolder(*store), TextFromPath(share));

  auto [contactSocket, hostSocket] = SocketPair();
  ASSERT_TRUE(contactSocket && hostSocket);
  EventQueue hostEvents, contactEvents;
  fs::create_directories(dir.path() / "contact");
  Connection contact(std::move(contactSocket), contactEvents, dir.path() / "contact");
  Connection connection(std::move(hostSocket), hostEvents, dir.path() / "downloads");
  contact.Start();
  connection.Start();
  ScriptedDriver driver;
  Lines out;
  ChatHost host(driver, *store, connection, hostEvents, out, u"Bob");
  ASSERT_TRUE(host.Start());
  const std::u16string s = TextFromPath(share) + u"/";
  ASSERT_EQ(UntilMarker(connection, contact, contactEvents).size(), 1u);  // the host's hello

  {
    SCOPED_TRACE("a reply whose path smuggles a second command line");
    driver.plugin_.reply = u"Accepted Request, Sending File " + s + u"ok.txt...\n#/dropfile " + s +
                           u"ok.txt\n#/dropfile " + s + u"../secret.txt\n#/dropfile " + s +
                           u"link.txt\n#/dropfile " + s + u"folder\n#/dropfile " +
                           TextFromPath(dir.path()) + u"/share2/next.txt\n#/dropfile " + s +
                           u"missing.txt";
    EXPECT_TRUE(host.Handle(Incoming(u"\x12rfile" + s + u"ok.txt")));
    std::vector<Event> seen;
    auto notices = [&] {
      std::vector<std::u16string> names;
      for (const Event& e : seen) {
        if (e.type != Event::Type::kMessage || e.message.kind != Kind::kNotice) continue;
        const std::optional<HostNotice> n = DecodeNotice(e.message.text);
        names.push_back(n ? n->name : u"(unreadable)");
      }
      return names;
    };
    while (Count(seen, Event::Type::kIncomingDone) < 1 || notices().size() < 5) {
      std::optional<Event> e = ContactEvent(contact, contactEvents);
      if (!e) break;
      seen.push_back(*e);
    }
    // The contact gets the text without the host's command lines, ok.txt,
    // and one notice for each file that was not sent.
    ASSERT_GE(seen.size(), 1u);
    EXPECT_EQ(seen[0].message.text, u"Accepted Request, Sending File " + s + u"ok.txt...");
    EXPECT_EQ(Count(seen, Event::Type::kIncomingStarted), 1u);
    EXPECT_EQ(Count(seen, Event::Type::kIncomingDone), 1u);
    EXPECT_EQ(notices(), (std::vector<std::u16string>{u"secret.txt", u"link.txt", u"folder",
                                                      u"next.txt", u"missing.txt"}));
    for (const Event& e : seen) {
      if (e.type == Event::Type::kIncomingDone && e.ok) {
        EXPECT_EQ(e.name, u"ok.txt");
      }
    }
    std::vector<std::string> stored;
    for (const auto& e : fs::directory_iterator(dir.path() / "contact")) {
      stored.push_back(e.path().filename().string());
    }
    EXPECT_EQ(stored, std::vector<std::string>{"ok.txt"});
    for (const char* refused :
         {"../secret.txt", "link.txt", "folder", "share2/next.txt", "missing.txt"}) {
      EXPECT_TRUE(std::any_of(out.lines.begin(), out.lines.end(), [&](const std::string& l) {
        return l.rfind("Refused to send ", 0) == 0 && l.find(refused) != std::string::npos;
      })) << refused;
    }
  }
  {
    SCOPED_TRACE("a command line in the contact's own text is only shown");
    EXPECT_TRUE(host.Handle(Incoming(u"look:\n#/dropfile " + s + u"ok.txt")));
    const std::vector<Event> seen = UntilMarker(connection, contact, contactEvents);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(out.Has("contact: look:"));
    EXPECT_TRUE(out.Has("         #/dropfile " + share.string() + "/ok.txt"));
  }
  {
    SCOPED_TRACE("the plug-in's answer to its own echoed request is never sent");
    driver.plugin_.notified.clear();
    driver.plugin_.reply = u"Accepted Request, Sending File x...\n#/dropfile " + s + u"ok.txt";
    EXPECT_TRUE(host.Handle(Event::Line(u"/xrfile " + s + u"ok.txt")));
    ASSERT_EQ(driver.plugin_.notified.size(), 1u);  // the echo
    EXPECT_EQ(driver.plugin_.notified[0], u"rfile|" + s + u"ok.txt");
    const std::vector<Event> seen = UntilMarker(connection, contact, contactEvents);
    ASSERT_EQ(seen.size(), 1u);  // only the request itself
    EXPECT_EQ(seen[0].message.text, u"\x12rfile" + s + u"ok.txt");
    EXPECT_TRUE(out.Has("answered its own request; not sent"));
  }
  contact.Close(true);
  connection.Close(false);
}

size_t OpenDescriptors() {
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

// A contact that floods the host with |count| requests while it reads
// nothing; |reply| is the plug-in's answer to each. |whileFlooded| runs once
// the host is held up (by |held|); then the contact reads everything.
void FloodWithoutReading(const fs::path& share, const std::u16string& reply, size_t count,
                         const std::function<bool(Connection&, ScriptedDriver&)>& held,
                         const std::function<void(Connection&)>& whileFlooded) {
  TempDir dir;
  std::unique_ptr<RegistryBackend> store = StoreSharing(dir.path(), share);
  std::unique_ptr<StreamSocket> contact, hostSocket;  // |contact| is used by the threads below
  std::tie(contact, hostSocket) = SocketPair();
  ASSERT_TRUE(contact && hostSocket);
  EventQueue events;
  Connection connection(std::move(hostSocket), events, dir.path());
  connection.Start();
  ScriptedDriver driver;
  driver.plugin_.reply = reply;
  Lines out;
  ChatHost host(driver, *store, connection, events, out, u"Bob");
  ASSERT_TRUE(host.Start());
  std::thread run([&] { host.Run(); });
  std::string requests;
  for (size_t i = 0; i < count; ++i) requests += EncodeText(u"\x12rlist*");
  std::thread peer([&] { contact->SendAll(requests.data(), requests.size()); });
  for (int i = 0; i < 4000 && !held(connection, driver); ++i) std::this_thread::sleep_for(5ms);
  whileFlooded(connection);
  // The contact goes away without reading: its unread data resets the
  // connection, which ends the host's stalled sending.
  contact->Shutdown();
  peer.join();
  contact.reset();
  run.join();
}

TEST(ChatHostFlood, AContactThatDoesNotReadCannotPileUpAnswersOrOpenFiles) {
  TempDir share;
  {
    SCOPED_TRACE("1,000 listings of 64 KiB each, 16 times what may wait unsent");
    const std::u16string reply = u"Accepted Request, Offering..." + std::u16string(32768, u'x');
    FloodWithoutReading(
        share.path(), reply, 1000,
        [](Connection& c, ScriptedDriver&) { return c.outputFull() && c.readerWaited(); },
        [&](Connection& c) {
          EXPECT_LE(c.peakUnsent(), kMaxUnsentBytes + EncodeText(reply).size());
        });
  }
  {
    SCOPED_TRACE("3,000 file requests: the files wait closed for their turn");
    WriteFileBytes(share.path() / "big.bin", std::string(4 << 20, 'b'));
    const std::u16string path = TextFromPath(share.path() / "big.bin");
    const size_t before = OpenDescriptors();
    FloodWithoutReading(
        share.path(), u"Accepted Request, Sending File " + path + u"...\n#/dropfile " + path, 3000,
        [](Connection&, ScriptedDriver& d) { return d.plugin_.calls.load() >= 3000; },
        [&](Connection&) { EXPECT_LE(OpenDescriptors(), before + kMaxOpenOutgoing + 8); });
  }
}

TEST(ChatHostText, ShowsABoundedPartOfAHugeText) {
  TempDir dir;
  std::unique_ptr<RegistryBackend> store = OpenPlatformRegistry((dir.path() / "s.reg").string());
  auto [other, hostSocket] = SocketPair();
  EventQueue events;
  Connection connection(std::move(hostSocket), events, dir.path());
  ScriptedDriver driver;
  Lines out;
  ChatHost host(driver, *store, connection, events, out, u"Bob");
  EXPECT_TRUE(host.Handle(Incoming(u"first\r\n" + std::u16string(4 << 20, u'\n'))));
  ASSERT_EQ(out.lines.size(), kShownLines + 1);
  EXPECT_EQ(out.lines[0], "contact: first");
  EXPECT_EQ(out.lines.back(),
            "         (" + std::to_string((4 << 20) - (kShownLines - 1)) + " more characters in " +
                std::to_string((4 << 20) - (kShownLines - 1) + 1) + " more lines not shown)");
  out.lines.clear();
  EXPECT_TRUE(host.Handle(Incoming(std::u16string(1 << 20, u'y'))));
  ASSERT_EQ(out.lines.size(), 2u);
  EXPECT_EQ(out.lines[0].size(), std::string("contact: ").size() + kShownUnits);
}

TEST(ChatHostDropFile, EmptyOrUnreadableShareSendsNothing) {
  TempDir dir;
  WriteFileBytes(dir.path() / "f.txt", "x");
  const std::u16string file = TextFromPath(dir.path() / "f.txt");
  const std::u16string folder = TextFromPath(dir.path());
  struct Case {
    const char* what;
    std::u16string share;
    std::u16string path;
    HostErrorKind kind;
  } cases[] = {
      {"no shared folder", u"", file, HostErrorKind::kNoSharedFolder},
      {"missing folder", folder + u"/gone", folder + u"/gone/f.txt", HostErrorKind::kNotFound},
      {"a file as the share", file, file, HostErrorKind::kNotFound},
      {"the file's own folder", folder, file, HostErrorKind::kNone},
      {"a trailing separator and a dot", folder + u"/", folder + u"/./f.txt", HostErrorKind::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SharedFile opened;
    EXPECT_EQ(OpenInsideSharedFolder(c.path, c.share, opened).kind, c.kind);
  }
}

}  // namespace
}  // namespace zuvo::chat
