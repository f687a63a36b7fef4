#include "store/BoundReader.h"

#include <fmt/format.h>

#include <charconv>
#include <iterator>
#include <limits>

namespace lanewright::store {

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string Utf8Prefix(std::string_view text, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) {
      if (chars == maxChars) return std::string(text.substr(0, i));
      ++chars;
    }
  }
  return std::string(text);
}

bool ConvertToInt32(const CellView& cell, std::int32_t& out) {
  switch (cell.kind) {
    case CellView::Kind::Integer:
      if (cell.integer < std::numeric_limits<std::int32_t>::min() ||
          cell.integer > std::numeric_limits<std::int32_t>::max())
        return false;
      out = static_cast<std::int32_t>(cell.integer);
      return true;
    case CellView::Kind::Text: {
      const char* first = cell.bytes.data();
      const char* last = first + cell.bytes.size();
      // from_chars takes no '+' of its own; after ours, a second sign is not a number.
      if (first != last && *first == '+' && ++first != last && *first == '-') return false;
      std::int32_t value = 0;
      const auto [ptr, ec] = std::from_chars(first, last, value);
      if (ec != std::errc() || ptr != last || first == last) return false;
      out = value;
      return true;
    }
    case CellView::Kind::Real: {
      // Only whole numbers convert; a fraction would silently change the value.
      const double d = cell.real;
      if (!(d >= std::numeric_limits<std::int32_t>::min() &&
            d <= std::numeric_limits<std::int32_t>::max()))
        return false;
      const auto whole = static_cast<std::int32_t>(d);
      if (static_cast<double>(whole) != d) return false;
      out = whole;
      return true;
    }
    default:
      return false;
  }
}

bool ConvertToText(const CellView& cell, std::size_t maxChars, std::string& scratch,
                   std::string_view& out) {
  switch (cell.kind) {
    case CellView::Kind::Text:
      // A text has at least as many bytes as characters: short ones need no counting.
      if (cell.bytes.size() > maxChars && Utf8Length(cell.bytes) > maxChars) return false;
      out = cell.bytes;
      return true;
    case CellView::Kind::Integer:
    case CellView::Kind::Real:
      scratch.clear();
      if (cell.kind == CellView::Kind::Integer)
        fmt::format_to(std::back_inserter(scratch), "{}", cell.integer);
      else
        fmt::format_to(std::back_inserter(scratch), "{}", cell.real);
      out = scratch;
      return scratch.size() <= maxChars;
    default:
      return false;
  }
}

bool ConvertToInt32(const Cell& cell, std::int32_t& out) {
  return ConvertToInt32(ViewOf(cell), out);
}

bool ConvertToText(const Cell& cell, std::size_t maxChars, std::string& out) {
  std::string scratch;
  std::string_view view;
  if (!ConvertToText(ViewOf(cell), maxChars, scratch, view)) return false;
  out = std::string(view);
  return true;
}

HResult BoundReader::Open(const std::string& path, const std::string& table,
                          std::vector<Binding> bindings) {
  reader_.reset();
  StoreError err;
  auto reader = OpenTable(path, table, err);
  if (!reader) {
    error_ = std::move(err);
    skipped_ = 0;
    return error_.code;
  }
  return Open(std::move(reader), path, table, std::move(bindings));
}

HResult BoundReader::Open(std::unique_ptr<TableReader> reader, const std::string& path,
                          const std::string& table, std::vector<Binding> bindings) {
  reader_ = std::move(reader);
  skipped_ = 0;
  error_ = {};
  bindings_ = std::move(bindings);
  if (!reader_) {
    error_ = {E_FAIL, fmt::format("{}: table \"{}\" cannot be opened", path, table)};
    return error_.code;
  }
  numberTexts_.resize(bindings_.size());
  const auto& columns = reader_->Columns();
  if (columns.size() < bindings_.size()) {
    error_ = {DB_E_BADORDINAL, fmt::format("{}: table \"{}\" has {} columns, {} are needed", path,
                                           table, columns.size(), bindings_.size())};
    reader_.reset();
    return error_.code;
  }
  for (std::size_t i = 0; i < bindings_.size(); ++i) {
    if (columns[i].type == ColumnType::Binary) {
      error_ = {DB_E_UNSUPPORTEDCONVERSION,
                fmt::format("{}: column {} (\"{}\") of table \"{}\" holds binary data, "
                            "not a {}",
                            path, i + 1, columns[i].name, table,
                            bindings_[i].kind == Binding::Kind::Int32 ? "number" : "text")};
      reader_.reset();
      return error_.code;
    }
  }
  reader_->LimitColumns(bindings_.size());
  return S_OK;
}

HResult BoundReader::MoveNext(std::vector<BoundField>& fields) {
  if (!reader_) return error_.Failed() ? error_.code : DB_S_ENDOFROWSET;
  fields.resize(bindings_.size());
  for (;;) {
    const HResult hr = reader_->NextView(cells_);
    if (hr != S_OK) {
      if (hr < 0) error_ = reader_->error();
      return hr;
    }
    bool ok = true;
    for (std::size_t i = 0; i < bindings_.size() && ok; ++i) {
      const CellView& cell = cells_[i];
      const Binding& b = bindings_[i];
      if (b.kind == Binding::Kind::Int32) {
        ok = ConvertToInt32(cell, fields[i].number);
      } else if (b.nullAsEmpty && cell.kind == CellView::Kind::Null) {
        fields[i].text = {};
      } else {
        ok = ConvertToText(cell, b.maxChars, numberTexts_[i], fields[i].text);
      }
    }
    if (ok) return S_OK;
    ++skipped_;
  }
}

}  // namespace lanewright::store
