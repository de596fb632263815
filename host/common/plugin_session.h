// One plug-in as a host drives it: what every host does for the plug-in,
// once. A host maps its own events (a terminal chat's messages, a chat
// client's signals, a test's script) onto the calls below and carries out
// what they return: texts to send, files to send, things to show. The
// session never calls the host back and knows nothing of the transport: it
// takes and gives UTF-16 texts and plain data. It keeps its state in the
// object and takes the time from its caller; its caller serialises the
// calls.
//
//   Start       Initialize, then the publish operations: the command table
//               (at most kMaxCommands rows).
//   Command     a command the user typed in a conversation: what to send to
//               the contact, and the plug-in's own copy of a request (the
//               add-on hands a notification to both plug-ins; the sender's
//               takes it as its echo, and an answer to it is never sent).
//               A file or folder may be named as the contact's last listing
//               showed it (contact_answers.h); a name that does not tell
//               which, and a search without a keyword, send nothing.
//   Hear        a whole text from a contact: a request, or an answer (shown
//               only when the contact was asked lately, where the host wants
//               that), with the lines that show it. An answer that a file
//               asked for is on its way lets that file in (awaited_files.h).
//   HearNotice  a notice from the contact's host (host_notice.h): what the
//               next answer's paths begin with, or a file it could not send.
//   Admit       the cheap decision on a request, on the host's main loop:
//               who may ask, how often, one listing at a time
//               (request_gate.h), where the host gates requests.
//   Answer      the plug-in's answer to an admitted request: the text for
//               the contact (its "#/dropfile " lines taken out, cut to a
//               number of lines) and the files to send. It touches nothing
//               of the session but the plug-in, so a host may run it apart
//               from the other calls as long as it serialises the calls
//               into the plug-in.
//   Done        the request has been answered (its listing is over).
//   AdmitOffer  a file a contact offers: the one rule of awaited_files.h.
//
// Every call that reaches the plug-in returns what that call raised (its
// toasts and message boxes) with its result.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/plugin_error.h"
#include "core/notify_text.h"
#include "host/common/awaited_files.h"
#include "host/common/contact_answers.h"
#include "host/common/plugin_driver.h"
#include "host/common/request_gate.h"

namespace zuvo {

// One row of the plug-in's command table.
struct CommandInfo {
  std::u16string name;   // "Request File"
  std::u16string value;  // "xrfile"
  std::u16string help;   // "File Path", empty when the row has none
};

// What one call raised.
struct Raised {
  std::vector<ToastSeen> toasts;
  std::vector<MessageBoxSeen> messageBoxes;
};

// The texts the session sends a contact instead of an answer.
inline constexpr std::u16string_view kTooManyRequestsText =
    u"Too many requests, please wait a moment and ask again";
inline constexpr std::u16string_view kBusyText =
    u"Busy with your previous list, please wait for it and ask again";

struct SessionRules {
  // Requests pass the request gate; without it every request is answered.
  bool gateRequests = false;
  RequestGate::Limits gateLimits;
  // Answers are shown only within this time of asking that contact (each
  // answer shown starts it again); zero: always.
  std::chrono::seconds replyWindow{0};
  // An answer that a file is on its way lets the file in only when it came
  // with the file's size and SHA-256, proved by the contact's pinned key
  // (a file offer inside the protection); a plain answer lets nothing in.
  bool fileAnswersNeedProof = false;
};

class PluginSession {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr int32_t kMaxCommands = 100;
  static constexpr std::chrono::minutes kReplyWindow{10};

  explicit PluginSession(PluginDriver& plugin, SessionRules rules = {});

  struct Started {
    enum class Failure { kNone, kInitialize, kPublish };
    Failure failure = Failure::kNone;
    CallStatus status;  // of the call that failed, when it threw
    Raised raised;
  };
  Started Start(const std::u16string& userName);
  const std::u16string& pluginName() const { return pluginName_; }
  const std::vector<CommandInfo>& commands() const { return commands_; }
  // Whether |word| ("/xrlist", any letter case) is a published command.
  bool Publishes(std::u16string_view word) const;

  struct Typed {
    CallStatus status;  // ParseCommand's
    Raised raised;
    std::u16string send;                  // for the contact; empty: nothing to send
    std::optional<Notification> request;  // |send| is this request
    CallStatus echoStatus;                // the plug-in's own copy of it
    bool echoAnswered = false;            // it answered its own request (never sent)
    std::string typed;                    // the command as the user typed it
    // Lines to show: instead of sending, a name that does not tell which
    // file; after /xron and /xrstatus, that sharing is on but shares nothing.
    std::vector<std::u16string> notes;
  };
  // |word| with its "/", |argument| the rest of the line.
  Typed Command(const std::string& contact, const std::u16string& contactName,
                const std::u16string& word, const std::u16string& argument, Clock::time_point now);

  struct Heard {
    enum class Kind {
      kRequest,  // |request|: gate it (Admit), then Answer
      kAnswer,   // show it
      kUnasked,  // an answer nobody asked for lately: not shown
    };
    Kind kind = Kind::kAnswer;
    Notification request;
    std::vector<std::u16string> lines;  // kAnswer: what shows it (may be none)
  };
  // |name|: the contact as the user knows them, for the lines shown.
  // |offer|: the size and SHA-256 of the file the answer offers, when it
  // came in a file offer from the contact's pinned key.
  Heard Hear(const std::string& contact, std::u16string_view text, Clock::time_point now,
             std::u16string_view name = u"contact",
             const std::optional<Announced>& offer = std::nullopt);
  // The lines that show a notice from the contact's host (may be none).
  std::vector<std::u16string> HearNotice(const std::string& contact, std::u16string_view text,
                                         std::u16string_view name);
  // Whether an answer from |contact| is wanted now (asked within the reply
  // window, or no window). A host that judges an answer as its pieces
  // arrive asks at each piece: a wanted answer's piece starts the window
  // again, so an answer stays wanted while it keeps coming.
  bool ExpectsAnswer(const std::string& contact, Clock::time_point now);

  struct Admission {
    RequestGate::Verdict verdict = RequestGate::Verdict::kAnswer;
    // The first request turned away after one that was admitted: the user
    // (and, for the rate and a listing in progress, a known contact) is
    // told once.
    bool first = false;
    std::u16string reply;  // to send the contact instead of an answer, if anything
  };
  // |known|: the contact may be answered (in the buddy list, or the user
  // answers everyone).
  Admission Admit(const std::string& contact, bool known, const Notification& request,
                  Clock::time_point now);

  struct Answered {
    CallStatus status;
    bool result = false;  // false: not a request this plug-in answers
    Raised raised;
    std::u16string text;                // for the contact; empty: no text
    std::vector<std::u16string> files;  // the "#/dropfile " paths, in order
  };
  // |maxLines|: the most lines of text sent (0: all).
  Answered Answer(const Notification& request, const std::u16string& contactName,
                  size_t maxLines) const;
  void Done(const std::string& contact, const Notification& request);

  HostError AdmitOffer(const std::string& contact, std::u16string_view offeredName, uint64_t size,
                       const std::filesystem::path& folder, Clock::time_point now,
                       AwaitedFiles::Awaited* admitted = nullptr);

  // Forgets contacts asked longer ago than the reply window.
  void Expire(Clock::time_point now);

 private:
  Raised TakeRaised() const;
  // The warning when sharing is on but shares nothing (no shared folder, or
  // none that exists); nothing where the plug-in's state cannot be read.
  std::optional<std::string> SharingNothingWarning();

  PluginDriver& plugin_;
  SessionRules rules_;
  std::u16string pluginName_;
  std::vector<CommandInfo> commands_;
  RequestGate gate_;
  AwaitedFiles awaited_;
  ContactAnswers answers_;
  std::map<std::string, Clock::time_point> asked_;  // contacts asked, when last
};

}  // namespace zuvo
