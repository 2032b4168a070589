#include "download/RetrySchedule.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#ifdef QX_TEST_HOOKS
#include <cstdlib>
#endif

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

int monthNumber(const char* name) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int i = 0; i < 12; ++i)
    if (std::strcmp(name, kMonths[i]) == 0) return i + 1;
  return 0;
}

// The three date forms HTTP allows: "Sun, 06 Nov 1994 08:49:37 GMT", the obsolete
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994". Unix seconds.
std::optional<std::int64_t> httpDate(const std::string& text) {
  char weekday[16] = {}, month[4] = {}, zone[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0, end = 0;
  const char* s = text.c_str();
  bool ok = std::sscanf(s, "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d %3[A-Z]%n", weekday, &day, month, &year, &hour,
                        &minute, &second, zone, &end) == 8 && std::strcmp(zone, "GMT") == 0;
  if (!ok) {
    ok = std::sscanf(s, "%15[A-Za-z], %2d-%3[A-Za-z]-%2d %2d:%2d:%2d %3[A-Z]%n", weekday, &day, month, &year, &hour,
                     &minute, &second, zone, &end) == 8 && std::strcmp(zone, "GMT") == 0;
    if (ok) year += year < 70 ? 2000 : 1900;
  }
  if (!ok) {
    ok = std::sscanf(s, "%3[A-Za-z] %3[A-Za-z] %2d %2d:%2d:%2d %4d%n", weekday, month, &day, &hour, &minute, &second,
                     &year, &end) == 7;
  }
  const int monthIndex = ok ? monthNumber(month) : 0;
  if (!ok || monthIndex == 0 || text.find_first_not_of(' ', static_cast<std::size_t>(end)) != std::string::npos ||
      day < 1 || day > 31 || year < 1970 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 60) {
    return std::nullopt;
  }
  return daysFromCivil(year, static_cast<unsigned>(monthIndex), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
         minute * 60 + second;
}

} // namespace

RetrySchedule::RetrySchedule(Clock clock, Random random)
    : clock_(std::move(clock)), random_(std::move(random)) {
  lastProgressMs_ = clock_();
}

void RetrySchedule::progressed() {
  failures_ = 0;
  lastProgressMs_ = clock_();
}

std::optional<std::int64_t> RetrySchedule::failed(std::optional<std::int64_t> retryAfterMs) {
  ++failures_;
  if (failures_ >= kAttemptsWithoutProgress || clock_() - lastProgressMs_ >= kTimeWithoutProgressMs) {
    return std::nullopt;
  }
  // 1 s, 2 s, 4 s ... doubling up to the cap; the shift stays small because the budget
  // ends the run of failures long before it could overflow.
  const std::int64_t base = std::min(kFirstDelayMs << (failures_ - 1), kMaxDelayMs);
  const double factor = 1.0 + kJitter * (2.0 * random_() - 1.0);
  std::int64_t delay = static_cast<std::int64_t>(static_cast<double>(base) * factor + 0.5);
#ifdef QX_TEST_HOOKS
  // A scenario that waits out the whole budget under Wine takes the same steps in a tenth
  // of the time; the server's Retry-After stays a floor.
  if (const char* divisor = std::getenv("QX_TEST_RETRY_DIVISOR")) delay /= std::max(1L, std::strtol(divisor, nullptr, 10));
#endif
  if (retryAfterMs) delay = std::max(delay, std::clamp<std::int64_t>(*retryAfterMs, 0, kMaxRetryAfterMs));
  return delay;
}

bool RetrySchedule::transientStatus(int status) {
  return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

std::optional<std::int64_t> RetrySchedule::retryAfterMs(const std::string& value, std::int64_t nowUnixSeconds) {
  const std::size_t first = value.find_first_not_of(' ');
  if (first == std::string::npos) return std::nullopt;
  const std::size_t last = value.find_last_not_of(' ');
  const std::string text = value.substr(first, last - first + 1);
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    // Delay seconds; anything beyond a day is as good as a day to the caller's cap.
    std::int64_t seconds = 0;
    for (char c : text) seconds = std::min<std::int64_t>(seconds * 10 + (c - '0'), 86400);
    return seconds * 1000;
  }
  const std::optional<std::int64_t> at = httpDate(text);
  if (!at) return std::nullopt;
  return std::max<std::int64_t>(*at - nowUnixSeconds, 0) * 1000;
}
