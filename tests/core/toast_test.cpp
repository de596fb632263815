#include <gtest/gtest.h>

#include <cstring>

#include "core/local_commands_fixture.h"

namespace zuvo {
namespace {

// Reads the record the way a host of the build's pointer size does: by the
// byte offsets of its fields.
struct RawRecord {
  uintptr_t title = 0;
  uintptr_t message = 0;
  uintptr_t link = 0;
  int32_t flag = 0;
  size_t size = 0;
};

TEST(DisplayToast, SendsTheRecordToEveryTopLevelWindow) {
  InProcessWindowMessages messages;
  const uint32_t id = messages.RegisterWindowMessage(u"parlix_displaytoast");
  std::vector<RawRecord> seen;
  std::vector<std::u16string> texts;
  std::vector<intptr_t> lParams;
  int otherWindowCalls = 0;
  auto window = messages.CreateTopLevelWindow(
      [&](uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t {
        EXPECT_EQ(message, id);
        const auto* bytes = reinterpret_cast<const unsigned char*>(wParam);
        RawRecord raw;
        std::memcpy(&raw.title, bytes + 0 * sizeof(void*), sizeof(void*));
        std::memcpy(&raw.message, bytes + 1 * sizeof(void*), sizeof(void*));
        std::memcpy(&raw.link, bytes + 2 * sizeof(void*), sizeof(void*));
        std::memcpy(&raw.flag, bytes + 3 * sizeof(void*), sizeof(int32_t));
        raw.size = sizeof(ToastRecord);
        seen.push_back(raw);
        texts.push_back(reinterpret_cast<const char16_t*>(raw.message));
        lParams.push_back(lParam);
        return 0;
      });
  auto other = messages.CreateTopLevelWindow([&](uint32_t, uintptr_t, intptr_t) -> intptr_t {
    ++otherWindowCalls;
    return 0;
  });

  const std::u16string message = Lines(u"first", u"second");
  const std::u16string title = u"Title";
  const std::u16string link = u"http://link.example/";
  EXPECT_TRUE(DisplayToast(messages, message, title, link, true));
  EXPECT_TRUE(DisplayToast(messages, u"", u"", u"", false));
  EXPECT_TRUE(DisplayToast(messages, u"only", u"", link, true));

  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(otherWindowCalls, 3);
  EXPECT_EQ(seen[0].size, sizeof(void*) == 4 ? 16u : 32u);
  EXPECT_EQ(lParams, (std::vector<intptr_t>{1, 1, 1}));

  // The texts are the sender's own copies, not the caller's strings.
  EXPECT_NE(seen[0].title, 0u);
  EXPECT_NE(seen[0].title, reinterpret_cast<uintptr_t>(title.c_str()));
  EXPECT_NE(seen[0].message, reinterpret_cast<uintptr_t>(message.c_str()));
  EXPECT_EQ(texts[0], message);
  EXPECT_NE(seen[0].link, 0u);
  EXPECT_EQ(seen[0].flag, -1);

  // Only the title and the link are 0 when empty; the message is always set.
  EXPECT_EQ(seen[1].title, 0u);
  EXPECT_NE(seen[1].message, 0u);
  EXPECT_EQ(texts[1], u"");
  EXPECT_EQ(seen[1].link, 0u);
  EXPECT_EQ(seen[1].flag, 0);

  EXPECT_EQ(seen[2].title, 0u);
  EXPECT_NE(seen[2].link, 0u);
  EXPECT_EQ(texts[2], u"only");

  // With no window at all the request still answers True.
  messages.DestroyWindow(window);
  messages.DestroyWindow(other);
  EXPECT_TRUE(DisplayToast(messages, u"nobody", u"t", u"l", true));
  EXPECT_EQ(seen.size(), 3u);
}

TEST(DisplayToast, TextsArriveWholeAndTheRecordCarriesNoStrayBytes) {
  InProcessWindowMessages messages;
  ToastWindow host(messages);
  std::vector<unsigned char> tail;
  messages.CreateTopLevelWindow([&](uint32_t, uintptr_t wParam, intptr_t) -> intptr_t {
    const auto* bytes = reinterpret_cast<const unsigned char*>(wParam);
    tail.assign(bytes + 3 * sizeof(void*) + sizeof(int32_t), bytes + sizeof(ToastRecord));
    return 0;
  });
  const std::u16string withNul = std::u16string(u"a") + u'\0' + u"b";
  EXPECT_TRUE(DisplayToast(messages, u"\u00e9t\u00e9 \U0001F600", kPluginTitle, withNul, true));
  ASSERT_EQ(host.toasts.size(), 1u);
  EXPECT_EQ(host.toasts[0].text, u"\u00e9t\u00e9 \U0001F600");
  EXPECT_EQ(host.toasts[0].title, std::u16string(kPluginTitle));
  // A zero-terminated text ends at its first NUL for the receiver.
  EXPECT_EQ(host.toasts[0].link, std::u16string(u"a"));
  EXPECT_EQ(host.toasts[0].wParam != 0, true);
  for (unsigned char b : tail) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace zuvo
