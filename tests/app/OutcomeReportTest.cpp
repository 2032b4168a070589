#include "app/OutcomeReport.h"

#include <gtest/gtest.h>
#include <json/json.h>

TEST(OutcomeReport, OnlyHttpsOrPlainHttpToThisMachine) {
  const struct {
    const char* url;
    bool allowed;
  } cases[] = {
      {"https://reports.example.com/in", true},  {"HTTPS://reports.example.com", true},
      {"http://127.0.0.1:8902/report", true},    {"http://127.1.2.3/", true},
      {"http://localhost:80/r", true},           {"http://[::1]:9/r", true},
      {"http://example.com/r", false},           {"http://127.0.0.1.example.com/r", false},
      {"http://127.0.0.1@example.com/r", false}, {"http://10.0.0.1/r", false},
      {"http://127.0.0.256/r", false},           {"ftp://127.0.0.1/r", false},
      {"https://", false},                       {"https:///path", false},
      {"", false},                               {"127.0.0.1:8902/report", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(OutcomeReport::isReportUrl(c.url), c.allowed) << c.url;
}

// The body is one JSON object a collector parses, whatever a server put in the version.
TEST(OutcomeReport, BodyIsJsonWithEveryField) {
  RunFacts facts;
  facts.runId = "0123456789abcdef0123456789abcdef";
  facts.gameVersion = "1.2\"3\\\n";
  facts.outcome = "success";
  facts.exitCode = 0;
  facts.downloadMs = 2000;
  facts.bytes = 4096;
  facts.sourceBytes = {4000, 96};
  facts.codePage = 936;
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  const std::string body = OutcomeReport::body(facts);
  ASSERT_TRUE(reader->parse(body.data(), body.data() + body.size(), &root, nullptr)) << body;
  for (const char* key : {"runId", "installerVersion", "gameVersion", "promoteChannel", "outcome", "exitCode", "stage",
                          "queryMs", "downloadMs", "verifyMs", "payloadMs", "bytes", "sourceBytes", "retries", "connections",
                          "averageRate", "route", "windowsVersion", "codePage"})
    EXPECT_TRUE(root.isMember(key)) << key;
  EXPECT_EQ(root.size(), 19u);
  EXPECT_EQ(root["sourceBytes"][1].asInt(), 96);
  EXPECT_EQ(root["gameVersion"].asString(), facts.gameVersion);
  EXPECT_EQ(root["averageRate"].asInt(), 2048);
  EXPECT_EQ(root["codePage"].asInt(), 936);
  const unsigned char random[16] = {0x00, 0x01, 0xfe, 0xff};
  EXPECT_EQ(OutcomeReport::runId(random), "0001feff000000000000000000000000");
}
