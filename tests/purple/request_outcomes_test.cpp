#include "purple/request_outcomes.h"

#include <gtest/gtest.h>

#include "purple/notice_limit.h"

namespace zuvo::purple {
namespace {

using Clock = RequestOutcomes::Clock;
using std::chrono::seconds;

TEST(RequestOutcomes, EveryRequestGetsOneOutcome) {
  const Clock::time_point t0{};
  RequestOutcomes outcomes;
  int account = 0;
  outcomes.Asked("irc:ann\nbob", "bob", &account, t0 + seconds(20));
  outcomes.Asked("irc:ann\ncarol", "carol", &account, t0 + seconds(20));
  outcomes.Asked("xmpp:ann\ndave", "dave@localhost", &account, t0 + seconds(30));
  outcomes.Asked("xmpp:ann\neve", "eve@localhost", &account, t0 + seconds(30));

  // bob answers: settled, nothing to say.
  outcomes.Answered("irc:ann\nbob");
  // dave's client said at once that it takes no such request.
  const std::optional<RequestOutcomes::Waiting> refused = outcomes.Refused("xmpp:ann\ndave");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->name, "dave@localhost");
  EXPECT_EQ(refused->where, &account);
  EXPECT_FALSE(outcomes.Refused("xmpp:ann\ndave"));  // told once
  // eve's plug-in took it but never answered; carol, asked again, later.
  outcomes.Delivered("xmpp:ann\neve");
  outcomes.Asked("irc:ann\ncarol", "carol", &account, t0 + seconds(35));

  EXPECT_TRUE(outcomes.Expire(t0 + seconds(29)).empty());
  const std::vector<RequestOutcomes::Waiting> at30 = outcomes.Expire(t0 + seconds(30));
  ASSERT_EQ(at30.size(), 1u);
  EXPECT_EQ(at30[0].name, "eve@localhost");
  EXPECT_TRUE(at30[0].delivered);
  const std::vector<RequestOutcomes::Waiting> at35 = outcomes.Expire(t0 + seconds(35));
  ASSERT_EQ(at35.size(), 1u);
  EXPECT_EQ(at35[0].name, "carol");
  EXPECT_FALSE(at35[0].delivered);
  EXPECT_TRUE(outcomes.empty());
}

TEST(NoticeLimit, LinesPerContactAndInAll) {
  const Clock::time_point t0{};
  NoticeLimit limit;
  int shown = 0;
  for (int i = 0; i < 500; ++i) shown += limit.Allow("eve", t0);
  EXPECT_EQ(shown, 3);
  EXPECT_TRUE(limit.Allow("eve", t0 + seconds(60)));
  EXPECT_FALSE(limit.Allow("eve", t0 + seconds(61)));

  // Many addresses: the total's 20 at once, then one every 5 s.
  shown = 0;
  for (int i = 0; i < 1000; ++i)
    shown += limit.Allow("sender" + std::to_string(i), t0 + seconds(61));
  EXPECT_EQ(shown, 19);  // eve took one of the 20
  EXPECT_FALSE(limit.Allow("another", t0 + seconds(62)));
  EXPECT_TRUE(limit.Allow("another", t0 + seconds(66)));
  // Contacts whose budget is full again are forgotten.
  limit.Expire(t0 + seconds(1000));
  EXPECT_EQ(limit.contacts(), 0u);
}

}  // namespace
}  // namespace zuvo::purple
