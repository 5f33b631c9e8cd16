#include "files/store/errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace pendlo {
namespace {

TEST(InOutErrorTest, MessagesByCode) {
  const struct {
    int code;
    const char* message;
  } rows[] = {
      {2, "ﾌｧｲﾙが見つかりません"},
      {3, "不正なﾌｧｲﾙ名です"},
      {4, "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます"},
      {5, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
      {100, "ﾌｧｲﾙの末尾以降を読み込みました"},
      {101, "ﾃﾞｨｽｸがいっぱいです"},
      {106, "入力値が数値ではありません"},
      {1, "I/O ｴﾗｰ (1)"},
      {103, "I/O ｴﾗｰ (103)"},
      {-7, "I/O ｴﾗｰ (-7)"},
  };
  for (const auto& row : rows) {
    const EInOutError e(row.code);
    EXPECT_STREQ(e.what(), row.message);
    EXPECT_EQ(e.Code(), row.code);
  }
}

TEST(InOutErrorTest, SystemErrorsMapToCodes) {
  const struct {
    int err;
    int code;
    const char* message;
  } rows[] = {
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
      // EIO is 5 on Linux: it must not read as "access denied".
      {EIO, EIO, "I/O ｴﾗｰ (5)"},
      {ENETDOWN, ENETDOWN, "I/O ｴﾗｰ (100)"},
  };
  for (const auto& row : rows) {
    const EInOutError e = EInOutError::FromErrno(row.err);
    EXPECT_STREQ(e.what(), row.message) << row.err;
    EXPECT_EQ(e.Code(), row.code) << row.err;
  }
}

}  // namespace
}  // namespace pendlo
