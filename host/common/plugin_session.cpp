#include "host/common/plugin_session.h"

#include <algorithm>

#include "base/text.h"
#include "host/common/drop_file.h"
#include "host/common/reply_limit.h"
#include "host/common/session_words.h"
#include "host/common/settings_report.h"

namespace zuvo {
namespace {

void Append(Raised& to, Raised more) {
  to.toasts.insert(to.toasts.end(), std::make_move_iterator(more.toasts.begin()),
                   std::make_move_iterator(more.toasts.end()));
  to.messageBoxes.insert(to.messageBoxes.end(), std::make_move_iterator(more.messageBoxes.begin()),
                         std::make_move_iterator(more.messageBoxes.end()));
}

bool IsListingRequest(const Notification& request) {
  const std::optional<RequestCode> code = FindRequestCode(request.code);
  return code && IsListing(*code);
}

}  // namespace

PluginSession::PluginSession(PluginDriver& plugin, SessionRules rules)
    : plugin_(plugin), rules_(rules), gate_(rules.gateLimits) {}

Raised PluginSession::TakeRaised() const {
  return {plugin_.TakeToasts(), plugin_.TakeMessageBoxes()};
}

PluginSession::Started PluginSession::Start(const std::u16string& userName) {
  PXPluginDef& p = plugin_.plugin();
  Started started;
  bool ok = false;
  started.status = CallContract([&] { return p.Initialize(1, userName, nullptr); }, ok);
  started.raised = TakeRaised();
  if (started.status.failed() || !ok) {
    started.failure = Started::Failure::kInitialize;
    return started;
  }
  int32_t count = 0, tags = 0;
  started.status = CallContract([&] { return p.GetPublishInfo(pluginName_, count, tags); }, ok);
  if (started.status.failed() || !ok) {
    started.failure = Started::Failure::kPublish;
    return started;
  }
  commands_.clear();
  for (int32_t i = 1; i <= count && i <= kMaxCommands; ++i) {
    CommandInfo c;
    Variant v;
    const CallStatus row =
        CallContract([&] { return p.GetPublishCommandInfo(i, c.name, c.value, c.help); }, v);
    if (!row.failed() && !c.value.empty()) commands_.push_back(std::move(c));
  }
  Append(started.raised, TakeRaised());
  return started;
}

bool PluginSession::Publishes(std::u16string_view word) const {
  return std::any_of(commands_.begin(), commands_.end(), [&](const CommandInfo& c) {
    return word.starts_with(u'/') && EqualsIgnoreCase(word.substr(1), c.value);
  });
}

PluginSession::Typed PluginSession::Command(const std::string& contact,
                                            const std::u16string& contactName,
                                            const std::u16string& word,
                                            const std::u16string& argument, Clock::time_point now) {
  Typed typed;
  typed.typed = Utf16ToUtf8(word);
  if (!argument.empty()) typed.typed.append(" ").append(Utf16ToUtf8(argument));
  for (char& ch : typed.typed) {
    if (ch == ' ') break;
    if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
  }
  // A file or folder named as the last listing showed it goes out as the
  // path the contact's plug-in expects.
  const std::optional<RequestCode> asking = RequestOfWord(word);
  std::u16string sent = argument;
  if (asking == RequestCode::kFile || asking == RequestCode::kFolder) {
    ContactAnswers::Resolved r = answers_.Resolve(contact, contactName, *asking, argument);
    if (!r.send) {
      typed.notes.push_back(std::move(r.line));
      return typed;
    }
    sent = std::move(r.argument);
  }
  bool result = false;
  typed.status = CallContract(
      [&] { return plugin_.plugin().ParseCommand(word, sent, nullptr, typed.send); }, result);
  typed.raised = TakeRaised();
  if (typed.status.failed() || !result) {
    typed.send.clear();
    return typed;
  }
  typed.request = ParseNotification(typed.send);
  if (EqualsIgnoreCase(word, u"/xron") || EqualsIgnoreCase(word, u"/xrstatus")) {
    if (std::optional<std::string> warning = SharingNothingWarning()) {
      typed.notes.push_back(Utf8ToUtf16(*warning));
    }
  }
  if (!typed.request) {
    // A request command whose placeholder was left unfilled sends nothing,
    // yet the plug-in now waits for its echo and would take the contact's
    // next request for it, unanswered: it gets its echo here.
    if (asking && typed.send.empty()) {
      std::u16string ignored;
      typed.echoStatus = CallContract(
          [&] {
            return plugin_.plugin().ReceiveNotify(std::u16string(RequestCodeText(*asking)), sent,
                                                  contactName, nullptr, ignored);
          },
          result);
      Append(typed.raised, TakeRaised());
    }
    return typed;
  }

  // A search for no keyword: the plug-in has said so (its message box);
  // the request it still makes is not sent, though its echo is taken.
  const std::optional<RequestCode> code = FindRequestCode(typed.request->code);
  const bool heldBack = code == RequestCode::kSearch && typed.request->argument.empty();
  if (!heldBack) {
    asked_[contact] = now;
    answers_.Asked(contact, *typed.request);
    if (code == RequestCode::kFile) awaited_.Expect(contact, typed.request->argument, now);
  }
  std::u16string echoReply;
  typed.echoStatus = CallContract(
      [&] {
        return plugin_.plugin().ReceiveNotify(typed.request->code, typed.request->argument,
                                              contactName, nullptr, echoReply);
      },
      result);
  typed.echoAnswered = !typed.echoStatus.failed() && !echoReply.empty();
  Append(typed.raised, TakeRaised());
  if (heldBack) {
    typed.send.clear();
    typed.request.reset();
  }
  return typed;
}

std::optional<std::string> PluginSession::SharingNothingWarning() {
  const std::optional<BetaState> state = plugin_.State();
  if (!state || state->sSharingOn != u"1") return std::nullopt;
  SharingSettings settings;
  settings.folder = Utf16ToUtf8(plugin_.ReadHolder().sharedFolder);
  return SharingWarning(true, settings, CheckSharedFolder(settings.folder));
}

PluginSession::Heard PluginSession::Hear(const std::string& contact, std::u16string_view text,
                                         Clock::time_point now, std::u16string_view name,
                                         const std::optional<Announced>& offer) {
  Heard heard;
  if (std::optional<Notification> request = ParseNotification(text)) {
    heard.kind = Heard::Kind::kRequest;
    heard.request = std::move(*request);
    return heard;
  }
  if (offer) {
    awaited_.NoteAnswer(contact, text, now, *offer);
  } else if (!rules_.fileAnswersNeedProof) {
    awaited_.NoteAnswer(contact, text, now);
  }
  if (!ExpectsAnswer(contact, now)) {
    heard.kind = Heard::Kind::kUnasked;
    return heard;
  }
  heard.lines = answers_.Show(contact, name, text);
  return heard;
}

std::vector<std::u16string> PluginSession::HearNotice(const std::string& contact,
                                                      std::u16string_view text,
                                                      std::u16string_view name) {
  const std::optional<HostNotice> notice = DecodeNotice(text);
  if (!notice) return {};
  if (notice->kind == HostNotice::Kind::kNotSent) {
    return {Utf8ToUtf16(NotSentLine(Utf16ToUtf8(name), notice->name, notice->reason))};
  }
  answers_.Noticed(contact, *notice);
  return {};
}

bool PluginSession::ExpectsAnswer(const std::string& contact, Clock::time_point now) {
  if (rules_.replyWindow.count() == 0) return true;
  auto it = asked_.find(contact);
  if (it == asked_.end() || now - it->second > rules_.replyWindow) return false;
  it->second = now;
  return true;
}

PluginSession::Admission PluginSession::Admit(const std::string& contact, bool known,
                                              const Notification& request, Clock::time_point now) {
  Admission admission;
  if (!rules_.gateRequests) return admission;
  const RequestGate::Decision d = gate_.Admit(contact, known, IsListingRequest(request), now);
  admission.verdict = d.verdict;
  admission.first = d.first;
  if (!d.first) return admission;
  // A stranger gets no answer at all, not even these.
  if (d.verdict == RequestGate::Verdict::kTooFast && known) admission.reply = kTooManyRequestsText;
  if (d.verdict == RequestGate::Verdict::kBusy) admission.reply = kBusyText;
  return admission;
}

PluginSession::Answered PluginSession::Answer(const Notification& request,
                                              const std::u16string& contactName,
                                              size_t maxLines) const {
  Answered answered;
  std::u16string reply;
  answered.status = CallContract(
      [&] {
        return plugin_.plugin().ReceiveNotify(request.code, request.argument, contactName, nullptr,
                                              reply);
      },
      answered.result);
  answered.raised = TakeRaised();
  if (answered.status.failed() || !answered.result || reply.empty()) return answered;
  // Lines (LF) that read "#/dropfile " and a path are for this host; the
  // rest goes to the contact.
  ReplyParts parts = SplitDropFiles(reply);
  answered.text = LimitReplyLines(parts.text, maxLines);
  answered.files = std::move(parts.files);
  return answered;
}

void PluginSession::Done(const std::string& contact, const Notification& request) {
  if (rules_.gateRequests && IsListingRequest(request)) gate_.ListingDone(contact);
}

HostError PluginSession::AdmitOffer(const std::string& contact, std::u16string_view offeredName,
                                    uint64_t size, const std::filesystem::path& folder,
                                    Clock::time_point now, AwaitedFiles::Awaited* admitted) {
  return awaited_.Admit(contact, offeredName, size, folder, now, admitted);
}

void PluginSession::Expire(Clock::time_point now) {
  const auto window = std::max<Clock::duration>(rules_.replyWindow, AwaitedFiles::kWindow);
  std::erase_if(asked_, [&](const auto& entry) { return now - entry.second > window; });
}

}  // namespace zuvo
