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
#include "store/JetTableCheck.h"
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
      // A text ends at its first NUL, as a zero-terminated field holds it: libmdb turns a
      // stored U+0000 (or a zero code-page byte) into a NUL in the string it returns, and
      // nothing after it goes out, so no NUL reaches a name, a report or a file.
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
    // A cut file is told apart before libmdb reads anything more: it would read the short
    // last page as far as it goes, or take it for the end of whatever table it belongs to.
    if (const std::string why = MeasureFile(mdb.get()); !why.empty()) return Damaged(why);
    // Our own checks of a table's pages run before libmdb reads the table: libmdb trusts the
    // page map it finds and crashes on some damaged ones.
    jetcheck::TableStorage catalog;
    if (const std::string why = CheckStorage(mdb.get(), 2, "MSysObjects", catalog); !why.empty())
      return Damaged("the list of tables: " + why);
    if (!mdb_read_catalog(mdb.get(), MDB_TABLE) || !mdb->catalog)
      return Damaged("the list of tables cannot be read");
    // libmdb reads the list of tables as far as it can and stops quietly at damage; check it
    // whole, so that a damaged list is not mistaken for a missing table.
    if (const std::string why = CheckCatalog(mdb.get(), catalog.pages); !why.empty())
      return Damaged(why);
    if (const std::string why = CheckFileEnd(mdb.get()); !why.empty()) return Damaged(why);

    MdbCatalogEntry* entry = nullptr;
    for (guint i = 0; i < mdb->catalog->len && !entry; ++i) {
      auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (e && e->object_type == MDB_TABLE && SameName(e->object_name, table_)) entry = e;
    }
    if (!entry) return Error(DB_E_NOTABLE, fmt::format("has no table \"{}\"", table_));

    // Every page and the row count are checked before the first row goes out, so that most
    // damage fails the open rather than the reading part-way.
    const auto tdefPage = static_cast<guint32>(entry->table_pg);
    jetcheck::TableStorage storage;
    std::string why = CheckStorage(mdb.get(), tdefPage, table_, storage);
    if (why.empty()) why = jetcheck::CheckRowCount(table_, storage.declaredRows, storage.liveRows);
    if (!why.empty()) return Damaged(why);
    TableDefPtr def(mdb_read_table(entry));
    if (!def) return Damaged(fmt::format("the definition of table \"{}\" cannot be read", table_));
    if (!mdb_read_columns(def.get()) || !def->columns || def->columns->len != def->num_cols)
      return Damaged(fmt::format("the columns of table \"{}\" cannot be read", table_));
    if (!SendColumns(def.get())) return 0;

    std::string payload;
    bool parentGone = false;
    std::uint64_t sent = 0;
    why = WalkRows(mdb.get(), def.get(), tdefPage, table_, storage.pages,
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
                     if (channel_.Send(kRow, payload)) {
                       ++sent;
                       return std::string();
                     }
                     parentGone = true;
                     return std::string("the reading was abandoned");
                   });
    if (parentGone) return 0;
    // The pages were checked at the start; if the file changed under us since, the count
    // of what went out is what the parent got.
    if (why.empty()) why = jetcheck::CheckRowCount(table_, storage.declaredRows, sent);
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

  static const jetcheck::PageFormat& FormatOf(MdbHandle* mdb) {
    return jetcheck::FormatForVersion(IS_JET3(mdb) ? 0 : 1);
  }

  std::string MeasureFile(MdbHandle* mdb) {
    struct stat st {};
    if (::fstat(::fileno(mdb->f->stream), &st) != 0 || mdb->fmt->pg_size != FormatOf(mdb).pageSize)
      return "the file cannot be measured";
    pageCount_ = static_cast<std::uint64_t>(st.st_size) / mdb->fmt->pg_size;
    if (pageCount_ > 0xFFFFFF) return "the file is larger than a Jet database can be";
    return jetcheck::CheckFileSize(static_cast<std::uint64_t>(st.st_size), mdb->fmt->pg_size);
  }

  // Pages as libmdb reads them (decrypted, when the file is encrypted), into its alternate
  // page buffer so that the page its own row functions work on stays put.
  static jetcheck::PageSource PagesOf(MdbHandle* mdb) {
    return [mdb](std::uint32_t page) -> const std::uint8_t* {
      return mdb_read_alt_pg(mdb, page) == mdb->fmt->pg_size ? mdb->alt_pg_buf : nullptr;
    };
  }

  // The name of each table by the page of its definition, for saying whose page a stray
  // page is.
  static jetcheck::TableNames NamesOf(MdbHandle* mdb) {
    return [mdb](std::uint32_t tdefPage) -> std::string {
      if (tdefPage == 2) return "MSysObjects";
      for (guint i = 0; mdb->catalog && i < mdb->catalog->len; ++i) {
        auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (e && e->object_type == MDB_TABLE && static_cast<std::uint32_t>(e->table_pg) == tdefPage)
          return std::string(e->object_name, ::strnlen(e->object_name, sizeof e->object_name));
      }
      return {};
    };
  }

  std::string CheckStorage(MdbHandle* mdb, guint32 tdefPage, const std::string& name,
                           jetcheck::TableStorage& storage) {
    return jetcheck::CheckTableStorage(FormatOf(mdb), static_cast<std::uint32_t>(pageCount_),
                                       tdefPage, name, PagesOf(mdb), NamesOf(mdb), storage);
  }

  // Walks the catalog's own rows on its pages (checked by CheckStorage) as a table's are
  // walked. Its row count is left alone: writers other than Access do not all keep it, and
  // a row the catalog lost shows as a missing table anyway.
  std::string CheckCatalog(MdbHandle* mdb, const std::vector<std::uint32_t>& pages) {
    MdbCatalogEntry msys{};
    msys.mdb = mdb;
    msys.object_type = MDB_TABLE;
    msys.table_pg = 2;
    std::strcpy(msys.object_name, "MSysObjects");
    TableDefPtr def(mdb_read_table(&msys));
    if (!def || !mdb_read_columns(def.get()) || !def->columns || def->columns->len != def->num_cols)
      return "the list of tables cannot be read";
    const std::string why =
        WalkRows(mdb, def.get(), 2, "MSysObjects", pages,
                 [&](int rowStart, int length, const MdbField* fields) {
                   for (guint c = 0; c < def->num_cols; ++c)
                     if (!fields[c].is_null && !InRow(fields[c], rowStart, length))
                       return std::string("a row is out of shape");
                   return std::string();
                 });
    return why.empty() ? why : "the list of tables: " + why;
  }

  // A file cut at a whole page is told by the tables whose pages it lost, whichever table
  // was asked for: no answer comes from part of a file.
  std::string CheckFileEnd(MdbHandle* mdb) {
    const jetcheck::PageSource source = PagesOf(mdb);
    for (guint i = 0; i < mdb->catalog->len; ++i) {
      auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (!e || e->object_type != MDB_TABLE) continue;
      const std::string name(e->object_name, ::strnlen(e->object_name, sizeof e->object_name));
      std::string why =
          jetcheck::CheckTableEnd(FormatOf(mdb), static_cast<std::uint32_t>(pageCount_),
                                  static_cast<std::uint32_t>(e->table_pg), name, source);
      if (!why.empty()) return why;
    }
    return {};
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

  // Visits every live row on the table's pages (checked by CheckStorage) in page order.
  // Each page is checked again as it is read, since the file may have changed meanwhile.
  // Returns why the walk stopped early ("" at the end), or whatever the visitor returned
  // when that was not empty.
  static std::string WalkRows(MdbHandle* mdb, MdbTableDef* def, guint32 tdefPage,
                              const std::string& name, const std::vector<std::uint32_t>& pages,
                              const RowVisitor& visit) {
    const long pageSize = mdb->fmt->pg_size;
    const jetcheck::TableNames names = NamesOf(mdb);
    // mdb_crack_row fills one field per column and may be handed a column count of up to
    // MDB_MAX_COLS from a damaged row.
    std::vector<MdbField> fields(std::max<std::size_t>(def->num_cols, MDB_MAX_COLS) + 1);
    std::vector<jetcheck::RowSlot> slots;
    for (const std::uint32_t page : pages) {
      if (mdb_read_pg(mdb, page) != pageSize) return fmt::format("page {} cannot be read", page);
      if (std::string why = jetcheck::CheckTablePage(FormatOf(mdb), mdb->pg_buf, page, tdefPage,
                                                     name, names, slots);
          !why.empty())
        return why;
      for (std::size_t r = 0; r < slots.size(); ++r) {
        if (slots[r].deleted) continue;
        const auto start = static_cast<int>(slots[r].start);
        const auto length = static_cast<int>(slots[r].length);
        if (mdb_crack_row(def, start, static_cast<std::size_t>(length), fields.data()) < 0)
          return fmt::format("page {}: row {} cannot be decoded", page, r);
        const std::string why = visit(start, length, fields.data());
        if (!why.empty()) return fmt::format("page {}: row {}, {}", page, r, why);
      }
    }
    return {};
  }

  const std::string& path_;
  const std::string& table_;
  ChildChannel& channel_;
  std::uint64_t pageCount_ = 0;
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
