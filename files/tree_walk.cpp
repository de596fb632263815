#include "files/tree_walk.h"

#include "files/name_order.h"

namespace zuvo {

bool TreeWalk::Enter(FolderHandle& handle, FsStatus opened, uint32_t depth, TreeVisitor& visitor) {
  if (IsLackOfResources(opened)) {
    failure_ = opened;
    return false;
  }
  if (opened != FsStatus::kOk) return visitor.VisitFolder(path_, nullptr);
  // A read that fails half-way ends that folder's enumeration; what was read
  // is still used, unless the read stopped for want of resources.
  const FsStatus read = fs_.ReadFolder(handle, contents_);
  if (IsLackOfResources(read)) {
    failure_ = read;
    return false;
  }

  const size_t subBegin = subs_.size();
  const size_t subNamesBegin = subNames_.size();
  for (const FolderEntry& e : contents_.entries) {
    if (e.kind == EntryKind::kFolder || (walkUnknown_ && e.kind == EntryKind::kUnknown)) {
      const std::u16string_view name = contents_.name(e);
      if (IsDotName(name)) continue;
      subs_.push_back(
          {static_cast<uint32_t>(subNames_.size()), static_cast<uint32_t>(name.size())});
      subNames_.append(name);
    }
  }
  const bool anchor = depth < kAnchorDepth || depth % kAnchorEvery == 0;
  if (subs_.size() == subBegin || !anchor) handle.Close();

  if (!visitor.VisitFolder(path_, &contents_)) return false;
  if (subs_.size() != subBegin) {
    stack_.push_back(
        {std::move(handle), path_.size(), subBegin, subBegin, subs_.size(), subNamesBegin, depth});
  }
  return true;
}

FsStatus TreeWalk::Run(std::u16string_view rootPrefix, TreeVisitor& visitor) {
  failure_ = FsStatus::kOk;
  path_.assign(rootPrefix);
  {
    FolderHandle root;
    const FsStatus opened = fs_.OpenFolder(rootPrefix, root);
    if (!Enter(root, opened, 0, visitor)) stack_.clear();
  }
  while (!stack_.empty()) {
    Frame& top = stack_.back();
    if (top.nextSub == top.endSub) {
      subs_.resize(top.subBegin);
      subNames_.resize(top.subNamesBegin);
      stack_.pop_back();
      continue;
    }
    const SubFolder sub = subs_[top.nextSub++];
    const uint32_t depth = top.depth + 1;
    path_.resize(top.prefixLength);
    path_.append(subNames_, sub.nameOffset, sub.nameLength);

    // The nearest ancestor that kept its folder open; the root always does
    // while it has sub-folders left.
    size_t anchor = stack_.size() - 1;
    while (!stack_[anchor].handle.is_open()) --anchor;
    const std::u16string_view below =
        std::u16string_view(path_).substr(stack_[anchor].prefixLength);

    FolderHandle child;
    const FsStatus opened = fs_.OpenFolderBelow(stack_[anchor].handle, below, child);
    path_.push_back(separator_);
    if (!Enter(child, opened, depth, visitor)) break;
  }
  stack_.clear();
  subs_.clear();
  subNames_.clear();
  return failure_;
}

}  // namespace zuvo
