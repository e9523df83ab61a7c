#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/handles/handle.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/results/smart_result.h"
#include "client/vmc.h"
#include "tests/cpp/support/bare_conn.h"
#include "tests/cpp/support/result_builder.h"

TEST(ExecInfo, ByKindOfResult) {
  ResultSet* rows = build_result({{"a", 5}, {"b", 30, 10}});
  add_row(rows);
  add_row(rows);
  VMC_Handle h = rows;
  int kind = 0, fields = 0, count = 0, affected = -7;
  char row_id[25];
  EXPECT_EQ(VMC_GetExecInfo(&h, &kind, &fields, &count, &affected, row_id), 0);
  EXPECT_EQ(kind, 4);
  EXPECT_EQ(fields, 2);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(affected, -7) << "a result of rows says nothing of affected rows";

  // A server-cursor result answers for its current block.
  auto* smart = static_cast<SmartResult*>(alloc_zeroed(sizeof(SmartResult)));
  smart->handle_type = static_cast<uint32_t>(HandleType::SmartResult);
  VMC_Handle sh = smart;
  EXPECT_EQ(VMC_GetExecInfo(&sh, &kind, &fields, &count, &affected, row_id), -3);
  smart->block = rows;
  kind = 0;
  EXPECT_EQ(VMC_GetExecInfo(&sh, &kind, &fields, &count, &affected, row_id), 0);
  EXPECT_EQ(kind, 4);
  EXPECT_EQ(VMC_FreeResult(&sh), 0);
  EXPECT_EQ(sh, nullptr);

  ResultSet* insert = new_result(1);
  insert->affected = 3;
  std::memset(insert->row_id, 'r', 31);  // longer than the caller's 24 characters
  VMC_Handle ih = insert;
  std::memset(row_id, 'x', sizeof row_id);
  EXPECT_EQ(VMC_GetExecInfo(&ih, &kind, &fields, &count, &affected, row_id), 0);
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(affected, 3);
  EXPECT_EQ(std::string(row_id), std::string(24, 'r'));
  VMC_FreeHandle(&ih);
  EXPECT_EQ(ih, nullptr);

  BareConn c;
  EXPECT_EQ(VMC_GetExecInfo(&c.handle, &kind, &fields, &count, &affected, row_id), -3);
  EXPECT_EQ(VMC_GetExecInfo(nullptr, &kind, &fields, &count, &affected, row_id), -3);
}

TEST(ResultErrorTexts, ResultsKeepTheirOwnTexts) {
  ResultSet* r = build_result({{"a", 5}});
  r->error_text = strdup("[WC032]between rows");
  VMC_Handle h = r;
  char buf[64] = {};
  int len = 0;
  EXPECT_EQ(VMC_GetError(&h, buf, &len), 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(len)), "[WC032]between rows");
  EXPECT_EQ(VMC_GetErrorLength(&h), 19);
  char code[6] = {}, message[256] = {};
  EXPECT_EQ(VMC_GetDiag(&h, code, message, nullptr), 0);
  EXPECT_EQ(std::string(code, 5), "WC032");
  EXPECT_STREQ(message, "between rows");

  // A server-cursor result's own text is for the diagnostics only.
  auto* smart = static_cast<SmartResult*>(alloc_zeroed(sizeof(SmartResult)));
  smart->handle_type = static_cast<uint32_t>(HandleType::SmartResult);
  smart->error_text = strdup("[EC027]Error :x Close Cursor c  \n");
  VMC_Handle sh = smart;
  EXPECT_EQ(VMC_GetErrorLength(&sh), 0);
  std::memset(code, 0, sizeof code);
  EXPECT_EQ(VMC_GetDiag(&sh, code, message, nullptr), 0);
  EXPECT_EQ(std::string(code, 5), "EC027");
  VMC_FreeHandle(&sh);
  VMC_FreeHandle(&h);
}

TEST(HandleOps, TypeCodeAndDatetimeText) {
  BareConn c;
  int ctype = -5;
  EXPECT_EQ(VMC_GetTypeCode(&c.handle, &ctype), -1);
  EXPECT_EQ(ctype, -5);
  c->server_type = 5;
  EXPECT_EQ(VMC_GetTypeCode(&c.handle, &ctype), 0);
  EXPECT_EQ(ctype, 5);

  char text[20];
  EXPECT_EQ(VMC_FormatDatetime(0, text), 0);
  EXPECT_STREQ(text, "1970-01-01 00:00:00");
  EXPECT_EQ(VMC_FormatDatetime(-1, text), 0);
  EXPECT_STREQ(text, "1969-12-31 23:59:59");
  EXPECT_EQ(VMC_FormatDatetime(1733745600123, text), 0);
  EXPECT_STREQ(text, "2024-12-09 12:00:00");
  // Far-off years cannot run past the 20 bytes.
  char guarded[24];
  std::memset(guarded, 'g', sizeof guarded);
  EXPECT_EQ(VMC_FormatDatetime(INT64_MAX, guarded), 0);
  EXPECT_EQ(guarded[20], 'g');
}
