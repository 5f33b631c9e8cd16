#include "files/store/errors.h"

#include <cerrno>

namespace pendlo {

std::string InOutMessage(int code) {
  switch (code) {
    case kInOutFileNotFound:
      return kFileNotFoundText;
    case kInOutInvalidFileName:
      return kInvalidFileNameText;
    case kInOutTooManyOpenFiles:
      return kTooManyOpenFilesText;
    case kInOutAccessDenied:
      return kAccessDeniedText;
    case kInOutReadBeyondEnd:
      return kReadBeyondEndText;
    case kInOutDiskFull:
      return kDiskFullText;
    case kInOutNotANumber:
      return kNotANumberText;
    default:
      return FormatMessage(kInOutErrorFormat, {std::to_string(code)});
  }
}

int InOutCodeForErrno(int err) {
  switch (err) {
    case ENOENT:
      return kInOutFileNotFound;
    case ENAMETOOLONG:
    case EINVAL:
    case ENOTDIR:
    case ELOOP:
      return kInOutInvalidFileName;
    case EMFILE:
    case ENFILE:
      return kInOutTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
      return kInOutAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kInOutDiskFull;
    default:
      return 0;
  }
}

EInOutError::EInOutError(int code, const std::string& file)
    : EInOutError(code, InOutMessage(code), file) {}

EInOutError::EInOutError(int code, const std::string& message, const std::string& file)
    : std::runtime_error(file.empty() ? message : FormatMessage(kNamedFormat, {file, message})),
      code_(code) {}

EInOutError EInOutError::FromErrno(int err, const std::string& file) {
  const int code = InOutCodeForErrno(err);
  if (code != 0) return EInOutError(code, file);
  // Always the generic form: an errno such as EIO (5) must not borrow the
  // message of the table code with the same number.
  return EInOutError(err, FormatMessage(kInOutErrorFormat, {std::to_string(err)}), file);
}

EFileError::EFileError(const std::string& message, int err)
    : std::runtime_error(message), errno_(err) {}

EFOpenError::EFOpenError(const std::string& fileName, int err)
    : EFileError(FormatMessage(kOpenErrorFormat, {fileName}), err) {}

EFCreateError::EFCreateError(const std::string& fileName, int err)
    : EFileError(FormatMessage(kCreateErrorFormat, {fileName}), err) {}

EWriteError::EWriteError(int err) : EFileError(kWriteErrorText, err) {}

EMemoLimitError::EMemoLimitError() : EFileError(kMemoLimitText, 0) {}

std::string UnstorableMessage(const std::string& characters) {
  return FormatMessage(kUnstorableFormat, {characters});
}

}  // namespace pendlo
