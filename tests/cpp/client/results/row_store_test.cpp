#include "client/results/result_life.h"
#include "client/results/row_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "client/results/mem_pool.h"
#include "tests/cpp/support/result_builder.h"

TEST(RowLayout, OffsetsFollowTheSlotWidths) {
  ResultSet* rs = build_result({{"a", 5}, {"b", 30}, {"c", 2}});
  EXPECT_EQ(rs->fields[0].offset, 1u);
  EXPECT_EQ(rs->fields[1].offset, 5u);
  EXPECT_EQ(rs->fields[2].offset, 21u);
  EXPECT_EQ(rs->row_size, 1 + 22);
  free_result(rs);

  // Five fields need two flag bytes; every width in one row.
  rs = build_result({{"a", 2}, {"b", 4}, {"c", 6}, {"d", 8}, {"e", 12}});
  EXPECT_EQ(rs->fields[0].offset, 2u);
  EXPECT_EQ(rs->fields[1].offset, 3u);
  EXPECT_EQ(rs->fields[2].offset, 5u);
  EXPECT_EQ(rs->fields[3].offset, 13u);
  EXPECT_EQ(rs->fields[4].offset, 17u);
  EXPECT_EQ(rs->row_size, 1 + 17 + 16);
  free_result(rs);
}

TEST(RowLayout, ValuesFlagsAndSlots) {
  ResultSet* rs = build_result({{"a", 5}, {"b", 30}, {"c", 2}, {"d", 9}, {"e", 4}});
  uint8_t* row = add_row(rs);
  for (int k = 0; k < 5; ++k) EXPECT_TRUE(row_is_null(row, k));
  EXPECT_EQ(row_field_ptr(row, rs->fields, 0, nullptr), nullptr);

  row_set_i32(row, rs->fields, 0, 7);
  set_raw(rs, row, 1, "abc", 3);
  row_set_f64(row, rs->fields, 3, -2.5);
  row_set_i16(row, rs->fields, 4, -300);

  uint32_t len = 0;
  const uint8_t* p = row_field_ptr(row, rs->fields, 0, &len);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(len, 4u);
  int32_t v;
  std::memcpy(&v, p, 4);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(p, row + 1 + 2);

  p = row_field_ptr(row, rs->fields, 1, &len);
  EXPECT_TRUE(row_is_indirect(row, 1));
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(std::memcmp(p, "abc", 4), 0) << "a zero byte follows the value";

  EXPECT_TRUE(row_is_null(row, 2));
  EXPECT_FALSE(row_is_indirect(row, 3));
  double d;
  std::memcpy(&d, row_field_ptr(row, rs->fields, 3, &len), 8);
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(d, -2.5);
  int16_t s;
  std::memcpy(&s, row_field_ptr(row, rs->fields, 4, nullptr), 2);
  EXPECT_EQ(s, -300);

  // Flag bits of field 4 live in the second flag byte, and only there.
  row_set_null(row, 4);
  EXPECT_TRUE(row_is_null(row, 4));
  EXPECT_FALSE(row_is_null(row, 0));
  row_clear_null(row, 4);
  EXPECT_FALSE(row_is_null(row, 4));
  EXPECT_EQ(row[1], 0x08 | 0x10) << "field 1 indirect, field 2 NULL";
  free_result(rs);
}

TEST(RowStore, BlockTableGrowsByTiers) {
  ResultSet* rs = new_result(4);
  uint8_t dummy[1];
  auto blocks = [&] { return *static_cast<int16_t*>(rs->blocks[0]); };
  for (int64_t i = 0; i < 176001; ++i) {
    ASSERT_EQ(result_store_row(rs, dummy + 0), 0);
    if (i == 999) {
      EXPECT_EQ(blocks(), 1);
      EXPECT_EQ(rs->capacity, 1000);
    }
    if (i == 1000) {
      EXPECT_EQ(blocks(), 2);
      EXPECT_EQ(rs->capacity, 2000);
    }
    if (i == 15999) {
      EXPECT_EQ(rs->capacity, 16000);
    }
    if (i == 16000) {
      EXPECT_EQ(blocks(), 17);
      EXPECT_EQ(rs->capacity, 26000);
    }
    if (i == 176000) {
      EXPECT_EQ(blocks(), 33);
      EXPECT_EQ(rs->capacity, 276000);
    }
  }
  EXPECT_EQ(rs->row_count, 176001);
  // Each tier's first and last entries land in the block the tier names.
  EXPECT_EQ(result_row_slot(rs, 999), static_cast<uint8_t**>(rs->blocks[1]) + 999);
  EXPECT_EQ(result_row_slot(rs, 1000), static_cast<uint8_t**>(rs->blocks[2]));
  EXPECT_EQ(result_row_slot(rs, 15999), static_cast<uint8_t**>(rs->blocks[16]) + 999);
  EXPECT_EQ(result_row_slot(rs, 16000), static_cast<uint8_t**>(rs->blocks[17]));
  EXPECT_EQ(result_row_slot(rs, 175999), static_cast<uint8_t**>(rs->blocks[32]) + 9999);
  EXPECT_EQ(result_row_slot(rs, 176000), static_cast<uint8_t**>(rs->blocks[33]));
  free_result(rs);
}

TEST(RowStore, FullResultRefusesEveryLaterRow) {
  ResultSet* rs = new_result(4);
  uint8_t dummy[1];
  ASSERT_EQ(result_store_row(rs, dummy), 0);
  // Pretend the last tier is full: the block counter at 256, no room left.
  *static_cast<int16_t*>(rs->blocks[0]) = 256;
  rs->capacity = rs->row_count = 1347376000;
  testing::internal::CaptureStdout();
  EXPECT_EQ(result_store_row(rs, dummy), -1);
  EXPECT_EQ(result_store_row(rs, dummy), -1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "\xd3\xef\xbe\xe4\xd0\xd0\xbd\xe1\xb9\xfb\xbc\xaf\xb9\xfd\xb4\xf3\n"
                 "\xd3\xef\xbe\xe4\xd0\xd0\xbd\xe1\xb9\xfb\xbc\xaf\xb9\xfd\xb4\xf3\n");
  EXPECT_STREQ(rs->error_text, "[EC080]select result-set is too large please connect to db-server");
  EXPECT_EQ(rs->row_count, 1347376000);
  EXPECT_EQ(*static_cast<int16_t*>(rs->blocks[0]), 257);
  rs->row_count = 1;
  free_result(rs);
}

TEST(MemPool, SmallRequestsBumpLargeOnesGetTheirOwnBuffer) {
  MemPool* pool = mem_pool_create();
  ASSERT_NE(pool, nullptr);
  MemBlock* first = pool->first;
  // 65535 bytes and their terminating zero fill the first block exactly.
  auto* a = static_cast<uint8_t*>(mem_pool_alloc(pool, 65535));
  EXPECT_EQ(a, first->data);
  EXPECT_EQ(first->free, 0u);
  auto* b = static_cast<uint8_t*>(mem_pool_alloc(pool, 1));
  EXPECT_NE(pool->current, first);
  EXPECT_EQ(b, pool->current->data);
  EXPECT_EQ(pool->current->used, 2u);
  mem_pool_destroy(pool);

  // More than half a block while more than half is free: an exact buffer,
  // and the partly used block keeps serving small requests.
  pool = mem_pool_create();
  auto* small = static_cast<uint8_t*>(mem_pool_alloc(pool, 99));  // 100 used
  MemBlock* keeper = pool->first;
  uint8_t* data = keeper->data;
  auto* big = static_cast<uint8_t*>(mem_pool_alloc(pool, 65500));
  EXPECT_EQ(keeper->block_size, 65501u);
  EXPECT_EQ(keeper->data, big);
  EXPECT_EQ(keeper->free, 0u);
  EXPECT_EQ(pool->current->data, data);
  EXPECT_EQ(pool->current->used, 100u);
  auto* next = static_cast<uint8_t*>(mem_pool_alloc(pool, 9));
  EXPECT_EQ(next, small + 100);
  big[65500] = 0;  // the whole n + 1 bytes belong to the caller
  // A request larger than a block is always exact, even with little free.
  auto* huge = static_cast<uint8_t*>(mem_pool_alloc(pool, 70000));
  ASSERT_NE(huge, nullptr);
  huge[70000] = 0;
  EXPECT_EQ(pool->current->data, data);
  // A request that fits the free room is served from the block whatever its size.
  auto* fits = static_cast<uint8_t*>(mem_pool_alloc(pool, 40000));
  EXPECT_EQ(fits, small + 110);
  mem_pool_destroy(pool);

  // With half a block or less free, a request over half a block opens a new block.
  pool = mem_pool_create();
  mem_pool_alloc(pool, 40000);
  MemBlock* old = pool->current;
  auto* c = static_cast<uint8_t*>(mem_pool_alloc(pool, 40000));
  EXPECT_NE(pool->current, old);
  EXPECT_EQ(c, pool->current->data);
  EXPECT_EQ(pool->current->block_size, 65536u);
  EXPECT_EQ(mem_pool_alloc(pool, UINT32_MAX), nullptr);
  mem_pool_destroy(pool);
}

// A row that turns out not to be whole where it lies gives back what it took,
// also the blocks it opened.
TEST(MemPool, RewindGivesBackWhatWasTakenSinceTheMark) {
  MemPool* pool = mem_pool_create();
  ASSERT_NE(pool, nullptr);
  auto* kept = static_cast<uint8_t*>(mem_pool_alloc(pool, 60000));
  const MemPoolMark mark = mem_pool_mark(pool);
  for (int i = 0; i < 5; ++i) ASSERT_NE(mem_pool_alloc(pool, 30000), nullptr);
  EXPECT_NE(pool->current, mark.block);
  mem_pool_rewind(pool, mark);
  EXPECT_EQ(pool->current, pool->first);
  EXPECT_EQ(pool->first->next, nullptr);
  EXPECT_EQ(pool->first->used, 60001u);
  EXPECT_EQ(static_cast<uint8_t*>(mem_pool_alloc(pool, 9)), kept + 60001);
  mem_pool_destroy(pool);
}
