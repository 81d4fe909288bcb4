#include "platform/text_file.h"

#include <cerrno>

#include "platform/fs.h"

namespace lumbra::platform {

TextReader::~TextReader() { Close(); }

bool TextReader::Open(const std::string& path) {
  Close();
  ReadableFile file;
  if (file.Open(path, FollowLinks::Yes) != OpenError::None) return false;
  file_ = file.ReleaseAsStream();
  return file_ != nullptr;
}

void TextReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  pending_ = -1;
}

// The next character, a CR LF taken as one LF. A reader's stream is its own, read by one
// thread: the unlocked getc spares a lock per character while a job's other thread runs.
int TextReader::Get() {
  int c;
  if (pending_ >= 0) {
    c = pending_;
    pending_ = -1;
  } else {
    c = getc_unlocked(file_);
  }
  if (c == '\r') {
    int next = getc_unlocked(file_);
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

TextWriter::~TextWriter() {
  if (file_ != nullptr) std::fclose(file_);
  // A Replace writer that was never closed leaves the old file as it was.
}

bool TextWriter::Open(const std::string& path, Mode mode) {
  Close();
  failed_ = false;
  error_ = 0;
  pending_.clear();
  if (mode == Mode::Replace) {
    FileStatus old = GetStatus(path);
    mode_ = old.isRegular() ? (old.mode & 07777) : NormalFileMode();
    if (replacement_.Open(path)) return true;
    error_ = replacement_.error();
    return false;
  }
  file_ = std::fopen(path.c_str(), mode == Mode::Append ? "ab" : "wb");
  if (file_ == nullptr) error_ = errno;
  return file_ != nullptr;
}

bool TextWriter::isOpen() const { return file_ != nullptr || replacement_.isOpen(); }

void TextWriter::Put(std::string_view bytes) {
  if (file_ != nullptr) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) Fail(errno);
    return;
  }
  pending_ += bytes;
  if (pending_.size() >= kReplaceChunk) Flush();
}

bool TextWriter::Flush() {
  if (!pending_.empty() && !replacement_.Write(pending_)) Fail(replacement_.error());
  pending_.clear();
  return !failed_;
}

void TextWriter::Fail(int error) {
  failed_ = true;
  if (error_ == 0) error_ = error;
}

void TextWriter::Write(std::string_view bytes) {
  if (!isOpen()) return;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    Put(bytes.substr(start, i - start));
    Put("\r\n");
    start = i + 1;
  }
  Put(bytes.substr(start));
}

bool TextWriter::Close() {
  if (replacement_.isOpen()) {
    bool ok = Flush() && replacement_.Commit(mode_);
    if (!ok) {
      Fail(replacement_.error());
      replacement_.Abort();
    }
    return ok;
  }
  if (file_ == nullptr) return false;
  if (std::fclose(file_) != 0) Fail(errno);
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
