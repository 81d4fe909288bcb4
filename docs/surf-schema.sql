-- An empty surf database, as Lumbra reads it:  sqlite3 lumbra.mdb < docs/surf-schema.sql
-- Lumbra reads the columns below by name and ignores any others; it never writes a row.

-- One row per site.
CREATE TABLE Param (
  ID     INTEGER PRIMARY KEY,       -- the site's key; only sites with ID 2 or more are handled
  "No"   INTEGER NOT NULL,          -- the site's position: sites are handled in ascending No
  LogDir TEXT NOT NULL DEFAULT '',  -- directory of the fetched files; empty: the site is off
  URL    TEXT NOT NULL DEFAULT '',  -- the start URL without its scheme, "host/dir/page.html"
  OnOff  INTEGER NOT NULL DEFAULT 1,  -- 1: the site is handled; anything else: skipped
  Mirror INTEGER NOT NULL DEFAULT 0   -- 1: copies of pages that are gone are deleted
);

-- One row per fetched URL of a site.
CREATE TABLE Lumbra_log (
  ParamID    INTEGER NOT NULL REFERENCES Param (ID),  -- the site
  URL        TEXT NOT NULL,      -- "http://host/path" as it was fetched
  ReadStatus INTEGER NOT NULL,   -- HTTP status of the last fetch
  PRIMARY KEY (ParamID, URL)     -- also the order in which a site's pages are read
);
