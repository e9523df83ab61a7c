// What a reply item comes to in a reader's hands: read on, the reply ended
// by the item itself, or the reading cannot go on.
#ifndef RIZEZOVA_CLIENT_REPLIES_REPLY_STEP_H
#define RIZEZOVA_CLIENT_REPLIES_REPLY_STEP_H

#include <cstdint>

#include "client/vmc.h"

// What comes of an item in a policy's hands.
struct Step {
  enum Kind : uint8_t {
    Next,     // on to the letter behind the item
    Ended,    // the item ended the reply itself (read its 'K', or is its last item)
    Fail,     // a read failed, or a letter came that the reader cannot follow:
              // the rest of the reply cannot be found, so the link is closed
              // and the call answers RC_READ_FAILED
  };
  Kind kind;
  int code;  // for a result set read on, its row count status

  static Step next(int code = 0) { return {Next, code}; }
  static Step fail() { return {Fail, RC_READ_FAILED}; }
};

#endif
