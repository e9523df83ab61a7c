// Reading the client's '?' command frames on the server's side of a link.
#ifndef RIZEZOVA_STANDIN_COMMAND_READER_H
#define RIZEZOVA_STANDIN_COMMAND_READER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/link.h"

namespace standin {

// The longest statement text the stand-in takes. A text is read as it
// arrives, so a client holds server memory only for what it has sent.
constexpr uint32_t kMaxStatementText = 16u << 20;

struct Command {
  char letter = 0;             // '?' for a statement; '.' for the row-batch go-on; 0 when none came
  std::string text;            // the statement text without its terminator
  uint32_t param_count = 0;    // the parameter-count word
  bool text_too_long = false;  // the frame announced more than kMaxStatementText bytes of text
};

// One parameter record of a single row of values.
struct ParamRecord {
  std::string name;            // empty when bound by position
  uint16_t direction = 0;      // 1 in, 2 out, 3 in-out
  uint16_t wire_type = 0;      // the value's server type code
  int32_t length = 0;          // the length word; below 1 means no value
  std::vector<uint8_t> value;  // fixed-width values in host order
};

// Reads the next command: a '?' frame up to its parameter-count word (the
// parameter records, if any, stay unread), or a one-letter command. False
// when the link failed or the frame is malformed or too long.
bool read_command(Link* link, Command* out);
// Reads the `count` parameter records that follow a frame of one value row.
bool read_param_records(Link* link, uint32_t count, std::vector<ParamRecord>* out);
// Reads rows 1 to rows - 1 of a batch, which follow the records of row 0
// packed into length-prefixed blocks, and hands each row to on_row with the
// names and directions of row 0. type_bytes: every packed value starts with
// its wire type; without them a value's width is its slot's type in row 0.
// False when the link failed or a block does not hold whole rows.
using BatchRowSink = std::function<void(const std::vector<ParamRecord>&)>;
bool read_batch_rows(Link* link, const std::vector<ParamRecord>& row0, uint32_t rows, bool type_bytes,
                     const BatchRowSink& on_row);

}  // namespace standin

#endif
