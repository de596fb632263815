#include "purple/line_pacer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zuvo::purple {
namespace {

using Clock = LinePacer::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

std::vector<std::string> Lines(const std::string& tag, size_t n) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < n; ++i) lines.push_back(tag + std::to_string(i));
  return lines;
}

// A server's flood allowance as tests/purple/measure-servers found the
// strictest: |burst| lines at once, then one a second; a line beyond it is
// held back (ngircd, InspIRCd) or ends the link (ircd-hybrid).
struct Server {
  double burst = 4;
  double budget = 4;
  Clock::time_point updated;
  int heldBack = 0;
  void Receive(Clock::time_point now) {
    budget = std::min(burst, budget + std::chrono::duration<double>(now - updated).count());
    updated = now;
    if (budget < 1) ++heldBack;
    budget -= 1;
  }
};

TEST(LinePacer, ALongReplyAndTheUsersLinesStayWithinTheStrictestServer) {
  const Clock::time_point t0{};
  LinePacer pacer(t0);
  Server server{.updated = t0};
  ASSERT_TRUE(pacer.Add("ann", Lines("piece", 102)));
  size_t own = 0, user = 0;
  Clock::time_point now = t0, userDue = t0 + seconds(5);
  while (!pacer.empty() && now < t0 + seconds(300)) {
    // The user types a line every 7 s; it goes out at once, and a server
    // that held it back would delay what the user typed.
    if (now >= userDue) {
      pacer.Count(now);
      const int before = server.heldBack;
      server.Receive(now);
      EXPECT_EQ(server.heldBack, before) << "the user's line waited at " << (now - t0).count();
      ++user;
      userDue += seconds(7);
    }
    while (pacer.Take(now)) {
      server.Receive(now);
      ++own;
    }
    now = std::min(pacer.NextDue(now), userDue);
  }
  EXPECT_EQ(own, 102u);
  EXPECT_EQ(server.heldBack, 0);
  // One line every 1.1 s after the first three, give or take the user's.
  EXPECT_LT(now - t0, seconds(102 * 11 / 10 + user + 2));
  EXPECT_GT(now - t0, seconds(100));
}

TEST(LinePacer, AShortReplyDoesNotWaitForALongOne) {
  const Clock::time_point t0{};
  LinePacer pacer(t0);
  ASSERT_TRUE(pacer.Add("ann", Lines("long", 50)));
  Clock::time_point now = t0;
  for (int i = 0; i < 10; ++i) {
    while (pacer.Take(now)) {
    }
    now = pacer.NextDue(now);
  }
  ASSERT_TRUE(pacer.Add("carol", Lines("short", 2)));
  std::vector<std::string> next;
  while (next.size() < 4) {
    if (std::optional<std::string> line = pacer.Take(now)) next.push_back(*line);
    now = pacer.NextDue(now);
  }
  // Turns alternate between the two frames.
  EXPECT_EQ(std::count_if(next.begin(), next.end(),
                          [](const std::string& l) { return l.starts_with("short"); }),
            2);
}

TEST(LinePacer, TheUsersLinesAndHoldsComeFirst) {
  const Clock::time_point t0{};
  LinePacer pacer(t0);
  // A burst of the user's lines leaves the budget in debt.
  for (int i = 0; i < 6; ++i) pacer.Count(t0);
  ASSERT_TRUE(pacer.Add("ann", Lines("piece", 3)));
  EXPECT_FALSE(pacer.Take(t0));
  // -2 back up to the reserve and one more: 4 intervals.
  EXPECT_EQ(pacer.NextDue(t0), t0 + milliseconds(4400));
  EXPECT_TRUE(pacer.Take(t0 + milliseconds(4400)));

  pacer.Hold(t0 + seconds(20));
  EXPECT_TRUE(pacer.held(t0 + seconds(19)));
  EXPECT_FALSE(pacer.Take(t0 + seconds(19)));
  EXPECT_EQ(pacer.NextDue(t0 + seconds(19)), t0 + seconds(20));
  pacer.Release();
  EXPECT_TRUE(pacer.Take(t0 + seconds(19)));
}

TEST(LinePacer, WhatWaitsIsBounded) {
  const Clock::time_point t0{};
  LinePacer pacer({.maxBytes = 100, .maxFramesPerContact = 2}, t0);
  EXPECT_TRUE(pacer.Add("ann", {std::string(40, 'a')}));
  EXPECT_TRUE(pacer.Add("ann", {std::string(40, 'b')}));
  EXPECT_FALSE(pacer.Add("ann", {"c"}));                     // a third frame for ann
  EXPECT_FALSE(pacer.Add("carol", {std::string(21, 'd')}));  // past 100 bytes
  EXPECT_TRUE(pacer.Add("carol", {std::string(20, 'e')}));
  EXPECT_EQ(pacer.waitingBytes(), 100u);
  while (pacer.Take(t0 + seconds(10))) {
  }
  EXPECT_EQ(pacer.waitingBytes(), 0u);
  EXPECT_EQ(pacer.NextDue(t0), Clock::time_point::max());
  EXPECT_TRUE(pacer.Add("ann", {"again"}));
}

}  // namespace
}  // namespace zuvo::purple
