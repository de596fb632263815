// The user's requests that have no outcome yet, so that every request gets
// one: an answer from the contact's plug-in, word from the network that no
// plug-in takes it (an IQ error, a CTCP error reply: Refused), or, failing
// both, the time limit of the network it went over (Expire). The host
// names the contact in one line for the last two; a request the network
// confirms a plug-in took (an IQ result: Delivered) is named so.
//
// One entry per contact: further requests before an outcome move its time
// limit on. Any answer from the contact settles them all, since its plug-in
// is there and answering. At most kMaxContacts contacts wait at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zuvo::purple {

class RequestOutcomes {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kMaxContacts = 1024;

  struct Waiting {
    std::string contact;          // the host's key for the contact
    std::string name;             // how the user addressed them
    const void* where = nullptr;  // the host's own tag (its account)
    bool delivered = false;
  };

  void Asked(const std::string& contact, const std::string& name, const void* where,
             Clock::time_point deadline);
  void Delivered(const std::string& contact);
  void Answered(const std::string& contact) { waiting_.erase(contact); }
  // The request waiting for |contact|, now settled; nothing when none was.
  std::optional<Waiting> Refused(const std::string& contact);
  // The requests whose time limit passed by |now|, now settled.
  std::vector<Waiting> Expire(Clock::time_point now);
  bool empty() const { return waiting_.empty(); }

 private:
  struct Entry {
    std::string name;
    const void* where = nullptr;
    Clock::time_point deadline;
    bool delivered = false;
  };
  std::map<std::string, Entry> waiting_;
};

}  // namespace zuvo::purple
