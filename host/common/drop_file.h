// The plug-in's "#/dropfile " lines: in a reply, a line that starts with the
// command names a file the host is to send instead of text for the contact.
// The plug-in checks the path as text; the host opens the file beneath the
// stored shared folder (a regular file, no link on the way) and sends what it
// opened, never the path opened again.
#pragma once

#include <string>
#include <vector>

#include "files/shared_file.h"
#include "host/common/host_error.h"
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
// beneath the shared folder, no link on the way).
HostError OpenInsideSharedFolder(std::u16string_view path, std::u16string_view sharedFolder,
                                 SharedFile& file);

// Opens |path| for sending when it is a regular file inside the shared
// folder stored in |registry|.
HostError OpenDropFile(RegistryBackend& registry, std::u16string_view path, SharedFile& file);

}  // namespace zuvo
