#include "client/handles/handle.h"
#include "client/lob/lob.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kMiB = kLobChunkSize;

class LobObjects : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(VMC_CreateLob(&handle_), 0); }
  void TearDown() override {
    EXPECT_EQ(VMC_FreeLob(&handle_), 0);
    EXPECT_EQ(handle_, nullptr);
  }
  LobObject* lob() const { return static_cast<LobObject*>(handle_); }

  // Puts n bytes whose value at byte i of the whole LOB is i mod 251.
  void put_pattern(uint32_t n) {
    std::vector<uint8_t> data(n);
    for (uint32_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>((lob()->lob_size + i) % 251);
    ASSERT_EQ(VMC_PutLobData(&handle_, data.data(), n), 0);
  }
  std::vector<uint32_t> chunk_numbers() const {
    std::vector<uint32_t> numbers;
    for (LobChunk* c = lob()->first_chunk; c; c = c->chunk_next) numbers.push_back(c->chunk_no);
    return numbers;
  }

  VMC_Handle handle_ = nullptr;
};

TEST_F(LobObjects, AppendingFillsEachChunkBeforeTheNext) {
  EXPECT_EQ(lob()->handle_type, static_cast<uint32_t>(HandleType::LobObject));
  put_pattern(3 * kMiB + 5);
  EXPECT_EQ(lob()->chunk_count, 4u);
  EXPECT_EQ(chunk_numbers(), (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(lob()->lob_size, 3 * int64_t{kMiB} + 5);
  EXPECT_EQ(lob()->lob_state, static_cast<uint32_t>(LobState::Writing));
  EXPECT_EQ(lob()->last_chunk->chunk_no, 3u);
}

TEST_F(LobObjects, TwoHalfChunkPutsShareTheMiddleChunk) {
  put_pattern(kMiB + kMiB / 2);
  put_pattern(kMiB + kMiB / 2);
  EXPECT_EQ(lob()->chunk_count, 3u);
  EXPECT_EQ(lob()->lob_size, 3 * int64_t{kMiB});
  // Every byte lies where its index says, across the seam of the two puts.
  std::vector<uint8_t> all(3 * kMiB);
  ASSERT_EQ(VMC_GetLobData(&handle_, all.data(), 3 * kMiB), static_cast<int>(3 * kMiB));
  for (uint32_t i = 0; i < all.size(); i += 4099) ASSERT_EQ(all[i], i % 251) << i;
}

TEST_F(LobObjects, ReadsStopAtTheEndAndCrossChunkBoundaries) {
  put_pattern(kMiB + 20);
  ASSERT_EQ(VMC_SetLobReadPos(&handle_, kMiB - 3), static_cast<int>(kMiB - 3));
  uint8_t buf[10] = {};
  ASSERT_EQ(VMC_GetLobData(&handle_, buf, 10), 10);
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(buf[i], (kMiB - 3 + i) % 251);

  ASSERT_EQ(VMC_SetLobReadPos(&handle_, kMiB + 15), static_cast<int>(kMiB + 15));
  EXPECT_EQ(VMC_GetLobData(&handle_, buf, 10), 5);
  EXPECT_EQ(VMC_GetLobData(&handle_, buf, 10), 0);
  EXPECT_EQ(lob()->read_pos, lob()->lob_size);
}

TEST_F(LobObjects, ReadAtTheEndOfAFullChunkGivesNothing) {
  put_pattern(kMiB);
  ASSERT_EQ(VMC_SetLobReadPos(&handle_, kMiB), static_cast<int>(kMiB));
  uint8_t buf[4];
  EXPECT_EQ(VMC_GetLobData(&handle_, buf, 4), 0);
}

TEST_F(LobObjects, ReadPositionOutsideTheValueIsRefusedWithItsText) {
  put_pattern(100);
  EXPECT_EQ(VMC_SetLobReadPos(&handle_, 100), 100);
  EXPECT_EQ(VMC_SetLobReadPos(&handle_, 101), RC_ERROR);
  EXPECT_STREQ(lob()->error_text, "[EC097]Error the ReadPos set larger than max_length :101 > :100");
  EXPECT_EQ(VMC_SetLobReadPos(&handle_, 0x80000000u), RC_ERROR);
  EXPECT_STREQ(lob()->error_text, "[EC098]Error the ReadPos set error :-2147483648");
  EXPECT_EQ(lob()->read_pos, 100);
}

TEST_F(LobObjects, PutMarksStatesAndRefusesWhatTheWireCannotCarry) {
  EXPECT_EQ(VMC_PutLobData(&handle_, nullptr, 10), 0);
  EXPECT_EQ(VMC_PutLobData(&handle_, "x", 0), 0);
  EXPECT_EQ(lob()->lob_state, static_cast<uint32_t>(LobState::Empty));
  EXPECT_EQ(VMC_PutLobData(&handle_, nullptr, 0xFFFFFFFFu), 0);
  EXPECT_EQ(lob()->lob_state, static_cast<uint32_t>(LobState::Complete));
  EXPECT_EQ(lob()->lob_size, 0);
  uint8_t buf[4];
  EXPECT_EQ(VMC_GetLobData(&handle_, buf, 4), 0);

  // A value may not grow past what a 32-bit signed length can say.
  lob()->lob_size = kLobMaxSize;
  EXPECT_EQ(lob_append(lob(), reinterpret_cast<const uint8_t*>("x"), 1), RC_ERROR);
  EXPECT_EQ(lob()->lob_size, kLobMaxSize);
  EXPECT_EQ(lob()->chunk_count, 0u);
  lob()->lob_size = 0;
}

TEST_F(LobObjects, ResetEmptiesAndKeepsTheHandle) {
  put_pattern(kMiB + 1);
  lob()->descriptor = strdup("C000000000001x12");
  ASSERT_EQ(VMC_SetLobReadPos(&handle_, 999999999), RC_ERROR);
  ASSERT_EQ(VMC_ResetLob(&handle_), 0);
  EXPECT_EQ(lob()->handle_type, static_cast<uint32_t>(HandleType::LobObject));
  EXPECT_EQ(lob()->chunk_count, 0u);
  EXPECT_EQ(lob()->first_chunk, nullptr);
  EXPECT_EQ(lob()->descriptor, nullptr);
  EXPECT_EQ(lob()->error_text, nullptr);
  EXPECT_EQ(lob()->lob_size, 0);
  put_pattern(3);
  EXPECT_EQ(lob()->chunk_count, 1u);
}

TEST_F(LobObjects, SettingTheContentReplacesTheChunks) {
  put_pattern(kMiB + 7);
  ASSERT_EQ(VMC_SetLobReadPos(&handle_, 10), 10);
  ASSERT_EQ(lob_set_content(lob(), reinterpret_cast<const uint8_t*>("abcde"), 5), 0);
  EXPECT_EQ(lob()->chunk_count, 1u);
  EXPECT_EQ(lob()->lob_size, 5);
  EXPECT_EQ(lob()->read_pos, 0);

  // No bytes still leave chunk 0, which the next bytes fill.
  ASSERT_EQ(lob_set_content(lob(), nullptr, 0), 0);
  EXPECT_EQ(lob()->chunk_count, 1u);
  ASSERT_EQ(VMC_PutLobData(&handle_, "xyz", 3), 0);
  EXPECT_EQ(lob()->chunk_count, 1u);
  char buf[4] = {};
  EXPECT_EQ(VMC_GetLobData(&handle_, buf, 4), 3);
  EXPECT_STREQ(buf, "xyz");
}

TEST_F(LobObjects, HandleWideCallsServeLobs) {
  put_pattern(10);
  ASSERT_EQ(VMC_SetLobReadPos(&handle_, 11), RC_ERROR);
  char buf[80] = {};
  int len = 0;
  EXPECT_EQ(VMC_GetErrorLength(&handle_), 61);
  EXPECT_EQ(VMC_GetError(&handle_, buf, &len), 0);
  EXPECT_EQ(len, 61);
  EXPECT_STREQ(buf, "[EC097]Error the ReadPos set larger than max_length :11 > :10");
  EXPECT_EQ(VMC_ResetHandle(&handle_), 0);
  EXPECT_EQ(lob()->lob_size, 0);
  EXPECT_EQ(VMC_GetErrorLength(&handle_), 0);
  VMC_FreeHandle(&handle_);
  EXPECT_EQ(handle_, nullptr);
}

TEST(LobHandles, NullAndForeignHandles) {
  VMC_Handle none = nullptr;
  EXPECT_EQ(VMC_ResetLob(&none), 0);
  EXPECT_EQ(VMC_FreeLob(&none), 0);
  EXPECT_EQ(VMC_ResetLob(nullptr), 0);
  EXPECT_EQ(VMC_CreateLob(nullptr), RC_INVALID_HANDLE);
  uint32_t other = 2;
  VMC_Handle wrong = &other;
  uint8_t buf[1];
  EXPECT_EQ(VMC_GetLobData(&wrong, buf, 1), RC_INVALID_HANDLE);
  EXPECT_EQ(VMC_PutLobData(&wrong, buf, 1), RC_INVALID_HANDLE);
  EXPECT_EQ(VMC_FreeLob(&wrong), RC_INVALID_HANDLE);
  EXPECT_EQ(wrong, &other);
}

}  // namespace
