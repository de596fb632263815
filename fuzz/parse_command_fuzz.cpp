// Local commands with any command word and argument. A recognised command
// leaves in sResult either nothing or the marker, its code and the argument
// (the empty "/xrlist" argument as "*.*"); any other word changes nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_support.h"

namespace zuvo::fuzz {
namespace {

struct Request {
  std::u16string_view word, code;
};
constexpr Request kRequests[] = {
    {u"/xrlist", u"rlist"},   {u"/xrfile", u"rfile"},    {u"/xrfolder", u"rfldr"},
    {u"/xrsearch", u"rsrch"}, {u"/xrfolders", u"rflds"},
};
constexpr std::u16string_view kLocal[] = {u"/xron", u"/xroff", u"/xroptions", u"/xrstats",
                                          u"/xrstatus"};

std::u16string PickWord(FuzzedDataProvider& in) {
  const uint8_t pick = in.ConsumeIntegralInRange<uint8_t>(0, 11);
  std::u16string word;
  if (pick < 5) {
    word = kRequests[pick].word;
  } else if (pick < 10) {
    word = kLocal[pick - 5];
  } else {
    return TextFromBytes(in.ConsumeRandomLengthString(12), pick == 11);
  }
  // Letter case changed by a mask; now and then a character added.
  const uint16_t mask = in.ConsumeIntegral<uint16_t>();
  for (size_t i = 0; i < word.size(); ++i) {
    if ((mask >> i) & 1 && word[i] >= u'a' && word[i] <= u'z') word[i] -= 32;
  }
  if (in.ConsumeIntegralInRange<uint8_t>(0, 7) == 0) word.push_back(in.ConsumeIntegral<char16_t>());
  return word;
}

}  // namespace
}  // namespace zuvo::fuzz

using namespace zuvo;
using namespace zuvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TempRoot* root = new TempRoot("command");
  static PluginOnPlatform* p = new PluginOnPlatform(root->path());

  FuzzedDataProvider in(data, size);
  const std::u16string word = PickWord(in);
  static const char16_t* const kStates[] = {u"1", u"0", u"Error", u"", u" 1 ", u"2"};
  BetaState& state = p->State();
  state.sSharingOn = kStates[in.ConsumeIntegralInRange<size_t>(0, 5)];
  state.sFilesSent = u"0";
  state.bOwnRequestPending = in.ConsumeBool();
  const bool rawUtf16 = in.ConsumeBool();
  const std::u16string arg = TextFromBytes(in.ConsumeRemainingBytesAsString(), rawUtf16);

  const BetaState before = state;
  const std::u16string hostText = u"<host text>";
  std::u16string result = hostText;
  bool recognised = false;
  const CallStatus status =
      CallContract([&] { return p->plugin->ParseCommand(word, arg, nullptr, result); }, recognised);
  Check(status.code != hr::kUnexpected, "an unexpected exception escaped",
        Utf8ToUtf16(status.description));
  if (status.failed()) {
    Check(result == hostText, "a failed command changed sResult", result);
    return 0;
  }
  if (!recognised) {
    Check(result == hostText, "an unknown command changed sResult", word, result);
    Check(state.bOwnRequestPending == before.bOwnRequestPending &&
              state.sSharingOn == before.sSharingOn && state.sFilesSent == before.sFilesSent,
          "an unknown command changed the state", word);
    return 0;
  }
  const Request* request = nullptr;
  for (const Request& r : kRequests) {
    if (EqualsIgnoreCase(word, r.word)) request = &r;
  }
  if (request) Check(state.bOwnRequestPending, "a request command left no pending flag", word);
  if (result.empty()) return 0;
  Check(request != nullptr, "a local command left text in sResult", word, result);
  std::u16string expected(1, kMarker);
  expected += request->code;
  // "/xrsearch" without a keyword still sends its bare code.
  if (result == expected && arg.empty() && request->code == u"rsrch") return 0;
  expected += request->word == u"/xrlist" && arg.empty() ? std::u16string(u"*.*") : arg;
  Check(result == expected, "sResult is neither empty nor marker + code + argument", word, result);
  return 0;
}
