// The link-list pages of the unreferenced-links job. While that job rewrites the pages below
// a chosen root, the external links it meets go to the link list serch.tmp in the start
// directory ("%s 0\n" lines). At its end they become two pages in INDEX_DIR named after the
// root: the HTML documents (search/htm/NAME.link_htm.htm) and the images
// (search/jpg/NAME.link_jpg.htm); then www_l.htm ("未参照一覧") lists every link page made so far.
// No frame page links to www_l.htm: it is opened as INDEX_DIR/www_l.htm.
//
// Pages are CP932 text with CR LF line ends. The system's own words are converted to CP932;
// the addresses are written as the bytes they came as, into the HREF attributes too, as every
// page of the system writes the links it was given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

inline constexpr std::string_view kLinkListName = "serch.tmp";

// A line of the link list is read into a buffer of this size, so it takes at most 249
// characters; the rest of a longer line is read as the next line.
inline constexpr std::size_t kLinkListLineBuffer = 250;

// Reads a link list from its bytes in pieces of any size, as a text-mode read with a
// kLinkListLineBuffer buffer cuts it into lines (CR LF taken as LF; a line of more than 249
// characters goes on as the next line), and takes each line's address: the line up to its
// first blank, line end or NUL. Every line is read, however many; the reader holds only the
// line it is in.
class LinkListReader {
 public:
  // Appends to `addresses` the address of each line that `bytes` completes.
  void Feed(std::string_view bytes, std::vector<std::string>& addresses);
  // The end of the list: appends the address of a last line that has no line end.
  void Finish(std::vector<std::string>& addresses);

 private:
  void Put(char c, std::vector<std::string>& addresses);
  void EndLine(std::vector<std::string>& addresses);

  std::string line_;
  bool crPending_ = false;  // a CR that a LF in the next piece would join
};

// The addresses of a whole link list, in file order (LinkListReader on one piece).
std::vector<std::string> ReadLinkList(std::string_view bytes);

// Which link page lists an address: by its last five characters in ASCII lower case, ".htm"
// or ".asp" the HTML list, else ".jpg", ".jpeg" or ".gif" the image list, else none.
enum class LinkListKind { None, Html, Image };
LinkListKind ClassifyLinkListAddress(std::string_view address);

// Writes the two link pages of the root named `pageName` from every line of serch.tmp
// (sorted byte-wise, each address once), deletes serch.tmp and writes www_l.htm. A name that is
// empty, "." or
// "..", or holds '/' or NUL (no page of its own could be named after it) becomes "_". When
// serch.tmp cannot be read, shows "ERROR : サーチ用一時ファイルが作成できません" and writes
// nothing; when a link page cannot be written whole, shows "ERROR :
// サーチファイルが作成できません", keeps the old pages and serch.tmp and stops. Returns the number
// of pages that could not be written, each also named in the execution log.
int WriteLinkListPages(const JobContext& ctx, Frontend& frontend, std::string_view pageName);

// Rewrites INDEX_DIR/www_l.htm: every "*.htm" page of search/htm, then of search/jpg, in the
// order the directory lists them. When it cannot be written whole, the old page stays and
// "ERROR : サーチファイルが作成できません" is shown. Returns 1 when it could not be written.
int WriteUnreferencedListPage(const JobContext& ctx, Frontend& frontend);

}  // namespace lumbra
