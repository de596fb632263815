// The plug-in's "#/dropfile " lines: in a reply, a line that starts with the
// command names a file the host is to send instead of text for the contact.
// The plug-in checks the path as text; the host sends only a regular file
// that, with ".." and links resolved, lies in the stored shared folder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "settings/registry_backend.h"

namespace zuvo {

struct ReplyParts {
  std::u16string text;                // the other lines, joined with LF again
  std::vector<std::u16string> files;  // the paths of the "#/dropfile " lines, in order
};

// Splits |reply| at LF into the text for the contact and the files to send.
ReplyParts SplitDropFiles(const std::u16string& reply);

// Whether |path| names a regular file inside |sharedFolder|, after both are
// resolved (".." and links); |why| says why not.
bool InsideSharedFolder(const std::filesystem::path& path,
                        const std::filesystem::path& sharedFolder, std::string& why);

// Whether the host may send |path|: a regular file inside the shared folder
// stored in |registry|. |why| says why not.
bool MaySendDropFile(RegistryBackend& registry, const std::u16string& path, std::string& why);

}  // namespace zuvo
