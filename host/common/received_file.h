// A file that arrives for this user, whatever carries it. It is written to
// a temporary name in the downloads folder that says what it is ("a.txt.part",
// or the first free "a (1).txt.part", ...) and gets its final name
// only when the transfer has ended and what was announced (its size, its
// SHA-256) has been checked: its own name, or the first free one ("a.txt",
// "a (1).txt", ...), by a rename that never replaces a file. A transfer
// that fails or is cut off removes its temporary file, so no half file ever
// appears under a final name. The file gets the mode the user's umask
// allows (0666 & ~umask), from the start.
//
// A transport that writes the bytes itself (libpurple writes the file by
// name) takes the temporary path with HandOver; one that receives the bytes
// (the chat) passes them through Write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "host/common/checksum.h"
#include "host/common/host_error.h"

namespace zuvo {

// Keep this much free in the downloads folder beyond an offered file.
inline constexpr uint64_t kFreeSpaceMargin = 64ull << 20;

// The name a received file is stored under, made from the name the other
// side offered: only its last path component, with characters that are not
// allowed in file names (on any of the two platforms), control characters
// and those that forge a line or turn the reading direction replaced by
// "_", no leading dots, a Windows device name prefixed with "_", never
// empty, "." or "..".
std::u16string SafeFileName(std::u16string_view offered);

// The |n|-th candidate for storing |name|: the name itself for 0, else the
// name with " (n)" before its extension.
std::u16string CandidateName(std::u16string_view name, unsigned n);

// kNoRoom when |size| bytes do not fit in |folder|'s free space less
// kFreeSpaceMargin (kSystem when the free space cannot be told). A folder
// that does not exist yet is judged by the nearest one above it that does.
HostError CheckFreeSpace(const std::filesystem::path& folder, uint64_t size);

// What the sender announced of a file, checked when the transfer ends.
struct Announced {
  std::optional<uint64_t> size;
  std::optional<Digest> sha256;
};

class IncomingFile {
 public:
  // Creates a fresh temporary file in |folder| for the file offered as
  // |offeredName|; nullptr with |error| on failure.
  static std::unique_ptr<IncomingFile> Open(const std::filesystem::path& folder,
                                            std::u16string_view offeredName, Announced announced,
                                            HostError& error);
  ~IncomingFile();  // removes the temporary file unless it was published
  IncomingFile(const IncomingFile&) = delete;
  IncomingFile& operator=(const IncomingFile&) = delete;

  // Appends |data|; fails when it would exceed the announced size or cannot
  // be written.
  HostError Write(std::string_view data);
  // Closes this side's copy of the file for a transport that writes it by
  // name; the path it is to write.
  const std::filesystem::path& HandOver();
  // Checks what was announced and moves the file to the first free name.
  HostError Finish();
  // Removes the temporary file.
  void Discard();

  const std::u16string& name() const { return name_; }  // the name it is stored under
  uint64_t size() const { return announced_.size.value_or(received_); }
  uint64_t received() const { return received_; }
  const std::filesystem::path& finalPath() const { return finalPath_; }
  // After Finish: whether the bytes were checked against an announced
  // SHA-256 (a transport or a protection that knows the digest announces it).
  bool digestVerified() const { return digestVerified_; }

 private:
  IncomingFile() = default;
  // What was written by name, hashed and counted from the file itself.
  HostError ReadBack();

  std::filesystem::path folder_;
  std::filesystem::path tempPath_;
  std::filesystem::path finalPath_;
  std::u16string name_;
  std::FILE* file_ = nullptr;
  bool handedOver_ = false;
  Announced announced_;
  uint64_t received_ = 0;
  bool digestVerified_ = false;
  Sha256 hash_;
};

}  // namespace zuvo
