// The letters of the wire protocol: the one that opens each item of a server
// reply (the login's answer included), and the client's two one-letter
// commands. Every reader and writer of the protocol names them from here.
#ifndef RIZEZOVA_LINK_REPLY_LETTERS_H
#define RIZEZOVA_LINK_REPLY_LETTERS_H

#include <cstdint>

enum ReplyLetter : uint8_t {
  REPLY_END = 'K',           // the end of a reply; also a login's plain answer
  REPLY_LOGIN_LEVEL = 'N',   // a login's answer at the newer protocol level
  REPLY_RESULT_SET = 'A',    // field descriptions, then rows
  REPLY_ROW = 'R',           // a row of a result set; a LOB value's pieces
  REPLY_ROW_WITH_ID = '*',   // a row led by its row id
  REPLY_DELETED = 'D',       // rows deleted: a count
  REPLY_UPDATED = 'U',       // rows updated: a count
  REPLY_INSERTED = 'I',      // the row id of an inserted row
  REPLY_ERROR = 'E',         // a text each
  REPLY_FAILURE = 'F',
  REPLY_MESSAGE = 'M',
  REPLY_WARNING = 'W',
  REPLY_RETURN_VALUE = 'O',  // type, length, value
  REPLY_OUT_PARAM = 'P',     // slot index, type, length, value
  REPLY_PARAM_DESCS = '$',   // the parameters a PREPARE described
};

enum CommandLetter : uint8_t {
  COMMAND_STATEMENT = '?',      // a statement text and its values
  COMMAND_CONTINUE_ROWS = '.',  // sent alone while rows are read in batches
};

#endif
