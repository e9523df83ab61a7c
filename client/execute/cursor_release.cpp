// What the Node module asks of a result's server cursor beyond the public
// calls: whether freeing the result would talk to the server, and letting go
// of the cursor without closing it. The module frees results from the
// garbage collector, which must not wait on the network.
#include "client/execute/cursors.h"
#include "client/handles/handle.h"
#include "client/results/result_life.h"
#include "client/results/smart_result.h"
#include "client/vmc_internal.h"

namespace {

HandleType type_of(VMC_Handle* handle) { return static_cast<HandleType>(handle_type_of(handle)); }

}  // namespace

extern "C" {

int vmc_result_holds_cursor(VMC_Handle* result) {
  if (type_of(result) != HandleType::SmartResult) return 0;
  return static_cast<SmartResult*>(*result)->cursor_open ? 1 : 0;
}

int vmc_forget_cursor(VMC_Handle* result) {
  switch (type_of(result)) {
    case HandleType::ResultSet:
      return RC_SUCCESS;
    case HandleType::SmartResult: {
      auto* smart = static_cast<SmartResult*>(*result);
      // A FETCH sent ahead is answered on the link whatever becomes of the
      // cursor: its reply is read first, or the next exchange would take it.
      settle_fetch(smart);
      mark_closed(smart);
      return RC_SUCCESS;
    }
    default:
      return RC_INVALID_HANDLE;
  }
}

}  // extern "C"
