#include "files/file_system.h"

#include "base/file_name_case.h"
#include "base/text.h"
#include "files/tree_walk.h"

namespace zuvo {

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    Close();
    os = other.os;
    path = std::move(other.path);
    owner_ = other.owner_;
    other.os = -1;
    other.path.clear();
    other.owner_ = nullptr;
  }
  return *this;
}

void FolderHandle::Close() noexcept {
  if (owner_ != nullptr) {
    FileSystem* owner = owner_;
    owner_ = nullptr;
    owner->CloseFolder(*this);
  }
  os = -1;
  path.clear();
}

namespace {

class NameSearch final : public TreeVisitor {
 public:
  NameSearch(std::u16string_view name, std::u16string& found) : name_(name), found_(found) {}

  bool VisitFolder(std::u16string_view prefix, const FolderContents* contents) override {
    if (contents == nullptr) return true;
    for (const FolderEntry& e : contents->entries) {
      if (e.kind != EntryKind::kFile || e.nameLength != name_.size()) continue;
      const std::u16string_view name = contents->name(e);
      if (FileNamesEqual(name, name_)) {
        found_.reserve(prefix.size() + name.size());
        found_.assign(prefix).append(name);
        hit_ = true;
        return false;
      }
    }
    return true;
  }
  bool hit() const { return hit_; }

 private:
  std::u16string_view name_;
  std::u16string& found_;
  bool hit_ = false;
};

}  // namespace

FsStatus FileSystem::SearchTreeForFile(std::u16string& root, std::u16string& name,
                                       char16_t separator, std::u16string& found) {
  const bool rootValid = RoundTripNarrow(root);
  const bool nameValid = RoundTripNarrow(name);
  found.clear();
  if (!rootValid || !nameValid || root.empty() || name.empty()) return FsStatus::kNotFound;

  std::u16string prefix = root;
  if (prefix.back() != separator) prefix.push_back(separator);
  NameSearch search(name, found);
  TreeWalk walk(*this, separator, /*walkUnknown=*/false);
  const FsStatus walked = walk.Run(prefix, search);
  if (search.hit()) return FsStatus::kOk;
  // A walk cut short for want of resources has not looked everywhere.
  return walked == FsStatus::kOk ? FsStatus::kNotFound : walked;
}

bool FileSystem::RoundTripNarrow(std::u16string& text) {
  // Only unpaired surrogates change (to U+FFFD), and such a text names
  // nothing on disk.
  bool valid = true;
  text = Utf8ToUtf16(Utf16ToUtf8(text, &valid));
  return valid;
}

FsStatus FileSystem::OpenFileBelow(const FolderHandle&, std::u16string_view, std::FILE*& out,
                                   uint64_t& size) {
  out = nullptr;
  size = 0;
  return FsStatus::kNotFound;
}

}  // namespace zuvo
