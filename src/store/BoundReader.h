#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/Table.h"

namespace lanewright::store {

// How one column is bound into a record: as a signed 32-bit number or as a text of at
// most maxChars characters (UTF-8, counted in characters, not bytes).
struct Binding {
  enum class Kind { Int32, Text };
  Kind kind = Kind::Int32;
  std::size_t maxChars = 50;
  // A text column that other programs leave NULL when it is not used: NULL reads as an
  // empty text instead of making the row unreadable.
  bool nullAsEmpty = false;
};

struct BoundValue {
  std::int32_t number = 0;
  std::string text;
};

// Binds the first bindings.size() columns of a table by position and converts every row.
// Integer bindings take whole numbers in 32-bit range and texts that hold a decimal
// 32-bit number; text bindings take texts of at most maxChars characters and numbers as
// their decimal text. A row that does not convert (a NULL, a text too long, a number out
// of range) is unreadable: MoveNext skips it and counts it.
class BoundReader {
 public:
  // Opens the table and checks the bindings against its columns: DB_E_BADORDINAL when
  // the table has fewer columns than bound, DB_E_UNSUPPORTEDCONVERSION when a bound
  // column holds binary data.
  HResult Open(const std::string& path, const std::string& table, std::vector<Binding> bindings);

  // S_OK with values filled (one per binding), DB_S_ENDOFROWSET at the end, or a negative
  // code when the file is damaged part-way (error() says why).
  HResult MoveNext(std::vector<BoundValue>& values);

  // Rows skipped so far because they did not convert.
  int SkippedRows() const { return skipped_; }
  const StoreError& error() const { return error_; }

  void Release() { reader_.reset(); }

 private:
  std::unique_ptr<TableReader> reader_;
  std::vector<Binding> bindings_;
  Row row_;
  StoreError error_;
  int skipped_ = 0;
};

// Conversions used by the bindings; exposed for the tests and the other readers.
bool ConvertToInt32(const Cell& cell, std::int32_t& out);
bool ConvertToText(const Cell& cell, std::size_t maxChars, std::string& out);
// Number of UTF-8 characters (lead bytes) in text.
std::size_t Utf8Length(const std::string& text);
// The first maxChars characters of text, never splitting a character.
std::string Utf8Prefix(const std::string& text, std::size_t maxChars);

}  // namespace lanewright::store
