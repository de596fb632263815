#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <string>

#include "host/common/file_io.h"
#include "host/common/system_error_win32.h"

namespace zuvo {

// MoveFileExW without MOVEFILE_REPLACE_EXISTING fails when the target name
// is taken, and never replaces a file that appears there meanwhile.
MoveResult MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                         HostError& error) {
  if (MoveFileExW(from.c_str(), to.c_str(), 0)) return MoveResult::kMoved;
  const DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return MoveResult::kExists;
  error = Failure(HostErrorKind::kSystem, SystemErrorText("rename", static_cast<int>(code)));
  return MoveResult::kFailed;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  std::wstring wideMode;
  bool exclusive = false;
  for (const char* m = mode; *m; ++m) {
    if (*m == 'x') {
      exclusive = true;
    } else {
      wideMode.push_back(static_cast<wchar_t>(*m));
    }
  }
  if (!exclusive) return _wfopen(path.c_str(), wideMode.c_str());
  // The C runtime's _wfopen knows no "x": create the file with CREATE_NEW
  // and hand its handle to a stream.
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _wfdopen(fd, wideMode.c_str());
  if (!file) _close(fd);
  return file;
}

}  // namespace zuvo
