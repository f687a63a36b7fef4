#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

// One bound value of the current row. text points into the reader and stays valid until
// its next MoveNext, Open or Release.
struct BoundField {
  std::int32_t number = 0;
  std::string_view text;
};

// Binds the first bindings.size() columns of a table by position and converts every row.
// Integer bindings take whole numbers in 32-bit range and texts that hold a decimal
// 32-bit number; text bindings take texts of at most maxChars characters and numbers as
// their decimal text. A row that does not convert (a NULL, a text too long, a number out
// of range) is unreadable: MoveNext skips it and counts it, once however many of its
// values fail.
class BoundReader {
 public:
  // Opens the table and checks the bindings against its columns: DB_E_BADORDINAL when
  // the table has fewer columns than bound, DB_E_UNSUPPORTEDCONVERSION when a bound
  // column holds binary data.
  HResult Open(const std::string& path, const std::string& table, std::vector<Binding> bindings);
  // The same for a table opened elsewhere (see AppendRowsExclusively); path and table
  // are for the messages. A null reader is E_FAIL.
  HResult Open(std::unique_ptr<TableReader> reader, const std::string& path,
               const std::string& table, std::vector<Binding> bindings);

  // S_OK with fields filled (one per binding), DB_S_ENDOFROWSET at the end, or a negative
  // code when the file is damaged part-way (error() says why). No allocation per row in
  // the steady state.
  HResult MoveNext(std::vector<BoundField>& fields);

  // Rows skipped so far because they did not convert.
  int SkippedRows() const { return skipped_; }
  const StoreError& error() const { return error_; }

  void Release() { reader_.reset(); }

 private:
  std::unique_ptr<TableReader> reader_;
  std::vector<Binding> bindings_;
  std::vector<CellView> cells_;
  std::vector<std::string> numberTexts_;  // numbers bound as text, one buffer per binding
  StoreError error_;
  int skipped_ = 0;
};

// Conversions used by the bindings. The CellView forms are the ones the readers use; a
// number bound as text is written into scratch, which out then points into.
bool ConvertToInt32(const CellView& cell, std::int32_t& out);
bool ConvertToText(const CellView& cell, std::size_t maxChars, std::string& scratch,
                   std::string_view& out);
bool ConvertToInt32(const Cell& cell, std::int32_t& out);
bool ConvertToText(const Cell& cell, std::size_t maxChars, std::string& out);
// Number of UTF-8 characters (lead bytes) in text.
std::size_t Utf8Length(std::string_view text);
// The first maxChars characters of text, never splitting a character.
std::string Utf8Prefix(std::string_view text, std::size_t maxChars);

}  // namespace lanewright::store
