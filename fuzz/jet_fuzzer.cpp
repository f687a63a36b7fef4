// libFuzzer harness for the Jet reader. Every input is a whole file image.
//
// Two things run on it. In this process, the page checks the reader program makes (pure
// functions over page bytes), for every table definition in the image, with their results
// held to what they promise. Then the image is written to a file and "Warp Points" is read
// through the store, as the program reads it: libmdb runs in its own process there, so a
// libmdb crash that comes back as a clean error is a pass. Any result code with a reason
// is a pass; a crash, hang or sanitizer report in this process is a finding.
//
// With LANEWRIGHT_JET_FUZZ_STRICT set, a reader program that crashed or gave up also stops
// the run, so that its input is kept: useful to look for faults in the reader program's own
// code, at the price of stopping at libmdb's.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "store/JetTableCheck.h"
#include "store/Table.h"

namespace {

using namespace lanewright::store;

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckPagesInProcess(const std::uint8_t* data, std::size_t size) {
  if (size < 0x15) return;
  const jetcheck::PageFormat& format = jetcheck::FormatForVersion(data[0x14]);
  const std::string sizeProblem = jetcheck::CheckFileSize(size, format.pageSize);
  Require(sizeProblem.empty() == (size % format.pageSize == 0 && size >= 3 * format.pageSize));
  const auto pageCount = static_cast<std::uint32_t>(size / format.pageSize);
  auto pageAt = [&](std::uint32_t page) { return data + std::size_t{page} * format.pageSize; };
  const jetcheck::PageSource source = [&](std::uint32_t page) -> const std::uint8_t* {
    Require(page < pageCount);  // the checks never ask for a page past the end
    return pageAt(page);
  };
  const jetcheck::TableNames names = [&](std::uint32_t page) -> std::string {
    return page < pageCount && pageAt(page)[0] == 2 ? "T" + std::to_string(page) : "";
  };
  for (std::uint32_t tdef = 2; tdef < pageCount && tdef < 64; ++tdef) {
    if (pageAt(tdef)[0] != 2) continue;
    jetcheck::TableStorage storage;
    const std::string why =
        jetcheck::CheckTableStorage(format, pageCount, tdef, "T", source, names, storage);
    const std::string end = jetcheck::CheckTableEnd(format, pageCount, tdef, "T", source);
    if (!why.empty()) continue;
    // A table that passes keeps its rows on pages of its own, in order, inside the file,
    // and nothing about it lies past the end.
    Require(end.empty());
    std::uint64_t live = 0;
    std::vector<jetcheck::RowSlot> slots;
    for (std::size_t i = 0; i < storage.pages.size(); ++i) {
      const std::uint32_t page = storage.pages[i];
      Require(page < pageCount && (i == 0 || storage.pages[i - 1] < page));
      Require(pageAt(page)[0] == 1);
      Require(
          jetcheck::CheckTablePage(format, pageAt(page), page, tdef, "T", names, slots).empty());
      for (const auto& s : slots) {
        Require(s.start + s.length <= format.pageSize);
        live += s.deleted ? 0 : 1;
      }
    }
    Require(live == storage.liveRows);
    Require(jetcheck::CheckRowCount("T", storage.declaredRows, live).empty() ==
            (live == storage.declaredRows));
  }
}

void ReadThroughStore(const std::uint8_t* data, std::size_t size) {
  const std::string path = lanewright::fuzz::ScratchFile("input.mdb");
  Require(lanewright::fuzz::WriteBytes(path, {reinterpret_cast<const char*>(data), size}));
  StoreError err;
  auto reader = OpenTable(path, "Warp Points", err);
  const bool strict = std::getenv("LANEWRIGHT_JET_FUZZ_STRICT") != nullptr;
  auto readerCrashed = [&](const std::string& reason) {
    return reason.find("the reader was stopped by signal") != std::string::npos ||
           reason.find("the reader gave up with exit code") != std::string::npos;
  };
  if (!reader) {
    Require(err.code < 0 && !err.reason.empty());
    Require(!strict || !readerCrashed(err.reason));
    return;
  }
  Row row;
  HResult hr;
  while ((hr = reader->Next(row)) == S_OK) Require(row.size() == reader->Columns().size());
  Require(hr == DB_S_ENDOFROWSET || (hr < 0 && !reader->error().reason.empty()));
  Require(!strict || !readerCrashed(reader->error().reason));
  Require(reader->Next(row) == hr);  // the end, or the failure, is final
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckPagesInProcess(data, size);
  ReadThroughStore(data, size);
  return 0;
}
