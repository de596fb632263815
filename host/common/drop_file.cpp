#include "host/common/drop_file.h"

#include "base/text.h"
#include "core/beta.h"
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

bool InsideSharedFolder(const fs::path& path, const fs::path& sharedFolder, std::string& why) {
  std::error_code ec;
  if (sharedFolder.empty()) {
    why = "no shared folder is set";
    return false;
  }
  const fs::path root = fs::canonical(sharedFolder, ec);
  if (ec || !fs::is_directory(root, ec)) {
    why = "the shared folder is not an existing folder";
    return false;
  }
  const fs::path target = fs::canonical(path, ec);
  if (ec) {
    why = "no such file";
    return false;
  }
  auto t = target.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++t) {
    if (r->empty()) continue;  // the empty last element of a root ending in "/"
    if (t == target.end() || *r != *t) {
      why = "it is outside the shared folder";
      return false;
    }
  }
  if (!fs::is_regular_file(target, ec)) {
    why = "it is not a file";
    return false;
  }
  return true;
}

bool MaySendDropFile(RegistryBackend& registry, const std::u16string& path, std::string& why) {
  const std::u16string share = StoredSharedFolder(registry);
  if (share == kRegistryReadFailed ||
      !InsideSharedFolder(PathFromText(path), PathFromText(share), why)) {
    if (why.empty()) why = "no shared folder is set";
    return false;
  }
  return true;
}

}  // namespace zuvo
