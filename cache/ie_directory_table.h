// The directory table in the header of an Internet Explorer 4.x or 5.2 index.dat: the names
// of the cache subdirectories that URL records point into by slot. Both readers decode it the
// same way; they differ only in where it lies and in how much of it must be in the file.
//
// Directory table, from its start. Numbers are little-endian; offsets in bytes:
//   0        4   number of subdirectories N; only its low byte is read, signed (128 or more
//                counts as negative and gives no names)
//   4+12*i   4   unknown, one per subdirectory (not read)
//   8+12*i   8   name of subdirectory i, 8 characters, no terminator; a NUL ends it early
//   The table is 1,024 bytes long, so it holds at most 85 names (the count may say up to
//   127); every name it holds is kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra {

// How much of a directory table must lie inside the file for its names to be taken.
enum class DirectoryTableExtent {
  kWhole,        // all 1,024 bytes, or no name is taken (4.x)
  kNamesInFile,  // the count and each name on its own; names stop at the first one that does
                 // not lie wholly in the file (5.2)
};

// The subdirectory names of the table at `offset` in `bytes`, in slot order; empty when the
// table is not in `bytes` as `extent` asks.
std::vector<std::string> ReadDirectoryTable(std::string_view bytes, std::size_t offset,
                                            DirectoryTableExtent extent);

// The low byte of the four-byte field at `offset`, signed; 0 when the field does not lie
// wholly in `bytes`. The 4.x and 5.2 indexes keep their small numbers (the subdirectory count,
// a record's subdirectory slot) in the low byte of such a field.
int LowByte(std::string_view bytes, std::size_t offset);

}  // namespace lumbra
