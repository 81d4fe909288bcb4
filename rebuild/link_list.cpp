#include "rebuild/link_list.h"

#include "core/ascii.h"
#include "rebuild/link_resolver.h"

namespace lumbra {

bool LinkList::Open(const std::string& path) {
  return file_.Open(path, platform::TextWriter::Mode::Truncate);
}

void LinkList::Record(std::string_view link, bool found) {
  if (found || !file_.isOpen() || HasMediaExtension(link)) return;
  std::string copy(link);
  if (copy.find("../") != std::string::npos || copy.find("/./") != std::string::npos) {
    copy = ResolveDotSegments(copy);
  }
  if (!ContainsNoCase(copy, "cgi-bin")) {
    std::size_t cut = FindEither(copy, '#', '?', 10);
    if (cut != std::string::npos) copy.resize(cut);
  }
  if (FindNoCase(copy, "http") != 0) return;
  if (copy.size() < kLinkListMax) {
    file_.Write(copy + " 0\n");
  } else {
    tooLong_.insert(std::move(copy));
  }
}

bool LinkList::Close() { return file_.Close(); }

}  // namespace lumbra
