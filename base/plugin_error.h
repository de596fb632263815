// The plug-in's error model. No operation of the host contract traps errors:
// an error ends the operation at once, and what it had assigned stays. In the
// core an error is a PluginError thrown from the failing step; the contract's
// caller (the COM shell, the console) catches it at the boundary and hands
// the code to the host. The codes are the HRESULTs a COM host sees from an
// automation server (FACILITY_CONTROL, the classic run-time error numbers),
// and the COM shell passes them through unchanged.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

namespace zuvo {

namespace hr {
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kOutOfMemory = static_cast<int32_t>(0x800A0007);       // error 7
inline constexpr int32_t kTypeMismatch = static_cast<int32_t>(0x800A000D);      // error 13
inline constexpr int32_t kFileNotFound = static_cast<int32_t>(0x800A0035);      // error 53
inline constexpr int32_t kTooManyFiles = static_cast<int32_t>(0x800A0043);      // error 67
inline constexpr int32_t kDeviceIOError = static_cast<int32_t>(0x800A0039);     // error 57
inline constexpr int32_t kPermissionDenied = static_cast<int32_t>(0x800A0046);  // error 70
inline constexpr int32_t kPathNotFound = static_cast<int32_t>(0x800A004C);      // error 76
inline constexpr int32_t kUnexpected = static_cast<int32_t>(0x8000FFFF);        // E_UNEXPECTED
}  // namespace hr

class PluginError : public std::runtime_error {
 public:
  PluginError(int32_t code, const std::string& description)
      : std::runtime_error(description), code_(code) {}
  int32_t code() const { return code_; }

 private:
  int32_t code_;
};

// The outcome of one contract call as the boundary reports it.
struct CallStatus {
  int32_t code = hr::kOk;
  std::string description;
  bool failed() const { return code != hr::kOk; }
};

// Runs |op| and turns whatever it throws into a CallStatus; the operation's
// own result is stored through |result| only when it returns normally.
template <typename Op, typename Result>
CallStatus CallContract(Op&& op, Result& result) {
  try {
    result = op();
    return {};
  } catch (const PluginError& e) {
    return {e.code(), e.what()};
  } catch (const std::bad_alloc&) {
    return {hr::kOutOfMemory, "Out of memory"};
  } catch (const std::exception& e) {
    return {hr::kUnexpected, e.what()};
  }
}

}  // namespace zuvo
