// The files this user asked a contact for. An incoming transfer is taken
// without asking the user only when it matches one of these: the same
// contact, the same file name (letter case aside, as the file system
// compares names), asked for with "/xrfile" within the last minutes. Each
// request lets one transfer in; the list is bounded.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>

namespace zuvo::purple {

class AwaitedFiles {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr size_t kMaxAwaited = 64;
  static constexpr std::chrono::minutes kWindow{10};

  // The file name a "/xrfile" path names: its last component, after "/" or
  // "\" (the contact's machine may use either). Empty for a path that ends
  // in a separator.
  static std::u16string FileNameOf(std::u16string_view path);

  // Remembers that |contact| was asked for the file at |path|.
  void Expect(const std::string& contact, std::u16string_view path, Clock::time_point now);
  // Whether a transfer of |fileName| from |contact| was asked for; a match
  // is used up.
  bool Take(const std::string& contact, std::u16string_view fileName, Clock::time_point now);

  size_t size() const { return awaited_.size(); }

 private:
  struct Awaited {
    std::string contact;
    std::u16string name;
    Clock::time_point asked;
  };
  std::deque<Awaited> awaited_;  // oldest first
};

}  // namespace zuvo::purple
