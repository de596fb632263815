#include "host/common/drop_file.h"

#include "base/text.h"
#include "core/beta.h"
#include "files/file_system.h"
#include "files/path_resolver.h"
#include "host/common/idle_event_pump.h"
#include "host/common/path_text.h"
#include "host/common/settings_key.h"
#include "settings/registry.h"

namespace zuvo {
namespace fs = std::filesystem;

ReplyParts SplitDropFiles(const std::u16string& reply) {
  ReplyParts parts;
  size_t start = 0;
  for (;;) {
    const size_t lf = reply.find(kLF, start);
    const std::u16string line = reply.substr(start, lf == std::u16string::npos ? lf : lf - start);
    if (line.starts_with(kDropFile)) {
      parts.files.push_back(line.substr(kDropFile.size()));
    } else {
      if (!parts.text.empty()) parts.text += kLF;
      parts.text += line;
    }
    if (lf == std::u16string::npos) break;
    start = lf + 1;
  }
  return parts;
}

bool OpenInsideSharedFolder(std::u16string_view path, std::u16string_view sharedFolder,
                            SharedFile& file, std::string& why) {
  if (sharedFolder.empty()) {
    why = "no shared folder is set";
    return false;
  }
  const std::unique_ptr<FileSystem> fileSystem = CreatePlatformFileSystem();
  const std::unique_ptr<PathResolver> resolver = CreatePlatformPathResolver();
  IdleEventPump pump;
  DirRecurse files(*fileSystem, pump, NativePathStyle());
  const PathAccess access(*resolver, NativePathStyle());
  switch (OpenSharedFile(files, access, sharedFolder, path, file)) {
    case FsStatus::kOk:
      return true;
    case FsStatus::kBadPath:
      why = "it is outside the shared folder";
      return false;
    case FsStatus::kNotFound:
      why = "no such file (or not a file), or the shared folder is not an existing folder";
      return false;
    case FsStatus::kAccessDenied:
      why = "permission denied";
      return false;
    default:
      why = "it cannot be read";
      return false;
  }
}

bool InsideSharedFolder(const fs::path& path, const fs::path& sharedFolder, std::string& why) {
  SharedFile file;
  return OpenInsideSharedFolder(TextFromPath(path), TextFromPath(sharedFolder), file, why);
}

bool OpenDropFile(RegistryBackend& registry, std::u16string_view path, SharedFile& file,
                  std::string& why) {
  const std::u16string share = StoredSharedFolder(registry);
  if (share == kRegistryReadFailed || !OpenInsideSharedFolder(path, share, file, why)) {
    if (why.empty()) why = "no shared folder is set";
    return false;
  }
  return true;
}

bool MaySendDropFile(RegistryBackend& registry, const std::u16string& path, std::string& why) {
  SharedFile file;
  return OpenDropFile(registry, path, file, why);
}

}  // namespace zuvo
