// The readers that turn a reply's result items ('A', 'D', 'U', 'I', texts) into a chain of
// ResultSet records.
#ifndef RIZEZOVA_CLIENT_REPLIES_RESULTS_READER_H
#define RIZEZOVA_CLIENT_REPLIES_RESULTS_READER_H

#include <cstdint>

#include "client/replies/result_item.h"

struct Conn;
struct ResultSet;

// A whole reply to its 'K' as a chain. Answers RC_ERROR when the reply carried
// an error text as an item of its own, else the status of the last item that
// set one (RC_SUCCESS after a message or warning, the rows of the last result
// set modulo 20000); *out receives the head (or null) when the reply was read.
// An error among the rows of a result set is that result's failure_text and
// leaves the answer alone. A reply that cannot be read to its end
// (RC_READ_FAILED) releases everything read, closes the link and leaves *out
// alone.
int recv_results(Conn* conn, ResultSet** out);
// A reply whose result set goes into one ResultSet, with all its rows. Counts
// and row ids are read and dropped; a second result set is read and dropped,
// and the reply answers RC_ERROR. Failures as recv_results.
int recv_result_single(Conn* conn, ResultSet** out);

#endif
