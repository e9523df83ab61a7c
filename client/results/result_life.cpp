// Making, stepping through and freeing result records.
#include "client/results/result_life.h"

#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"
#include "client/handles/handle.h"
#include "client/results/mem_pool.h"
#include "client/results/row_store.h"
#include "client/results/smart_result.h"

ResultSet* new_result(int32_t kind) {
  auto* result = static_cast<ResultSet*>(alloc_zeroed(sizeof(ResultSet)));
  if (!result) return nullptr;
  result->handle_type = static_cast<uint32_t>(HandleType::ResultSet);
  result->kind = kind;
  return result;
}

int free_field_descs(FieldDesc* fields, int32_t count) {
  if (!fields) return RC_SUCCESS;
  for (int32_t k = 0; k < count; ++k) {
    // The name buffer begins at the table part when there is one.
    std::free(fields[k].table ? fields[k].table : fields[k].column);
  }
  std::free(fields);
  return RC_SUCCESS;
}

namespace {

void untie_result(ResultSet* result) {
  Conn* conn = result->conn;
  // A result whose conn was set by hand is on no list.
  if (conn && (result->prev_of_conn || conn->results == result)) {
    (result->prev_of_conn ? result->prev_of_conn->next_of_conn : conn->results) = result->next_of_conn;
    if (result->next_of_conn) result->next_of_conn->prev_of_conn = result->prev_of_conn;
  }
  result->conn = nullptr;
  result->prev_of_conn = nullptr;
  result->next_of_conn = nullptr;
}

}  // namespace

void tie_result(ResultSet* result, Conn* conn) {
  untie_result(result);
  result->conn = conn;
  result->lob_descriptors = conn->lob_ret == 1 ? 1 : 0;
  result->next_of_conn = conn->results;
  if (conn->results) conn->results->prev_of_conn = result;
  conn->results = result;
}

int free_result(ResultSet* result) {
  if (!result) return RC_SUCCESS;
  untie_result(result);
  free_row_blocks(result);
  free_field_descs(result->fields, result->field_count);
  std::free(result->error_text);
  std::free(result->failure_text);
  mem_pool_destroy(result->pool);
  std::free(result);
  return RC_SUCCESS;
}

void free_result_chain(ResultSet* head) {
  while (head) {
    ResultSet* next = head->next;
    free_result(head);
    head = next;
  }
}

bool chain_failed(const ResultSet* chain) {
  for (; chain; chain = chain->next) {
    if (chain->failure_text) return true;
  }
  return false;
}

int result_next_row(ResultSet* result) {
  if (!result || result->handle_type != static_cast<uint32_t>(HandleType::ResultSet)) return RC_ERROR;
  if (result->row_count == 0 || result->cursor >= result->row_count) {
    result->current_row = nullptr;
    return RC_NO_DATA;
  }
  result->current_row = *result_row_slot(result, result->cursor);
  ++result->cursor;
  return RC_SUCCESS;
}

void mark_closed(SmartResult* smart) {
  smart->cursor_open = 0;
  smart->more_rows = 0;
  std::memset(smart->cursor_name, 0, sizeof smart->cursor_name);
  smart->conn = nullptr;
}

namespace {

void untie_smart_result(SmartResult* smart) {
  Conn* conn = smart->read_over;
  if (!conn) return;
  if (smart->prev_of_conn) {
    smart->prev_of_conn->next_of_conn = smart->next_of_conn;
  } else {
    conn->smart_results = smart->next_of_conn;
  }
  if (smart->next_of_conn) smart->next_of_conn->prev_of_conn = smart->prev_of_conn;
  smart->read_over = nullptr;
  smart->prev_of_conn = nullptr;
  smart->next_of_conn = nullptr;
}

}  // namespace

void free_smart_result(SmartResult* smart) {
  untie_smart_result(smart);
  free_result_chain(smart->block);
  std::free(smart->error_text);
  std::free(smart);
}

void tie_smart_result(SmartResult* smart, Conn* conn) {
  smart->read_over = conn;
  smart->prev_of_conn = nullptr;
  smart->next_of_conn = conn->smart_results;
  if (conn->smart_results) conn->smart_results->prev_of_conn = smart;
  conn->smart_results = smart;
}

void detach_conn_results(Conn* conn) {
  while (SmartResult* smart = conn->smart_results) {
    // A cursor that still had rows leaves its result cut short; a FETCH it
    // sent ahead goes unanswered with the link.
    if (smart->more_rows) smart->cut_off = 1;
    smart->fetch_sent = 0;
    mark_closed(smart);
    untie_smart_result(smart);
  }
  // The blocks of server-cursor results among them.
  while (ResultSet* result = conn->results) untie_result(result);
}

ResultSet** result_of_handle(VMC_Handle* handle) {
  switch (handle_type_of(handle)) {
    case static_cast<uint32_t>(HandleType::ResultSet):
      return reinterpret_cast<ResultSet**>(handle);
    case static_cast<uint32_t>(HandleType::SmartResult): {
      // A server-cursor result stands for its current block.
      auto* smart = static_cast<SmartResult*>(*handle);
      return smart->block ? &smart->block : nullptr;
    }
    default:
      return nullptr;
  }
}
