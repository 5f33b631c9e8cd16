// The errors of the files module. Their what() is the exact UTF-8 message
// the user sees in the error box, so the UI shows them without translation.
#pragma once

#include <array>
#include <stdexcept>
#include <string>

#include "files/store/message_text.h"

namespace pendlo {

// Codes of the input/output error that have a message of their own.
inline constexpr int kInOutFileNotFound = 2;
inline constexpr int kInOutInvalidFileName = 3;
inline constexpr int kInOutTooManyOpenFiles = 4;
inline constexpr int kInOutAccessDenied = 5;
inline constexpr int kInOutReadBeyondEnd = 100;
inline constexpr int kInOutDiskFull = 101;
inline constexpr int kInOutNotANumber = 106;

// The templates of this module's messages (message_text.h).
inline constexpr const char* kFileNotFoundText =
    PENDLO_MESSAGE("pendlo::Messages", "ﾌｧｲﾙが見つかりません");
inline constexpr const char* kInvalidFileNameText =
    PENDLO_MESSAGE("pendlo::Messages", "不正なﾌｧｲﾙ名です");
inline constexpr const char* kTooManyOpenFilesText =
    PENDLO_MESSAGE("pendlo::Messages", "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます");
inline constexpr const char* kAccessDeniedText =
    PENDLO_MESSAGE("pendlo::Messages", "ﾌｧｲﾙへのｱｸｾｽが拒否されました");
inline constexpr const char* kReadBeyondEndText =
    PENDLO_MESSAGE("pendlo::Messages", "ﾌｧｲﾙの末尾以降を読み込みました");
inline constexpr const char* kDiskFullText =
    PENDLO_MESSAGE("pendlo::Messages", "ﾃﾞｨｽｸがいっぱいです");
inline constexpr const char* kNotANumberText =
    PENDLO_MESSAGE("pendlo::Messages", "入力値が数値ではありません");
inline constexpr const char* kInOutErrorFormat = PENDLO_MESSAGE("pendlo::Messages", "I/O ｴﾗｰ (%1)");
inline constexpr const char* kOpenErrorFormat =
    PENDLO_MESSAGE("pendlo::Messages", "ﾌｧｲﾙ %1 は開けません");
inline constexpr const char* kCreateErrorFormat =
    PENDLO_MESSAGE("pendlo::Messages", "ﾌｧｲﾙ %1 を作成できません");
inline constexpr const char* kWriteErrorText =
    PENDLO_MESSAGE("pendlo::Messages", "ｽﾄﾘｰﾑへの書き込みｴﾗｰ");
inline constexpr const char* kMemoLimitText =
    PENDLO_MESSAGE("pendlo::Messages", "文字列の大きさが ﾒﾓ の制限を越えました");
inline constexpr const char* kUnstorableFormat =
    PENDLO_MESSAGE("pendlo::Messages", "次の文字は ﾌｧｲﾙ に保存できないため \"?\" になります: %1");
// The saved text kept beside, %1 the data file and %2 the copy.
inline constexpr const char* kKeptUnreadFormat =
    PENDLO_MESSAGE("pendlo::Messages", "ﾌｧｲﾙ %1 はﾒﾓに読み込めなかったので %2 に残しました");
inline constexpr const char* kKeptChangedFormat =
    PENDLO_MESSAGE("pendlo::Messages", "ﾌｧｲﾙ %1 は他で変更されていたので %2 に残しました");

// Every template above, for the window to find a message's template by.
inline constexpr std::array kFileMessages{
    kFileNotFoundText,  kInvalidFileNameText, kTooManyOpenFilesText, kAccessDeniedText,
    kReadBeyondEndText, kDiskFullText,        kNotANumberText,       kInOutErrorFormat,
    kOpenErrorFormat,   kCreateErrorFormat,   kWriteErrorText,       kMemoLimitText,
    kUnstorableFormat,  kKeptUnreadFormat,    kKeptChangedFormat};

// Failure on "init.sav", "pi.wav", "po.wav" or the data directory. With a
// file name the message reads "<file>: <message>", so the user learns which
// file to mend.
class EInOutError : public std::runtime_error {
 public:
  // The message of the code table; "I/O ｴﾗｰ (<code>)" for codes without one.
  explicit EInOutError(int code, const std::string& file = {});

  // Maps a system errno to the code table (ENOENT -> 2, EACCES -> 5, ENOSPC
  // -> 101, ...). An errno without a code of its own gives "I/O ｴﾗｰ (<errno>)"
  // and Code() returns that errno.
  static EInOutError FromErrno(int err, const std::string& file = {});

  int Code() const { return code_; }

 private:
  EInOutError(int code, const std::string& message, const std::string& file);
  int code_;
};

// The message of the in/out code table for a code.
std::string InOutMessage(int code);

// The in/out code for a system errno, or 0 when the errno has none.
int InOutCodeForErrno(int err);

// Failure to load or save a definition text ("dtp.sav" or a ".dtp" file).
class EFileError : public std::runtime_error {
 public:
  // The errno behind the failure, 0 when there was none (e.g. a size limit).
  int SystemError() const { return errno_; }

 protected:
  EFileError(const std::string& message, int err);

 private:
  int errno_;
};

// "ﾌｧｲﾙ <name> は開けません": the file cannot be opened or read.
class EFOpenError : public EFileError {
 public:
  EFOpenError(const std::string& fileName, int err);
};

// "ﾌｧｲﾙ <name> を作成できません": the file cannot be created or replaced.
class EFCreateError : public EFileError {
 public:
  EFCreateError(const std::string& fileName, int err);
};

// "ｽﾄﾘｰﾑへの書き込みｴﾗｰ": not every byte of the text could be written.
class EWriteError : public EFileError {
 public:
  explicit EWriteError(int err);
};

// "文字列の大きさが ﾒﾓ の制限を越えました": the text is larger than the memo holds.
class EMemoLimitError : public EFileError {
 public:
  EMemoLimitError();
};

// What the user is told when typed or pasted text holds `characters` (UTF-8,
// space-separated) that the files' code page cannot hold: they are kept as
// "?", which is what a save writes.
std::string UnstorableMessage(const std::string& characters);

}  // namespace pendlo
