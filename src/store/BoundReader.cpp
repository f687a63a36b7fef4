#include "store/BoundReader.h"

#include <fmt/format.h>

#include <charconv>
#include <limits>

namespace lanewright::store {

std::size_t Utf8Length(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string Utf8Prefix(const std::string& text, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) {
      if (chars == maxChars) return text.substr(0, i);
      ++chars;
    }
  }
  return text;
}

bool ConvertToInt32(const Cell& cell, std::int32_t& out) {
  if (const auto* i = std::get_if<std::int64_t>(&cell)) {
    if (*i < std::numeric_limits<std::int32_t>::min() ||
        *i > std::numeric_limits<std::int32_t>::max())
      return false;
    out = static_cast<std::int32_t>(*i);
    return true;
  }
  if (const auto* s = std::get_if<std::string>(&cell)) {
    const char* first = s->data();
    const char* last = first + s->size();
    // from_chars takes no '+' of its own; after ours, a second sign is not a number.
    if (first != last && *first == '+' && ++first != last && *first == '-') return false;
    std::int32_t value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last || first == last) return false;
    out = value;
    return true;
  }
  if (const auto* d = std::get_if<double>(&cell)) {
    // Only whole numbers convert; a fraction would silently change the value.
    if (!(*d >= std::numeric_limits<std::int32_t>::min() &&
          *d <= std::numeric_limits<std::int32_t>::max()))
      return false;
    const auto whole = static_cast<std::int32_t>(*d);
    if (static_cast<double>(whole) != *d) return false;
    out = whole;
    return true;
  }
  return false;
}

bool ConvertToText(const Cell& cell, std::size_t maxChars, std::string& out) {
  if (const auto* s = std::get_if<std::string>(&cell)) {
    if (Utf8Length(*s) > maxChars) return false;
    out = *s;
    return true;
  }
  if (const auto* i = std::get_if<std::int64_t>(&cell)) {
    out = fmt::format("{}", *i);
    return out.size() <= maxChars;
  }
  if (const auto* d = std::get_if<double>(&cell)) {
    out = fmt::format("{}", *d);
    return out.size() <= maxChars;
  }
  return false;
}

HResult BoundReader::Open(const std::string& path, const std::string& table,
                          std::vector<Binding> bindings) {
  reader_.reset();
  skipped_ = 0;
  error_ = {};
  bindings_ = std::move(bindings);
  reader_ = OpenTable(path, table, error_);
  if (!reader_) return error_.code;
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
  return S_OK;
}

HResult BoundReader::MoveNext(std::vector<BoundValue>& values) {
  if (!reader_) return error_.Failed() ? error_.code : DB_S_ENDOFROWSET;
  values.resize(bindings_.size());
  for (;;) {
    const HResult hr = reader_->Next(row_);
    if (hr != S_OK) {
      if (hr < 0) error_ = reader_->error();
      return hr;
    }
    bool ok = true;
    for (std::size_t i = 0; i < bindings_.size() && ok; ++i) {
      const Cell& cell = row_[i];
      if (bindings_[i].kind == Binding::Kind::Int32) {
        ok = ConvertToInt32(cell, values[i].number);
      } else if (bindings_[i].nullAsEmpty && std::holds_alternative<std::monostate>(cell)) {
        values[i].text.clear();
      } else {
        ok = ConvertToText(cell, bindings_[i].maxChars, values[i].text);
      }
    }
    if (ok) return S_OK;
    ++skipped_;
  }
}

}  // namespace lanewright::store
