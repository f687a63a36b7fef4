// lanewright-jet-reader PATH TABLE: reads one table of a Jet file through libmdb and sends
// its columns and rows to fd 3 as JetProtocol messages. OpenJetTable runs it in a child
// process, so whatever libmdb prints, and however it fails on a damaged file, stays out of
// the program that asked.

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

// clang-format off
// libmdb's header wraps glib in extern "C"; glib must be seen first from C++.
#include <glib.h>
#include <mdbtools.h>
// clang-format on

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/IsolatedProcess.h"
#include "store/JetProtocol.h"
#include "store/ResultCodes.h"
#include "store/Table.h"

namespace lanewright::store {
namespace {

using namespace jetwire;

struct MdbCloser {
  void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableDefFreer {
  void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
struct GFreer {
  void operator()(void* p) const { g_free(p); }
};
using MdbPtr = std::unique_ptr<MdbHandle, MdbCloser>;
using TableDefPtr = std::unique_ptr<MdbTableDef, TableDefFreer>;
using GCharPtr = std::unique_ptr<gchar, GFreer>;

bool SendError(ChildChannel& channel, HResult code, const std::string& reason) {
  std::string payload;
  PutU32(payload, static_cast<std::uint32_t>(code));
  payload += reason;
  return channel.Send(kError, payload) && channel.Flush();
}

// Jet compares object names without regard to case, for every letter, not only ASCII.
bool SameName(const char* a, const std::string& b) {
  if (g_ascii_strcasecmp(a, b.c_str()) == 0) return true;
  if (!g_utf8_validate(a, -1, nullptr) || !g_utf8_validate(b.c_str(), -1, nullptr)) return false;
  GCharPtr fa(g_utf8_casefold(a, -1));
  GCharPtr fb(g_utf8_casefold(b.c_str(), -1));
  return std::strcmp(fa.get(), fb.get()) == 0;
}

ColumnType TypeOf(int mdbType) {
  switch (mdbType) {
    case MDB_BOOL:
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
      return ColumnType::Integer;
    case MDB_MONEY:
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_DATETIME:
    case MDB_NUMERIC:
      return ColumnType::Real;
    case MDB_TEXT:
    case MDB_MEMO:
      return ColumnType::Text;
    default:  // Binary, OLE, GUID, attachments and anything unknown
      return ColumnType::Binary;
  }
}

std::uint64_t Little(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

void PutInt(std::string& out, std::int64_t v) {
  out += static_cast<char>(kInt);
  PutU64(out, static_cast<std::uint64_t>(v));
}
void PutReal(std::string& out, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  out += static_cast<char>(kReal);
  PutU64(out, bits);
}

// Appends one non-NULL value, read from the page buffer at [start, start + size). The
// caller has checked that range lies inside the row. False when the value's size does not
// fit its type (a damaged row or table definition).
bool PutValue(std::string& out, MdbHandle* mdb, MdbColumn* col, int start, int size) {
  const unsigned char* p = mdb->pg_buf + start;
  auto fixed = [&](int want) { return size == want; };
  switch (col->col_type) {
    case MDB_BYTE:
      if (!fixed(1)) return false;
      PutInt(out, p[0]);
      return true;
    case MDB_INT:
      if (!fixed(2)) return false;
      PutInt(out, static_cast<std::int16_t>(Little(p, 2)));
      return true;
    case MDB_LONGINT:
      if (!fixed(4)) return false;
      PutInt(out, static_cast<std::int32_t>(Little(p, 4)));
      return true;
    case MDB_MONEY:  // a 64-bit count of ten-thousandths
      if (!fixed(8)) return false;
      PutReal(out, static_cast<double>(static_cast<std::int64_t>(Little(p, 8))) / 10000.0);
      return true;
    case MDB_FLOAT: {
      if (!fixed(4)) return false;
      const auto bits = static_cast<std::uint32_t>(Little(p, 4));
      float f;
      std::memcpy(&f, &bits, sizeof f);
      PutReal(out, f);
      return true;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME:
      if (!fixed(8)) return false;
      PutReal(out, AsDouble(Little(p, 8)));
      return true;
    case MDB_NUMERIC: {
      if (!fixed(17)) return false;
      GCharPtr text(mdb_numeric_to_string(mdb, start, col->col_scale, col->col_prec));
      const std::string s = text ? text.get() : "";
      double d = 0;
      const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
      if (ec == std::errc() && ptr == s.data() + s.size() && !s.empty()) {
        PutReal(out, d);
      } else {
        out += static_cast<char>(kText);
        PutBytes(out, s.data(), s.size());
      }
      return true;
    }
    case MDB_TEXT:
    case MDB_MEMO: {
      out += static_cast<char>(kText);
      if (size == 0) {
        PutBytes(out, "", 0);
        return true;
      }
      GCharPtr text(mdb_col_to_string(mdb, mdb->pg_buf, start, col->col_type, size));
      const char* s = text ? text.get() : "";
      PutBytes(out, s, std::strlen(s));
      return true;
    }
    default:
      out += static_cast<char>(kBytes);
      PutBytes(out, p, static_cast<std::size_t>(size));
      return true;
  }
}

class ChildReader {
 public:
  ChildReader(const std::string& path, const std::string& table, ChildChannel& channel)
      : path_(path), table_(table), channel_(channel) {}

  int Run() {
    // A user's settings for libmdb's own tools must not change what we read: debug output
    // (MDBOPTS) or a target character set other than UTF-8 (MDB_ICONV).
    ::unsetenv("MDBOPTS");
    ::unsetenv("MDB_ICONV");
    MdbPtr mdb(mdb_open(path_.c_str(), MDB_NOFLAGS));
    if (!mdb) return Error(E_FAIL, "not a Jet database (damaged header)");
    if (!mdb_read_catalog(mdb.get(), MDB_TABLE) || !mdb->catalog)
      return Damaged("the list of tables cannot be read");
    // libmdb reads the list of tables as far as it can and stops quietly at damage; check it
    // whole, so that a damaged list is not mistaken for a missing table.
    if (const std::string why = CheckCatalog(mdb.get()); !why.empty()) return Damaged(why);

    MdbCatalogEntry* entry = nullptr;
    for (guint i = 0; i < mdb->catalog->len && !entry; ++i) {
      auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (e && e->object_type == MDB_TABLE && SameName(e->object_name, table_)) entry = e;
    }
    if (!entry) return Error(DB_E_NOTABLE, fmt::format("has no table \"{}\"", table_));

    TableDefPtr def(mdb_read_table(entry));
    if (!def) return Damaged(fmt::format("the definition of table \"{}\" cannot be read", table_));
    if (!mdb_read_columns(def.get()) || !def->columns || def->columns->len != def->num_cols)
      return Damaged(fmt::format("the columns of table \"{}\" cannot be read", table_));
    if (!SendColumns(def.get())) return 0;
    std::string payload;
    bool parentGone = false;
    const std::string why =
        WalkRows(mdb.get(), def.get(), entry->table_pg, table_,
                 [&](int rowStart, int length, const MdbField* fields) {
                   payload.clear();
                   for (guint c = 0; c < def->num_cols; ++c) {
                     const MdbField& f = fields[c];
                     auto* col = static_cast<MdbColumn*>(g_ptr_array_index(def->columns, c));
                     if (col->col_type == MDB_BOOL) {
                       // A Yes/No value is its null-mask bit; it is never NULL.
                       PutInt(payload, f.is_null ? 0 : -1);
                     } else if (f.is_null) {
                       payload += static_cast<char>(kNull);
                     } else if (!InRow(f, rowStart, length) ||
                                !PutValue(payload, mdb.get(), col, f.start, f.siz)) {
                       return fmt::format("column \"{}\" is out of shape", col->name);
                     }
                   }
                   if (channel_.Send(kRow, payload)) return std::string();
                   parentGone = true;
                   return std::string("the reading was abandoned");
                 });
    if (parentGone) return 0;
    if (!why.empty()) return Damaged(why);
    channel_.Send(kEnd, {});
    return 0;
  }

 private:
  using RowVisitor = std::function<std::string(int rowStart, int length, const MdbField* fields)>;

  int Error(HResult code, const std::string& reason) {
    SendError(channel_, code, reason);
    return 0;
  }
  int Damaged(const std::string& what) { return Error(E_FAIL, "damaged Jet file: " + what); }

  static bool InRow(const MdbField& f, int rowStart, int length) {
    return f.siz >= 0 && f.start >= rowStart && f.start + f.siz <= rowStart + length;
  }

  // Walks the catalog's own pages and rows as a table is walked.
  std::string CheckCatalog(MdbHandle* mdb) {
    MdbCatalogEntry msys{};
    msys.mdb = mdb;
    msys.object_type = MDB_TABLE;
    msys.table_pg = 2;
    std::strcpy(msys.object_name, "MSysObjects");
    TableDefPtr def(mdb_read_table(&msys));
    if (!def || !mdb_read_columns(def.get()) || !def->columns || def->columns->len != def->num_cols)
      return "the list of tables cannot be read";
    const std::string why = WalkRows(
        mdb, def.get(), 2, "MSysObjects", [&](int rowStart, int length, const MdbField* fields) {
          for (guint c = 0; c < def->num_cols; ++c)
            if (!fields[c].is_null && !InRow(fields[c], rowStart, length))
              return std::string("a row is out of shape");
          return std::string();
        });
    return why.empty() ? why : "the list of tables: " + why;
  }

  bool SendColumns(MdbTableDef* def) {
    std::string payload;
    PutU32(payload, def->num_cols);
    for (guint i = 0; i < def->num_cols; ++i) {
      auto* col = static_cast<MdbColumn*>(g_ptr_array_index(def->columns, i));
      payload += static_cast<char>(TypeOf(col->col_type));
      PutBytes(payload, col->name, ::strnlen(col->name, sizeof col->name));
    }
    return channel_.Send(kColumns, payload);
  }

  // Visits every live row of the table in page order, checking the page map, each page
  // and each row's place on its page. Returns why the walk stopped early ("" at the end),
  // or whatever the visitor returned when that was not empty.
  static std::string WalkRows(MdbHandle* mdb, MdbTableDef* def, guint32 tablePage,
                              const std::string& name, const RowVisitor& visit) {
    const long pageSize = mdb->fmt->pg_size;
    struct stat st {};
    if (::fstat(::fileno(mdb->f->stream), &st) != 0 || pageSize <= 0 ||
        pageSize > static_cast<long>(sizeof mdb->pg_buf))
      return "the file cannot be measured";
    const auto pageCount =
        static_cast<std::uint64_t>(st.st_size) / static_cast<std::uint64_t>(pageSize);
    const int countOffset = mdb->fmt->row_count_offset;
    // mdb_crack_row fills one field per column and may be handed a column count of up to
    // MDB_MAX_COLS from a damaged row.
    std::vector<MdbField> fields(std::max<std::size_t>(def->num_cols, MDB_MAX_COLS) + 1);

    guint32 page = 0;
    for (;;) {
      // Walk the table's page map ourselves: libmdb's own walk reports a page it cannot
      // read as the end of the table, which would silently drop the remaining rows.
      const int next =
          mdb_map_find_next(mdb, def->usage_map, static_cast<unsigned>(def->map_sz), page);
      if (next == 0) return {};
      if (next < 0) return fmt::format("the page map of table \"{}\" is unreadable", name);
      if (static_cast<guint32>(next) <= page)
        return fmt::format("the page map of table \"{}\" runs backwards", name);
      if (static_cast<std::uint64_t>(next) >= pageCount)
        return fmt::format(
            "table \"{}\" continues on page {}, but the file ends after page {} "
            "(truncated?)",
            name, next, pageCount == 0 ? 0 : pageCount - 1);
      page = static_cast<guint32>(next);
      if (mdb_read_pg(mdb, page) != pageSize) return fmt::format("page {} cannot be read", page);
      const unsigned char* buf = mdb->pg_buf;
      // A page that is no kind of database page at all (zeroed, overwritten) is damage;
      // skipping it would lose its rows without a word.
      if (buf[0] == MDB_PAGE_DB || buf[0] > MDB_PAGE_MAP || buf[1] != 0x01)
        return fmt::format("page {} of table \"{}\" is not a database page", page, name);
      const auto owner = Little(buf + 4, 4);
      if (buf[0] != MDB_PAGE_DATA || owner != tablePage) {
        // A proper page of another table is skipped, as libmdb does: the map may still list
        // pages the table gave up. A data page whose owner is no table is damage.
        if (buf[0] == MDB_PAGE_DATA &&
            (owner >= pageCount ||
             mdb_read_alt_pg(mdb, static_cast<unsigned long>(owner)) != pageSize ||
             mdb->alt_pg_buf[0] != MDB_PAGE_TABLE))
          return fmt::format("page {} of table \"{}\" names no table as its owner", page, name);
        continue;
      }

      const int rows = static_cast<int>(Little(buf + countOffset, 2));
      const int tableEnd = countOffset + 2 + 2 * rows;
      if (tableEnd > pageSize)
        return fmt::format("page {}: {} rows cannot fit on a page", page, rows);
      int rowEnd = static_cast<int>(pageSize);
      for (int r = 0; r < rows; ++r) {
        const auto raw = static_cast<unsigned>(Little(buf + countOffset + 2 + 2 * r, 2));
        const int rowStart = static_cast<int>(raw & 0x1FFF);
        if (rowStart < tableEnd || rowStart > rowEnd)
          return fmt::format("page {}: row {} lies outside the page's row area", page, r);
        const int length = rowEnd - rowStart;
        rowEnd = rowStart;
        if (raw & 0x4000) continue;  // deleted
        if (length == 0) return fmt::format("page {}: row {} is empty", page, r);
        if (mdb_crack_row(def, rowStart, static_cast<std::size_t>(length), fields.data()) < 0)
          return fmt::format("page {}: row {} cannot be decoded", page, r);
        const std::string why = visit(rowStart, length, fields.data());
        if (!why.empty()) return fmt::format("page {}: row {}, {}", page, r, why);
      }
    }
  }

  const std::string& path_;
  const std::string& table_;
  ChildChannel& channel_;
};

}  // namespace
}  // namespace lanewright::store

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: lanewright-jet-reader PATH TABLE (run by Lanewright, not by hand)\n",
               stderr);
    return 64;
  }
  const std::string path = argv[1];
  const std::string table = argv[2];
  lanewright::store::ChildChannel channel(3);
  lanewright::store::ChildReader(path, table, channel).Run();
  channel.Flush();
  // Leave without tearing libmdb's state down: a damaged file may have left it inconsistent,
  // and nothing here needs cleaning up for anyone else.
  std::fflush(stdout);
  ::_exit(0);
}
