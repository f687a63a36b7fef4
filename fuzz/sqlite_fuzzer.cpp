// Any bytes as an SQLite database image (its first 16 bytes always the SQLite signature,
// so that every input takes the SQLite path): the table "Warp Points" is read through the
// bound reader with the empire file's bindings, or, when the file has no such table, the
// turn entry tables with theirs. Rows, skipped rows or an error are all clean results;
// an error must come with a reason.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "store/BoundReader.h"

namespace {

namespace store = lanewright::store;
using Kind = store::Binding::Kind;

constexpr char kSignature[] = "SQLite format 3";  // with its NUL, 16 bytes

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "sqlite: %s\n", what);
  std::abort();
}

// Reads every row; returns false when the table could not be opened.
bool ReadAll(const std::string& path, const std::string& table,
             std::vector<store::Binding> bindings) {
  store::BoundReader reader;
  store::HResult hr = reader.Open(path, table, std::move(bindings));
  if (hr < 0) {
    Require(!reader.error().reason.empty(), "a table that does not open, without a reason");
    return false;
  }
  std::vector<store::BoundField> values;
  while ((hr = reader.MoveNext(values)) == store::S_OK) continue;
  Require(hr == store::DB_S_ENDOFROWSET || (hr < 0 && !reader.error().reason.empty()),
          "reading ends without the end of the rows or a reason");
  Require(reader.SkippedRows() >= 0, "a negative count of skipped rows");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string image(reinterpret_cast<const char*>(data), size);
  if (image.size() < sizeof kSignature) image.resize(sizeof kSignature);
  image.replace(0, sizeof kSignature, kSignature, sizeof kSignature);
  // A journal left by the input before would be rolled back into this one.
  const std::string path = lanewright::fuzz::ScratchFile("input.db");
  for (const char* suffix : {"-journal", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
  Require(lanewright::fuzz::WriteBytes(path, image), "cannot write the temporary file");

  // A number, a text, and a text that may be NULL.
  const store::Binding n{Kind::Int32}, t{Kind::Text, 50}, t0{Kind::Text, 50, true};
  if (!ReadAll(path, "Warp Points", {n, n, t, t, n})) {
    ReadAll(path, "Orders", {n, t, n, t0, t0});
    ReadAll(path, "Fleets", {n, n, t0});
  }
  return 0;
}
