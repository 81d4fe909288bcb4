// A document as the jobs read it: a cached document (the file a browser stored, or the body a
// cache layout takes out of a larger file) or a page of the logs. Its status is its size and
// time as a document; its bytes are read from the first one on, as often as needed. Every
// job reads the documents of a cache through this seam and nothing else, so a cache layout
// that keeps its documents in some other form serves them without any job changing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs.h"

namespace lumbra {

class DocumentSource {
 public:
  virtual ~DocumentSource() = default;
  // The document's size and modification time (type Regular).
  virtual const platform::FileStatus& status() const = 0;
  // Reads the next bytes into `buffer`: their count, 0 at the end, -1 on a read error.
  virtual long Read(char* buffer, std::size_t size) = 0;
  // Goes back to the first byte; false when the document cannot be read again.
  virtual bool Rewind() = 0;
};

// A regular file as a document: the file that file() opens, read by offset, so that what
// else reads the open file never moves this document's place; it ends at the size the file
// had when it was opened, however much it grows while it is read.
class FileDocument : public DocumentSource {
 public:
  platform::ReadableFile& file() { return file_; }

  const platform::FileStatus& status() const override { return file_.status(); }
  long Read(char* buffer, std::size_t size) override;
  bool Rewind() override;

 private:
  platform::ReadableFile file_;
  std::uint64_t offset_ = 0;
};

// A document made by this program from bytes it is given one part after another (a body
// taken out of a cache entry, or decoded): held in memory while small, in an anonymous
// temporary file (gone with the object) once it grows beyond kInMemoryMax.
class SpooledDocument : public DocumentSource {
 public:
  static constexpr std::size_t kInMemoryMax = std::size_t{8} << 20;

  SpooledDocument();
  ~SpooledDocument() override;
  SpooledDocument(const SpooledDocument&) = delete;
  SpooledDocument& operator=(const SpooledDocument&) = delete;

  // Appends `bytes`; false when the temporary file could not take them (the document is then
  // unusable).
  bool Append(std::string_view bytes);
  // Forgets every byte and the temporary file.
  void Clear();
  // The document's time as its status gives it.
  void SetTime(std::int64_t mtime) { status_.mtime = mtime; }
  std::uint64_t size() const { return status_.size; }

  const platform::FileStatus& status() const override { return status_; }
  long Read(char* buffer, std::size_t size) override;
  bool Rewind() override;

 private:
  bool Spill();

  platform::FileStatus status_;
  std::string memory_;
  int spill_ = -1;  // the temporary file once the bytes left memory
  std::uint64_t offset_ = 0;
};

// Copies `document`, from its first byte, onto `target` and gives the target the normal
// mode. The target is replaced safely: written to a temporary file beside it and renamed over
// it only when complete. A read-only target (no owner write bit) is not replaced.
// `targetStatus`, when given, is the target's status as the caller has just seen it (links
// followed), so it is not asked again. Returns true when the target now holds the document's
// bytes; otherwise `error`, when given, receives the errno of the cause.
bool CopyDocument(const std::string& target, DocumentSource& document, int* error = nullptr,
                  const platform::FileStatus* targetStatus = nullptr);

// Whether `b`, read from its first byte, holds the bytes of `a` over the length of `a`
// (callers compare the sizes first); false when either cannot be read.
bool SameContent(DocumentSource& a, DocumentSource& b);

}  // namespace lumbra
