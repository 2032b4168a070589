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
  facts.stage = "payload";
  facts.route = "proxy";
  const std::string body = OutcomeReport::body(facts);
  EXPECT_EQ(body, R"({"runId":"0123456789abcdef0123456789abcdef","installerVersion":"",)"
                  R"("gameVersion":"1.2\"3\\\u000a","promoteChannel":"","outcome":"success","exitCode":0,"stage":"payload",)"
                  R"("queryMs":0,"downloadMs":2000,"verifyMs":0,"payloadMs":0,"bytes":4096,"sourceBytes":[4000,96],)"
                  R"("retries":0,"connections":0,"averageRate":2048,"route":"proxy","windowsVersion":"","codePage":936})");
  Json::Value root;
  std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  ASSERT_TRUE(reader->parse(body.data(), body.data() + body.size(), &root, nullptr)) << body;
  EXPECT_EQ(root["gameVersion"].asString(), facts.gameVersion);
  const unsigned char random[16] = {0x00, 0x01, 0xfe, 0xff};
  EXPECT_EQ(OutcomeReport::runId(random), "0001feff000000000000000000000000");
}
