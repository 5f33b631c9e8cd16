#include "files/store/errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace pendlo {
namespace {

// Made from a code, or from a system error (err) mapped to one: EIO is 5 on
// Linux, and must not read as "access denied".
TEST(InOutErrorTest, MessagesByCodeAndSystemErrorsMapToCodes) {
  const struct {
    int err;  // 0: made from the code
    int code;
    const char* message;
  } rows[] = {
      {0, 2, "ﾌｧｲﾙが見つかりません"},
      {0, 3, "不正なﾌｧｲﾙ名です"},
      {0, 4, "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます"},
      {0, 5, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
      {0, 100, "ﾌｧｲﾙの末尾以降を読み込みました"},
      {0, 101, "ﾃﾞｨｽｸがいっぱいです"},
      {0, 106, "入力値が数値ではありません"},
      {0, 1, "I/O ｴﾗｰ (1)"},
      {0, 103, "I/O ｴﾗｰ (103)"},
      {0, -7, "I/O ｴﾗｰ (-7)"},
      {ENOENT, 2, "ﾌｧｲﾙが見つかりません"},
      {ENAMETOOLONG, 3, "不正なﾌｧｲﾙ名です"},
      {ENOTDIR, 3, "不正なﾌｧｲﾙ名です"},
      {EMFILE, 4, "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます"},
      {ENFILE, 4, "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます"},
      {EACCES, 5, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
      {EISDIR, 5, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
      {EROFS, 5, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
      {ENOSPC, 101, "ﾃﾞｨｽｸがいっぱいです"},
      {EDQUOT, 101, "ﾃﾞｨｽｸがいっぱいです"},
      {EIO, EIO, "I/O ｴﾗｰ (5)"},
      {ENETDOWN, ENETDOWN, "I/O ｴﾗｰ (100)"},
  };
  for (const auto& row : rows) {
    const EInOutError e = row.err != 0 ? EInOutError::FromErrno(row.err) : EInOutError(row.code);
    EXPECT_STREQ(e.what(), row.message) << row.err << " " << row.code;
    EXPECT_EQ(e.Code(), row.code) << row.err;
  }
}

}  // namespace
}  // namespace pendlo
