// zuvo-host console: the plug-in's contract driven with JSON Lines.
#pragma once

namespace zuvo {

// How the command is called, without "usage: ".
inline constexpr char kConsoleSynopsis[] =
    "zuvo-host console [--registry FILE] [--create-key] [--set NAME=VALUE]...\n";

// |argv[0]| names the command.
int RunConsole(int argc, char** argv);

}  // namespace zuvo
