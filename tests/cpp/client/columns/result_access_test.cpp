#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "client/handles/conn.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/results/row_store.h"
#include "client/vmc.h"
#include "tests/cpp/support/bare_conn.h"
#include "tests/cpp/support/result_builder.h"

namespace {

class Accessors : public testing::Test {
 protected:
  void SetUp() override {
    rs_ = build_result({{"id", 5, 4, nullptr, "t"}, {"name", 30, 20, "Label"}, {"when", 13, 8}});
    uint8_t* row = add_row(rs_);
    row_set_i32(row, rs_->fields, 0, 42);
    set_raw(rs_, row, 1, "bob", 3);
    handle_ = rs_;
  }
  void TearDown() override { free_result(rs_); }

  ResultSet* rs_ = nullptr;
  VMC_Handle handle_ = nullptr;
};

}  // namespace

TEST_F(Accessors, ColumnsAndCounts) {
  int v = 0;
  EXPECT_EQ(VMC_GetColType(&handle_, 3, &v), 0);
  EXPECT_EQ(v, 13);
  EXPECT_EQ(VMC_GetColLen(&handle_, 2, &v), 0);
  EXPECT_EQ(v, 20);
  for (int col : {0, 4}) {
    EXPECT_EQ(VMC_GetColType(&handle_, col, &v), -15);
    EXPECT_EQ(VMC_GetColLen(&handle_, col, &v), -15);
    char name[128] = {};
    EXPECT_EQ(VMC_GetColName(&handle_, col, name), -1);
    EXPECT_EQ(VMC_DescribeCol(&handle_, col, name, name, name, &v, &v, &v), -1);
  }

  char name[128] = {};
  EXPECT_EQ(VMC_GetColName(&handle_, 2, name), 0);
  EXPECT_STREQ(name, "Label") << "the alias stands for the column";
  std::memset(name, 0, sizeof name);
  EXPECT_EQ(VMC_GetColName(&handle_, 1, name), 0);
  EXPECT_STREQ(name, "id");

  EXPECT_EQ(VMC_GetColIndex(&handle_, "label"), 2);
  EXPECT_EQ(VMC_GetColIndex(&handle_, "name"), 0) << "an aliased column is found only by its alias";
  EXPECT_EQ(VMC_GetColIndex(&handle_, "WHEN"), 3);
  EXPECT_EQ(VMC_GetColIndex(&handle_, nullptr), 0);

  uint32_t n = 0;
  EXPECT_EQ(VMC_GetFieldCount(&handle_, &n), 0);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(VMC_GetRowCount(&handle_, &n), 0);
  EXPECT_EQ(n, 1u);

  int32_t out = 0;
  int len = 0;
  EXPECT_EQ(VMC_GetData(&handle_, 1, 5, &out, 4, &len), 0);
  EXPECT_EQ(out, 42);
  EXPECT_EQ(VMC_GetData(&handle_, 3, 5, &out, 4, &len), -11);
}

TEST_F(Accessors, DescribeCol) {
  char table[128], column[128], alias[128];
  std::memset(alias, 'x', sizeof alias);
  int ctype = 0, length = 0, attr = -1;
  EXPECT_EQ(VMC_DescribeCol(&handle_, 1, table, column, alias, &ctype, &length, &attr), 0);
  EXPECT_STREQ(table, "t");
  EXPECT_STREQ(column, "id");
  EXPECT_STREQ(alias, "");
  EXPECT_EQ(ctype, 5);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(attr, 0);
}

TEST_F(Accessors, LongNamesStayInsideTheBuffer) {
  const std::string long_name(300, 'n');
  ResultSet* wide = build_result({{long_name.c_str(), 5}});
  VMC_Handle h = wide;
  char buf[129];
  std::memset(buf, 'x', sizeof buf);
  std::memset(buf, 0, 128);
  EXPECT_EQ(VMC_GetColName(&h, 1, buf), 0);
  EXPECT_EQ(std::strlen(buf), 127u);
  EXPECT_EQ(buf[128], 'x');
  char table[128], column[128];
  EXPECT_EQ(VMC_DescribeCol(&h, 1, table, column, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(std::strlen(column), 127u);
  free_result(wide);
}

TEST_F(Accessors, ResultAttributes) {
  int64_t value = -1;
  int type = 0, len = 0;
  EXPECT_EQ(VMC_GetAttr(&handle_, 62, &value, 0, &type, &len), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(type, 3);
  EXPECT_EQ(len, 8);

  value = -1;
  EXPECT_EQ(VMC_GetAttr(&handle_, 61, &value, 0, &type, &len), 0);
  EXPECT_EQ(value & 0xFFFFFFFF, 3) << "a 4-byte attribute";
  EXPECT_EQ(value >> 32, -1) << "writes only its 4 bytes";
  EXPECT_EQ(type, 2);
  EXPECT_EQ(len, 4);

  int32_t v = -1;
  EXPECT_EQ(VMC_GetAttr(&handle_, 64, &v, 0, &type, &len), 0);
  EXPECT_EQ(v, 4);
  EXPECT_EQ(VMC_GetAttr(&handle_, 65, &v, 0, &type, &len), 0);
  EXPECT_EQ(v, 4);
  EXPECT_EQ(VMC_GetAttr(&handle_, 66, &v, 0, &type, &len), 0);
  EXPECT_EQ(v, 0);
  rs_->next = rs_;
  EXPECT_EQ(VMC_GetAttr(&handle_, 66, &v, 0, &type, &len), 0);
  EXPECT_EQ(v, 1);
  rs_->next = nullptr;

  EXPECT_EQ(VMC_GetAttr(&handle_, 67, &v, 0, &type, &len), -3);
  EXPECT_STREQ(rs_->error_text, "[EC0105]result attribute type get error,unknown attribute type\n");
  EXPECT_EQ(VMC_SetAttr(&handle_, 61, &v, 4), 0);
  EXPECT_EQ(rs_->field_count, 3);
}

TEST(AccessorHandles, OtherHandleTypes) {
  uint32_t lob[8] = {5};
  uint32_t params[8] = {2};
  for (uint32_t* object : {lob, params}) {
    VMC_Handle h = object;
    int v = 0;
    uint32_t n = 0;
    char buf[128] = {};
    EXPECT_EQ(VMC_GetData(&h, 1, 5, buf, 4, &v), -3);
    EXPECT_EQ(VMC_GetColType(&h, 1, &v), -3);
    EXPECT_EQ(VMC_GetColLen(&h, 1, &v), -3);
    EXPECT_EQ(VMC_GetColName(&h, 1, buf), -3);
    EXPECT_EQ(VMC_GetColIndex(&h, "a"), -3);
    EXPECT_EQ(VMC_GetFieldCount(&h, &n), -3);
    EXPECT_EQ(VMC_GetRowCount(&h, &n), -3);
    EXPECT_EQ(VMC_DescribeCol(&h, 1, buf, buf, buf, &v, &v, &v), -3);
    EXPECT_EQ(VMC_GetAttr(&h, 61, buf, 4, &v, &v), 0);
    EXPECT_EQ(VMC_SetAttr(&h, 61, buf, 4), 0);
  }
  VMC_Handle none = nullptr;
  int v = 0;
  EXPECT_EQ(VMC_GetColType(&none, 1, &v), -3);
  EXPECT_EQ(VMC_GetAttr(&none, 61, &v, 4, &v, &v), -3);
  EXPECT_EQ(VMC_GetColType(nullptr, 1, &v), -3);
}

TEST(AccessorHandles, ConnectionAttributesGoToTheConnection) {
  BareConn c;
  int32_t v = 0;
  int type = 0, len = 0;
  EXPECT_EQ(VMC_GetAttr(&c.handle, 3, &v, 4, &type, &len), 0);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(type, 2);
  v = 1;
  EXPECT_EQ(VMC_SetAttr(&c.handle, 12, &v, 4), 0);
  EXPECT_EQ(c->srvcursor_off, 1);
  EXPECT_EQ(VMC_SetAttr(&c.handle, 61, &v, 4), -1) << "a failed change answers -1";
  EXPECT_EQ(VMC_GetAttr(&c.handle, 61, &v, 4, &type, &len), -3);
}
