// The chat subcommands of zuvo-host.
#pragma once

namespace zuvo::chat {

// How the commands are called, without "usage: ".
inline constexpr char kChatSynopsis[] =
    "zuvo-host chat [--name NAME] [--share DIR] [--registry FILE] [--downloads DIR]\n"
    "                      (--listen [ADDR:]PORT | --connect [ADDR:]PORT)\n";
inline constexpr char kDemoSynopsis[] = "zuvo-host demo\n";

// zuvo-host chat: one user's side of a conversation. |argv[0]| names the
// command.
int RunChat(int argc, char** argv);

// zuvo-host demo: two users and a scripted conversation on loopback.
int RunDemo(int argc, char** argv);

}  // namespace zuvo::chat
