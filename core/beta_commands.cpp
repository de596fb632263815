// beta::ParseCommand: the ten chat commands the plug-in publishes. Five are
// requests to the contact and turn into a notification text in sResult; five
// act locally (sharing on and off, the options form, two toasts) and leave
// sResult empty.
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "base/plugin_error.h"
#include "base/text.h"
#include "core/beta.h"
#include "core/px_plugin_const.h"

namespace zuvo {
namespace {

enum class Command {
  kList,
  kFile,
  kFolder,
  kSearch,
  kFolders,
  kOn,
  kOff,
  kOptions,
  kStats,
  kStatus
};

struct CommandText {
  std::u16string_view text;
  Command command;
};

// Compared in this order; the first text equal to the typed command wins.
constexpr CommandText kCommandTexts[] = {
    {u"/xrlist", Command::kList},       {u"/xrfile", Command::kFile},
    {u"/xrfolder", Command::kFolder},   {u"/xrsearch", Command::kSearch},
    {u"/xrfolders", Command::kFolders}, {u"/xron", Command::kOn},
    {u"/xroff", Command::kOff},         {u"/xroptions", Command::kOptions},
    {u"/xrstats", Command::kStats},     {u"/xrstatus", Command::kStatus},
};

constexpr std::u16string_view kKeywordMessage = u"You must use at least 1 keyword";

// The lower-case form of one character of a typed command. Beyond the
// shared case folding, two letters lower-case to ASCII letters under the
// user's locale: capital I with dot above to "i", and the Kelvin sign to "k".
char16_t LowerCommandChar(char16_t c) {
  if (c == 0x0130) return u'i';
  if (c == 0x212A) return u'k';
  return FoldCase(c);
}

// The whole typed text, lower-cased, against one command text (all lower
// case). Nothing is trimmed and no prefix matches.
bool IsCommandText(std::u16string_view typed, std::u16string_view text) {
  if (typed.size() != text.size()) return false;
  for (size_t i = 0; i < typed.size(); ++i) {
    if (LowerCommandChar(typed[i]) != text[i]) return false;
  }
  return true;
}

std::optional<Command> Recognise(std::u16string_view typed) {
  for (const CommandText& entry : kCommandTexts) {
    if (IsCommandText(typed, entry.text)) return entry.command;
  }
  return std::nullopt;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

enum class StateNumber { kZero, kOne, kOther };

[[noreturn]] void ThrowTypeMismatch() { throw PluginError(hr::kTypeMismatch, "Type mismatch"); }

// The sharing state read as a number. A number is decimal text with blanks
// (spaces, tabs) allowed around it: an optional sign, digits with an
// optional "." and fraction (at least one digit in all), and an optional
// exponent ("e" or "E", an optional sign, digits). "1", " 1 ", "1.0", "+1",
// "1e0" are one; "0", "-0", "0.0", ".0" are zero; "2", "0.5", "1e999" are
// other numbers. Any other text, the empty text and blanks alone included,
// is no number: a type mismatch.
StateNumber ReadStateNumber(std::u16string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;

  // Check the form and copy it as ASCII for the conversion, without a "+".
  std::string ascii;
  size_t i = begin;
  if (i < end && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') ascii.push_back('-');
    ++i;
  }
  size_t digits = 0;
  bool nonZeroDigit = false;
  auto takeDigits = [&](bool mantissa) {
    size_t count = 0;
    while (i < end && IsDigit(text[i])) {
      if (mantissa && text[i] != u'0') nonZeroDigit = true;
      ascii.push_back(static_cast<char>(text[i]));
      ++i;
      ++count;
    }
    return count;
  };
  digits += takeDigits(true);
  if (i < end && text[i] == u'.') {
    ascii.push_back('.');
    ++i;
    digits += takeDigits(true);
  }
  if (digits == 0) ThrowTypeMismatch();
  if (i < end && (text[i] == u'e' || text[i] == u'E')) {
    ascii.push_back('e');
    ++i;
    if (i < end && (text[i] == u'+' || text[i] == u'-'))
      ascii.push_back(static_cast<char>(text[i++]));
    if (takeDigits(false) == 0) ThrowTypeMismatch();
  }
  if (i != end) ThrowTypeMismatch();

  // A mantissa of zeros is zero whatever the exponent says.
  if (!nonZeroDigit) return StateNumber::kZero;
  double value = 0;
  const auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  // Out of range: too large or too small for a double, so neither 0 nor 1.
  if (ec != std::errc() || ptr != ascii.data() + ascii.size()) return StateNumber::kOther;
  return value == 1.0 ? StateNumber::kOne : StateNumber::kOther;
}

}  // namespace

void beta::ShowToast(const std::u16string& sMessage) {
  DisplayToast(server_.windowMessages(), sMessage, kPluginTitle, kAddOnWebSite, true);
}

bool beta::ParseCommand(const std::u16string& sCommand, const std::u16string& sCommandArg,
                        HostObject*, std::u16string& sResult) {
  const std::optional<Command> command = Recognise(sCommand);
  if (!command) return false;

  // A request command: the flag first, then the marker and the code, then
  // the argument as typed. A placeholder (the argument left unfilled) sends
  // nothing, but the flag stays set.
  auto request = [&](std::u16string_view code, std::u16string_view placeholder) {
    state_.bOwnRequestPending = true;
    sResult = std::u16string(1, kMarker) + std::u16string(code);
    if (sCommandArg == placeholder) {
      sResult.clear();
    } else {
      sResult += sCommandArg;
    }
  };

  switch (*command) {
    case Command::kList:
      state_.bOwnRequestPending = true;
      sResult = std::u16string(1, kMarker) + u"rlist";
      sResult += sCommandArg.empty() ? std::u16string(u"*.*") : sCommandArg;
      break;
    case Command::kFile:
      request(u"rfile", u"<File Path>");
      break;
    case Command::kFolder:
      request(u"rfldr", u"<Folder Path>");
      break;
    case Command::kFolders:
      request(u"rflds", u"<Folder Path>");
      break;
    case Command::kSearch:
      state_.bOwnRequestPending = true;
      sResult = std::u16string(1, kMarker) + u"rsrch";
      if (sCommandArg == u"<Filename>") {
        sResult.clear();
      } else if (!sCommandArg.empty()) {
        sResult += sCommandArg;
      } else {
        server_.messageBox().Show(std::u16string(kKeywordMessage), kPluginTitle);
      }
      break;
    case Command::kOn:
      sResult.clear();
      ShowToast(u"Zuvo File Sharing has been" + std::u16string(1, kCR) + u"turned on");
      state_.sSharingOn = u"1";
      break;
    case Command::kOff:
      sResult.clear();
      ShowToast(u"Zuvo File Sharing has been" + std::u16string(1, kCR) + u"turned off");
      state_.sSharingOn = u"0";
      break;
    case Command::kOptions: {
      sResult.clear();
      // Closing the window unloads the form and the server lets go of it;
      // this call keeps it alive until the modal show has returned.
      const std::shared_ptr<frmOptions> form = server_.Holder();
      form->ShowModal();
      break;
    }
    case Command::kStats:
      ShowToast(u"You have accepted and sent" + std::u16string(1, kCR) + state_.sFilesSent +
                u" files");
      sResult.clear();
      break;
    case Command::kStatus: {
      // A state that is no number fails here, before any toast and with the
      // host's sResult untouched.
      const StateNumber number = ReadStateNumber(state_.sSharingOn);
      if (number == StateNumber::kZero) {
        ShowToast(u"Zuvo File Sharing is..." + std::u16string(1, kCR) + u"off");
      } else if (number == StateNumber::kOne) {
        ShowToast(u"Zuvo File Sharing is..." + std::u16string(1, kCR) + u"on");
      }
      sResult.clear();
      break;
    }
  }
  return true;
}

}  // namespace zuvo
