// The sending end of one file transfer in the chat. The sender hashes the
// file first (the offer carries its size and SHA-256), then reads it in
// pieces. The receiving end is host/common/received_file.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "files/shared_file.h"
#include "host/common/checksum.h"
#include "host/common/host_error.h"

namespace zuvo::chat {

class OutgoingFile {
 public:
  // Takes over |file|, already open and checked, to be sent as |name|.
  static std::unique_ptr<OutgoingFile> FromOpen(SharedFile& file, std::u16string name);
  ~OutgoingFile();
  OutgoingFile(const OutgoingFile&) = delete;
  OutgoingFile& operator=(const OutgoingFile&) = delete;

  // Hashes the next part of the file; |done| once the whole file is hashed.
  // A file whose size changed meanwhile fails.
  HostError HashStep(bool& done);
  // The next piece to send (empty at the end); fails on a read error or
  // when the file no longer has the size it had when it was hashed.
  HostError ReadPiece(std::string& piece);

  uint64_t size() const { return size_; }
  uint64_t sent() const { return sent_; }
  const Digest& sha256() const { return digest_; }
  const std::u16string& name() const { return name_; }

 private:
  OutgoingFile() = default;

  std::FILE* file_ = nullptr;
  std::u16string name_;
  uint64_t size_ = 0;
  uint64_t hashed_ = 0;
  uint64_t sent_ = 0;
  Sha256 hash_;
  Digest digest_{};
};

}  // namespace zuvo::chat
