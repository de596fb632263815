// The plug-in's "#/dropfile " lines: in a reply, a line that starts with the
// command names a file the host is to send instead of text for the contact.
// The plug-in checks the path as text; the host opens the file beneath the
// stored shared folder (a regular file, no link on the way) and sends what it
// opened, never the path opened again.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "files/shared_file.h"
#include "settings/registry_backend.h"

namespace zuvo {

struct ReplyParts {
  std::u16string text;                // the other lines, joined with LF again
  std::vector<std::u16string> files;  // the paths of the "#/dropfile " lines, in order
};

// Splits |reply| at LF into the text for the contact and the files to send.
ReplyParts SplitDropFiles(const std::u16string& reply);

// Opens |path| for sending when it names a regular file inside
// |sharedFolder| (files/shared_file.h: judged by the access rules, opened
// beneath the shared folder, no link on the way); |why| says why not.
bool OpenInsideSharedFolder(std::u16string_view path, std::u16string_view sharedFolder,
                            SharedFile& file, std::string& why);
// The same check, the file closed again.
bool InsideSharedFolder(const std::filesystem::path& path,
                        const std::filesystem::path& sharedFolder, std::string& why);

// Opens |path| for sending when it is a regular file inside the shared
// folder stored in |registry|. |why| says why not.
bool OpenDropFile(RegistryBackend& registry, std::u16string_view path, SharedFile& file,
                  std::string& why);
// The same check, the file closed again: for a host whose transport opens
// the file by its name.
bool MaySendDropFile(RegistryBackend& registry, const std::u16string& path, std::string& why);

}  // namespace zuvo
