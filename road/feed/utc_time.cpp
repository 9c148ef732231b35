#include "feed/utc_time.h"

#include <cstdio>

namespace road {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";

struct CivilDay {
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
};

bool IsLeapYear(int year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(int year, unsigned month) noexcept {
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a day of the proleptic Gregorian calendar, counted in eras of 400
// years, which repeat exactly.
std::int64_t DaysFromCivil(const CivilDay& civil) noexcept {
  const int year = civil.month <= 2 ? civil.year - 1 : civil.year;
  const int era = year / 400;
  const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned month_from_march = civil.month > 2 ? civil.month - 3 : civil.month + 9;
  const unsigned day_of_year = (153 * month_from_march + 2) / 5 + civil.day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<std::int64_t>(era) * 146097 + day_of_era - 719468;
}

// The inverse of DaysFromCivil, for days from 1970 on.
CivilDay CivilFromDays(std::int64_t days) noexcept {
  days += 719468;
  const std::int64_t era = days / 146097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned month_from_march = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
  const unsigned month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
  const auto year = static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

// The decimal number in text[position, position + count); the shape was checked already.
unsigned Digits(std::string_view text, size_t position, size_t count) noexcept {
  unsigned value = 0;
  for (size_t i = position; i < position + count; ++i) {
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return value;
}

bool HasShape(std::string_view text) noexcept {
  if (text.size() != kShape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<UnixSeconds> ParseUtcTimestamp(std::string_view text) noexcept {
  if (!HasShape(text)) return std::nullopt;
  const CivilDay civil{static_cast<int>(Digits(text, 0, 4)), Digits(text, 5, 2),
                       Digits(text, 8, 2)};
  const std::int64_t hour = Digits(text, 11, 2);
  const std::int64_t minute = Digits(text, 14, 2);
  const std::int64_t second = Digits(text, 17, 2);
  if (civil.year < 1970 || civil.month < 1 || civil.month > 12 || civil.day < 1 ||
      civil.day > DaysInMonth(civil.year, civil.month) || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(civil) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

std::string UtcTimestampText(UnixSeconds seconds) {
  const std::int64_t days = seconds / kSecondsPerDay;
  const auto time = static_cast<unsigned>(seconds - days * kSecondsPerDay);
  const CivilDay civil = CivilFromDays(days);
  char text[32] = {};
  (void)std::snprintf(text, sizeof(text), "%04d-%02u-%02uT%02u:%02u:%02uZ", civil.year, civil.month,
                      civil.day, time / 3600, time / 60 % 60, time % 60);
  return text;
}

}  // namespace road
