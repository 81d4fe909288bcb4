#include "cache/stored_response.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lumbra {
namespace {

using namespace std::literals;

TEST(StoredResponseTest, TheUrlInsideACacheKey) {
  struct Case {
    std::string_view key;
    std::string_view url;
  };
  for (const Case& c : std::vector<Case>{
           {"1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://localhost:47811/img/badge.png",
            "http://localhost:47811/img/badge.png"},
           {"1/0/_dk_s_https://a.example https://b.example https://b.example/x?q=a b",
            "b"},  // a space is never part of a URL in a key: the text after the last one
           {"http://plain.example/", "http://plain.example/"},
       }) {
    EXPECT_EQ(UrlOfChromiumKey(c.key), c.url) << c.key;
  }
  for (const Case& c : std::vector<Case>{
           {"O^partitionKey=%28http%2C127.0.0.1%29,:http://localhost:47811/img/badge.png",
            "http://localhost:47811/img/badge.png"},
           {"a,:http://h/p:8", "http://h/p:8"},
           {":http://h/", "http://h/"},
           {"O^x=a,,:b,a,:http://h/", "http://h/"},  // ",," is a comma inside an attribute
           {":about:home", "about:home"},
           {"O^partitionKey=(http,h)", ""},  // no URL
           {"", ""},
       }) {
    EXPECT_EQ(UrlOfFirefoxKey(c.key), c.url) << c.key;
  }
}

TEST(StoredResponseTest, TheStatusAndTypesOfAResponseHead) {
  StoredResponse chromium;
  ReadResponseHead(
      "HTTP/1.1 203 Non-Authoritative\0content-TYPE: text/html; charset=Shift_JIS\0"
      "Content-Encoding:  gzip \0Content-Type: image/png\0\0"sv,
      chromium);
  EXPECT_EQ(chromium.status, 203);
  EXPECT_EQ(chromium.contentType, "text/html; charset=Shift_JIS");
  EXPECT_EQ(chromium.contentEncoding, "gzip");

  StoredResponse firefox;
  ReadResponseHead("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\n", firefox);
  EXPECT_EQ(firefox.status, 404);
  EXPECT_EQ(firefox.contentType, "text/html");
  EXPECT_EQ(firefox.contentEncoding, "");

  for (std::string_view bad : {"", "200 OK\r\n", "HTTP/1.1 2x0 OK", "HTTP/1.1"}) {
    StoredResponse none;
    ReadResponseHead(bad, none);
    EXPECT_EQ(none.status, 0) << bad;
  }
}

TEST(StoredResponseTest, OnlyTheNewestDocumentOfAWebUrlBecomesARow) {
  JobContext ctx;
  StoredResponses read(ctx, "test");
  auto add = [&](std::string url, int status, std::int64_t fetched, std::string locator) {
    read.Add(StoredResponse{std::move(url), status, "text/html", "", fetched}, std::move(locator));
  };
  add("http://h/a", 200, 10, "1");
  add("http://h/moved", 301, 10, "2");
  add("about:home", 200, 10, "3");
  add("http://h/a", 200, 30, "4");  // the same URL fetched later, under another key
  add("https://h/b", 203, 10, "5");
  add("http://h/a", 200, 20, "6");
  add("http://h/gone", 404, 10, "7");
  add("ftp://h/c", 200, 10, "8");
  CacheEntryTable table;
  read.AppendTo(table);
  std::vector<std::string> rows;
  for (int i = 0; i < table.count(); ++i)
    rows.push_back(table.row(i).cacheFile + " " + table.row(i).url);
  EXPECT_EQ(rows, (std::vector<std::string>{"4 http://h/a", "5 https://h/b"}));
}

}  // namespace
}  // namespace lumbra
