#include "testing/netscape_fixture.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "platform/fs.h"

extern char** environ;

namespace lumbra::testing {
namespace {

using Fields = std::vector<std::pair<std::string, std::size_t>>;

void AppendLe32(std::string& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void PutLe16(std::string& bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<char>(value & 0xff);
  bytes[offset + 1] = static_cast<char>(value >> 8);
}

// Builds an item field by field, noting where each begins.
class ItemWriter {
 public:
  ItemWriter(std::string& bytes, Fields& fields) : bytes_(bytes), fields_(fields) {}
  void Int(std::string name, std::int32_t value) {
    Mark(std::move(name));
    AppendLe32(bytes_, static_cast<std::uint32_t>(value));
  }
  void Bytes(std::string name, std::string_view value) {
    Mark(std::move(name));
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
  void Mark(std::string name) { fields_.emplace_back(std::move(name), bytes_.size()); }
  std::string& bytes_;
  Fields& fields_;
};

// Offset and end of `field` in `fields` (the end is the next field's start or `size`).
std::optional<std::pair<std::size_t, std::size_t>> FieldSpan(const Fields& fields,
                                                             std::string_view field,
                                                             std::size_t size) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].first != field) continue;
    return std::pair{fields[i].second, i + 1 < fields.size() ? fields[i + 1].second : size};
  }
  return std::nullopt;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.good()) throw std::runtime_error("cannot write " + path);
}

void MakeParents(const std::string& path, std::size_t from) {
  for (std::size_t i = path.find('/', from); i != std::string::npos; i = path.find('/', i + 1)) {
    ::mkdir(path.substr(0, i).c_str(), 0777);
  }
}

}  // namespace

NetscapeEntry NetscapeFile(std::string url, std::string fileName, std::string contentType,
                           std::string content) {
  NetscapeEntry e;
  e.url = std::move(url);
  e.fileName = std::move(fileName);
  e.contentType = std::move(contentType);
  e.content = std::move(content);
  return e;
}

NetscapeEntry IntEntry(std::string name) {
  NetscapeEntry e;
  e.rawKey = "INT" + name;
  e.writeFile = false;
  return e;
}

void NetscapeRecord::SetInt(std::string_view field, std::int32_t value) {
  bool inKey = FieldSpan(keyFields, field, key.size()).has_value();
  std::string& item = inKey ? key : data;
  auto span = FieldSpan(inKey ? keyFields : dataFields, field, item.size());
  if (!span) throw std::invalid_argument("no field " + std::string(field));
  std::string bytes;
  AppendLe32(bytes, static_cast<std::uint32_t>(value));
  item.replace(span->first, 4, bytes);
}

void NetscapeRecord::AddInt(std::string_view field, std::int32_t delta) {
  bool inKey = FieldSpan(keyFields, field, key.size()).has_value();
  const std::string& item = inKey ? key : data;
  auto span = FieldSpan(inKey ? keyFields : dataFields, field, item.size());
  if (!span) throw std::invalid_argument("no field " + std::string(field));
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(item[span->first + i]))
             << (8 * i);
  }
  SetInt(field, static_cast<std::int32_t>(value + static_cast<std::uint32_t>(delta)));
}

void NetscapeRecord::CutInside(std::string_view field) {
  for (auto [item, fields] : {std::pair{&key, &keyFields}, std::pair{&data, &dataFields}}) {
    if (auto span = FieldSpan(*fields, field, item->size())) {
      item->resize(span->second - 1);
      return;
    }
  }
  throw std::invalid_argument("no field " + std::string(field));
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

  const std::string size = std::to_string(pageSize);
  const std::string every = std::to_string(deleteEvery);
  const char* argv[] = {LUMBRA_MKHASH, output.c_str(), size.c_str(), input.c_str(),
                        "1234",        every.c_str(),  nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int spawned =
      posix_spawn(&pid, LUMBRA_MKHASH, &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    throw std::runtime_error("mkhash failed");
  }
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
  ::mkdir(dir.c_str(), 0777);
  for (const NetscapeEntry& entry : cache.entries) {
    if (!entry.writeFile) continue;
    std::string path = dir + "/" + entry.fileName;
    MakeParents(path, dir.size() + 1);
    WriteBytes(path, entry.content);
  }
  std::string indexPath = dir + "/fat.db";
  WriteBytes(indexPath, BuildNetscapeIndex(cache));
  return indexPath;
}

std::string LayNetscapeIndex(std::string_view key, std::string_view data, bool keyLast) {
  std::string bytes(kLaidPage + 6, '\0');
  const std::size_t first = 6;
  const std::size_t second = first + (keyLast ? data.size() : key.size());
  PutLe16(bytes, kLaidPage, 2);
  PutLe16(bytes, kLaidPage + 2, static_cast<std::uint16_t>(keyLast ? second : first));
  PutLe16(bytes, kLaidPage + 4, static_cast<std::uint16_t>(keyLast ? first : second));
  bytes += keyLast ? data : key;
  bytes += keyLast ? key : data;
  return bytes;
}

}  // namespace lumbra::testing
