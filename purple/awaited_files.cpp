#include "purple/awaited_files.h"

#include "base/file_name_case.h"

namespace zuvo::purple {

std::u16string AwaitedFiles::FileNameOf(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"/\\");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

void AwaitedFiles::Expect(const std::string& contact, std::u16string_view path,
                          Clock::time_point now) {
  std::u16string name = FileNameOf(path);
  if (name.empty()) return;
  if (awaited_.size() >= kMaxAwaited) awaited_.pop_front();
  awaited_.push_back({contact, std::move(name), now});
}

bool AwaitedFiles::Take(const std::string& contact, std::u16string_view fileName,
                        Clock::time_point now) {
  while (!awaited_.empty() && now - awaited_.front().asked > kWindow) awaited_.pop_front();
  for (auto it = awaited_.begin(); it != awaited_.end(); ++it) {
    if (it->contact == contact && FileNamesEqual(it->name, fileName)) {
      awaited_.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace zuvo::purple
