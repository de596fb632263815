#include "host/chat/transfer.h"

#include <algorithm>
#include <vector>

#include "host/chat/protocol.h"

namespace zuvo::chat {
namespace {

constexpr size_t kHashStep = 1 << 20;

HostError Changed(const char* how) {
  return Failure(HostErrorKind::kBadTransfer, std::string("the file ") + how);
}

}  // namespace

std::unique_ptr<OutgoingFile> OutgoingFile::FromOpen(SharedFile& file, std::u16string name) {
  std::unique_ptr<OutgoingFile> out(new OutgoingFile());
  out->size_ = file.size();
  out->file_ = file.release();
  out->name_ = std::move(name);
  return out;
}

OutgoingFile::~OutgoingFile() {
  if (file_) std::fclose(file_);
}

HostError OutgoingFile::HashStep(bool& done) {
  done = false;
  std::vector<char> buffer(kHashStep);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(kHashStep, size_ - hashed_));
  const size_t got = want ? std::fread(buffer.data(), 1, want, file_) : 0;
  hash_.Update(buffer.data(), got);
  hashed_ += got;
  if (got != want) return Changed("became shorter while it was read");
  if (hashed_ < size_) return {};
  if (std::fgetc(file_) != EOF) return Changed("grew while it was read");
  digest_ = hash_.Final();
  std::rewind(file_);
  done = true;
  return {};
}

HostError OutgoingFile::ReadPiece(std::string& piece) {
  const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunkSize, size_ - sent_));
  piece.resize(want);
  const size_t got = want ? std::fread(piece.data(), 1, want, file_) : 0;
  if (got != want) return Changed("became shorter while it was sent");
  sent_ += got;
  return {};
}

}  // namespace zuvo::chat
