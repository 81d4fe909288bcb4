// The Chromium blockfile cache: the cache of Chromium-based browsers on Windows (and of any
// Chromium run with the blockfile backend). An `index` holds a hash table of entry addresses;
// the entries and their small data lie in block files `data_0`, `data_1`, ..., data over
// 16 KiB in external files `f_XXXXXX`. Numbers are little-endian; offsets in bytes.
//
// index: a 368-byte header, then the table.
//   0   u32  magic 0xC103CAC3
//   4   u32  version: 0x20000, 0x20001 (2.x) or 0x30000 (3.0); other major versions are refused
//   28  i32  table length: a power of two (0 stands for 0x10000); the table of that many u32
//            entry addresses follows the header. An entry lies in bucket hash & (length - 1);
//            the entries of one bucket are chained by their `next` field.
//   32  i32  non-zero while a browser has the cache open (or after it crashed)
// Address (u32): bit 31 set when in use; bits 28-30 the file type: 0 an external file, named
//   "f_%06x" of bits 0-27; 1 to 4 a block file of 36 (rankings), 256, 1,024 or 4,096-byte
//   blocks, named "data_%d" of bits 16-23, bits 24-25 the block count - 1, bits 0-15 the first
//   block, bits 26-27 zero.
// Block file: an 8,192-byte header (u32 magic 0xC104CAC3, u32 version 2.x or 3.x, i16 this
//   file's number, i16 next file, i32 block size at 8, i32 blocks the file holds at 16, the
//   allocation bitmap from 80: bit b of byte b / 8 set while block b is in use), then blocks.
// Entry (EntryStore, 1 to 4 blocks of 256 bytes):
//   0   u32  hash of the key (SuperFastHash)
//   4   u32  next entry of the bucket; 8 u32 its rankings node; 20 i32 state (0 normal)
//   32  i32  key length; 36 u32 the address of a key longer than 927 bytes
//   40  i32  data size of streams 0-3; 56 u32 their addresses
//   72  u32  flags (1 parent, 2 child of a range-stored entry)
//   92  u32  hash of bytes 0-91 (0: none kept)
//   96       the key, NUL-ended, over the entry's blocks, when it is 927 bytes or shorter
// Rankings node (36 bytes): 24 u32 the entry's address; 28 i32 dirty (non-zero while a
//   browser has the entry open, and left so by a crash); 32 u32 hash of bytes 0-31 (3.0; a
//   pointer in 2.x, non-zero while the entry is open).
// Stream 0 is the response head (chromium_response.h), stream 1 the body: in blocks up to
// 16 KiB, in an external file beyond.
//
// The locator of an entry, the cacheFile of its row: "data_<n>#<address>#<key hash>", each
// number 8 lower-case hex digits ("data_1#a0010003#abe43e6b"): the block file and address of
// the entry, and the hash of its key, so that another entry put in the same place since the
// listing is told apart. A refusal names the address alone ("data_1#a0010003"; "#d0010003"
// when the address names no file this reader knows).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_layout.h"
#include "cache/stored_response.h"
#include "core/document.h"
#include "platform/fs.h"
#include "platform/language.h"

namespace lumbra {

// The files of a blockfile cache held in memory, by name ("index", "data_1", "f_000001").
using BlockfileFiles = std::map<std::string, std::string, std::less<>>;

// What a walk of a blockfile cache found, in the order found.
struct BlockfileListing {
  struct Entry {
    StoredResponse response;
    std::string locator;
  };
  struct PassedOver {
    std::string locator;
    std::string why;
    bool refused;  // a damaged or unfinished entry; false for a note (a range-stored part)
    // Refused for its external file, a link, FIFO or device (IsRefusedCacheFile).
    bool fileRefused = false;
  };
  std::vector<Entry> entries;
  std::vector<PassedOver> passed;
  // Why the cache as a whole was not read (the index unreadable, damaged, of an unknown
  // version), in the log's words and as shown; empty when it was walked. `indexError` says
  // whether the index could be opened.
  platform::Said refusal;
  platform::OpenError indexError = platform::OpenError::None;
};

// Walks the cache held in `files`: every entry of every bucket, each checked (address within
// its file, key hash, not left dirty, streams within their blocks or files, the response head
// readable, a document's body as long as its Content-Length says).
BlockfileListing ListBlockfileCache(const BlockfileFiles& files);

// Reads the entry at `locator` of the cache held in `files` again, whole, as
// StoredEntries::Read does.
platform::OpenError ReadBlockfileEntry(const BlockfileFiles& files, std::string_view locator,
                                       StoredResponse& response, SpooledDocument& body,
                                       std::string& why);

// The layout of a Chromium blockfile cache: marker "/index", held when the index is a regular
// file beginning with the blockfile magic (Chromium's other caches keep an `index` as well).
std::unique_ptr<CacheLayout> ChromiumBlockfileLayout();

}  // namespace lumbra
