#include "files/store/errors.h"

#include <cerrno>

namespace pendlo {

std::string InOutMessage(int code) {
  switch (code) {
    case kInOutFileNotFound:
      return "ﾌｧｲﾙが見つかりません";
    case kInOutInvalidFileName:
      return "不正なﾌｧｲﾙ名です";
    case kInOutTooManyOpenFiles:
      return "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます";
    case kInOutAccessDenied:
      return "ﾌｧｲﾙへのｱｸｾｽが拒否されました";
    case kInOutReadBeyondEnd:
      return "ﾌｧｲﾙの末尾以降を読み込みました";
    case kInOutDiskFull:
      return "ﾃﾞｨｽｸがいっぱいです";
    case kInOutNotANumber:
      return "入力値が数値ではありません";
    default:
      return "I/O ｴﾗｰ (" + std::to_string(code) + ")";
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
    : std::runtime_error(file.empty() ? message : file + ": " + message), code_(code) {}

EInOutError EInOutError::FromErrno(int err, const std::string& file) {
  const int code = InOutCodeForErrno(err);
  if (code != 0) return EInOutError(code, file);
  // Always the generic form: an errno such as EIO (5) must not borrow the
  // message of the table code with the same number.
  return EInOutError(err, "I/O ｴﾗｰ (" + std::to_string(err) + ")", file);
}

EFileError::EFileError(const std::string& message, int err)
    : std::runtime_error(message), errno_(err) {}

EFOpenError::EFOpenError(const std::string& fileName, int err)
    : EFileError("ﾌｧｲﾙ " + fileName + " は開けません", err) {}

EFCreateError::EFCreateError(const std::string& fileName, int err)
    : EFileError("ﾌｧｲﾙ " + fileName + " を作成できません", err) {}

EWriteError::EWriteError(int err) : EFileError("ｽﾄﾘｰﾑへの書き込みｴﾗｰ", err) {}

EMemoLimitError::EMemoLimitError() : EFileError("文字列の大きさが ﾒﾓ の制限を越えました", 0) {}

std::string UnstorableMessage(const std::string& characters) {
  return "次の文字は ﾌｧｲﾙ に保存できないため \"?\" になります: " + characters;
}

}  // namespace pendlo
