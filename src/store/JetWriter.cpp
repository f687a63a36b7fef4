#include "store/JetWriter.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <utility>

#include "store/FileDescriptor.h"
#include "store/JetFormat.h"
#include "store/JetWriterImage.h"
#include "store/ReplaceFile.h"

namespace lanewright::store {
namespace {

using jet::Bytes;
using jet::JetError;

std::function<void(const std::string&)>& CopyHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

StoreError Fail(const std::string& path, const std::string& reason) {
  return {E_FAIL, fmt::format("{}: {}", path, reason)};
}

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string SystemError(const char* what) {
  return fmt::format("{}: {}", what, std::strerror(errno));
}

// Access's rules for object names; the same names then work in Access, mdbtools and here.
void CheckName(const std::string& name, const char* what) {
  std::u16string text;
  std::string why;
  if (!jet::Utf8ToUcs2(name, text, why)) throw JetError(fmt::format("the {} name {}", what, why));
  if (text.empty() || text.size() > 64)
    throw JetError(
        fmt::format("the {} name \"{}\" must have 1 to 64 characters", what, jet::Printable(name)));
  if (text.front() == u' ')
    throw JetError(fmt::format("the {} name \"{}\" must not start with a blank", what, name));
  for (char16_t c : text) {
    if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']')
      throw JetError(
          fmt::format("the {} name \"{}\" must not contain . ! ` [ ] or control "
                      "characters",
                      what, jet::Printable(name)));
  }
}

std::vector<jet::ColumnDef> ColumnDefsFor(const jet::Layout& layout,
                                          const JetTableSpec& definition) {
  CheckName(definition.name, "table");
  if (Lower(definition.name).rfind("msys", 0) == 0)
    throw JetError(
        fmt::format("the table name \"{}\" is reserved for Access's own tables", definition.name));
  if (definition.columns.empty() || definition.columns.size() > 255)
    throw JetError(fmt::format("table \"{}\" must have 1 to 255 columns", definition.name));
  std::vector<jet::ColumnDef> defs;
  std::vector<std::string> seen;
  for (const JetColumn& c : definition.columns) {
    CheckName(c.name, "column");
    if (std::find(seen.begin(), seen.end(), Lower(c.name)) != seen.end())
      throw JetError(
          fmt::format("table \"{}\" has two columns named \"{}\"", definition.name, c.name));
    seen.push_back(Lower(c.name));
    jet::ColumnDef d;
    d.name = c.name;
    switch (c.type) {
      case JetColumnType::Byte:
        d.type = jet::kByte;
        break;
      case JetColumnType::Integer:
        d.type = jet::kInteger;
        break;
      case JetColumnType::LongInteger:
        d.type = jet::kLong;
        break;
      case JetColumnType::Text:
      case JetColumnType::Binary:
        if (c.length < 1 || c.length > 255)
          throw JetError(fmt::format("column \"{}\": a {} column holds 1 to 255 {}, not {}", c.name,
                                     c.type == JetColumnType::Text ? "text" : "binary",
                                     c.type == JetColumnType::Text ? "characters" : "bytes",
                                     c.length));
        d.type = c.type == JetColumnType::Text ? jet::kText : jet::kBinary;
        d.length = static_cast<std::uint16_t>(c.length);
        break;
    }
    defs.push_back(d);
  }
  jet::AssignColumnLayout(layout, defs);
  return defs;
}

std::vector<std::vector<jet::StoredValue>> EncodeRows(const jet::Layout& layout,
                                                      const std::vector<jet::ColumnDef>& columns,
                                                      const std::vector<Row>& rows) {
  const auto numVarCols = static_cast<std::size_t>(std::count_if(
      columns.begin(), columns.end(), [](const jet::ColumnDef& d) { return !d.IsFixed(); }));
  std::vector<std::vector<jet::StoredValue>> out;
  out.reserve(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].size() != columns.size())
      throw JetError(fmt::format("row {} has {} values, but the table has {} columns", r + 1,
                                 rows[r].size(), columns.size()));
    std::vector<jet::StoredValue> values;
    try {
      for (std::size_t c = 0; c < columns.size(); ++c)
        values.push_back(jet::EncodeCell(layout, columns[c], rows[r][c]));
      jet::EncodeRow(layout, columns, numVarCols, values);  // refuses rows too long for a page
    } catch (const JetError& e) {
      throw JetError(fmt::format("row {}: {}", r + 1, e.what()));
    }
    out.push_back(std::move(values));
  }
  return out;
}

double NowAsJetDate() {
  using namespace std::chrono;
  const double seconds = duration<double>(system_clock::now().time_since_epoch()).count();
  return 25569.0 + seconds / 86400.0;  // 1970-01-01 is day 25569 after 1899-12-30
}

// Reads a whole table through the program's reader, the same path every other module
// uses, so a file that passes here is a file the program can read.
std::vector<Row> ReadBack(const std::string& path, const std::string& table) {
  StoreError err;
  auto reader = OpenTable(path, table, err);
  if (!reader) throw JetError(fmt::format("table \"{}\" cannot be read: {}", table, err.reason));
  std::vector<Row> rows;
  Row row;
  for (;;) {
    const HResult hr = reader->Next(row);
    if (hr == DB_S_ENDOFROWSET) return rows;
    if (hr != S_OK)
      throw JetError(fmt::format("table \"{}\" cannot be read: {}", table, reader->error().reason));
    rows.push_back(row);
  }
}

void CheckReadBack(const std::string& copy, const std::string& table,
                   const std::vector<Row>& before, const std::vector<Row>& added) {
  std::vector<Row> got;
  try {
    got = ReadBack(copy, table);
  } catch (const JetError& e) {
    throw JetError(fmt::format("the written file did not read back: {}", e.what()));
  }
  if (got.size() != before.size() + added.size())
    throw JetError(
        fmt::format("the written file did not read back: table \"{}\" has {} rows "
                    "instead of {}",
                    table, got.size(), before.size() + added.size()));
  for (std::size_t i = 0; i < got.size(); ++i) {
    const Row& want = i < before.size() ? before[i] : added[i - before.size()];
    if (got[i] != want)
      throw JetError(
          fmt::format("the written file did not read back: row {} of table \"{}\" "
                      "differs from what was written",
                      i + 1, table));
  }
}

// Puts the bytes into a complete copy beside the file, flushed to disk. mode: the
// permissions to give the copy, or nullopt for a new file's default (0666 less the umask).
void WriteCopy(ReplacementFile& copy, const std::string& beside, const Bytes& bytes,
               std::optional<mode_t> mode) {
  if (const int error = copy.Create(beside, mode); error != 0)
    throw JetError(fmt::format("cannot create a copy beside it: {}", ErrnoText(error)));
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (const int error = copy.Write(view); error != 0)
    throw JetError(fmt::format("cannot write the copy: {}", ErrnoText(error)));
}

std::optional<std::string> LockFileOf(const std::string& path) {
  const std::string lock = JetLockFilePath(path);
  const auto dot = lock.rfind('.');
  std::string upper = lock;
  for (std::size_t i = dot + 1; i < upper.size(); ++i)
    upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
  struct stat st {};
  for (const std::string& candidate : {lock, upper})
    if (::lstat(candidate.c_str(), &st) == 0) return candidate;
  return std::nullopt;
}

// An existing database opened for writing: held under an exclusive lock so that two
// Lanewright processes never both rewrite it, with its bytes and identity recorded so that
// a change by anyone else before the rename is noticed.
struct OpenDatabase {
  FileDescriptor fd;
  struct stat st {};
  Bytes bytes;
};

void CheckNoLockFile(const std::string& asGiven, const std::string& path) {
  for (const std::string* p : {&asGiven, &path}) {
    if (auto lock = LockFileOf(*p))
      throw JetError(
          fmt::format("the database is open in another program (lock file {} "
                      "exists); close it there and try again",
                      *lock));
  }
}

// Takes the writers' lock on the file at path, waiting up to LockWait() for another
// Lanewright that holds it. A writer that held it may have replaced the file meanwhile:
// the lock is then on the old file, and the new one is opened and locked instead.
void LockForWriting(const std::string& asGiven, const std::string& path, OpenDatabase& db) {
  const auto deadline = std::chrono::steady_clock::now() + LockWait();
  for (;;) {
    CheckNoLockFile(asGiven, path);
    db.fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!db.fd) throw JetError(SystemError("cannot open the database"));
    if (::fstat(db.fd.get(), &db.st) != 0 || !S_ISREG(db.st.st_mode))
      throw JetError("is not a regular file");
    while (::flock(db.fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) throw JetError(SystemError("cannot lock it"));
      if (std::chrono::steady_clock::now() >= deadline)
        throw JetError("the database is being written by another program; try again later");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    struct stat now {};
    if (::stat(path.c_str(), &now) != 0)
      throw JetError("the database was removed while it was being opened");
    if (now.st_ino == db.st.st_ino && now.st_dev == db.st.st_dev) {
      // The file's state as locked: what the rename will be checked against.
      if (::fstat(db.fd.get(), &db.st) != 0)
        throw JetError(SystemError("cannot open the database"));
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline)
      throw JetError("the database was replaced while it was being opened; try again");
  }
}

void OpenForWriting(const std::string& asGiven, const std::string& path, OpenDatabase& db) {
  LockForWriting(asGiven, path, db);
  db.bytes.resize(static_cast<std::size_t>(db.st.st_size));
  std::size_t done = 0;
  while (done < db.bytes.size()) {
    const ssize_t n = ::pread(db.fd.get(), db.bytes.data() + done, db.bytes.size() - done,
                              static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw JetError(SystemError("cannot read the database"));
    done += static_cast<std::size_t>(n);
  }
}

// Moves the checked copy over the database, unless someone changed the database meanwhile.
void ReplaceWith(const std::string& path, const OpenDatabase& db, ReplacementFile& copy) {
  if (auto lock = LockFileOf(path))
    throw JetError(
        fmt::format("the database was opened in another program meanwhile (lock file "
                    "{} exists); nothing was written",
                    *lock));
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0 || now.st_ino != db.st.st_ino ||
      now.st_size != db.st.st_size || now.st_mtim.tv_sec != db.st.st_mtim.tv_sec ||
      now.st_mtim.tv_nsec != db.st.st_mtim.tv_nsec)
    throw JetError("the database was changed by another program meanwhile; nothing was written");
  if (const int error = copy.Replace(); error != 0)
    throw JetError(fmt::format("cannot put the written copy in place: {}", ErrnoText(error)));
}

class JetSection final : public ExclusiveSection {
 public:
  explicit JetSection(std::string path) : path_(std::move(path)) {}
  std::unique_ptr<TableReader> OpenTable(const std::string& table, StoreError& err) override {
    return store::OpenTable(path_, table, err);
  }

 private:
  std::string path_;
};

void RunCopyHook(const std::string& copy) {
  if (CopyHook()) CopyHook()(copy);
}

struct TableToWrite {
  jet::TableInfo info;
  std::string name;  // as the catalog spells it
};

TableToWrite FindWritableTable(const jet::Image& img, const std::string& table) {
  std::vector<jet::CatalogEntry> matches;
  for (const auto& e : img.ReadCatalog())
    if (Lower(e.name) == Lower(table)) matches.push_back(e);
  if (matches.empty()) throw JetError(fmt::format("there is no table named \"{}\"", table));
  if (matches.size() > 1)
    throw JetError(fmt::format("the catalog lists \"{}\" more than once", table));
  const jet::CatalogEntry& e = matches.front();
  if ((e.type & 0x7F) != jet::kCatalogLocalTable)
    throw JetError(
        fmt::format("\"{}\" is not a table of this file (a linked table or another "
                    "kind of object)",
                    e.name));
  if (e.flags & jet::kCatalogSystemFlags)
    throw JetError(fmt::format("\"{}\" is one of Access's own system tables", e.name));
  TableToWrite t{img.ReadTable(e.id & 0x00FFFFFF), e.name};
  const auto& info = t.info;
  if (info.numIdx != 0 || info.numRealIdx != 0)
    throw JetError(
        fmt::format("table \"{}\" has indexes or a primary key; Lanewright never "
                    "writes to such tables, because Access would find its indexes "
                    "out of date",
                    e.name));
  if (info.maxCols != info.numCols || info.columns.size() != info.numCols)
    throw JetError(
        fmt::format("table \"{}\" has had columns deleted; compact it in Access first", e.name));
  for (const auto& c : info.columns) {
    if (c.flags & (jet::kColumnAutoLong | jet::kColumnAutoGuid))
      throw JetError(
          fmt::format("column \"{}\" of table \"{}\" is an AutoNumber; Lanewright "
                      "does not write tables with AutoNumber columns",
                      c.name, e.name));
    const bool number = c.type == jet::kByte || c.type == jet::kInteger || c.type == jet::kLong;
    if (!number && c.type != jet::kText && c.type != jet::kBinary)
      throw JetError(
          fmt::format("column \"{}\" of table \"{}\" is of a type Lanewright does not "
                      "write (only Byte, Integer, Long Integer, Text and Binary)",
                      c.name, e.name));
    if (number != c.IsFixed() || (number && c.length != jet::FixedSize(c)))
      throw JetError(
          fmt::format("column \"{}\" of table \"{}\" is described inconsistently", c.name, e.name));
  }
  return t;
}

// Jet3 text is stored in the code page the file names, and readers decode it with that.
// Lanewright encodes only code page 1252, which agrees with every Windows code page on
// ASCII: other text for a file in another code page would be read back as other letters.
void CheckCodePage(const jet::Image& img, const std::vector<Row>& rows) {
  if (img.layout().version != JetVersion::Jet3 || img.CodePage() == 0 || img.CodePage() == 1252)
    return;
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (const Cell& cell : rows[r])
      if (const auto* s = std::get_if<std::string>(&cell))
        for (char c : *s)
          if (static_cast<unsigned char>(c) >= 0x80)
            throw JetError(
                fmt::format("row {}: the file keeps its text in code page {}; "
                            "Lanewright can add only plain ASCII text to it",
                            r + 1, img.CodePage()));
}

std::vector<std::string> UserTables(const jet::Image& img) {
  std::vector<std::string> names;
  for (const auto& e : img.ReadCatalog())
    if ((e.type & 0x7F) == jet::kCatalogLocalTable && !(e.flags & jet::kCatalogSystemFlags))
      names.push_back(e.name);
  return names;
}

}  // namespace

std::string JetLockFilePath(const std::string& path) {
  const std::filesystem::path p(path);
  const std::string ext = Lower(p.extension().string());
  std::filesystem::path lock = p;
  lock.replace_extension(ext == ".accdb" ? ".laccdb" : ".ldb");
  return lock.string();
}

StoreError CreateJetDatabase(const std::string& path, JetVersion version,
                             const std::vector<JetTableSpec>& tables) {
  try {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) throw JetError("already exists; it is not replaced");
    const jet::Layout& layout = jet::LayoutFor(version);
    std::vector<std::string> names;
    for (const auto& t : tables) {
      if (std::find(names.begin(), names.end(), Lower(t.name)) != names.end())
        throw JetError(fmt::format("two tables are named \"{}\"", t.name));
      names.push_back(Lower(t.name));
    }
    jet::Image img = jet::Image::Create(version, NowAsJetDate());
    for (const auto& t : tables) {
      const auto defs = ColumnDefsFor(layout, t);
      const auto values = EncodeRows(layout, defs, t.rows);
      const std::uint32_t tdef = img.AddTable(t.name, defs);
      img.AppendRows(img.ReadTable(tdef), values);
    }
    ReplacementFile copy;
    WriteCopy(copy, path, img.bytes(), std::nullopt);
    RunCopyHook(copy.path());
    for (const auto& t : tables) CheckReadBack(copy.path(), t.name, {}, t.rows);
    // Never replace a file that appeared meanwhile.
    if (const int error = copy.PlaceNew(); error != 0)
      throw JetError(error == EEXIST ? std::string("already exists; it is not replaced")
                                     : fmt::format("cannot create the file: {}", ErrnoText(error)));
    return {};
  } catch (const JetError& e) {
    return Fail(path, e.what());
  } catch (const std::bad_alloc&) {
    return Fail(path, "not enough memory to build the file");
  }
}

StoreError AddJetTable(const std::string& path, const JetTableSpec& table) {
  try {
    const std::string file = FileBehind(path);
    OpenDatabase db;
    OpenForWriting(path, file, db);
    jet::Image img = jet::Image::Load(std::move(db.bytes));
    const auto defs = ColumnDefsFor(img.layout(), table);
    CheckCodePage(img, table.rows);
    const auto values = EncodeRows(img.layout(), defs, table.rows);
    const std::vector<std::string> others = UserTables(img);
    std::vector<std::vector<Row>> before;
    for (const auto& name : others) before.push_back(ReadBack(file, name));

    const std::uint32_t tdef = img.AddTable(table.name, defs);
    img.AppendRows(img.ReadTable(tdef), values);

    ReplacementFile copy;
    WriteCopy(copy, file, img.bytes(), db.st.st_mode & 07777);
    RunCopyHook(copy.path());
    for (std::size_t i = 0; i < others.size(); ++i)
      CheckReadBack(copy.path(), others[i], before[i], {});
    CheckReadBack(copy.path(), table.name, {}, table.rows);
    ReplaceWith(file, db, copy);
    return {};
  } catch (const JetError& e) {
    return Fail(path, e.what());
  } catch (const std::bad_alloc&) {
    return Fail(path, "not enough memory to read the file");
  }
}

namespace {

StoreError AppendInSection(const std::string& path, const std::string& table,
                           const DecideRows& decide, bool padShortRows) {
  try {
    const std::string file = FileBehind(path);
    OpenDatabase db;
    OpenForWriting(path, file, db);
    jet::Image img = jet::Image::Load(std::move(db.bytes));
    const TableToWrite target = FindWritableTable(img, table);

    // The file on disk is the one locked and loaded: reading it through the program's
    // reader sees what the rows are added to. Another program that changes it all the
    // same is noticed before the rename.
    JetSection section(file);
    StoreError decided;
    std::vector<Row> rows = decide(section, decided);
    if (decided.Failed()) return decided;
    for (Row& row : rows)
      if (padShortRows && row.size() < target.info.columns.size())
        row.resize(target.info.columns.size());
    CheckCodePage(img, rows);
    const auto values = EncodeRows(img.layout(), target.info.columns, rows);
    if (rows.empty()) return {};
    const std::vector<Row> before = ReadBack(file, target.name);
    if (before.size() + rows.size() > 0x7FFFFFFF)
      throw JetError("the table would hold too many rows");

    img.AppendRows(target.info, values);

    ReplacementFile copy;
    WriteCopy(copy, file, img.bytes(), db.st.st_mode & 07777);
    RunCopyHook(copy.path());
    CheckReadBack(copy.path(), target.name, before, rows);
    ReplaceWith(file, db, copy);
    return {};
  } catch (const JetError& e) {
    return Fail(path, e.what());
  } catch (const std::bad_alloc&) {
    return Fail(path, "not enough memory to read the file");
  }
}

}  // namespace

StoreError AppendJetRows(const std::string& path, const std::string& table,
                         const std::vector<Row>& rows) {
  return AppendInSection(
      path, table, [&rows](ExclusiveSection&, StoreError&) { return rows; }, false);
}

StoreError AppendJetRowsExclusively(const std::string& path, const std::string& table,
                                    const DecideRows& decide) {
  return AppendInSection(path, table, decide, true);
}

namespace detail {
void SetJetWriterCopyHookForTesting(std::function<void(const std::string& copyPath)> hook) {
  CopyHook() = std::move(hook);
}
}  // namespace detail

}  // namespace lanewright::store
