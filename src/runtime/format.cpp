#include "runtime/format.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace vr {

namespace {

// Rounds |value| half away from zero to `decimals` places and returns the
// digits as integer part and fraction text.
void SplitRounded(double value, int decimals, std::string& whole, std::string& frac) {
  const double scale = std::pow(10.0, decimals);
  // A tiny nudge keeps values such as 2.045 (stored just below) rounding up.
  const double scaled = std::floor(std::fabs(value) * scale + 0.5 + 1e-9);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.0f", scaled);
  std::string digits = buf;
  if (static_cast<int>(digits.size()) <= decimals)
    digits = std::string(decimals + 1 - digits.size(), '0') + digits;
  whole = digits.substr(0, digits.size() - decimals);
  frac = digits.substr(digits.size() - decimals);
}

std::string GroupThousands(const std::string& digits) {
  std::string out;
  const int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    out += digits[i];
    if ((n - 1 - i) % 3 == 0 && i != n - 1) out += ',';
  }
  return out;
}

}  // namespace

std::string Format(double value, const std::string& picture) {
  const auto point = picture.find('.');
  const int decimals =
      point == std::string::npos ? 0 : static_cast<int>(picture.size() - point - 1);
  const std::string intPart = picture.substr(0, point);
  const bool grouped = intPart.find(',') != std::string::npos;
  const bool forceDigit = !intPart.empty() && intPart.back() == '0';

  std::string whole, frac;
  SplitRounded(value, decimals, whole, frac);
  const bool isZero = whole.find_first_not_of('0') == std::string::npos &&
                      frac.find_first_not_of('0') == std::string::npos;
  if (whole == "0" && !forceDigit) whole.clear();
  if (grouped) whole = GroupThousands(whole);
  std::string out = whole;
  if (decimals > 0) out += "." + frac;
  if (value < 0 && !isZero) out = "-" + out;
  return out;
}

std::string Str(int64_t n) { return std::to_string(n); }

std::string NumText(int64_t n) { return (n >= 0 ? " " : "") + std::to_string(n) + " "; }

std::string SingleText(float value) {
  if (value == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(value));
  std::string s = buf;
  if (s.find('e') == std::string::npos && s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s.rfind("0.", 0) == 0) s.erase(0, 1);
  if (s.rfind("-0.", 0) == 0) s.erase(1, 1);
  return s;
}

namespace {
double g_timerSkipped = 0;
}  // namespace

void AdvanceTimer(double Seconds) { g_timerSkipped += Seconds; }

double Timer() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const double frac = duration<double>(now.time_since_epoch()).count() - static_cast<double>(t);
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + frac;
  return std::fmod(seconds + g_timerSkipped, 86400.0);
}

std::string Printable(const std::string& Name) {
  std::string out;
  out.reserve(Name.size());
  for (const char ch : Name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      out.push_back('?');
    } else if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace vr
