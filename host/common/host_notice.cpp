#include "host/common/host_notice.h"

#include <array>
#include <utility>

#include "base/text.h"
#include "host/common/path_text.h"

namespace zuvo {
namespace {

constexpr std::u16string_view kAnswering = u"answering";
constexpr std::u16string_view kNotSent = u"not sent";

// The reasons a file is not sent, one word each on the wire; a word this
// host does not know reads as kSystem ("the system failed").
constexpr std::array<std::pair<HostErrorKind, std::u16string_view>, 5> kReasons = {{
    {HostErrorKind::kNoSharedFolder, u"no-share"},
    {HostErrorKind::kOutsideShare, u"outside"},
    {HostErrorKind::kNotFound, u"missing"},
    {HostErrorKind::kAccessDenied, u"denied"},
    {HostErrorKind::kUnreadable, u"unreadable"},
}};

std::u16string_view ReasonWord(HostErrorKind kind) {
  for (const auto& [k, word] : kReasons) {
    if (k == kind) return word;
  }
  return u"failed";
}

HostErrorKind ReasonKind(std::u16string_view word) {
  for (const auto& [k, w] : kReasons) {
    if (w == word) return k;
  }
  return HostErrorKind::kSystem;
}

}  // namespace

HostNotice AnsweringNotice(std::u16string_view code, std::u16string_view sharedFolder) {
  HostNotice n;
  n.kind = HostNotice::Kind::kAnswering;
  n.code = std::u16string(code.substr(0, 16));
  // A folder too long to carry whole is not carried at all: a cut one
  // would name another folder.
  if (sharedFolder.size() <= kMaxNoticeUnits - 32) n.folder = std::u16string(sharedFolder);
  return n;
}

HostNotice NotSentNotice(HostErrorKind reason, std::u16string_view path) {
  HostNotice n;
  n.kind = HostNotice::Kind::kNotSent;
  n.reason = reason;
  n.name = std::u16string(LastComponent(path).substr(0, 255));
  return n;
}

std::u16string EncodeNotice(const HostNotice& notice) {
  std::u16string text;
  if (notice.kind == HostNotice::Kind::kAnswering) {
    text = std::u16string(kAnswering) + u'\n' + notice.code + u'\n' + notice.folder;
  } else {
    text = std::u16string(kNotSent) + u'\n' + std::u16string(ReasonWord(notice.reason)) + u'\n' +
           notice.name;
  }
  return text.substr(0, kMaxNoticeUnits);
}

std::optional<HostNotice> DecodeNotice(std::u16string_view text) {
  if (text.size() > kMaxNoticeUnits) return std::nullopt;
  const size_t first = text.find(u'\n');
  if (first == std::u16string_view::npos) return std::nullopt;
  const size_t second = text.find(u'\n', first + 1);
  if (second == std::u16string_view::npos) return std::nullopt;
  const std::u16string_view head = text.substr(0, first);
  const std::u16string_view middle = text.substr(first + 1, second - first - 1);
  const std::u16string_view rest = text.substr(second + 1);
  // The last field is one line too: a name or folder with a line break in
  // it would forge a line where it is shown.
  if (HasControlCharacter(rest) || HasControlCharacter(middle)) return std::nullopt;
  HostNotice n;
  if (head == kAnswering) {
    n.kind = HostNotice::Kind::kAnswering;
    n.code = std::u16string(middle);
    n.folder = std::u16string(rest);
  } else if (head == kNotSent) {
    n.kind = HostNotice::Kind::kNotSent;
    n.reason = ReasonKind(middle);
    n.name = std::u16string(LastComponent(rest));
    if (n.name.empty()) return std::nullopt;
  } else {
    return std::nullopt;
  }
  return n;
}

}  // namespace zuvo
