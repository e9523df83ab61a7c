// Column values to script values.
#include "src/column_values.h"

#include <node_buffer.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <string>
#include <unordered_map>

#include "src/script_util.h"
#include "src/vm_connection.h"

namespace zorezu {

namespace {

constexpr int kNameBufSize = 128;
// What a text column without a declared length may take.
constexpr int kUnsizedText = 64000;
constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kSecondsPerDay = 86400;
// The most milliseconds a script Date lies from 1970-01-01 either way.
constexpr int64_t kDateRangeMs = 8640000000000000;

// Bytes of a text read: what the buffer holds up to its first zero. After a
// cut the length tells what was left over, not what was given.
size_t text_length(const char* buf, int size, int rc, int len) {
  const int given = rc == RC_TRUNCATED ? size : std::clamp(len, 0, size);
  return strnlen(buf, static_cast<size_t>(given));
}

// The most a text value of the column takes, its terminator included: three
// bytes for every character the column declares, or kUnsizedText when it
// declares none; a longer value is cut to it. A day-to-second interval reads
// unsized.
int text_limit(VMC_Handle* result, int col, int ctype) {
  if (ctype == CT_INTERVAL_I64) return kUnsizedText;
  int declared = 0;
  VMC_GetColLen(result, col, &declared);
  int64_t size = 3 * static_cast<int64_t>(declared);
  if (size <= 0 || size >= INT_MAX) size = kUnsizedText;
  return static_cast<int>(size + 1);
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Seconds east of UTC of the local time zone at instant t.
long utc_offset(std::time_t t) {
  std::tm local{};
  return localtime_r(&t, &local) ? local.tm_gmtoff : 0;
}

// The Date whose local date and time are the stored wall clock (given as
// milliseconds since 1970-01-01 00:00 of that clock), as script's Date
// constructor picks it: of two instants with those fields (clocks going
// back) the earlier; in an hour that clocks skip, the wall clock read with
// the offset in force before the change. Dates bind as their local fields,
// so they come back as they went. A wall clock beyond the range of Dates is
// an invalid Date (and is kept away from the arithmetic, which it could
// overflow).
v8::Local<v8::Value> local_date(v8::Isolate* isolate, int64_t wall_ms) {
  if (wall_ms < -kDateRangeMs || wall_ms > kDateRangeMs) {
    return v8::Date::New(isolate->GetCurrentContext(), std::numeric_limits<double>::quiet_NaN()).ToLocalChecked();
  }
  const int64_t wall = floor_div(wall_ms, 1000);
  const int64_t ms = wall_ms - wall * 1000;
  const long before = utc_offset(static_cast<std::time_t>(wall - kSecondsPerDay));
  const long after = utc_offset(static_cast<std::time_t>(wall + kSecondsPerDay));
  int64_t instant = wall - before;
  bool found = false;
  for (const long offset : {before, after}) {
    const int64_t t = wall - offset;
    if (t + utc_offset(static_cast<std::time_t>(t)) == wall && (!found || t < instant)) {
      instant = t;
      found = true;
    }
  }
  const double time = static_cast<double>(instant) * 1000 + static_cast<double>(ms);
  return v8::Date::New(isolate->GetCurrentContext(), time).ToLocalChecked();
}

}  // namespace

const char* data_error_text(int code) {
  switch (code) {
    case RC_INVALID_HANDLE: return "result error";
    case RC_NO_ROW_OR_NULL: return "data null error";
    case RC_COLUMN_RANGE: return "column number error";
    case RC_TRUNCATED: return "data truncation error";
    case RC_NO_CONVERSION: return "data type conversion error";
    case RC_READ_FAILED: return kLinkClosed;
    default: return "data read error";
  }
}

v8::Local<v8::Value> ColumnReader::value(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype,
                                         const vmc_cell& cell) {
  v8::Local<v8::Value> made;
  if (cell.form != VMC_CELL_GENERAL && stored(isolate, result, col, ctype, cell, &made)) return made;
  return general(isolate, result, col, ctype);
}

int ColumnReader::limit(VMC_Handle* result, int col, int ctype) {
  const auto k = static_cast<size_t>(col - 1);
  if (limits_.size() <= k) limits_.resize(k + 1, 0);
  if (limits_[k] == 0) limits_[k] = text_limit(result, col, ctype);
  return limits_[k];
}

bool ColumnReader::stored(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype, const vmc_cell& cell,
                          v8::Local<v8::Value>* out) {
  auto made = [out](v8::Local<v8::Value> v) {
    *out = v;
    return true;
  };
  switch (ctype) {
    case CT_INT8:
      return cell.form == VMC_CELL_INT8 && made(v8::Integer::New(isolate, static_cast<int8_t>(cell.v.i)));
    case CT_INT16:
      return cell.form == VMC_CELL_INT16 && made(v8::Integer::New(isolate, static_cast<int16_t>(cell.v.i)));
    case CT_INT32:
      return cell.form == VMC_CELL_INT32 && made(v8::Integer::New(isolate, static_cast<int32_t>(cell.v.i)));
    case CT_INT64:
      return cell.form == VMC_CELL_INT64 && made(v8::Number::New(isolate, static_cast<double>(cell.v.i)));
    case CT_FLOAT:
      return cell.form == VMC_CELL_FLOAT && made(v8::Number::New(isolate, cell.v.f));
    case CT_DOUBLE:
      return cell.form == VMC_CELL_DOUBLE && made(v8::Number::New(isolate, cell.v.f));
    case CT_DATE:
      return cell.form == VMC_CELL_DATE && made(local_date(isolate, cell.v.i * kMsPerDay));
    case CT_DATETIME:
      return cell.form == VMC_CELL_DATETIME && made(local_date(isolate, cell.v.i));
    case CT_INT:  // a boolean
      return false;
    case CT_BINARY:
      return cell.form == VMC_CELL_CHARS && made(bytes(isolate, cell.v.bytes, cell.length));
    case CT_CLOB:
    case CT_BLOB:
      if (reads_lobs(result)) return false;
      break;
    default:
      break;
  }
  // The text rule: the value whole up to its first zero byte, as long as it
  // is not cut at the column's limit.
  if (cell.form != VMC_CELL_CHARS && cell.form != VMC_CELL_DIGITS) return false;
  const size_t n = strnlen(cell.v.bytes, cell.length);
  const auto most = static_cast<size_t>(limit(result, col, ctype));
  // Bytes whose text has to end at a zero byte need one character at least,
  // and room for their terminator; bytes that are their text whole fit the
  // limit exactly too.
  const bool whole = cell.form == VMC_CELL_CHARS ? cell.length <= most : n > 0 && n < most;
  return whole && made(utf8_string(isolate, cell.v.bytes, n));
}

v8::Local<v8::Value> ColumnReader::general(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype) {
  switch (ctype) {
    case CT_INT8:
    case CT_INT16:
    case CT_INT32:
    case CT_INT64:
    case CT_FLOAT:
    case CT_DOUBLE:
      return number(isolate, result, col, ctype);
    case CT_DATE:
      return date(isolate, result, col);
    case CT_DATETIME:
      return datetime(isolate, result, col);
    case CT_BINARY:
      return binary(isolate, result, col);
    case CT_CLOB:
    case CT_BLOB:
      if (reads_lobs(result)) return lob(isolate, result, col, ctype);
      return text(isolate, result, col, ctype, false);
    case CT_INT:  // a boolean: 'T' or 'F'
      return text(isolate, result, col, ctype, caller_ == RowCaller::Query);
    default:
      return text(isolate, result, col, ctype, false);
  }
}

v8::Local<v8::Value> ColumnReader::number(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype) {
  union {
    int8_t i8;
    int16_t i16;
    int32_t i32;
    int64_t i64;
    float f32;
    double f64;
  } v;
  std::memset(&v, 0, sizeof v);
  int width = sizeof v.f64;
  if (ctype == CT_INT8) width = sizeof v.i8;
  if (ctype == CT_INT16) width = sizeof v.i16;
  if (ctype == CT_INT32 || ctype == CT_FLOAT) width = sizeof v.i32;
  int len = 0;
  const int rc = VMC_GetData(result, col, ctype, &v, width, &len);
  if (caller_ == RowCaller::Query) {
    // A NULL is no error here; it reads as null.
    if (rc < 0 && rc != RC_NO_ROW_OR_NULL) error_ = data_error_text(rc);
    if (len == 0) return v8::Null(isolate);
  } else if (rc < 0) {
    error_ = data_error_text(rc);
    return v8::Integer::New(isolate, 0);
  }
  switch (ctype) {
    case CT_INT8: return v8::Integer::New(isolate, v.i8);
    case CT_INT16: return v8::Integer::New(isolate, v.i16);
    case CT_INT32: return v8::Integer::New(isolate, v.i32);
    case CT_INT64: return v8::Number::New(isolate, static_cast<double>(v.i64));
    case CT_FLOAT: return v8::Number::New(isolate, v.f32);
    default: return v8::Number::New(isolate, v.f64);
  }
}

char* ColumnReader::text_buffer(int size) {
  if (size <= kShortText) return short_;
  if (large_size_ < size) {
    large_.reset(new (std::nothrow) char[static_cast<size_t>(size)]);
    large_size_ = large_ ? size : 0;
  }
  return large_.get();
}

// A first read into what is at hand tells a longer value's length (what did
// not fit), and a second reads it whole, up to `most` bytes.
int ColumnReader::read_grown(VMC_Handle* result, int col, int ctype, int most, char** buf, int* size, int* len) {
  *size = std::min(most, std::max(kShortText, large_size_));
  *buf = text_buffer(*size);
  *len = 0;
  int rc = VMC_GetData(result, col, ctype, *buf, *size, len);
  if (rc == RC_TRUNCATED && *size < most) {
    *size = static_cast<int>(std::min<int64_t>(most, int64_t{*size} + *len));
    *buf = text_buffer(*size);
    *len = 0;
    rc = *buf ? VMC_GetData(result, col, ctype, *buf, *size, len) : RC_NO_MEMORY;
  }
  return rc;
}

v8::Local<v8::Value> ColumnReader::text(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype,
                                        bool as_boolean) {
  const bool query = caller_ == RowCaller::Query;
  // The buffer follows the value, not the length the column declares (cut at
  // the limit, as one read would).
  char* buf = nullptr;
  int size = 0;
  int len = 0;
  const int rc = read_grown(result, col, CT_TEXT, limit(result, col, ctype), &buf, &size, &len);
  if (query && rc < 0 && rc != RC_NO_ROW_OR_NULL) error_ = data_error_text(rc);
  if (len == 0 || !buf) {
    return query ? v8::Null(isolate).As<v8::Value>() : v8::String::Empty(isolate).As<v8::Value>();
  }
  if (as_boolean) return v8::Boolean::New(isolate, buf[0] == 'T');
  return utf8_string(isolate, buf, text_length(buf, size, rc, len));
}

v8::Local<v8::Value> ColumnReader::binary(v8::Isolate* isolate, VMC_Handle* result, int col) {
  char* buf = nullptr;
  int size = 0;
  int len = 0;
  const int rc = read_grown(result, col, CT_BINARY, INT_MAX, &buf, &size, &len);
  if (caller_ == RowCaller::Query && rc < 0 && rc != RC_NO_ROW_OR_NULL) error_ = data_error_text(rc);
  if (rc != RC_SUCCESS) len = 0;
  return bytes(isolate, buf, static_cast<size_t>(std::clamp(len, 0, size)));
}

// No bytes are a null in query's rows, as an empty text is, and an empty
// Buffer in a query object's, whose empty text is "".
v8::Local<v8::Value> ColumnReader::bytes(v8::Isolate* isolate, const char* data, size_t n) {
  if (n == 0 && caller_ == RowCaller::Query) return v8::Null(isolate);
  v8::Local<v8::Object> buffer;
  if (!node::Buffer::Copy(isolate, n ? data : "", n).ToLocal(&buffer)) return v8::Null(isolate);
  return buffer;
}

v8::Local<v8::Value> ColumnReader::date(v8::Isolate* isolate, VMC_Handle* result, int col) {
  // A date is a day, stored as its number; CT_NUMERIC hands out a value's
  // stored bytes. It comes as local midnight of that day.
  int32_t days = 0;
  int len = 0;
  if (VMC_GetData(result, col, CT_NUMERIC, &days, sizeof days, &len) != RC_SUCCESS || len != sizeof days) {
    return v8::Null(isolate);
  }
  return local_date(isolate, days * kMsPerDay);
}

v8::Local<v8::Value> ColumnReader::datetime(v8::Isolate* isolate, VMC_Handle* result, int col) {
  int64_t ms = 0;
  int len = 0;
  VMC_GetData(result, col, CT_DATETIME_MS, &ms, sizeof ms, &len);
  if (len == 0) return v8::Null(isolate);
  return local_date(isolate, ms);
}

bool ColumnReader::reads_lobs(VMC_Handle* result) const {
  return caller_ == RowCaller::Query || vmc_result_lobs(result, nullptr) == 1;
}

void ColumnReader::lob_failed(VMC_Handle* result, int rc) {
  if (rc == RC_READ_FAILED) {
    error_ = kLinkClosed;
    return;
  }
  VMC_Handle conn = nullptr;
  vmc_result_lobs(result, &conn);
  reason_ = conn ? last_error_text(conn) : std::string();
  error_ = reason_.empty() ? data_error_text(rc) : reason_.c_str();
}

v8::Local<v8::Value> ColumnReader::lob(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype) {
  const bool query = caller_ == RowCaller::Query;
  VMC_Handle lob = nullptr;
  const int created = VMC_CreateLob(&lob);
  if (query) std::printf("Lob read create : %d \n ", created);
  int n = 0;
  // A value the server refused, or whose fetch the link cut short, is not
  // all of it: the failure goes with the bytes that came.
  const int rc = VMC_GetData(result, col, ctype, &lob, 8, &n);
  if (rc == RC_ERROR || rc == RC_READ_FAILED) lob_failed(result, rc);
  if (n < 0) n = 0;
  v8::Local<v8::Value> value;
  if (query) {
    std::printf("Lob read Getdata : length %d \n ", n);
    v8::Local<v8::ArrayBuffer> buffer = v8::ArrayBuffer::New(isolate, static_cast<size_t>(n));
    const int read = n > 0 ? VMC_GetLobData(&lob, buffer->Data(), static_cast<uint32_t>(n)) : 0;
    std::printf("Lob read Getdata : read_n %d \n ", read);
    std::printf("Lob read Getdata : write to arraybuffer  \n");
    std::fflush(stdout);
    value = buffer;
  } else {
    char* held = n > 0 ? text_buffer(n) : nullptr;
    const int read = held ? VMC_GetLobData(&lob, held, static_cast<uint32_t>(n)) : 0;
    if (n > 0 && !held && !error_) error_ = data_error_text(RC_NO_MEMORY);
    // A value too large for a script string or buffer comes as an empty one,
    // reported; no exception is left pending for the row's callback.
    v8::TryCatch too_large(isolate);
    v8::Local<v8::Value> made;
    if (ctype == CT_BLOB) {
      made = bytes(isolate, held, static_cast<size_t>(read));
      if (!made->IsObject()) made = v8::Local<v8::Value>();
    } else {
      const size_t length = held ? strnlen(held, static_cast<size_t>(read)) : 0;
      v8::Local<v8::String> text;
      if (v8::String::NewFromUtf8(isolate, held ? held : "", v8::NewStringType::kNormal,
                                  static_cast<int>(length))
              .ToLocal(&text)) {
        made = text;
      }
    }
    if (made.IsEmpty()) {
      too_large.Reset();
      if (!error_) error_ = data_error_text(RC_NO_MEMORY);
      made = ctype == CT_BLOB ? bytes(isolate, nullptr, 0) : v8::String::Empty(isolate).As<v8::Value>();
    }
    value = made;
  }
  VMC_FreeLob(&lob);
  return value;
}

v8::Local<v8::String> column_name(v8::Isolate* isolate, VMC_Handle* result, int col, int* rc) {
  char name[kNameBufSize] = {};
  *rc = VMC_GetColName(result, col, name);
  return v8::String::NewFromUtf8(isolate, name, v8::NewStringType::kInternalized,
                                 static_cast<int>(strnlen(name, sizeof name)))
      .ToLocalChecked();
}

v8::Local<v8::Object> field_description(v8::Isolate* isolate, v8::Local<v8::String> name, int ctype) {
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Object> field = v8::Object::New(isolate);
  field->CreateDataProperty(context, key_string(isolate, "ColName"), name).Check();
  field->CreateDataProperty(context, key_string(isolate, "Type"), v8::Integer::New(isolate, ctype)).Check();
  return field;
}

namespace {

struct Makers {
  v8::Global<v8::Function> make;
  v8::Global<v8::Function> block;
};

// Row makers by their source, kept for the life of the process: compiling a
// maker costs more than reading a small result, and the module lives in one
// isolate, so every connection shares them. The cache is bounded by count
// and by the size of the sources it holds (long column names make long
// sources); a full cache is emptied rather than grown.
struct MakerCache {
  static constexpr size_t kMaxEntries = 512;
  static constexpr size_t kMaxSourceBytes = 4 << 20;
  std::unordered_map<std::string, Makers> makers;
  size_t source_bytes = 0;

  Makers* find(const std::string& body) {
    auto found = makers.find(body);
    return found == makers.end() ? nullptr : &found->second;
  }
  // Room for a source of n bytes; false when it is too long to keep at all.
  bool make_room(size_t n) {
    if (n > kMaxSourceBytes) return false;
    if (makers.size() >= kMaxEntries || source_bytes + n > kMaxSourceBytes) {
      makers.clear();
      source_bytes = 0;
    }
    source_bytes += n;
    return true;
  }
};

// Never freed: the handles live as long as the process's one isolate.
MakerCache& maker_cache() {
  static auto* cache = new MakerCache();
  return *cache;
}

// A script string literal of a key: printable ASCII as itself, every other
// code unit escaped, so that no name can change the source around it.
void append_literal(v8::Isolate* isolate, v8::Local<v8::Value> key, std::string* out) {
  v8::Local<v8::String> text = key.As<v8::String>();
  std::vector<uint16_t> units(static_cast<size_t>(text->Length()));
  text->Write(isolate, units.data(), 0, static_cast<int>(units.size()), v8::String::NO_NULL_TERMINATION);
  *out += '"';
  for (uint16_t u : units) {
    if (u >= 0x20 && u < 0x7f && u != '"' && u != '\\') {
      *out += static_cast<char>(u);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      *out += escaped;
    }
  }
  *out += '"';
}

// Two functions: one row from its column values as arguments, and a block
// of rows from count rows of values laid one after the other in v, into the
// elements rows[start] onwards (which make_rows defines first). An object
// literal defines its keys: no setter runs, and a computed "__proto__" is an
// ordinary key. One row of nulls is made and dropped at once: the fields of
// the literal then take values of any kind as they are, so that each row is
// a plain copy of it rather than a walk that boxes its numbers anew.
std::string row_maker_source(v8::Isolate* isolate, const std::vector<v8::Local<v8::Value>>& keys,
                             const std::vector<int>& sources, int width) {
  std::string params;
  for (int c = 0; c < width; ++c) params += (c ? ", c" : "c") + std::to_string(c);
  std::string object = "({";
  for (size_t k = 0; k < keys.size(); ++k) {
    std::string literal;
    append_literal(isolate, keys[k], &literal);
    object += literal == "\"__proto__\"" ? "[" + literal + "]" : literal;
    object += ": c" + std::to_string(sources[k]) + ", ";
  }
  object += "})";
  std::string nulls;
  for (int c = 0; c < width; ++c) nulls += c ? ", null" : "null";
  std::string spread;
  for (int c = 0; c < width; ++c) spread += (c ? ", v[o + " : "v[o + ") + std::to_string(c) + "]";
  return "'use strict';\nconst one = (" + params + ") => " + object + ";\none(" + nulls + ");\nreturn [one, (rows, start, v, count) => {\n" +
         "  for (let r = 0, o = 0; r < count; r++, o += " + std::to_string(width) + ") rows[start + r] = one(" +
         spread + ");\n}];";
}

}  // namespace

void RowShape::clear() {
  keys_.clear();
  sources_.clear();
  columns_ = 0;
  make_.Clear();
  block_.Clear();
}

void RowShape::add_column(v8::Local<v8::String> name) {
  // Keys are internalized: one name is one string.
  const int col = columns_++;
  for (size_t k = 0; k < keys_.size(); ++k) {
    if (keys_[k] == name) {
      sources_[k] = col;
      return;
    }
  }
  keys_.push_back(name);
  sources_.push_back(col);
}

bool RowShape::prepare() {
  MakerCache& cache = maker_cache();
  v8::Local<v8::Context> context = isolate_->GetCurrentContext();
  std::string body = row_maker_source(isolate_, keys_, sources_, columns_);
  if (Makers* found = cache.find(body)) {
    make_ = found->make.Get(isolate_);
    block_ = found->block.Get(isolate_);
    return true;
  }
  v8::ScriptCompiler::Source source(utf8_string(isolate_, body));
  v8::Local<v8::Function> factory;
  v8::Local<v8::Value> pair;
  if (!v8::ScriptCompiler::CompileFunction(context, &source).ToLocal(&factory) ||
      !factory->Call(context, v8::Undefined(isolate_), 0, nullptr).ToLocal(&pair)) {
    return false;
  }
  v8::Local<v8::Array> makers = pair.As<v8::Array>();
  make_ = makers->Get(context, 0).ToLocalChecked().As<v8::Function>();
  block_ = makers->Get(context, 1).ToLocalChecked().As<v8::Function>();
  if (cache.make_room(body.size())) {
    Makers& kept = cache.makers[std::move(body)];
    kept.make.Reset(isolate_, make_);
    kept.block.Reset(isolate_, block_);
  }
  return true;
}

bool RowShape::make_rows(v8::Local<v8::Array> rows, uint32_t start, const std::vector<v8::Local<v8::Value>>& values,
                         uint32_t count) {
  v8::Local<v8::Context> context = isolate_->GetCurrentContext();
  v8::Local<v8::Value> argv[] = {rows, v8::Integer::NewFromUnsigned(isolate_, start),
                                 v8::Array::New(isolate_, const_cast<v8::Local<v8::Value>*>(values.data()),
                                                values.size()),
                                 v8::Integer::NewFromUnsigned(isolate_, count)};
  // The block assigns its rows to elements of rows, which are defined here
  // first: an assignment to an element of the array's own runs no setter
  // that a script put on a prototype.
  v8::Local<v8::Value> none = v8::Undefined(isolate_);
  for (uint32_t r = 0; r < count; ++r) {
    if (rows->CreateDataProperty(context, start + r, none).IsNothing()) return false;
  }
  return !block_->Call(context, v8::Undefined(isolate_), 4, argv).IsEmpty();
}

v8::MaybeLocal<v8::Value> RowShape::make_row(v8::Isolate* isolate, v8::Local<v8::Function> maker,
                                             std::vector<v8::Local<v8::Value>>& values) {
  return maker->Call(isolate->GetCurrentContext(), v8::Undefined(isolate), static_cast<int>(values.size()),
                     values.data());
}

}  // namespace zorezu
