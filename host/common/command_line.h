// The long options of a host command, read with getopt_long.
#pragma once

#include <getopt.h>

#include <functional>
#include <string>

namespace zuvo {

// Reads the options of argv[1..] (argv[0] names the command) in the order
// given, calling |take| with each option's val and its value (nullptr for
// an option without one); |longOptions| ends with a zero entry. False with
// |why| naming the bad option or argument, or with what |take| answered.
bool ReadOptions(int argc, char** argv, const option* longOptions,
                 const std::function<bool(int id, const char* value, std::string& why)>& take,
                 std::string& why);

// Prints "|command|: |why|" and the command's usage text on standard error;
// the exit status for a bad command line.
int BadCommandLine(const char* command, const std::string& why, const char* synopsis,
                   const char* details = "");

}  // namespace zuvo
