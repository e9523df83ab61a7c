// Error texts kept in handles, handed out whole or split into code and message.
#include "client/errors/error_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/handles/handle.h"
#include "client/lob/lob.h"
#include "client/results/result_set.h"
#include "client/results/smart_result.h"
#include "client/text/bounded_copy.h"

namespace {

constexpr const char* kCommonCode = "EC0100";
constexpr const char* kCommonText = "common error\n";
// Whole texts from these lengths on no longer fit the record's message.
constexpr size_t kUnbracketedLongFrom = 243;
constexpr size_t kShortCodeLongFrom = 262;
constexpr size_t kLongCodeLongFrom = 263;

void copy_error_out(const char* text, char* buf, int* len) {
  if (!text) return;
  size_t n = std::strlen(text);
  if (buf) std::memcpy(buf, text, n);
  if (len) *len = static_cast<int>(n);
}

}  // namespace

ErrorRecord* make_error_record(const char* text) {
  if (!text) return nullptr;
  auto* record = static_cast<ErrorRecord*>(alloc_zeroed(sizeof(ErrorRecord)));
  if (!record) return nullptr;
  copy_bounded(record->note, sizeof record->note, kErrorCutNote);
  size_t whole = std::strlen(text);

  if (text[0] != '[') {
    std::memcpy(record->code, kCommonCode, kErrorCodeLen);
    copy_bounded(record->text, sizeof record->text, kCommonText);
    if (whole >= kUnbracketedLongFrom) {
      record->long_text = strdup(text);
      record->long_len = record->long_text ? static_cast<int32_t>(whole) : 0;
    } else {
      append_bounded(record->text, sizeof record->text, text);
    }
    record->text_len = static_cast<int32_t>(std::strlen(record->text));
    return record;
  }

  // "[EC011]" has its ']' at index 6; anything else is taken as a 6-character
  // code. A text shorter than its code gives what it holds and no message.
  bool short_code = whole > 6 && text[6] == ']';
  size_t code_len = short_code ? 5 : 6;
  size_t message_at = code_len + 2;
  size_t long_from = short_code ? kShortCodeLongFrom : kLongCodeLongFrom;
  std::memcpy(record->code, text + 1, std::min(code_len, whole - 1));
  const char* message = text + std::min(message_at, whole);

  if (whole >= long_from) {
    std::memcpy(record->text, message, kErrorCutLen);
    std::memcpy(record->text + kErrorCutLen, kErrorCutNote, kErrorCutNoteLen);
    record->text_len = kErrorCutLen + kErrorCutNoteLen;
    record->long_text = strdup(message);
    record->long_len = record->long_text ? static_cast<int32_t>(std::strlen(message)) : 0;
  } else {
    copy_bounded(record->text, sizeof record->text, message);
    record->text_len = static_cast<int32_t>(std::strlen(record->text));
  }
  return record;
}

void free_error_record(ErrorRecord* record) {
  if (!record) return;
  std::free(record->long_text);
  std::free(record);
}

const char* handle_error_text(VMC_Handle* handle, bool with_smart_result) {
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::Conn:
      return static_cast<Conn*>(*handle)->error_text;
    case HandleType::ResultSet:
      return static_cast<ResultSet*>(*handle)->error_text;
    case HandleType::SmartResult:
      return with_smart_result ? static_cast<SmartResult*>(*handle)->error_text : nullptr;
    case HandleType::LobObject:
      return static_cast<LobObject*>(*handle)->error_text;
    default:
      return nullptr;
  }
}

int get_conn_error(VMC_Handle* handle, char* buf, int* len) {
  Conn* conn = conn_of_handle(handle);
  if (conn) copy_error_out(conn->error_text, buf, len);
  return RC_SUCCESS;
}

int get_result_error(VMC_Handle* handle, char* buf, int* len) {
  if (handle_type_of(handle) == static_cast<uint32_t>(HandleType::ResultSet)) {
    copy_error_out(static_cast<ResultSet*>(*handle)->error_text, buf, len);
  }
  return RC_SUCCESS;
}

int get_lob_error(VMC_Handle* handle, char* buf, int* len) {
  if (handle_type_of(handle) == static_cast<uint32_t>(HandleType::LobObject)) {
    copy_error_out(static_cast<LobObject*>(*handle)->error_text, buf, len);
  }
  return RC_SUCCESS;
}

extern "C" int VMC_GetError(VMC_Handle* handle, char* buf, int* len) {
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::Conn:
      return get_conn_error(handle, buf, len);
    case HandleType::ResultSet:
      return get_result_error(handle, buf, len);
    case HandleType::LobObject:
      return get_lob_error(handle, buf, len);
    default:
      return RC_SUCCESS;
  }
}

extern "C" int VMC_GetErrorLength(VMC_Handle* handle) {
  const char* text = handle_error_text(handle, false);
  constexpr int kNoText = 0;
  return text ? static_cast<int>(std::strlen(text)) : kNoText;
}

extern "C" int VMC_GetDiag(VMC_Handle* handle, char* code, char* message, void* reserved) {
  (void)reserved;
  switch (static_cast<HandleType>(handle_type_of(handle))) {
    case HandleType::Conn:
    case HandleType::ResultSet:
    case HandleType::LobObject:
    case HandleType::SmartResult:
      break;
    default:
      return RC_SUCCESS;
  }
  const char* text = handle_error_text(handle, true);
  if (!text) return RC_NO_DATA;
  ErrorRecord* record = make_error_record(text);
  if (!record) return RC_NO_MEMORY;
  if (code) std::memcpy(code, record->code, kErrorCodeLen);
  if (message) std::memcpy(message, record->text, static_cast<size_t>(record->text_len));
  int rc = record->long_len >= 1 ? RC_DIAG_CUT : RC_SUCCESS;
  free_error_record(record);
  return rc;
}
