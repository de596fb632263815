// Both ends of one file transfer. The sender hashes the file first (the
// offer carries its size and SHA-256), then reads it in pieces. The
// receiver writes to a temporary name in the downloads folder and gives the
// file its final name only after size and checksum have been verified, with
// a no-overwrite rename to the first free name ("a.txt", "a (1).txt", ...).
// A transfer that fails or is cut off removes its temporary file, so no half
// file ever appears under a final name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "files/shared_file.h"
#include "host/chat/checksum.h"
#include "host/common/path_text.h"

namespace zuvo::chat {

// The name a received file is stored under, made from the name the other
// side offered: only its last path component, with characters that are not
// allowed in file names (on any of the two platforms) replaced by "_", and
// never empty, "." or "..".
std::u16string SafeFileName(std::u16string_view offered);

// The |n|-th candidate for storing |name|: the name itself for 0, else the
// name with " (n)" before its extension.
std::u16string CandidateName(std::u16string_view name, unsigned n);

class IncomingFile {
 public:
  // Opens a fresh temporary file in |folder|; nullptr with |why| on failure.
  static std::unique_ptr<IncomingFile> Open(const std::filesystem::path& folder,
                                            std::u16string_view offeredName, uint64_t size,
                                            const Digest& sha256, std::string& why);
  ~IncomingFile();  // removes the temporary file unless it was published
  IncomingFile(const IncomingFile&) = delete;
  IncomingFile& operator=(const IncomingFile&) = delete;

  // Appends |data|; false (with |why|) when it would exceed the offered size
  // or cannot be written.
  bool Write(std::string_view data, std::string& why);
  // Checks size and checksum and moves the file to the first free name.
  bool Finish(std::string& why);
  // Removes the temporary file.
  void Discard();

  const std::u16string& name() const { return name_; }
  uint64_t size() const { return size_; }
  uint64_t received() const { return received_; }
  const std::filesystem::path& finalPath() const { return finalPath_; }

 private:
  IncomingFile() = default;

  std::filesystem::path folder_;
  std::filesystem::path tempPath_;
  std::filesystem::path finalPath_;
  std::u16string name_;
  FILE* file_ = nullptr;
  uint64_t size_ = 0;
  uint64_t received_ = 0;
  Digest expected_{};
  Sha256 hash_;
};

class OutgoingFile {
 public:
  // Opens |path| for reading; nullptr with |why| when it is not a readable
  // regular file.
  static std::unique_ptr<OutgoingFile> Open(const std::filesystem::path& path, std::string& why);
  // Takes over |file|, already open and checked, to be sent as |name|.
  static std::unique_ptr<OutgoingFile> FromOpen(SharedFile& file, std::u16string name);
  ~OutgoingFile();
  OutgoingFile(const OutgoingFile&) = delete;
  OutgoingFile& operator=(const OutgoingFile&) = delete;

  // Hashes the next part of the file; true once the whole file is hashed.
  // A file whose size changed meanwhile fails.
  bool HashStep(bool& done, std::string& why);
  // The next piece to send (empty at the end); false on a read error or
  // when the file no longer has the size it had when it was hashed.
  bool ReadPiece(std::string& piece, std::string& why);

  uint64_t size() const { return size_; }
  uint64_t sent() const { return sent_; }
  const Digest& sha256() const { return digest_; }
  const std::u16string& name() const { return name_; }

 private:
  OutgoingFile() = default;

  FILE* file_ = nullptr;
  std::u16string name_;
  uint64_t size_ = 0;
  uint64_t hashed_ = 0;
  uint64_t sent_ = 0;
  Sha256 hash_;
  Digest digest_{};
};

}  // namespace zuvo::chat
