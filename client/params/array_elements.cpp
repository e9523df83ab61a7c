// The element layout of each client type bound as an array.
#include "client/params/array_elements.h"

#include "client/values/type_codes.h"

// Client types 12, 14, 28 and 31 have no layout in the packed rows of a batch
// and are refused here rather than sent without their values.
ElementRule element_rule(int ctype, bool by_name) {
  switch (ctype) {
    case CT_INT:
    case CT_INT8:
    case CT_BYTE:
    case CT_INT16:
    case CT_INT32:
    case CT_FLOAT:
    case CT_INT64:
    case CT_DOUBLE:
    case CT_DATETIME_MS:
      return {Element::Fixed, fixed_type_size(static_cast<uint32_t>(ctype)), true};
    case CT_TEXT:
    case CT_BIND_62:
      return {Element::Prefixed, 0, true};
    case CT_NUMERIC:
      return {Element::RowLength, 0, true};
    case CT_DATE:
    case CT_TIME:
    case CT_DATETIME:
      return {Element::RowLength, 0, false};
    case CT_BINARY:
      return {Element::PrefixThenLength, 0, !by_name};
    default:
      return {Element::Refused, 0, false};
  }
}
