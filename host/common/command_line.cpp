#include "host/common/command_line.h"

#include <cstdio>

namespace zuvo {

bool ReadOptions(int argc, char** argv, const option* longOptions,
                 const std::function<bool(int id, const char* value, std::string& why)>& take,
                 std::string& why) {
  // "+": stop at the first argument that is no option instead of moving the
  // arguments around; ":": report a missing value apart from an unknown
  // option, and print nothing ourselves.
  opterr = 0;
  optind = 0;  // starts afresh, also when a command is read a second time
  for (int c; (c = getopt_long(argc, argv, "+:", longOptions, nullptr)) != -1;) {
    if (c == ':') {
      why = std::string(argv[optind - 1]) + " needs a value";
      return false;
    }
    if (c == '?') {
      why = "unknown option " + (optopt > 0 && optopt < 128 ? std::string("-") + char(optopt)
                                                            : std::string(argv[optind - 1]));
      return false;
    }
    if (!take(c, optarg, why)) return false;
  }
  if (optind < argc) {
    why = "unexpected argument " + std::string(argv[optind]);
    return false;
  }
  return true;
}

int BadCommandLine(const char* command, const std::string& why, const char* synopsis,
                   const char* details) {
  std::fprintf(stderr, "%s: %s\nusage: %s%s", command, why.c_str(), synopsis, details);
  return 2;
}

}  // namespace zuvo
