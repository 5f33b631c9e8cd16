// The errors of the files module. Their what() is the exact UTF-8 message
// the user sees in the error box, so the UI shows them without translation.
#pragma once

#include <stdexcept>
#include <string>

namespace pendlo {

// Codes of the input/output error that have a message of their own.
inline constexpr int kInOutFileNotFound = 2;
inline constexpr int kInOutInvalidFileName = 3;
inline constexpr int kInOutTooManyOpenFiles = 4;
inline constexpr int kInOutAccessDenied = 5;
inline constexpr int kInOutReadBeyondEnd = 100;
inline constexpr int kInOutDiskFull = 101;
inline constexpr int kInOutNotANumber = 106;

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
