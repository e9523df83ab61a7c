// How SQLite columns and values appear on the wire: the server type of a
// declared column type, the type of an expression column, and the calendar
// texts that date, time and datetime columns hold.
#ifndef RIZEZOVA_STANDIN_COLUMN_TYPES_H
#define RIZEZOVA_STANDIN_COLUMN_TYPES_H

#include <cstdint>
#include <string>
#include <string_view>

namespace standin {

// What a field description says about a column.
struct ColumnType {
  uint32_t server_type = 0;
  uint32_t length = 0;  // the declared length or precision; the width of a fixed type
  uint32_t attr = 0;    // the declared scale of a NUMERIC or DECIMAL
};

// The wire type of a declared column type (as CREATE TABLE wrote it, any
// letter case, with or without a length); false when the declaration is
// missing or names no type the stand-in knows, so that the values decide.
bool declared_column_type(const char* declared, ColumnType* out);
// The wire type of a column without a known declaration, from the SQLite
// storage class of its first value (SQLITE_INTEGER, ...).
ColumnType value_column_type(int storage_class);

// Calendar texts as SQLite keeps them: "YYYY-MM-DD", "HH:MM[:SS[.fff]]" and
// "YYYY-MM-DD HH:MM[:SS[.fff]]" (or with a 'T' between date and time).
// Days since 1970-01-01 of the date at the start of the text.
bool text_to_days(std::string_view text, int32_t* days);
// Milliseconds of the day of a time text, or of the time part of a datetime.
bool text_to_day_ms(std::string_view text, int32_t* ms);
// A datetime is a wall clock, in no time zone: the local date and time a
// client wrote, counted in milliseconds since 1970-01-01 00:00:00 of that
// clock. The milliseconds of a datetime (or date) text.
bool local_text_to_ms(std::string_view text, int64_t* ms);
// The text of a wall clock's milliseconds, with ".fff" when the milliseconds
// are not 0.
std::string ms_to_local_text(int64_t ms);

}  // namespace standin

#endif
