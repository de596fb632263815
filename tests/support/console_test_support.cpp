#include "support/console_test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/text.h"
#include "support/settings_test_support.h"

namespace zuvo::testing {

ConsoleRun RunConsole(const std::vector<std::string>& args, const std::vector<std::string>& input,
                      const std::vector<std::string>& launcher) {
  TempDir dir;
  const std::string in = dir.File("in"), out = dir.File("out"), err = dir.File("err");
  std::string text;
  for (const std::string& line : input) text += line + "\n";
  WriteFileBytes(in, text);

  // ZUVO_CONSOLE_VALGRIND=1 runs every console under valgrind's memcheck,
  // whose report fails the test that ran it; not one that runs as another
  // user, who could not write the report here.
  const char* valgrindEnv = std::getenv("ZUVO_CONSOLE_VALGRIND");
  const bool valgrind = valgrindEnv && std::string(valgrindEnv) == "1" && launcher.empty();
  const std::string valgrindLog = dir.File("valgrind.log");
  std::vector<std::string> argv = launcher;
  if (valgrind) {
    argv.insert(argv.end(), {"/usr/bin/valgrind", "--tool=memcheck", "--leak-check=full",
                             "--errors-for-leak-kinds=definite,indirect", "--track-fds=no",
                             "--log-file=" + valgrindLog});
  }
  argv.insert(argv.end(), {ZUVO_HOST_PATH, "console"});
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  ConsoleRun run;
  const pid_t child = ::fork();
  if (child == 0) {
    const int inFd = ::open(in.c_str(), O_RDONLY);
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (inFd < 0 || outFd < 0 || errFd < 0) ::_exit(127);
    ::dup2(inFd, 0);
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) {
    ADD_FAILURE() << "cannot run " << ZUVO_HOST_PATH;
    return run;
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const std::string output = ReadFileBytes(out);
  for (size_t start = 0; start < output.size();) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    run.lines.push_back(output.substr(start, end - start));
    start = end + 1;
  }
  run.errors = ReadFileBytes(err);
  if (valgrind) {
    const std::string report = ReadFileBytes(valgrindLog);
    EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << report;
  }
  return run;
}

std::vector<json::Value> RunConsoleSessionIn(const TempDir& dir, std::vector<std::string> args,
                                             const std::vector<std::string>& input) {
  args.insert(args.begin(), {"--registry", dir.File("registry.reg")});
  return RunConsoleSession(args, input);
}

const json::Value& Member(const json::Value& object, const char16_t* name) {
  static const json::Value kNull;
  const json::Value* v = object.Find(name);
  if (!v) {
    ADD_FAILURE() << "no member " << Utf16ToUtf8(name);
    return kNull;
  }
  return *v;
}

std::vector<json::Value> RunConsoleSession(const std::vector<std::string>& args,
                                           const std::vector<std::string>& input,
                                           const std::vector<std::string>& launcher) {
  const ConsoleRun run = RunConsole(args, input, launcher);
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.lines.size(), input.size()) << run.errors;
  std::vector<json::Value> answers;
  for (const std::string& line : run.lines) {
    for (char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << line;
    answers.push_back(json::Parse(line));
  }
  answers.resize(input.size());
  return answers;
}

std::u16string TextOf(const json::Value& object, const char16_t* name) {
  const json::Value& v = Member(object, name);
  EXPECT_EQ(v.type, json::Value::Type::kString) << Utf16ToUtf8(name);
  return v.string;
}

}  // namespace zuvo::testing
