#include <gtest/gtest.h>

#include "client/vmc.h"

TEST(SqlKind, LeadingWhiteSpaceAndSingleSelects) {
  EXPECT_EQ(VMC_GetSqlKind("  \r\n select * from t"), SQL_KIND_SELECT);
  EXPECT_EQ(VMC_GetSqlKind("\tSELECT 1"), SQL_KIND_OTHER);  // tabs are not skipped
  EXPECT_EQ(VMC_GetSqlKind("SELECT 1;"), SQL_KIND_SELECT);
  EXPECT_EQ(VMC_GetSqlKind("SELECT 1;  \r\n"), SQL_KIND_SELECT);
  EXPECT_EQ(VMC_GetSqlKind("SELECT 1;   \r\n"), SQL_KIND_OTHER);
  EXPECT_EQ(VMC_GetSqlKind("SELECT 1; SELECT 2"), SQL_KIND_OTHER);
  // The first ';' anywhere counts, even inside a literal.
  EXPECT_EQ(VMC_GetSqlKind("SELECT 'a;bcdef' FROM t"), SQL_KIND_OTHER);
  EXPECT_EQ(VMC_GetSqlKind("SELECTED_ROWS"), SQL_KIND_SELECT);
  EXPECT_EQ(VMC_GetSqlKind("SELEC"), SQL_KIND_OTHER);
}

TEST(SqlKind, WordsThatNeedTheirBlank) {
  EXPECT_EQ(VMC_GetSqlKind("insert into t values(1)"), SQL_KIND_INSERT);
  EXPECT_EQ(VMC_GetSqlKind("INSERTS"), SQL_KIND_INSERT);
  EXPECT_EQ(VMC_GetSqlKind("Merge into t"), SQL_KIND_INSERT);
  EXPECT_EQ(VMC_GetSqlKind("MERGE\ninto t"), SQL_KIND_OTHER);
  EXPECT_EQ(VMC_GetSqlKind("REPLACE INTO t"), SQL_KIND_INSERT);
  EXPECT_EQ(VMC_GetSqlKind("update t set a=1"), SQL_KIND_UPDATE);
  EXPECT_EQ(VMC_GetSqlKind("DELETE FROM t"), SQL_KIND_DELETE);
  EXPECT_EQ(VMC_GetSqlKind("create table t(a int)"), SQL_KIND_CREATE);
  EXPECT_EQ(VMC_GetSqlKind("alter table t"), SQL_KIND_ALTER);
  EXPECT_EQ(VMC_GetSqlKind("ALTER\ttable t"), SQL_KIND_OTHER);
}

TEST(SqlKind, ExecLibraryNamesAndNothing) {
  EXPECT_EQ(VMC_GetSqlKind("exec p1"), SQL_KIND_EXEC);
  EXPECT_EQ(VMC_GetSqlKind("EXECUTE p1"), SQL_KIND_EXEC);
  EXPECT_EQ(VMC_GetSqlKind("EXECUTION"), SQL_KIND_EXEC);
  EXPECT_EQ(VMC_GetSqlKind("EXEC"), SQL_KIND_OTHER);
  EXPECT_EQ(VMC_GetSqlKind("STC12"), SQL_KIND_SELECT);
  EXPECT_EQ(VMC_GetSqlKind("stc12"), SQL_KIND_OTHER);
  EXPECT_EQ(VMC_GetSqlKind(""), SQL_KIND_OTHER);
  EXPECT_EQ(VMC_GetSqlKind("   "), SQL_KIND_OTHER);
  EXPECT_EQ(VMC_GetSqlKind(nullptr), SQL_KIND_OTHER);
}
