#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "store/Table.h"

namespace lanewright::testing {

// One "Warp Points" row as tests write it inline.
struct EmpireRow {
  std::int32_t column1;
  std::int32_t empire;
  std::string system;
  std::string destination;  // name plus class letter, '?' first for unexplored
  std::int32_t warpPointId;
};

// The file formats a fixture can be written in. Every reader test runs on each of them
// and must give the same output. Jet4 (Access 2000-2003) and Jet3 (Access 97) files are
// made by the program's own Jet writer.
enum class FixtureFormat { Sqlite, Jet4, Jet3 };

const char* FormatName(FixtureFormat format);
// Parameters print as their names, not as bytes.
void PrintTo(FixtureFormat format, std::ostream* out);
std::vector<FixtureFormat> AllFixtureFormats();

// A column of a table written by a fixture: its name and its SQL type ("INTEGER",
// "TEXT", "BLOB", ...). Jet files get Long Integer, Text(255) and Binary(255) for these
// three; other types are refused there.
struct FixtureColumn {
  std::string name;
  std::string type;
};

// Writes a table with these columns and rows into the file (creating the file when needed).
// Throws std::runtime_error when the format cannot hold the table or a value (in Jet files:
// numbers beyond 32 bits, texts over 255 characters, Jet3 texts outside code page 1252).
void WriteTable(FixtureFormat format, const std::string& path, const std::string& table,
                const std::vector<FixtureColumn>& columns, const std::vector<store::Row>& rows);

// Writes an empire file with a "Warp Points" table holding rows.
void WriteEmpireFile(FixtureFormat format, const std::string& path,
                     const std::vector<EmpireRow>& rows);

}  // namespace lanewright::testing
