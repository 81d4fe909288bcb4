// Reading the fields of a cache index from bytes whose bounds are known. Every read is
// checked against its span first: a field that does not lie wholly inside it is "missing",
// never read past the end of a file or a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumbra {

// Little-endian numbers at `offset`; nullopt when they do not lie inside `bytes`.
std::optional<std::int16_t> ReadLe16(std::string_view bytes, std::size_t offset);
std::optional<std::int32_t> ReadLe32(std::string_view bytes, std::size_t offset);
std::optional<std::uint32_t> ReadLeU32(std::string_view bytes, std::size_t offset);

// The text at `pos` up to its NUL, or to the end of `bytes` when it has none there.
std::string_view TextAt(std::string_view bytes, std::size_t pos);

// The first position at or after `pos` whose byte is not NUL (or the end).
std::size_t SkipNuls(std::string_view bytes, std::size_t pos);

// The value of a "Content-Type:" header line (any case) that starts less than `reach` bytes
// into `headers`: from after the colon and one optional blank or tab (a header written
// without it keeps its first letter) up to the next CR or the end, at most kContentTypeMax
// characters. Only the first such line is looked at; empty when it is not in reach.
std::string_view ContentTypeIn(std::string_view headers, std::size_t reach);

}  // namespace lumbra
