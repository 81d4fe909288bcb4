-- The sites of the bundled surf example, added to an empty database made with
-- docs/surf-schema.sql:  sqlite3 lumbra.mdb < docs/surf-schema.sql < examples/surf-sites.sql
-- The crawl lies in crawl/log below the start directory (examples/surf-crawl copied there).
INSERT INTO Param (ID, "No", LogDir, URL, OnOff, Mirror)
  VALUES (2, 1, 'crawl/log', 'www.example.net/index.html', 1, 0);
INSERT INTO Lumbra_log (ParamID, URL, ReadStatus) VALUES
  (2, 'http://www.example.net/index.html', 200),
  (2, 'http://www.example.net/about.html', 200),
  (2, 'http://www.example.net/img/mark.gif', 200),
  (2, 'http://www.example.net/archive/2001.html', 404);
