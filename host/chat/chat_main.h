// The chat subcommands of zuvo-host.
#pragma once

namespace zuvo::chat {

// zuvo-host chat --name NAME --share DIR --registry FILE --downloads DIR
//                (--listen [ADDR:]PORT | --connect [ADDR:]PORT)
int RunChat(int argc, char** argv);

// zuvo-host demo: two users and a scripted conversation on loopback.
int RunDemo(int argc, char** argv);

}  // namespace zuvo::chat
