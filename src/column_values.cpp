// Column values to script values.
#include "src/column_values.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include "src/script_util.h"
#include "src/vm_connection.h"

namespace zorezu {

namespace {

enum ColumnType {
  kBoolean = 1,
  kText = 2,
  kInt8 = 3,
  kInt16 = 4,
  kInt32 = 5,
  kInt64 = 6,
  kFloat = 7,
  kDouble = 8,
  kDate = 10,
  kDatetime = 13,
  kMilliseconds = 23,
  kCharLob = 41,
  kBinaryLob = 42,
};
constexpr int kNameBufSize = 128;
constexpr int kUnsizedText = 64000;
constexpr int kDateTextSize = 32;
constexpr int64_t kMsPerDay = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Bytes of a text read: what the buffer holds up to its first zero. After a
// cut the length tells what was left over, not what was given.
size_t text_length(const char* buf, int size, int rc, int len) {
  const int given = rc == RC_TRUNCATED ? size : std::clamp(len, 0, size);
  return strnlen(buf, static_cast<size_t>(given));
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

v8::Local<v8::Value> ColumnReader::value(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype) {
  switch (ctype) {
    case kInt8:
    case kInt16:
    case kInt32:
    case kInt64:
    case kFloat:
    case kDouble:
      return number(isolate, result, col, ctype);
    case kDate:
      return date(isolate, result, col);
    case kDatetime:
      return datetime(isolate, result, col);
    case kCharLob:
    case kBinaryLob:
      if (caller_ == RowCaller::Query) return lob(isolate, result, col, ctype);
      return text(isolate, result, col, ctype, false);
    case kBoolean:
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
  int len = 0;
  static constexpr int kWidth[] = {0, 0, 0, 1, 2, 4, 8, 4, 8};
  const int rc = VMC_GetData(result, col, ctype, &v, kWidth[ctype], &len);
  if (caller_ == RowCaller::Query) {
    // A NULL is no error here; it reads as null.
    if (rc < 0 && rc != RC_NO_ROW_OR_NULL) error_ = data_error_text(rc);
    if (len == 0) return v8::Null(isolate);
  } else if (rc < 0) {
    error_ = data_error_text(rc);
    return v8::Integer::New(isolate, 0);
  }
  switch (ctype) {
    case kInt8: return v8::Integer::New(isolate, v.i8);
    case kInt16: return v8::Integer::New(isolate, v.i16);
    case kInt32: return v8::Integer::New(isolate, v.i32);
    case kInt64: return v8::Number::New(isolate, static_cast<double>(v.i64));
    case kFloat: return v8::Number::New(isolate, v.f32);
    default: return v8::Number::New(isolate, v.f64);
  }
}

ColumnReader::TextBuffer* ColumnReader::text_buffer(VMC_Handle* result, int col, int ctype) {
  if (texts_.size() < static_cast<size_t>(col)) texts_.resize(static_cast<size_t>(col));
  TextBuffer& t = texts_[static_cast<size_t>(col) - 1];
  if (t.data) return &t;
  int64_t size;
  if (ctype >= 30 && ctype <= 34) {
    size = kUnsizedText;
  } else {
    // Room for every character of the declared length in UTF-8.
    int declared = 0;
    VMC_GetColLen(result, col, &declared);
    size = 3 * static_cast<int64_t>(declared);
    if (size <= 0 || size >= INT_MAX) size = kUnsizedText;
    size += 1;
  }
  t.data.reset(new (std::nothrow) char[static_cast<size_t>(size)]());
  if (!t.data) return nullptr;
  t.size = static_cast<int>(size);
  return &t;
}

v8::Local<v8::Value> ColumnReader::text(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype,
                                        bool as_boolean) {
  const bool query = caller_ == RowCaller::Query;
  TextBuffer* t = text_buffer(result, col, ctype);
  if (!t) {
    if (query) error_ = data_error_text(RC_NO_MEMORY);
    return query ? v8::Null(isolate).As<v8::Value>() : v8::String::Empty(isolate).As<v8::Value>();
  }
  int len = 0;
  const int rc = VMC_GetData(result, col, kText, t->data.get(), t->size, &len);
  if (query && rc < 0 && rc != RC_NO_ROW_OR_NULL) error_ = data_error_text(rc);
  if (len == 0) return query ? v8::Null(isolate).As<v8::Value>() : v8::String::Empty(isolate).As<v8::Value>();
  if (as_boolean) return v8::Boolean::New(isolate, t->data[0] == 'T');
  return utf8_string(isolate, t->data.get(), text_length(t->data.get(), t->size, rc, len));
}

v8::Local<v8::Value> ColumnReader::date(v8::Isolate* isolate, VMC_Handle* result, int col) {
  // A date is a day: it comes as midnight UTC of that day. The library gives
  // milliseconds only for datetimes, so the day is read from its text.
  char buf[kDateTextSize] = {};
  int len = 0;
  const int rc = VMC_GetData(result, col, kText, buf, sizeof buf, &len);
  int y = 0, m = 0, d = 0;
  if (rc < 0 || len == 0 || std::sscanf(buf, "%d-%d-%d", &y, &m, &d) != 3 || m < 1 || m > 12 || d < 1 || d > 31) {
    return v8::Null(isolate);
  }
  const double ms = static_cast<double>(days_from_civil(y, m, d) * kMsPerDay);
  return v8::Date::New(isolate->GetCurrentContext(), ms).ToLocalChecked();
}

v8::Local<v8::Value> ColumnReader::datetime(v8::Isolate* isolate, VMC_Handle* result, int col) {
  int64_t ms = 0;
  int len = 0;
  VMC_GetData(result, col, kMilliseconds, &ms, sizeof ms, &len);
  if (len == 0) return v8::Null(isolate);
  return v8::Date::New(isolate->GetCurrentContext(), static_cast<double>(ms)).ToLocalChecked();
}

v8::Local<v8::Value> ColumnReader::lob(v8::Isolate* isolate, VMC_Handle* result, int col, int ctype) {
  VMC_Handle lob = nullptr;
  std::printf("Lob read create : %d \n ", VMC_CreateLob(&lob));
  int n = 0;
  // The bytes of a LOB whose fetch a failed link cut short are not all of it.
  if (VMC_GetData(result, col, ctype, &lob, 8, &n) == RC_READ_FAILED) error_ = data_error_text(RC_READ_FAILED);
  if (n < 0) n = 0;
  std::printf("Lob read Getdata : length %d \n ", n);
  v8::Local<v8::ArrayBuffer> bytes = v8::ArrayBuffer::New(isolate, static_cast<size_t>(n));
  const int read = n > 0 ? VMC_GetLobData(&lob, bytes->Data(), static_cast<uint32_t>(n)) : 0;
  std::printf("Lob read Getdata : read_n %d \n ", read);
  std::printf("Lob read Getdata : write to arraybuffer  \n");
  std::fflush(stdout);
  VMC_FreeLob(&lob);
  return bytes;
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

// Row makers by their source; a full cache is emptied rather than grown.
constexpr size_t kMakerCacheSize = 512;
struct Makers {
  v8::Global<v8::Function> make;
  v8::Global<v8::Function> block;
};

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
// of rows from count rows of values laid one after the other in v, into
// rows[start] onwards. An object literal defines its keys: no setter runs,
// and a computed "__proto__" is an ordinary key.
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
  std::string spread;
  for (int c = 0; c < width; ++c) spread += (c ? ", v[o + " : "v[o + ") + std::to_string(c) + "]";
  return "'use strict';\nconst one = (" + params + ") => " + object + ";\nreturn [one, (rows, start, v, count) => {\n" +
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
  // Never freed: the handles live as long as the process's one isolate.
  static auto* cache = new std::unordered_map<std::string, Makers>();
  v8::Local<v8::Context> context = isolate_->GetCurrentContext();
  const std::string body = row_maker_source(isolate_, keys_, sources_, columns_);
  auto found = cache->find(body);
  if (found != cache->end()) {
    make_ = found->second.make.Get(isolate_);
    block_ = found->second.block.Get(isolate_);
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
  if (cache->size() >= kMakerCacheSize) cache->clear();
  Makers& kept = (*cache)[body];
  kept.make.Reset(isolate_, make_);
  kept.block.Reset(isolate_, block_);
  return true;
}

bool RowShape::make_rows(v8::Local<v8::Array> rows, uint32_t start, const std::vector<v8::Local<v8::Value>>& values,
                         uint32_t count) {
  v8::Local<v8::Value> argv[] = {rows, v8::Integer::NewFromUnsigned(isolate_, start),
                                 v8::Array::New(isolate_, const_cast<v8::Local<v8::Value>*>(values.data()),
                                                values.size()),
                                 v8::Integer::NewFromUnsigned(isolate_, count)};
  return !block_->Call(isolate_->GetCurrentContext(), v8::Undefined(isolate_), 4, argv).IsEmpty();
}

v8::MaybeLocal<v8::Value> RowShape::make_row(v8::Isolate* isolate, v8::Local<v8::Function> maker,
                                             std::vector<v8::Local<v8::Value>>& values) {
  return maker->Call(isolate->GetCurrentContext(), v8::Undefined(isolate), static_cast<int>(values.size()),
                     values.data());
}

}  // namespace zorezu
