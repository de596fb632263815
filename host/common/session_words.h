// The words a person reads about the session, in every host: what each
// command does and what to type after it, a request as it was typed (never
// its internal code), a toast as one line, and the lines of a fetch. Texts
// are UTF-8, ready for a line of a chat window or a terminal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/notify_text.h"
#include "host/common/host_error.h"
#include "host/common/plugin_driver.h"

namespace zuvo {

// One command's help: what to type after it ("<path or name>", "[patterns]",
// empty for none) and what it does.
struct CommandHelp {
  std::string usage;
  std::string does;
};
// The help of the command |word| ("xrfile", any letter case); for a word
// this host does not describe, the plug-in's own row (|name|, |help|).
CommandHelp HelpFor(std::u16string_view word, std::u16string_view name, std::u16string_view help);

// The command word a request code comes from ("rlist" gives "/xrlist"),
// and the request a command word makes (any letter case), if any.
std::u16string CommandWord(RequestCode code);
std::optional<RequestCode> RequestOfWord(std::u16string_view word);
// |request| as the user types it: "/xrlist *.txt".
std::string TypedRequest(const Notification& request);

// A toast as one line: its lines joined by blanks, after "|title|: "
// unless the message already begins with the title.
std::string ToastLine(const ToastSeen& toast, std::string_view title);

// "512 bytes", "2.1 KiB", "3.0 MiB".
std::string SizeText(uint64_t bytes);
// |folder| as a person reads it: under |home| it starts with "~".
std::string ShownFolder(const std::filesystem::path& folder, const std::filesystem::path& home);

// "Receiving notes.md (2.1 KiB) from bob..."
std::string ReceivingLine(std::u16string_view name, uint64_t size, std::string_view contact);
// "Saved notes.md in ~/Downloads (2.1 KiB, SHA-256 verified)"; the check is
// named only when a digest was checked.
std::string SavedFileLine(const std::filesystem::path& saved, uint64_t size, bool digestVerified,
                          const std::filesystem::path& home);
// "Could not save notes.md from bob: <reason>"
std::string NotSavedLine(std::u16string_view name, std::string_view contact,
                         const std::string& reason);
// "bob could not send notes.md: <reason>"
std::string NotSentLine(std::string_view contact, std::u16string_view name, HostErrorKind reason);

}  // namespace zuvo
