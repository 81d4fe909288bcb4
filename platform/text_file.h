// Text files as the system writes and reads them: written with CR LF line ends (the form
// they have on Windows, so files can be exchanged), read accepting CR LF and LF alike.
// Bytes are not converted: callers convert their own texts with platform/codepage.h.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/fs.h"

namespace lumbra::platform {

// Reads a text file in chunks: each ReadChunk takes at most `bufferSize - 1` characters,
// stopping after the first '\n', and a CR directly before a LF is dropped. A line longer than
// the chunk therefore arrives in several chunks; the readers of the system's files take each
// chunk for a line where their rules say so.
class TextReader {
 public:
  TextReader() = default;
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Opens a regular file (links followed); a FIFO or device is refused without blocking,
  // as a file that cannot be opened.
  bool Open(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }
  // False at the end of the file (nothing read).
  bool ReadChunk(std::size_t bufferSize, std::string& out);
  // A whole line without its line end (CR LF or LF); false at the end of the file.
  bool ReadLine(std::string& out);
  void Close();

 private:
  int Get();
  std::FILE* file_ = nullptr;
  int pending_ = -1;  // one byte read ahead after a CR
};

// Writes a text file: every '\n' written becomes CR LF. Errors are remembered, and Close
// tells whether everything reached the file.
class TextWriter {
 public:
  // Replace writes the new file beside the old one and renames it over it at Close, only
  // when every byte was written: a failure leaves the old file whole. The new file keeps the
  // old one's mode (or gets the normal mode).
  enum class Mode { Truncate, Append, Replace };

  TextWriter() = default;
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  bool Open(const std::string& path, Mode mode);
  bool isOpen() const;
  void Write(std::string_view bytes);
  // True when the file was open and every write and the close succeeded.
  bool Close();
  // The errno of the first failure of Open, a write or Close (0 when none).
  int error() const { return error_; }

 private:
  static constexpr std::size_t kReplaceChunk = 65536;
  void Put(std::string_view bytes);
  bool Flush();
  void Fail(int error);

  std::FILE* file_ = nullptr;
  AtomicFileWriter replacement_;
  std::string pending_;  // Replace: written in large pieces
  mode_t mode_ = 0;
  bool failed_ = false;
  int error_ = 0;
};

// Appends `bytes` (with '\n' as CR LF) to a text file, opening and closing it; true on success.
bool AppendText(const std::string& path, std::string_view bytes);
// Creates or truncates a file to zero length; true on success.
bool TruncateFile(const std::string& path);

}  // namespace lumbra::platform
