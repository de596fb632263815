// A small check harness for the Windows test programs that run under Wine.
// Each check prints its outcome with the line it stands on and the actual
// values; a program ends with "N passed, N failed" and exits non-zero when
// any check failed.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace wine_check {

inline int g_passed = 0;
inline int g_failed = 0;
inline std::string g_context;

inline void Report(bool ok, int line, const char* what, const std::string& detail) {
  if (ok) {
    ++g_passed;
    return;
  }
  ++g_failed;
  std::printf("FAIL line %d%s%s: %s%s%s\n", line, g_context.empty() ? "" : " in ",
              g_context.c_str(), what, detail.empty() ? "" : " -- ", detail.c_str());
  std::fflush(stdout);
}

inline std::string Narrow(const wchar_t* text, int length = -1) {
  if (!text) return "(null)";
  if (length < 0) length = static_cast<int>(std::wcslen(text));
  std::string out(static_cast<size_t>(length) * 4, '\0');
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(),
                                    static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? n : 0);
  return out;
}

inline std::string Hex(long value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%#lx", static_cast<unsigned long>(value));
  return buffer;
}

// Prints the closing line and gives the process's exit code.
inline int Finish(const char* program) {
  std::printf("%s: %d passed, %d failed\n", program, g_passed, g_failed);
  std::fflush(stdout);
  return g_failed == 0 ? 0 : 1;
}

// Names the group of checks that follows in failure messages; nested
// contexts are joined with "/".
struct Context {
  explicit Context(const std::string& name) : previous(g_context) {
    g_context = previous.empty() ? name : previous + " / " + name;
  }
  ~Context() { g_context = previous; }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  std::string previous;
};

}  // namespace wine_check

#define CHECK(cond) wine_check::Report((cond), __LINE__, #cond, "")
#define CHECK_HR(expected, actual)                                                      \
  do {                                                                                  \
    const long check_actual_ = static_cast<long>(actual);                               \
    wine_check::Report(check_actual_ == static_cast<long>(expected), __LINE__, #actual, \
                       "got " + wine_check::Hex(check_actual_) + ", expected " +        \
                           wine_check::Hex(static_cast<long>(expected)));               \
  } while (0)
#define CHECK_EQ_INT(expected, actual)                                                       \
  do {                                                                                       \
    const long long check_actual_ = static_cast<long long>(actual);                          \
    wine_check::Report(check_actual_ == static_cast<long long>(expected), __LINE__, #actual, \
                       "got " + std::to_string(check_actual_) + ", expected " +              \
                           std::to_string(static_cast<long long>(expected)));                \
  } while (0)
#define CHECK_EQ_WSTR(expected, actual)                                                         \
  do {                                                                                          \
    const std::wstring check_expected_ = (expected);                                            \
    const std::wstring check_actual_ = (actual);                                                \
    wine_check::Report(                                                                         \
        check_actual_ == check_expected_, __LINE__, #actual,                                    \
        "got \"" +                                                                              \
            wine_check::Narrow(check_actual_.c_str(), static_cast<int>(check_actual_.size())) + \
            "\", expected \"" +                                                                 \
            wine_check::Narrow(check_expected_.c_str(),                                         \
                               static_cast<int>(check_expected_.size())) +                      \
            "\"");                                                                              \
  } while (0)
