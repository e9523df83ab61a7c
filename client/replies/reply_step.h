// What a reply item comes to in a reader's hands: read on, the reply ended
// by the item itself, the reading stopped at a letter it cannot follow, or
// failed.
#ifndef RIZEZOVA_CLIENT_REPLIES_REPLY_STEP_H
#define RIZEZOVA_CLIENT_REPLIES_REPLY_STEP_H

#include <cstdint>

#include "client/vmc.h"

// What comes of an item in a policy's hands.
struct Step {
  enum Kind : uint8_t {
    Next,     // on to the letter behind the item
    Ended,    // the item ended the reply itself (read its 'K', or is its last item)
    Stop,     // a letter the reader cannot follow: as the rest of the reply
              // cannot be found, the link is closed
    Fail,     // the reading failed (`code` says how): the link is closed
  };
  Kind kind;
  int code;  // for a result set read on, its row count status

  static Step next(int code = 0) { return {Next, code}; }
  static Step stop() { return {Stop, RC_READ_FAILED}; }
  static Step fail(int code) { return {Fail, code}; }
};

#endif
