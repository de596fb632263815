// The texts two plug-ins exchange through their hosts.
//
// A notification asks the other plug-in for something: the marker (code 18),
// a five-letter request code, then the argument as the user typed it:
//
//   <marker>rfile/home/bob/Public/notes.txt
//
// The host hands the code and the argument to the receiving plug-in's
// ReceiveNotify and sends back what it answers. Every other text is an
// answer, or a person's message. The answers that start with fixed words
// are named here, so that a host recognises them by the same constants the
// plug-in writes them with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zuvo {

inline constexpr char16_t kMarker = 18;  // starts a notification text

// The request codes, compared without regard to letter case.
enum class RequestCode { kList, kFile, kFolder, kFolders, kSearch };

// The code's request, or nothing for a code no plug-in answers.
std::optional<RequestCode> FindRequestCode(std::u16string_view code);
// Whether the request makes a list (a listing, a folder's files or
// sub-folders, a search): work that walks the shared folder.
bool IsListing(RequestCode code);
// The code's text ("rlist").
std::u16string_view RequestCodeText(RequestCode code);

// A notification cut apart: the five units after the marker, and the rest.
struct Notification {
  std::u16string code;
  std::u16string argument;
};

// |text| as a notification; nothing when it does not start with the marker.
std::optional<Notification> ParseNotification(std::u16string_view text);

// The answers with fixed words.
inline constexpr std::u16string_view kSharingOffReply =
    u"Request Denied, File Sharing is Turned off";
inline constexpr std::u16string_view kNotInShareReply =
    u"That file is not in the shared folder, you do not have access to it";
inline constexpr std::u16string_view kOfferingReply = u"Accepted Request, Offering...";
// Followed by the path and "...": the file is on its way.
inline constexpr std::u16string_view kSendingFileReply = u"Accepted Request, Sending File ";

// The path an answer's first line (up to LF) says is being sent: the text
// between kSendingFileReply and a closing "...". Nothing for any other text.
std::optional<std::u16string> SendingFilePath(std::u16string_view reply);

}  // namespace zuvo
