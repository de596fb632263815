// Runs the host stand-in's console as a separate process, as the outside
// checks do: JSON lines in, JSON lines out.
#pragma once

#include <string>
#include <vector>

#include "host/console/json_text.h"
#include "support/settings_test_support.h"

namespace zuvo::testing {

struct ConsoleRun {
  int exitCode = -1;
  std::vector<std::string> lines;  // standard output, one entry per line
  std::string errors;              // standard error
};

// Runs "zuvo-host console ARGS..." with |input| as its standard input, one
// element per line. A |launcher| (a full path and its arguments) runs the
// console under it, e.g. setpriv to run it as another user.
ConsoleRun RunConsole(const std::vector<std::string>& args, const std::vector<std::string>& input,
                      const std::vector<std::string>& launcher = {});

// One console session that must succeed: exit code 0 and one answer per
// input line, each ASCII-only JSON; the answers parsed, padded with nulls to
// one per input line when some are missing.
std::vector<json::Value> RunConsoleSession(const std::vector<std::string>& args,
                                           const std::vector<std::string>& input,
                                           const std::vector<std::string>& launcher = {});

// RunConsoleSession with "--registry" naming a store file in |dir| before
// |args|.
std::vector<json::Value> RunConsoleSessionIn(const TempDir& dir, std::vector<std::string> args,
                                             const std::vector<std::string>& input);

// Field access on a parsed answer; a missing member fails the test and
// yields null.
const json::Value& Member(const json::Value& object, const char16_t* name);
std::u16string TextOf(const json::Value& object, const char16_t* name);

}  // namespace zuvo::testing
