// The files this user asked contacts for, and the one rule for an offered
// file, whichever transport carries it. An offer is taken only when it
// answers this user's own "/xrfile" to that contact:
//
//   1. the user asked that contact for a path (Expect);
//   2. the contact's plug-in answered "Accepted Request, Sending File " and
//      that path (NoteAnswer; its words are the core's constant);
//   3. the offered file has that path's file name (its last component,
//      compared by the file-name case rule);
//   4. the offer comes within kWindow of that answer (a request that gets no
//      answer is forgotten kWindow after it was asked);
//   5. each request lets one file in;
//   6. the file fits in the downloads folder's free space less a margin.
//
// Anything else is refused before a byte is written; the kind says which
// step failed. The register is bounded (kMaxAwaited requests, the oldest
// forgotten first) and keeps no state outside the object; its caller
// serialises the calls.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <string>

#include "host/common/host_error.h"
#include "host/common/received_file.h"

namespace zuvo {

class AwaitedFiles {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr size_t kMaxAwaited = 64;
  static constexpr std::chrono::minutes kWindow{10};

  // One file asked for.
  struct Awaited {
    std::string contact;
    std::u16string path;  // as asked for
    std::u16string name;  // its last component
    bool accepted = false;
    Clock::time_point deadline;
    Announced announced;  // what the sender announced of it, where it did
  };

  // The user asked |contact| for the file at |path|.
  void Expect(const std::string& contact, std::u16string_view path, Clock::time_point now);
  // A whole text from |contact|: when it is the plug-in's answer that the
  // file at a path asked for is on its way, that request may now be
  // answered by an offer. True when it was. |announced|: the file's size
  // and hash that came with the answer (checked when the file has arrived).
  bool NoteAnswer(const std::string& contact, std::u16string_view text, Clock::time_point now,
                  const Announced& announced = {});
  // Judges an offer of |size| bytes named |offeredName| from |contact|, to
  // be stored in |folder|; an admitted offer uses its request up and gives
  // it in |admitted|.
  HostError Admit(const std::string& contact, std::u16string_view offeredName, uint64_t size,
                  const std::filesystem::path& folder, Clock::time_point now,
                  Awaited* admitted = nullptr);

  size_t size() const { return awaited_.size(); }

 private:
  std::deque<Awaited> awaited_;  // oldest first
};

}  // namespace zuvo
