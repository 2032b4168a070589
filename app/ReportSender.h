#pragma once
// Sends the run's outcome report: one small JSON object POSTed to the publisher's
// address, over the route the download takes.
#include <string>

// UI thread, at the end of the run. The request runs on a thread of its own and is waited
// for at most `budgetMs`; a request still running then is left to end with the process.
class ReportSender {
public:
  // What became of it, for the log: "sent (HTTP 200)", "not sent: ...".
  static std::string send(const std::string& url, const std::string& body, unsigned budgetMs);
};
