#include "host/chat/transfer.h"

#include <random>
#include <vector>

#include "base/text.h"
#include "host/chat/platform.h"
#include "host/chat/protocol.h"

namespace zuvo::chat {
namespace fs = std::filesystem;
namespace {

// Names longer than this (in UTF-16 code units) are shortened before their
// extension; it keeps the UTF-8 name within the usual 255-byte limit.
constexpr size_t kMaxNameUnits = 80;
constexpr size_t kHashStep = 1 << 20;

// Keep this much free in the downloads folder beyond an offered file.
constexpr uint64_t kFreeSpaceMargin = 64ull << 20;

// Characters no stored name keeps: those the two platforms forbid, every
// control character (C0, DEL, C1) and the ones that forge a line or turn
// the reading direction, so a name shows what it is ("txt.exe" cannot pass
// for "exe.txt").
bool ForbiddenInName(char16_t c) {
  return c < 32 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == u'/' || c == u'\\' ||
         c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' || c == u'|';
}

// Whether Windows takes |name| for a device (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9), whatever follows its first dot and however it is written.
bool IsDeviceName(std::u16string_view name) {
  std::u16string_view stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
  std::u16string s;
  for (char16_t c : stem) s.push_back(upper(c));
  if (s == u"CON" || s == u"PRN" || s == u"AUX" || s == u"NUL") return true;
  if (s.size() != 4 || (s.compare(0, 3, u"COM") != 0 && s.compare(0, 3, u"LPT") != 0)) {
    return false;
  }
  const char16_t n = s[3];
  return (n >= u'1' && n <= u'9') || n == 0xB9 || n == 0xB2 || n == 0xB3;
}

// Where the extension starts (the last "."), or npos for none; a leading
// dot names a hidden file and is no extension.
size_t ExtensionStart(std::u16string_view name) {
  const size_t dot = name.rfind(u'.');
  return dot == std::u16string_view::npos || dot == 0 ? std::u16string_view::npos : dot;
}

std::string RandomTag() {
  std::random_device rd;
  std::uniform_int_distribution<uint64_t> dist;
  static constexpr char kHex[] = "0123456789abcdef";
  uint64_t v = dist(rd);
  std::string out;
  for (int i = 0; i < 16; ++i, v >>= 4) out.push_back(kHex[v & 15]);
  return out;
}

}  // namespace

std::u16string SafeFileName(std::u16string_view offered) {
  const size_t cut = offered.find_last_of(u"/\\");
  if (cut != std::u16string_view::npos) offered.remove_prefix(cut + 1);
  std::u16string name;
  for (char16_t c : offered) name.push_back(ForbiddenInName(c) ? u'_' : c);
  // Trailing dots and blanks vanish from names on Windows; a leading dot
  // would hide the file.
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
  const size_t visible = name.find_first_not_of(u". ");
  name.erase(0, visible == std::u16string::npos ? name.size() : visible);
  if (name.size() > kMaxNameUnits) {
    const size_t ext = ExtensionStart(name);
    std::u16string extension =
        ext == std::u16string::npos || name.size() - ext > 16 ? u"" : name.substr(ext);
    name = name.substr(0, kMaxNameUnits - extension.size()) + extension;
  }
  if (name.empty()) name = u"download";
  if (IsDeviceName(name)) name.insert(0, u"_");
  return name;
}

std::u16string CandidateName(std::u16string_view name, unsigned n) {
  if (n == 0) return std::u16string(name);
  const std::u16string suffix = u" (" + DecimalText(n) + u")";
  const size_t ext = ExtensionStart(name);
  if (ext == std::u16string_view::npos) return std::u16string(name) + suffix;
  return std::u16string(name.substr(0, ext)) + suffix + std::u16string(name.substr(ext));
}

std::unique_ptr<IncomingFile> IncomingFile::Open(const fs::path& folder,
                                                 std::u16string_view offeredName, uint64_t size,
                                                 const Digest& sha256, std::string& why) {
  // Refused before a byte is written: a file the folder cannot hold (with
  // room to spare for everything else on that disk).
  std::error_code ec;
  const fs::space_info space = fs::space(folder, ec);
  if (ec) {
    why = "cannot tell the free space in " + folder.string() + ": " + ec.message();
    return nullptr;
  }
  if (space.available < kFreeSpaceMargin || size > space.available - kFreeSpaceMargin) {
    why = "the file (" + std::to_string(size) + " bytes) does not fit in the free space of " +
          folder.string();
    return nullptr;
  }
  std::unique_ptr<IncomingFile> in(new IncomingFile());
  in->folder_ = folder;
  in->name_ = SafeFileName(offeredName);
  in->size_ = size;
  in->expected_ = sha256;
  // A hidden name that no final name can take; "x" fails on any existing
  // entry, links included.
  for (int attempt = 0; attempt < 5 && !in->file_; ++attempt) {
    in->tempPath_ = folder / (".zuvo-" + RandomTag() + ".part");
    in->file_ = OpenFile(in->tempPath_, "wbx");
  }
  if (!in->file_) {
    why = "cannot create a file in " + folder.string();
    return nullptr;
  }
  return in;
}

IncomingFile::~IncomingFile() { Discard(); }

bool IncomingFile::Write(std::string_view data, std::string& why) {
  if (!file_) {
    why = "the transfer is closed";
    return false;
  }
  if (data.size() > size_ - received_) {
    why = "more data than the offered " + std::to_string(size_) + " bytes";
    return false;
  }
  if (std::fwrite(data.data(), 1, data.size(), file_) != data.size()) {
    why = "cannot write to the downloads folder (disk full?)";
    return false;
  }
  hash_.Update(data);
  received_ += data.size();
  return true;
}

bool IncomingFile::Finish(std::string& why) {
  if (!file_) {
    why = "the transfer is closed";
    return false;
  }
  if (received_ != size_) {
    why = "size mismatch: " + std::to_string(received_) + " of " + std::to_string(size_) + " bytes";
    return false;
  }
  const bool flushed = std::fflush(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) {
    why = "cannot write to the downloads folder (disk full?)";
    return false;
  }
  if (hash_.Final() != expected_) {
    why = "checksum mismatch";
    return false;
  }
  for (unsigned n = 0; n < 10000; ++n) {
    const fs::path candidate = folder_ / PathFromText(CandidateName(name_, n));
    switch (MoveNoReplace(tempPath_, candidate, why)) {
      case MoveResult::kMoved:
        finalPath_ = candidate;
        tempPath_.clear();
        return true;
      case MoveResult::kExists:
        continue;
      case MoveResult::kFailed:
        return false;
    }
  }
  why = "no free name for " + Utf16ToUtf8(name_);
  return false;
}

void IncomingFile::Discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!tempPath_.empty()) {
    std::error_code ec;
    fs::remove(tempPath_, ec);
    tempPath_.clear();
  }
}

std::unique_ptr<OutgoingFile> OutgoingFile::Open(const fs::path& path, std::string& why) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::is_regular_file(status)) {
    why = ec ? "cannot open " + path.string() + ": " + ec.message()
             : path.string() + " is not a regular file";
    return nullptr;
  }
  std::unique_ptr<OutgoingFile> out(new OutgoingFile());
  out->file_ = OpenFile(path, "rb");
  const uint64_t size = fs::file_size(path, ec);
  if (!out->file_ || ec) {
    why = "cannot read " + path.string();
    return nullptr;
  }
  out->size_ = size;
  out->name_ = TextFromPath(path.filename());
  return out;
}

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

bool OutgoingFile::HashStep(bool& done, std::string& why) {
  done = false;
  std::vector<char> buffer(kHashStep);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(kHashStep, size_ - hashed_));
  const size_t got = want ? std::fread(buffer.data(), 1, want, file_) : 0;
  hash_.Update(buffer.data(), got);
  hashed_ += got;
  if (got != want) {
    why = "the file became shorter while it was read";
    return false;
  }
  if (hashed_ < size_) return true;
  if (std::fgetc(file_) != EOF) {
    why = "the file grew while it was read";
    return false;
  }
  digest_ = hash_.Final();
  std::rewind(file_);
  done = true;
  return true;
}

bool OutgoingFile::ReadPiece(std::string& piece, std::string& why) {
  const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunkSize, size_ - sent_));
  piece.resize(want);
  const size_t got = want ? std::fread(piece.data(), 1, want, file_) : 0;
  if (got != want) {
    why = "the file became shorter while it was sent";
    return false;
  }
  sent_ += got;
  return true;
}

}  // namespace zuvo::chat
