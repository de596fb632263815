#include "host/common/received_file.h"

#include <vector>

#include "base/text.h"
#include "host/common/file_io.h"
#include "host/common/path_text.h"

namespace zuvo {
namespace fs = std::filesystem;
namespace {

// Names longer than this (in UTF-16 code units) are shortened before their
// extension; it keeps the UTF-8 name within the usual 255-byte limit.
constexpr size_t kMaxNameUnits = 80;
// Free names tried before publishing gives up.
constexpr unsigned kMaxCandidates = 10000;

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

HostError CannotWrite() {
  return Failure(HostErrorKind::kSystem, "cannot write to the downloads folder (disk full?)");
}

}  // namespace

std::u16string SafeFileName(std::u16string_view offered) {
  offered = LastComponent(offered);
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

HostError CheckFreeSpace(const fs::path& folder, uint64_t size) {
  // A folder not made yet holds what the file system it will be on holds.
  std::error_code ec;
  fs::path existing = folder;
  while (!fs::exists(existing, ec) && existing.has_relative_path()) {
    existing = existing.parent_path();
  }
  const fs::space_info space = fs::space(existing.empty() ? fs::path(".") : existing, ec);
  if (ec) {
    return Failure(HostErrorKind::kSystem,
                   "cannot tell the free space in " + folder.string() + ": " + ec.message());
  }
  if (space.available < kFreeSpaceMargin || size > space.available - kFreeSpaceMargin) {
    return Failure(HostErrorKind::kNoRoom,
                   std::to_string(size) + " bytes offered for " + folder.string());
  }
  return {};
}

std::unique_ptr<IncomingFile> IncomingFile::Open(const fs::path& folder,
                                                 std::u16string_view offeredName,
                                                 Announced announced, HostError& error) {
  std::unique_ptr<IncomingFile> in(new IncomingFile());
  in->folder_ = folder;
  in->name_ = SafeFileName(offeredName);
  in->announced_ = announced;
  // The file's own name with ".part", or the first free candidate's; "x"
  // fails on any existing entry, links included, so nothing is replaced.
  for (unsigned n = 0; n < kMaxCandidates && !in->file_; ++n) {
    in->tempPath_ = folder / PathFromText(CandidateName(in->name_, n) + u".part");
    in->file_ = OpenFile(in->tempPath_, "wbx");
    std::error_code ec;
    if (!in->file_ && !fs::exists(fs::symlink_status(in->tempPath_, ec))) break;
  }
  if (!in->file_) {
    in->tempPath_.clear();
    error = Failure(HostErrorKind::kSystem, "cannot create a file in " + folder.string());
    return nullptr;
  }
  return in;
}

IncomingFile::~IncomingFile() { Discard(); }

HostError IncomingFile::Write(std::string_view data) {
  if (!file_) return Failure(HostErrorKind::kBadTransfer, "the transfer is closed");
  if (announced_.size && data.size() > *announced_.size - received_) {
    return Failure(HostErrorKind::kBadTransfer,
                   "more data than the offered " + std::to_string(*announced_.size) + " bytes");
  }
  if (std::fwrite(data.data(), 1, data.size(), file_) != data.size()) return CannotWrite();
  hash_.Update(data);
  received_ += data.size();
  return {};
}

const fs::path& IncomingFile::HandOver() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  handedOver_ = true;
  return tempPath_;
}

HostError IncomingFile::ReadBack() {
  std::FILE* file = OpenFile(tempPath_, "rb");
  if (!file) return Failure(HostErrorKind::kSystem, "cannot read the received file again");
  std::vector<char> buffer(1 << 16);
  received_ = 0;
  for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) {
    hash_.Update(buffer.data(), n);
    received_ += n;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return failed ? Failure(HostErrorKind::kSystem, "cannot read the received file again")
                : HostError{};
}

HostError IncomingFile::Finish() {
  if (tempPath_.empty()) return Failure(HostErrorKind::kBadTransfer, "the transfer is closed");
  if (handedOver_) {
    // Only what was announced is checked: reading the file back is needed
    // for that alone.
    if (announced_.size || announced_.sha256) {
      if (HostError e = ReadBack(); e.failed()) return e;
    } else {
      std::error_code ec;
      const uintmax_t size = fs::file_size(tempPath_, ec);
      if (!ec) received_ = size;
    }
  } else {
    if (!file_) return Failure(HostErrorKind::kBadTransfer, "the transfer is closed");
    const bool flushed = std::fflush(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) return CannotWrite();
  }
  if (announced_.size && received_ != *announced_.size) {
    return Failure(HostErrorKind::kBadTransfer, "size mismatch: " + std::to_string(received_) +
                                                    " of " + std::to_string(*announced_.size) +
                                                    " bytes");
  }
  if (announced_.sha256 && hash_.Final() != *announced_.sha256) {
    return Failure(HostErrorKind::kBadTransfer, "checksum mismatch");
  }
  digestVerified_ = announced_.sha256.has_value();
  for (unsigned n = 0; n < kMaxCandidates; ++n) {
    const fs::path candidate = folder_ / PathFromText(CandidateName(name_, n));
    HostError error;
    switch (MoveNoReplace(tempPath_, candidate, error)) {
      case MoveResult::kMoved:
        finalPath_ = candidate;
        tempPath_.clear();
        return {};
      case MoveResult::kExists:
        continue;
      case MoveResult::kFailed:
        return error;
    }
  }
  return Failure(HostErrorKind::kSystem, "no free name for " + Utf16ToUtf8(name_));
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

}  // namespace zuvo
