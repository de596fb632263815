// Notices from one host to the other, beside the plug-ins' own texts: what
// the asking user's host needs to show an answer in the words a person
// uses. Each transport carries a notice as a kind of its own (purple/wire.h
// kind 3, host/chat/protocol.h kNotice), never as conversation text, so the
// plug-ins' requests and replies stay exactly as they are. A notice is a
// few lines of text joined with LF:
//
//   answering LF <request code> LF <shared folder>
//       sent just before the answer to a request: the folder the paths of
//       that answer begin with (empty when it cannot be told)
//   not sent LF <reason> LF <file name>
//       a file the plug-in accepted to send that its host could not send;
//       the reason is one word (ReasonWord), the name the file's last
//       path component
//
// Whatever a notice holds is cut to kMaxNoticeUnits, so it fits every
// transport's cap; a notice that reads as none of these is ignored.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/common/host_error.h"

namespace zuvo {

inline constexpr size_t kMaxNoticeUnits = 1024;

struct HostNotice {
  enum class Kind { kAnswering, kNotSent };
  Kind kind = Kind::kAnswering;
  std::u16string code;                          // kAnswering
  std::u16string folder;                        // kAnswering
  HostErrorKind reason = HostErrorKind::kNone;  // kNotSent
  std::u16string name;                          // kNotSent
};

HostNotice AnsweringNotice(std::u16string_view code, std::u16string_view sharedFolder);
HostNotice NotSentNotice(HostErrorKind reason, std::u16string_view path);

std::u16string EncodeNotice(const HostNotice& notice);
std::optional<HostNotice> DecodeNotice(std::u16string_view text);

}  // namespace zuvo
