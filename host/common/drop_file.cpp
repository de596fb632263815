#include "host/common/drop_file.h"

#include "base/text.h"
#include "core/beta.h"
#include "files/file_system.h"
#include "files/path_resolver.h"
#include "host/common/idle_event_pump.h"
#include "host/common/settings_key.h"
#include "settings/registry.h"

namespace zuvo {

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

HostError OpenInsideSharedFolder(std::u16string_view path, std::u16string_view sharedFolder,
                                 SharedFile& file) {
  if (sharedFolder.empty()) return Failure(HostErrorKind::kNoSharedFolder);
  const std::unique_ptr<FileSystem> fileSystem = CreatePlatformFileSystem();
  const std::unique_ptr<PathResolver> resolver = CreatePlatformPathResolver();
  IdleEventPump pump;
  DirRecurse files(*fileSystem, pump, NativePathStyle());
  const PathAccess access(*resolver, NativePathStyle());
  return ErrorFromFsStatus(OpenSharedFile(files, access, sharedFolder, path, file));
}

HostError OpenDropFile(RegistryBackend& registry, std::u16string_view path, SharedFile& file) {
  const std::optional<std::u16string> share = StoredSharedFolder(registry);
  if (!share) return Failure(HostErrorKind::kNoSharedFolder);
  return OpenInsideSharedFolder(path, *share, file);
}

}  // namespace zuvo
