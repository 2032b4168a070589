#include "app/OutcomeReport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

std::string OutcomeReport::body(const RunFacts& facts) {
  std::string json = "{";
  auto key = [&](const char* name) {
    if (json.size() > 1)
      json += ',';
    json += '"';
    json += name;
    json += "\":";
  };
  auto text = [&](const char* name, const std::string& value) {
    key(name);
    json += '"';
    for (unsigned char c : value) {
      if (c == '"' || c == '\\') {
        json += '\\';
        json += static_cast<char>(c);
      } else if (c < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        json += escaped;
      } else {
        json += static_cast<char>(c);
      }
    }
    json += '"';
  };
  auto number = [&](const char* name, std::int64_t value) {
    key(name);
    json += std::to_string(value);
  };
  text("runId", facts.runId);
  text("installerVersion", facts.installerVersion);
  text("gameVersion", facts.gameVersion);
  text("promoteChannel", facts.promoteChannel);
  text("outcome", facts.outcome);
  number("exitCode", facts.exitCode);
  text("stage", facts.stage);
  number("queryMs", facts.queryMs);
  number("downloadMs", facts.downloadMs);
  number("verifyMs", facts.verifyMs);
  number("payloadMs", facts.payloadMs);
  number("bytes", facts.bytes);
  key("sourceBytes");
  json += '[';
  for (std::size_t i = 0; i < facts.sourceBytes.size(); ++i)
    json += (i ? "," : "") + std::to_string(facts.sourceBytes[i]);
  json += ']';
  number("retries", facts.retries);
  number("connections", facts.connections);
  number("averageRate", facts.downloadMs > 0 ? facts.bytes * 1000 / facts.downloadMs : 0);
  text("route", facts.route);
  text("windowsVersion", facts.windowsVersion);
  number("codePage", facts.codePage);
  return json + "}";
}

bool OutcomeReport::isReportUrl(const std::string& url) {
  std::string lower = url;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const bool secure = lower.rfind("https://", 0) == 0;
  if (!secure && lower.rfind("http://", 0) != 0)
    return false;
  const std::string rest = lower.substr(secure ? 8 : 7);
  const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.empty() || authority.find_first_of(" \t\r\n\\") != std::string::npos)
    return false;
  if (secure)
    return authority[0] != ':' && authority[0] != '@';
  // Plain HTTP only to this machine: no user part that would hide another host.
  if (authority.find('@') != std::string::npos)
    return false;
  std::string host = authority;
  if (host[0] == '[')
    host = host.substr(0, host.find(']') + 1);
  else
    host = host.substr(0, host.find(':'));
  if (host == "localhost" || host == "[::1]")
    return true;
  // 127.0.0.0/8 as four decimal parts.
  int parts = 0;
  std::size_t at = 0;
  while (at <= host.size()) {
    const std::size_t dot = std::min(host.find('.', at), host.size());
    const std::string part = host.substr(at, dot - at);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), ::isdigit) || std::stoi(part) > 255 ||
        (parts == 0 && part != "127"))
      return false;
    ++parts;
    at = dot + 1;
  }
  return parts == 4;
}

std::string OutcomeReport::runId(const unsigned char (&random)[16]) {
  static const char digits[] = "0123456789abcdef";
  std::string id;
  for (unsigned char byte : random) {
    id += digits[byte >> 4];
    id += digits[byte & 15];
  }
  return id;
}
