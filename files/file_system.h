// The file-system seam of DirRecurse: folder enumeration, the platform's
// tree search, and the pause for pending events. (Shape to be completed with
// the folder-walking work; variants: file_system_posix.cpp,
// file_system_win32.cpp.)
#pragma once

#include <memory>
#include <string>

namespace zuvo {

// Lets the host's user interface handle the window messages that are
// waiting, once. ListFilesRecursive calls it once per folder, with no
// enumeration open; the host may re-enter the plug-in from inside it.
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void ProcessPendingEvents() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
};

std::unique_ptr<FileSystem> CreatePlatformFileSystem();

}  // namespace zuvo
