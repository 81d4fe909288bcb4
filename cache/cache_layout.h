// The seam through which a browser cache hands over its documents. A cache layout is one
// object: it says whether a directory holds a cache of its kind, reads the entries of that
// cache into the entry table, and opens the document of an entry. The jobs see the cached
// documents only through it, so a layout that keeps its documents in some other form (one
// file holding key, headers and an encoded body; block files) plugs in with no job changing.
// The layouts a run knows are one table, probed in order: the first that holds the cache
// directory reads it, and the start checks ask the same table.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_table.h"
#include "core/document.h"
#include "core/frontend.h"
#include "core/job_context.h"
#include "platform/fs.h"

namespace lumbra {

// How the entry table stores the URL of a page without an extension: with ".html" added, or
// (Explorer 3.0) as a directory holding "home.html".
enum class PageWithoutExtension { File, Directory };

// The documents of one cache, opened one after another by one job.
class CachedDocuments {
 public:
  virtual ~CachedDocuments() = default;
  // Opens the document of `entry`, a row that this layout's ReadEntries gave (as
  // ReadCacheIndex normalised it): None with the document in `document`, Missing when it has
  // vanished, or why it is refused. Nothing outside the cache directory is ever read for it.
  virtual platform::OpenError Open(const CacheEntry& entry,
                                   std::unique_ptr<DocumentSource>& document) = 0;
  // The log text of a refusal that the last Open answered with `why`: by default the
  // reason of `why` alone; a layout that knows more (a damaged entry, a body that cannot be
  // decoded) says it.
  virtual std::string RefusalOf(platform::OpenError why) const;
};

class CacheLayout {
 public:
  virtual ~CacheLayout() = default;

  // A short name for listings and messages ("Explorer 4 to 9").
  virtual std::string_view name() const = 0;
  // The file whose presence marks a cache of this layout, from the cache directory on
  // ("/index.dat"): the start checks look for it, and take it for the cache's index.
  virtual std::string_view marker() const = 0;
  // Whether `cacheDir` holds a cache of this layout that can be read. By default: its marker
  // can be opened for reading. A directory of that name is no index file; a FIFO, device or
  // link of that name is taken as found, so that the reader refuses it with its message
  // instead of the layout going unnoticed.
  virtual bool Holds(const std::string& cacheDir) const;
  // Whether `cacheDir` shows the mark of this layout, links followed, whether or not the cache
  // can be read: the start checks take such a directory for a cache of this layout, and its
  // reader then says what is wrong with it. By default: its marker exists.
  virtual bool Marks(const std::string& cacheDir) const;
  // Appends the entries of the cache in `cacheDir` to `table` as the index gives them
  // (cacheFile relative to the cache directory); ReadCacheIndex normalises them. Its messages
  // go to the front end and the execution log. False when the index could not be copied for
  // reading (the cause has been shown).
  virtual bool ReadEntries(const JobContext& ctx, Frontend& frontend, const std::string& cacheDir,
                           CacheEntryTable& table) const = 0;
  // How the URL of a page without an extension is stored.
  virtual PageWithoutExtension pageWithoutExtension() const { return PageWithoutExtension::File; }
  // The documents of the cache in `cacheDir`, for one job. By default each entry's cacheFile
  // is its document, a regular file below the cache directory reached through real
  // directories only (see OpenCachedFile).
  virtual std::unique_ptr<CachedDocuments> Documents(const std::string& cacheDir) const;
};

// The layouts one run knows, in the order they are probed.
class CacheLayouts {
 public:
  // The layouts of the caches this system reads: Netscape ("/fat.db"), Internet Explorer 3.0
  // and other 3.x versions ("/cache1/mm256.dat"), Internet Explorer 4 to 9 ("/index.dat"),
  // Internet Explorer 2 ("/iexplore.cif") and Netscape on Unix ("/index.db"), in this order;
  // then the caches of today's browsers: Chromium's Simple Cache and blockfile ("/index", each
  // with its own magic) and Firefox's cache2 ("/entries", a directory).
  static CacheLayouts BuiltIn();

  // Appends a layout, probed after those already known.
  void Add(std::unique_ptr<CacheLayout> layout);
  // The first layout that holds `cacheDir`; null when none does.
  const CacheLayout* Find(const std::string& cacheDir) const;
  // The first layout that marks `cacheDir` (Marks); null when none does.
  const CacheLayout* Marked(const std::string& cacheDir) const;
  // Every layout, in the order they are probed.
  const std::vector<std::unique_ptr<CacheLayout>>& all() const { return layouts_; }

 private:
  std::vector<std::unique_ptr<CacheLayout>> layouts_;
};

}  // namespace lumbra
