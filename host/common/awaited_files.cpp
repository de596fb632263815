#include "host/common/awaited_files.h"

#include "base/file_name_case.h"
#include "core/notify_text.h"
#include "host/common/path_text.h"

namespace zuvo {

void AwaitedFiles::Expect(const std::string& contact, std::u16string_view path,
                          Clock::time_point now) {
  const std::u16string_view name = LastComponent(path);
  if (name.empty()) return;
  if (awaited_.size() >= kMaxAwaited) awaited_.pop_front();
  Awaited a;
  a.contact = contact;
  a.path = path;
  a.name = name;
  a.deadline = now + kWindow;
  awaited_.push_back(std::move(a));
}

bool AwaitedFiles::NoteAnswer(const std::string& contact, std::u16string_view text,
                              Clock::time_point now, const Announced& announced) {
  const std::optional<std::u16string> path = SendingFilePath(text);
  if (!path) return false;
  for (Awaited& a : awaited_) {
    if (!a.accepted && a.contact == contact && a.path == *path && now <= a.deadline) {
      a.accepted = true;
      a.announced = announced;
      a.deadline = now + kWindow;
      return true;
    }
  }
  return false;
}

HostError AwaitedFiles::Admit(const std::string& contact, std::u16string_view offeredName,
                              uint64_t size, const std::filesystem::path& folder,
                              Clock::time_point now, Awaited* admitted) {
  std::erase_if(awaited_, [&](const Awaited& a) { return a.deadline < now; });
  bool asked = false;
  for (auto it = awaited_.begin(); it != awaited_.end(); ++it) {
    if (it->contact != contact || !FileNamesEqual(it->name, offeredName)) continue;
    asked = true;
    if (!it->accepted) continue;
    if (admitted) *admitted = *it;
    awaited_.erase(it);
    return CheckFreeSpace(folder, size);
  }
  return Failure(asked ? HostErrorKind::kNotAccepted : HostErrorKind::kNotAsked);
}

}  // namespace zuvo
