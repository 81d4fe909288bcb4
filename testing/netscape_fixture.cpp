#include "testing/netscape_fixture.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/fs.h"
#include "testing/temp_dir.h"

namespace lumbra::testing {
namespace {

using Fields = std::vector<std::pair<std::string, std::size_t>>;

void AppendLe32(std::string& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void PutLe16(std::string& bytes, std::size_t offset, std::size_t value) {
  bytes[offset] = static_cast<char>(value & 0xff);
  bytes[offset + 1] = static_cast<char>((value >> 8) & 0xff);
}

// Builds an item field by field, noting where each begins.
class ItemWriter {
 public:
  ItemWriter(std::string& bytes, Fields& fields) : bytes_(bytes), fields_(fields) {}
  void Int(std::string name, std::int32_t value) {
    fields_.emplace_back(std::move(name), bytes_.size());
    AppendLe32(bytes_, static_cast<std::uint32_t>(value));
  }
  void Bytes(std::string name, std::string_view value) {
    fields_.emplace_back(std::move(name), bytes_.size());
    bytes_ += value;
  }
  // A text field: its length, then its bytes (with a NUL when `nul`).
  void Text(const std::string& name, std::string_view text, bool nul) {
    std::string bytes(text);
    if (nul) bytes.push_back('\0');
    Int(name + " length", static_cast<std::int32_t>(bytes.size()));
    Bytes(name, bytes);
  }

 private:
  std::string& bytes_;
  Fields& fields_;
};

}  // namespace

NetscapeEntry NetscapeFile(std::string url, std::string fileName, std::string contentType,
                           std::string content) {
  return {.url = std::move(url),
          .fileName = std::move(fileName),
          .contentType = std::move(contentType),
          .content = std::move(content)};
}

NetscapeEntry IntEntry(std::string name) {
  return {.rawKey = "INT" + std::move(name), .writeFile = false};
}

std::tuple<std::string*, std::size_t, std::size_t> NetscapeRecord::Find(std::string_view field) {
  for (auto [item, fields] : {std::pair{&key, &keyFields}, std::pair{&data, &dataFields}}) {
    for (std::size_t i = 0; i < fields->size(); ++i) {
      if ((*fields)[i].first != field) continue;
      std::size_t end = i + 1 < fields->size() ? (*fields)[i + 1].second : item->size();
      return {item, (*fields)[i].second, end};
    }
  }
  throw std::invalid_argument("no field " + std::string(field));
}

void NetscapeRecord::SetInt(std::string_view field, std::int32_t value) {
  auto [item, at, end] = Find(field);
  std::string bytes;
  AppendLe32(bytes, static_cast<std::uint32_t>(value));
  item->replace(at, 4, bytes);
}

void NetscapeRecord::AddInt(std::string_view field, std::int32_t delta) {
  auto [item, at, end] = Find(field);
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>((*item)[at + i])) << (8 * i);
  }
  SetInt(field, static_cast<std::int32_t>(value + static_cast<std::uint32_t>(delta)));
}

void NetscapeRecord::CutInside(std::string_view field) {
  auto [item, at, end] = Find(field);
  item->resize(end - 1);
}

NetscapeRecord EncodeNetscapeRecord(const NetscapeEntry& entry) {
  NetscapeRecord record;
  if (entry.rawKey) {
    record.key = *entry.rawKey;
  } else {
    ItemWriter key(record.key, record.keyFields);
    key.Int("key size", 0);
    key.Text("url", entry.url, entry.textNuls);
    key.Int("key int", 0x4b45594b);
    key.Bytes("key rest", entry.keyRest);
    record.SetInt("key size", static_cast<std::int32_t>(record.key.size()));
  }

  ItemWriter data(record.data, record.dataFields);
  data.Int("record size", 0);
  data.Int("N1", 0x11);
  data.Int("time1", entry.time1);
  data.Int("time2", entry.time2);
  data.Int("N4", 0x44);
  data.Int("mem", entry.mem);
  data.Int("N5", entry.n5);
  data.Bytes("c", "c");
  data.Text("name", entry.fileName, entry.textNuls);
  for (int i = 1; i <= 7; ++i) {
    data.Int("mid N" + std::to_string(i), i == 7 && entry.n7Zero ? 0 : 0x100 + i);
  }
  if (entry.n7Zero) data.Int("N8", 0x108);
  data.Bytes("c2", "C");
  data.Text("type", entry.contentType, entry.textNuls);
  data.Int("last N1", 0x201);
  data.Int("last N2", 0x202);
  data.Int("N3", entry.n3);
  data.Bytes("data rest", entry.dataRest);
  record.SetInt("record size", static_cast<std::int32_t>(record.data.size()));
  return record;
}

std::string BuildNetscapeIndex(const std::vector<NetscapeRecord>& records, int pageSize,
                               int deleteEvery) {
  platform::TempDirectory scratch("lumbra-fatdb");
  const std::string input = scratch.path() + "/records";
  const std::string output = scratch.path() + "/fat.db";
  std::string bytes;
  for (const NetscapeRecord& record : records) {
    AppendLe32(bytes, static_cast<std::uint32_t>(record.key.size()));
    bytes += record.key;
    AppendLe32(bytes, static_cast<std::uint32_t>(record.data.size()));
    bytes += record.data;
  }
  WriteBytes(input, bytes);
  const std::string command = std::string("'") + LUMBRA_MKHASH + "' '" + output + "' " +
                              std::to_string(pageSize) + " '" + input + "' 1234 " +
                              std::to_string(deleteEvery) + " >/dev/null";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("mkhash failed");
  std::optional<std::string> index = platform::ReadFile(output);
  if (!index) throw std::runtime_error("mkhash wrote no file");
  return *index;
}

std::string BuildNetscapeIndex(const NetscapeCache& cache) {
  std::vector<NetscapeRecord> records;
  for (const NetscapeEntry& entry : cache.entries) records.push_back(EncodeNetscapeRecord(entry));
  return BuildNetscapeIndex(records, cache.pageSize, cache.deleteEvery);
}

std::string WriteNetscapeCache(const std::string& dir, const NetscapeCache& cache) {
  for (const NetscapeEntry& entry : cache.entries) {
    if (entry.writeFile) WriteBytes(dir + "/" + entry.fileName, entry.content);
  }
  const std::string indexPath = dir + "/fat.db";
  WriteBytes(indexPath, BuildNetscapeIndex(cache));
  return indexPath;
}

std::string LayNetscapeIndex(std::string_view key, std::string_view data, bool keyLast) {
  std::string bytes(kLaidPage + 6, '\0');
  const std::size_t first = 6;
  const std::size_t second = first + (keyLast ? data.size() : key.size());
  PutLe16(bytes, kLaidPage, 2);
  PutLe16(bytes, kLaidPage + 2, keyLast ? second : first);
  PutLe16(bytes, kLaidPage + 4, keyLast ? first : second);
  bytes += keyLast ? data : key;
  bytes += keyLast ? key : data;
  return bytes;
}

}  // namespace lumbra::testing
