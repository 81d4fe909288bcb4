// The link list of the unreferenced-links job: while that job rewrites the pages below its
// root, every external link that did not resolve to a local copy goes into the list file
// (serch.tmp in the start directory), one "%s 0\n" line each in text mode, for the link-list
// pages made at the job's end. The job opens the list once and hands it to the rewriting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra {

// Link-list lines are written only for links shorter than this: the link-list pages read the
// list in lines of at most 249 characters. A longer link is kept apart (tooLong()), for the job
// to report.
inline constexpr std::size_t kLinkListMax = 250;

class LinkList {
 public:
  LinkList() = default;
  ~LinkList() { Close(); }
  LinkList(const LinkList&) = delete;
  LinkList& operator=(const LinkList&) = delete;

  // Opens the list file `path`, emptied; false when it cannot be made (the links are then
  // skipped, and the link-list pages say that the list cannot be read).
  bool Open(const std::string& path);
  // Notes a link as the rewriting left it: one that did not resolve (`found` false), begins
  // with "http" and is shorter than kLinkListMax after its dot segments are resolved and its
  // query or fragment is cut (a cgi-bin link keeps its query) is added; a media file is not.
  void Record(std::string_view link, bool found);
  // Writes what is held; true when every line reached the file.
  bool Close();

  // The links that belonged in the list but were kLinkListMax characters or longer, each once.
  const std::set<std::string>& tooLong() const { return tooLong_; }
  // The links whose lines could not be written (a full disk, a file-size limit), each once:
  // none of them is in the file, which holds whole lines only.
  const std::set<std::string>& lost() const { return lost_; }

 private:
  // Lines are written in pieces of about this size.
  static constexpr std::size_t kChunk = 8192;
  void Flush();

  int fd_ = -1;
  std::uint64_t written_ = 0;              // bytes of whole lines in the file
  std::string pending_;                    // lines not written yet
  std::vector<std::string> pendingLinks_;  // their links
  std::set<std::string> tooLong_;
  std::set<std::string> listed_;  // links whose line is in the file
  std::set<std::string> lost_;
};

}  // namespace lumbra
