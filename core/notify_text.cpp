#include "core/notify_text.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "base/text.h"

namespace zuvo {
namespace {

constexpr std::pair<std::u16string_view, RequestCode> kCodes[] = {
    {u"rlist", RequestCode::kList},   {u"rfile", RequestCode::kFile},
    {u"rfldr", RequestCode::kFolder}, {u"rflds", RequestCode::kFolders},
    {u"rsrch", RequestCode::kSearch},
};

constexpr size_t kCodeUnits = 5;

}  // namespace

std::optional<RequestCode> FindRequestCode(std::u16string_view code) {
  const auto match = std::find_if(std::begin(kCodes), std::end(kCodes), [&](const auto& entry) {
    return EqualsIgnoreCase(code, entry.first);
  });
  if (match == std::end(kCodes)) return std::nullopt;
  return match->second;
}

bool IsListing(RequestCode code) { return code != RequestCode::kFile; }

std::u16string_view RequestCodeText(RequestCode code) {
  const auto match = std::find_if(std::begin(kCodes), std::end(kCodes),
                                  [&](const auto& entry) { return entry.second == code; });
  return match == std::end(kCodes) ? std::u16string_view() : match->first;
}

std::optional<Notification> ParseNotification(std::u16string_view text) {
  if (text.empty() || text[0] != kMarker) return std::nullopt;
  Notification n;
  n.code = text.substr(1, kCodeUnits);
  if (text.size() > 1 + kCodeUnits) n.argument = text.substr(1 + kCodeUnits);
  return n;
}

std::optional<std::u16string> SendingFilePath(std::u16string_view reply) {
  constexpr std::u16string_view kEnd = u"...";
  const std::u16string_view line = reply.substr(0, reply.find(kLF));
  if (line.size() < kSendingFileReply.size() + kEnd.size() ||
      !line.starts_with(kSendingFileReply) || !line.ends_with(kEnd)) {
    return std::nullopt;
  }
  return std::u16string(
      line.substr(kSendingFileReply.size(), line.size() - kSendingFileReply.size() - kEnd.size()));
}

}  // namespace zuvo
