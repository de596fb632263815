#include "host/common/host_error.h"

namespace zuvo {

std::string Describe(const HostError& error) {
  const std::string& d = error.detail;
  switch (error.kind) {
    case HostErrorKind::kNone:
      return "no error";
    case HostErrorKind::kNoSharedFolder:
      return "no shared folder is set";
    case HostErrorKind::kOutsideShare:
      return "it is outside the shared folder";
    case HostErrorKind::kNotFound:
      return "no such file (or not a file), or the shared folder is not an existing folder";
    case HostErrorKind::kAccessDenied:
      return "permission denied";
    case HostErrorKind::kUnreadable:
      return "it cannot be read";
    case HostErrorKind::kNotAsked:
      return "no file of that name was requested";
    case HostErrorKind::kNotAccepted:
      return "the contact's plug-in did not offer that file";
    case HostErrorKind::kNoRoom:
      return "the file does not fit in the free space" + (d.empty() ? "" : " (" + d + ")");
    case HostErrorKind::kBadTransfer:
      return d.empty() ? "the file is not what was announced" : d;
    case HostErrorKind::kTooMany:
      return "too many " + (d.empty() ? std::string("at once") : d);
    case HostErrorKind::kEnded:
      return d.empty() ? "the conversation has ended" : d;
    case HostErrorKind::kSystem:
      return d.empty() ? "the system failed" : d;
  }
  return d;
}

HostError ErrorFromFsStatus(FsStatus status) {
  switch (status) {
    case FsStatus::kOk:
      return {};
    case FsStatus::kBadPath:
      return Failure(HostErrorKind::kOutsideShare);
    case FsStatus::kNotFound:
      return Failure(HostErrorKind::kNotFound);
    case FsStatus::kAccessDenied:
      return Failure(HostErrorKind::kAccessDenied);
    case FsStatus::kIoError:
    case FsStatus::kNoMemory:
    case FsStatus::kNoResources:
      break;
  }
  return Failure(HostErrorKind::kUnreadable);
}

}  // namespace zuvo
