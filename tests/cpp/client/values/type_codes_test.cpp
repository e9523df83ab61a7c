#include "client/values/type_codes.h"

#include <gtest/gtest.h>

TEST(TypeCodes, DefaultClientTypes) {
  EXPECT_EQ(map_server_type(2), 1);
  EXPECT_EQ(map_server_type(7), 9);
  EXPECT_EQ(map_server_type(16), 28);
  EXPECT_EQ(map_server_type(19), 21);
  EXPECT_EQ(map_server_type(24), 31);
  EXPECT_EQ(map_server_type(25), 21);
  EXPECT_EQ(map_server_type(29), 69);
  EXPECT_EQ(map_server_type(45), 2);
  EXPECT_EQ(map_server_type(47), 43);
  EXPECT_EQ(map_server_type(48), 45);
  EXPECT_EQ(map_server_type(60), 57);
  EXPECT_EQ(map_server_type(64), 44);
  // Unknown codes read as text; arrays as their base + 10000.
  EXPECT_EQ(map_server_type(1), 2);
  EXPECT_EQ(map_server_type(28), 2);
  EXPECT_EQ(map_server_type(100), 2);
  EXPECT_EQ(map_server_type(10000), 2);
  EXPECT_EQ(map_server_type(10005), 10005);
  EXPECT_EQ(map_server_type(10030), 10002);
  EXPECT_EQ(map_server_type(0xFFFFFFFFu), 10002);
}

TEST(TypeCodes, Widths) {
  EXPECT_EQ(row_slot_size(2), 1);
  EXPECT_EQ(row_slot_size(4), 2);
  EXPECT_EQ(row_slot_size(8), 4);
  EXPECT_EQ(row_slot_size(23), 4);
  EXPECT_EQ(row_slot_size(9), 8);
  EXPECT_EQ(row_slot_size(27), 8);
  // Short values that travel raw still take a length-and-pointer slot.
  for (uint32_t st : {7u, 12u, 14u, 28u, 30u, 10005u}) EXPECT_EQ(row_slot_size(st), 16) << st;

  EXPECT_EQ(fixed_type_size(2), -1);
  EXPECT_EQ(fixed_type_size(9), 41);
  EXPECT_EQ(fixed_type_size(23), 8);
  EXPECT_EQ(fixed_type_size(63), 1);
  EXPECT_TRUE(is_fixed_size_type(1));
  EXPECT_FALSE(is_fixed_size_type(10));
  EXPECT_FALSE(is_fixed_size_type(0));
}
