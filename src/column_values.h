// The columns of a result's current row as script values, row objects keyed
// by column name, and field descriptions.
#ifndef RIZEZOVA_SRC_COLUMN_VALUES_H
#define RIZEZOVA_SRC_COLUMN_VALUES_H

#include <node.h>

#include <memory>
#include <string>
#include <vector>

#include "client/vmc.h"
#include "client/vmc_internal.h"

namespace zorezu {

// Who reads the row: query's callback path, or a query object's on("result")
// or nextRecord("nextrecord"). They differ in how NULLs, booleans, LOBs and
// data errors come out.
enum class RowCaller { Query, OnResult, NextRecord };

class ColumnReader {
 public:
  explicit ColumnReader(RowCaller caller) : caller_(caller) {}

  // A new result set begins.
  void reset() {
    release();
    limits_.clear();
  }
  // Lets go of the buffer that a long text made grow. A reader that lives
  // between rows calls it after each row, so that it holds no more memory
  // than a short text needs.
  void release() {
    large_.reset();
    large_size_ = 0;
  }

  // Column col (from 1) of the current row, read by its client type: from
  // the cell that vmc_row_cells gave for it where the cell serves, else
  // through VMC_GetData.
  v8::Local<v8::Value> value(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype, const vmc_cell& cell);

  // The message of the last data error since the last clear, or null; it
  // stays valid until the next value is read. Where it goes is the caller's
  // business: query's error object, or a TypeError.
  const char* error() const { return error_; }
  void clear_error() { error_ = nullptr; }

 private:
  // Texts are read into a buffer of the size the value needs: the short one
  // here, or one grown for a long value (never beyond the column's limit).
  static constexpr int kShortText = 256;

  // The value made from the cell alone; false when the cell does not serve
  // this client type (or the value would be cut), and VMC_GetData must say.
  bool stored(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype, const vmc_cell& cell,
              v8::Local<v8::Value>* out);
  v8::Local<v8::Value> general(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype);
  // The most a text value of the column takes, worked out once per result set.
  int limit(VMC_Handle* result, int col, int ctype);
  v8::Local<v8::Value> number(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype);
  // Reads a value of C type ctype whole into the reader's buffer: the code,
  // with the buffer (null without memory), its size and the bytes given.
  int read_grown(VMC_Handle* result, int col, int ctype, int most, char** buf, int* size, int* len);
  v8::Local<v8::Value> text(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype, bool as_boolean);
  // A binary column's bytes whole, as a Buffer.
  v8::Local<v8::Value> binary(v8::Isolate* isolate, VMC_Handle* result, int col);
  v8::Local<v8::Value> bytes(v8::Isolate* isolate, const char* data, size_t n);
  v8::Local<v8::Value> date(v8::Isolate* isolate, VMC_Handle* result, int col);
  v8::Local<v8::Value> datetime(v8::Isolate* isolate, VMC_Handle* result, int col);
  // Whether the result's LOB columns are read as LOBs rather than by the
  // text rule: always in query's rows; in a query object's, when the rows
  // hold what LOB_RET asks for, which is not the value's text.
  bool reads_lobs(VMC_Handle* result) const;
  // A LOB column's value whole: an ArrayBuffer in query's rows, a String (up
  // to a zero byte) of a character LOB or a Buffer of a binary one in a query
  // object's. A fetch that cannot be had is a data error with the server's
  // reason or the closed link's text; the value is what came before it.
  v8::Local<v8::Value> lob(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype);
  void lob_failed(VMC_Handle* result, int rc);
  // A buffer of at least size bytes; null when memory ran out.
  char* text_buffer(int size);

  RowCaller caller_;
  char short_[kShortText];
  std::unique_ptr<char[]> large_;
  int large_size_ = 0;
  std::vector<int> limits_;  // by column from 0; 0 until worked out
  const char* error_ = nullptr;
  std::string reason_;  // a refused LOB fetch's text, which error_ then names
};

// The message for a negative answer of a column read.
const char* data_error_text(int code);

// A column's name as a property key; empty when it cannot be read (*rc < 0).
v8::Local<v8::String> column_name(v8::Isolate* isolate, VMC_Handle* result, int col, int* rc);

// {"ColName": name, "Type": ctype}.
v8::Local<v8::Object> field_description(v8::Isolate* isolate, v8::Local<v8::String> name, int ctype);

// The row objects of a result set. The column names become property keys
// once; a name that appears twice keeps its first place and takes the later
// column's value, as if the values were set one after the other in column
// order. Rows are made by a small script function compiled for the shape:
// its object literal defines each key, so rows are ordinary fast objects and
// a block of rows costs one call into script. Names enter its source only as
// escaped string literals.
class RowShape {
 public:
  explicit RowShape(v8::Isolate* isolate) : isolate_(isolate) {}
  void add_column(v8::Local<v8::String> name);
  void clear();

  // Makes the row makers for the columns added; false when script threw.
  bool prepare();
  // Rows from `count` rows of column values, one row after the other, into
  // rows[start] onwards; false when script threw.
  bool make_rows(v8::Local<v8::Array> rows, uint32_t start, const std::vector<v8::Local<v8::Value>>& values,
                 uint32_t count);
  // The maker of single rows, for a reader that keeps it between rows.
  v8::Local<v8::Function> maker() const { return make_; }
  static v8::MaybeLocal<v8::Value> make_row(v8::Isolate* isolate, v8::Local<v8::Function> maker,
                                            std::vector<v8::Local<v8::Value>>& values);

 private:
  v8::Isolate* isolate_;
  std::vector<v8::Local<v8::Value>> keys_;
  std::vector<int> sources_;  // per key, the last column (from 0) of its name
  int columns_ = 0;
  v8::Local<v8::Function> make_;
  v8::Local<v8::Function> block_;
};

}  // namespace zorezu

#endif
