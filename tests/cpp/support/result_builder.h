// Builds a ResultSet in memory as the results reader leaves it, so that the
// accessors and conversions can be tried without a link.
#ifndef RIZEZOVA_TESTS_SUPPORT_RESULT_BUILDER_H
#define RIZEZOVA_TESTS_SUPPORT_RESULT_BUILDER_H

#include <cstdint>
#include <initializer_list>

#include "client/results/result_set.h"

struct TestField {
  const char* column;
  uint32_t server_type;
  uint32_t length = 0;
  const char* alias = nullptr;
  const char* table = nullptr;
};

// A result of rows with these fields, its layout set and its pool made.
ResultSet* build_result(std::initializer_list<TestField> fields);
// A new stored row, every field NULL; it becomes the current row.
uint8_t* add_row(ResultSet* result);
// A raw value copied into the pool, as the reader stores one.
void set_raw(ResultSet* result, uint8_t* row, int k, const void* bytes, uint32_t len);

#endif
