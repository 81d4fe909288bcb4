#include "platform/text_file.h"

namespace lumbra::platform {

TextReader::~TextReader() { Close(); }

bool TextReader::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "rb");
  return file_ != nullptr;
}

void TextReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  pending_ = -1;
}

// One character as a text-mode read gives it: CR LF arrives as LF.
int TextReader::Get() {
  int c;
  if (pending_ >= 0) {
    c = pending_;
    pending_ = -1;
  } else {
    c = std::fgetc(file_);
  }
  if (c == '\r') {
    int next = std::fgetc(file_);
    if (next == '\n') return '\n';
    if (next != EOF) pending_ = next;
  }
  return c;
}

bool TextReader::ReadChunk(std::size_t bufferSize, std::string& out) {
  out.clear();
  if (file_ == nullptr || bufferSize < 2) return false;
  while (out.size() + 1 < bufferSize) {
    int c = Get();
    if (c == EOF) break;
    out.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !out.empty();
}

bool TextReader::ReadLine(std::string& out) {
  out.clear();
  if (file_ == nullptr) return false;
  int c = Get();
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    out.push_back(static_cast<char>(c));
    c = Get();
  }
  return true;
}

TextWriter::~TextWriter() { Close(); }

bool TextWriter::Open(const std::string& path, Mode mode) {
  Close();
  file_ = std::fopen(path.c_str(), mode == Mode::Append ? "ab" : "wb");
  failed_ = false;
  return file_ != nullptr;
}

void TextWriter::Write(std::string_view bytes) {
  if (file_ == nullptr) return;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    if (std::fwrite(bytes.data() + start, 1, i - start, file_) != i - start) failed_ = true;
    if (std::fwrite("\r\n", 1, 2, file_) != 2) failed_ = true;
    start = i + 1;
  }
  std::size_t rest = bytes.size() - start;
  if (rest > 0 && std::fwrite(bytes.data() + start, 1, rest, file_) != rest) failed_ = true;
}

bool TextWriter::Close() {
  if (file_ == nullptr) return false;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

bool AppendText(const std::string& path, std::string_view bytes) {
  TextWriter writer;
  if (!writer.Open(path, TextWriter::Mode::Append)) return false;
  writer.Write(bytes);
  return writer.Close();
}

bool TruncateFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  return std::fclose(f) == 0;
}

}  // namespace lumbra::platform
