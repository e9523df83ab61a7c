#include "client/handles/handle.h"
#include "client/params/param_set.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "client/values/type_codes.h"

namespace {

class ParamBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_ = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
    conn_->handle_type = static_cast<uint32_t>(HandleType::Conn);
    handle_ = conn_;
  }
  void TearDown() override {
    VMC_ClearParams(&handle_);
    std::free(conn_->error_text);
    std::free(conn_);
  }
  std::string conn_error() const { return conn_->error_text ? conn_->error_text : ""; }

  Conn* conn_ = nullptr;
  VMC_Handle handle_ = nullptr;
};

int bind_int(VMC_Handle* h, int pos, int direction = 1) {
  int value = 7;
  int len = 4;
  return VMC_BindParam(h, pos, direction, 5, &value, 4, &len);
}

TEST_F(ParamBinding, TransientSetGrowsByStepsAndRefusesLongJumps) {
  ASSERT_EQ(bind_int(&handle_, 1), 0);
  ParamSet* set = conn_->params;
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->handle_type, static_cast<uint32_t>(HandleType::ParamSet));
  EXPECT_EQ(set->mode, static_cast<uint32_t>(ParamSetMode::Transient));
  EXPECT_EQ(set->capacity, 128);
  EXPECT_EQ(set->names, nullptr);

  EXPECT_EQ(bind_int(&handle_, 600), RC_PARAM_TOO_FAR);
  EXPECT_EQ(conn_error(), "[EC055]Error bindparam jump long -55 invalid");
  EXPECT_EQ(set->count, 1);
  EXPECT_EQ(set->capacity, 128);

  ASSERT_EQ(bind_int(&handle_, 200), 0);
  EXPECT_EQ(set->capacity, 256);
  EXPECT_EQ(set->count, 200);
  // Everything skipped over is unbound: no value, no length, no direction.
  for (int i = 1; i < 199; ++i) {
    EXPECT_EQ(set->values[0][i], nullptr);
    EXPECT_EQ(set->lengths[i], nullptr);
    EXPECT_EQ(set->directions[i], 0u);
  }
  EXPECT_EQ(set->positions[199], 199u);
  EXPECT_EQ(*set->lengths[199], 4);
}

TEST_F(ParamBinding, ChecksRunInTheirOrderWithTheirTexts) {
  EXPECT_EQ(bind_int(&handle_, 4001, 9), RC_PARAM_POSITION);
  EXPECT_EQ(conn_error(), "[EC051]Error invalid param NO 4001 out of range paramnum");
  EXPECT_EQ(bind_int(&handle_, 0, 9), RC_PARAM_DIRECTION);
  EXPECT_EQ(conn_error(), "[EC052]Error invalid param type 9");
  EXPECT_EQ(bind_int(&handle_, 0, 1), RC_PARAM_SEQUENCE);
  EXPECT_EQ(conn_error(), "[EC054]Error param_no  param seq 0 invalid");
  // From an empty set only 256 positions are reachable in one bind.
  EXPECT_EQ(bind_int(&handle_, 4000), RC_PARAM_TOO_FAR);

  int value = 1, len = 4;
  EXPECT_EQ(VMC_BindParamByName(&handle_, "a", 9, 5, &value, 4, nullptr, &len), RC_PARAM_DIRECTION);
  EXPECT_EQ(conn_error(), "[EC052]Error invalis param type 9");

  // The refused binds still made the transient set, and left it empty.
  ASSERT_NE(conn_->params, nullptr);
  EXPECT_EQ(conn_->params->count, 0);
}

TEST_F(ParamBinding, WrongHandlesAnswerMinusThreeWithoutText) {
  uint32_t other = 4;
  VMC_Handle wrong = &other;
  EXPECT_EQ(bind_int(&wrong, 1), RC_INVALID_HANDLE);
  VMC_Handle none = nullptr;
  EXPECT_EQ(bind_int(&none, 1), RC_INVALID_HANDLE);
  EXPECT_EQ(bind_int(nullptr, 1), RC_INVALID_HANDLE);
  int v = 0, len = 0;
  EXPECT_EQ(VMC_BindParamByName(&handle_, nullptr, 1, 5, &v, 4, nullptr, &len), RC_INVALID_HANDLE);
  EXPECT_EQ(VMC_ClearParams(&wrong), RC_INVALID_HANDLE);
  EXPECT_EQ(VMC_SetParams(&handle_, &wrong), RC_INVALID_HANDLE);
  EXPECT_EQ(conn_->error_text, nullptr);
}

TEST_F(ParamBinding, InputValuesAreCopiedAndOutputValuesAreTheCallers) {
  char text[] = "hello world";
  int len = 5;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, 2, text, 64, &len), 0);
  char out[8] = {};
  int out_len = 0;
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 2, 2, out, 8, &out_len), 0);
  std::memset(text, 'x', sizeof text - 1);
  len = 99;

  ParamSet* set = conn_->params;
  EXPECT_EQ(std::memcmp(set->values[0][0], "hello\0", 6), 0);
  EXPECT_EQ(*set->lengths[0], 5);
  EXPECT_EQ(set->has_copies, 1u);
  EXPECT_EQ(set->values[0][1], out);
  EXPECT_EQ(set->lengths[1], &out_len);
  EXPECT_EQ(set->buf_sizes[1], 8u);
  EXPECT_EQ(set->directions[1], 2u);

  // Binding slot 1 again replaces its copy (the old one must not leak).
  len = 2;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, 2, text, 64, &len), 0);
  EXPECT_EQ(std::memcmp(set->values[0][0], "xx\0", 3), 0);
}

TEST_F(ParamBinding, FixedWidthValuesShorterThanTheirTypeAreReadOnlyToTheirLength) {
  // Each value lives in a heap block of exactly its bound length, so that a
  // read past it would not go unnoticed; the copy is zero past the value.
  const struct {
    int ctype;
    int len;
    uint64_t copied;
  } cases[] = {{CT_INT64, 4, 0x44332211u}, {CT_INT16, 1, 0x11u}, {CT_DOUBLE, 2, 0x2211u}, {CT_INT32, 3, 0x332211u}};
  int pos = 1;
  for (const auto& k : cases) {
    auto* value = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(k.len)));
    for (int i = 0; i < k.len; ++i) value[i] = static_cast<uint8_t>(0x11 * (i + 1));
    int len = k.len;
    ASSERT_EQ(VMC_BindParam(&handle_, pos, 1, k.ctype, value, k.len, &len), 0) << k.ctype;
    std::free(value);
    uint64_t copy = ~0ull;
    std::memcpy(&copy, conn_->params->values[0][pos - 1], sizeof copy);
    EXPECT_EQ(copy, k.copied) << k.ctype;
    EXPECT_EQ(*conn_->params->lengths[pos - 1], k.len) << k.ctype;
    ++pos;
  }
}

TEST_F(ParamBinding, NamesTakeOneSlotEachEvenWhenRepeated) {
  int v = 3, len = 4;
  ASSERT_EQ(VMC_BindParamByName(&handle_, "id", 1, 5, &v, 4, nullptr, &len), 0);
  ASSERT_EQ(VMC_BindParamByName(&handle_, "id", 1, 5, &v, 4, nullptr, &len), 0);
  ParamSet* set = conn_->params;
  ASSERT_EQ(set->count, 2);
  EXPECT_STREQ(set->names[0], "id");
  EXPECT_STREQ(set->names[1], "id");
  EXPECT_EQ(set->positions[1], kParamPositionByName);
  // A set grows past its first 128 names.
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(VMC_BindParamByName(&handle_, "n", 1, 5, &v, 4, nullptr, &len), 0);
  }
  EXPECT_EQ(set->count, 202);
  EXPECT_EQ(set->capacity, 256);
}

TEST_F(ParamBinding, MixingNamesAndPositionsStaysSafe) {
  int v = 3, len = 4;
  ASSERT_EQ(bind_int(&handle_, 2), 0);
  ASSERT_EQ(VMC_BindParamByName(&handle_, "late", 1, 5, &v, 4, nullptr, &len), 0);
  ParamSet* set = conn_->params;
  EXPECT_EQ(set->count, 3);
  EXPECT_EQ(set->names[0], nullptr);
  EXPECT_STREQ(set->names[2], "late");
}

TEST_F(ParamBinding, CallerOwnedSetKeepsItsOwnTextsAndSurvivesDetaching) {
  VMC_Handle own = nullptr;
  ASSERT_EQ(VMC_AllocParams(&own), 0);
  EXPECT_EQ(VMC_AllocParams(nullptr), RC_INVALID_HANDLE);
  ParamSet* set = static_cast<ParamSet*>(own);
  EXPECT_EQ(set->mode, static_cast<uint32_t>(ParamSetMode::CallerOwned));

  EXPECT_EQ(bind_int(&own, 4001), RC_PARAM_POSITION);
  EXPECT_STREQ(set->error_text, "[EC051]Error invalid param NO 4001 out of range paramnum");
  EXPECT_EQ(conn_->error_text, nullptr);
  int v = 1, len = 4;
  EXPECT_EQ(VMC_BindParamByName(&own, "x", 7, 5, &v, 4, nullptr, &len), RC_PARAM_DIRECTION);
  EXPECT_STREQ(set->error_text, "[EC052]Error invalis param type 7");

  ASSERT_EQ(bind_int(&own, 1), 0);
  // Attaching releases the connection's transient set first.
  ASSERT_EQ(bind_int(&handle_, 1), 0);
  ASSERT_EQ(VMC_SetParams(&handle_, &own), 0);
  EXPECT_EQ(conn_->params, set);
  ASSERT_EQ(VMC_SetParams(&handle_, &own), 0);  // attaching it again changes nothing

  ASSERT_EQ(VMC_ClearParams(&handle_), 0);
  EXPECT_EQ(conn_->params, nullptr);
  ASSERT_EQ(set->count, 1);
  EXPECT_EQ(*static_cast<int*>(set->values[0][0]), 7);

  // Clearing the set itself empties it and leaves it usable.
  ASSERT_EQ(VMC_ClearParams(&own), 0);
  EXPECT_EQ(set->count, 0);
  EXPECT_EQ(set->values, nullptr);
  ASSERT_EQ(bind_int(&own, 3), 0);
  EXPECT_EQ(set->count, 3);
  release_param_set(set);
}

TEST_F(ParamBinding, ReleasingCopiesKeepsOutputSlotsForTheirReader) {
  int v = 5, len = 4;
  ASSERT_EQ(VMC_BindParam(&handle_, 1, 1, 5, &v, 4, &len), 0);
  int out = 0, out_len = 0;
  ASSERT_EQ(VMC_BindParam(&handle_, 2, 3, 5, &out, 4, &out_len), 0);
  ParamSet* set = conn_->params;

  free_param_copies(set);
  ASSERT_EQ(set->count, 2);
  EXPECT_EQ(set->values[0][0], nullptr);
  EXPECT_EQ(set->directions[0], 0u);
  EXPECT_EQ(set->values[0][1], &out);
  EXPECT_EQ(set->lengths[1], &out_len);

  free_params(set);
  EXPECT_EQ(set->count, 0);
  EXPECT_EQ(set->capacity, 0);
  EXPECT_EQ(set->directions, nullptr);
}

// A set as the PREPARE exchange describes it: names, positions, server types
// and sizes, and no value tables yet.
ParamSet* described_set(const char* a, const char* b) {
  ParamSet* set = static_cast<ParamSet*>(alloc_zeroed(sizeof(ParamSet)));
  set->handle_type = static_cast<uint32_t>(HandleType::ParamSet);
  set->mode = static_cast<uint32_t>(ParamSetMode::Described);
  set->count = 2;
  set->names = static_cast<char**>(alloc_zeroed(2 * sizeof(char*)));
  set->names[0] = strdup(a);
  set->names[1] = strdup(b);
  set->positions = static_cast<uint32_t*>(alloc_zeroed(2 * sizeof(uint32_t)));
  set->ctypes = static_cast<uint32_t*>(alloc_zeroed(2 * sizeof(uint32_t)));
  set->buf_sizes = static_cast<uint32_t*>(alloc_zeroed(2 * sizeof(uint32_t)));
  return set;
}

TEST_F(ParamBinding, DescribedSetBindsByNameIgnoringCase) {
  conn_->params = described_set("Id", "name");
  ParamSet* set = conn_->params;
  int v = 9, len = 4;
  ASSERT_EQ(VMC_BindParamByName(&handle_, "NAME", 1, 5, &v, 4, nullptr, &len), 0);
  EXPECT_EQ(set->count, 2);
  EXPECT_EQ(set->directions[1], 1u);
  EXPECT_EQ(set->directions[0], 0u);
  EXPECT_STREQ(set->names[1], "name");  // the described name is kept

  EXPECT_EQ(VMC_BindParamByName(&handle_, "other", 1, 5, &v, 4, nullptr, &len), RC_ERROR);
  EXPECT_EQ(conn_error(), "[EC053]Error invalid  param_name :other out  of prepared ");
  EXPECT_EQ(bind_param_by_name(set, "other", 1, 5, &v, 4, nullptr, &len), RC_ARRAY_NAME_BOUND);

  // By position past the described slots the set grows.
  ASSERT_EQ(bind_int(&handle_, 5), 0);
  EXPECT_EQ(set->count, 5);
  EXPECT_EQ(set->names[4], nullptr);

  // On a set handle a name it does not hold gives -1 and no text anywhere.
  VMC_Handle own = described_set("a", "b");
  conn_set_error(conn_, nullptr);
  EXPECT_EQ(VMC_BindParamByName(&own, "zz", 1, 5, &v, 4, nullptr, &len), RC_ERROR);
  EXPECT_EQ(static_cast<ParamSet*>(own)->error_text, nullptr);
  EXPECT_EQ(conn_->error_text, nullptr);
  release_param_set(static_cast<ParamSet*>(own));
}

TEST(ParamOwnership, HandleCallsAndClosingReleaseWhatTheyOwn) {
  VMC_Handle own = nullptr;
  ASSERT_EQ(VMC_AllocParams(&own), 0);
  ASSERT_EQ(bind_int(&own, 1), 0);
  ASSERT_EQ(VMC_ResetHandle(&own), 0);
  EXPECT_EQ(static_cast<ParamSet*>(own)->count, 0);
  ASSERT_EQ(bind_int(&own, 1), 0);

  // A connection whose open failed still owns what was bound on it.
  VMC_Handle conn = nullptr;
  ASSERT_EQ(VMC_OpenConn("IP=127.0.0.1;PORT=1", &conn), RC_SOCKET_FAILED);
  ASSERT_EQ(bind_int(&conn, 3), 0);
  VMC_Handle transient = static_cast<Conn*>(conn)->params;
  VMC_FreeHandle(&transient);  // not the caller's to free
  EXPECT_NE(transient, nullptr);
  ASSERT_EQ(VMC_CloseConn(&conn), 0);

  // Closing a connection leaves an attached caller-owned set to its owner.
  ASSERT_EQ(VMC_OpenConn("IP=127.0.0.1;PORT=1", &conn), RC_SOCKET_FAILED);
  ASSERT_EQ(VMC_SetParams(&conn, &own), 0);
  ASSERT_EQ(VMC_CloseConn(&conn), 0);
  EXPECT_EQ(static_cast<ParamSet*>(own)->count, 1);
  VMC_FreeHandle(&own);
  EXPECT_EQ(own, nullptr);
}

}  // namespace
