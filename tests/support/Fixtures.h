#pragma once

#include <cstdint>
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
// and must give the same output.
enum class FixtureFormat { Sqlite };

const char* FormatName(FixtureFormat format);
std::vector<FixtureFormat> AllFixtureFormats();

// A column of a table written by a fixture: its name and its SQL type ("INTEGER",
// "TEXT", "BLOB", ...).
struct FixtureColumn {
  std::string name;
  std::string type;
};

// Writes a table with these columns and rows into the file (creating the file when needed).
void WriteTable(FixtureFormat format, const std::string& path, const std::string& table,
                const std::vector<FixtureColumn>& columns,
                const std::vector<store::Row>& rows);

// Writes an empire file with a "Warp Points" table holding rows.
void WriteEmpireFile(FixtureFormat format, const std::string& path,
                     const std::vector<EmpireRow>& rows);

}  // namespace lanewright::testing
