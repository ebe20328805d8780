// Times of the history: formatting in UTC and the forms a user may give them in.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "history/History.h"

namespace pelmora::history {

namespace {

using namespace std::chrono;

// The times a calendar date in years 0000 to 9999 can have; others are clamped when formatted
// (they come only from a damaged or forged history), so the calendar never overflows.
constexpr std::int64_t kFirstTime = -62167219200;  // 0000-01-01T00:00:00Z
constexpr std::int64_t kLastTime = 253402300799;   // 9999-12-31T23:59:59Z

std::int64_t secondsOf(sys_days day) {
    return duration_cast<seconds>(day.time_since_epoch()).count();
}

// Reads fixed-width fields of decimal digits, and single characters, from the front of a text.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : m_text(text) {}
    bool done() const { return m_at == m_text.size(); }
    char peek() const { return done() ? '\0' : m_text[m_at]; }
    bool take(char c) {
        if (peek() != c) return false;
        ++m_at;
        return true;
    }
    template <typename... C>
    bool takeAny(C... cs) {
        return (take(cs) || ...);
    }
    bool number(std::size_t width, int& out) {
        if (m_text.size() - m_at < width) return false;
        out = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const char c = m_text[m_at + i];
            if (c < '0' || c > '9') return false;
            out = out * 10 + (c - '0');
        }
        m_at += width;
        return true;
    }
    bool digitsFollow() const { return peek() >= '0' && peek() <= '9'; }
    void skipDigits() {
        while (digitsFollow()) ++m_at;
    }

  private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

// "30d", "12w", "1y", "6h": back from `now`.
std::optional<std::int64_t> parseAge(std::string_view text, std::int64_t now) {
    if (text.size() < 2 || text.size() > 7) return std::nullopt;
    std::int64_t n = 0;
    const char* end = text.data() + text.size() - 1;
    const auto r = std::from_chars(text.data(), end, n);
    if (r.ec != std::errc() || r.ptr != end || n < 0) return std::nullopt;
    switch (text.back()) {
        case 'h':
            return now - n * 3600;
        case 'd':
            return now - n * 86400;
        case 'w':
            return now - n * 7 * 86400;
        case 'y': {
            if (now < kFirstTime || now > kLastTime || n > 9999) return std::nullopt;
            const sys_seconds t{seconds{now}};
            const sys_days day = floor<days>(t);
            year_month_day date{day};
            date -= years{n};
            if (!date.ok()) date = date.year() / date.month() / last;  // Feb 29 in a common year
            return secondsOf(sys_days{date}) + (t - day).count();
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

std::string formatUtc(std::int64_t time) {
    const sys_seconds t{seconds{std::clamp(time, kFirstTime, kLastTime)}};
    const sys_days day = floor<days>(t);
    const year_month_day date{day};
    const hh_mm_ss clock{t - day};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return buf;
}

std::optional<std::int64_t> parseTime(std::string_view text, bool endOfDay, std::int64_t now) {
    if (!text.empty() && text.back() >= 'a' && text.back() <= 'z' && text.back() != 'z')
        return parseAge(text, now);
    Cursor c(text);
    int y = 0, mo = 0, d = 0;
    if (!c.number(4, y)) return std::nullopt;
    const bool extended = c.take('-');
    if (!c.number(2, mo) || (extended && !c.take('-')) || !c.number(2, d)) return std::nullopt;
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                              day{static_cast<unsigned>(d)}};
    if (!date.ok()) return std::nullopt;  // 2026-02-30 and the like
    const std::int64_t midnight = secondsOf(sys_days{date});
    if (c.done()) return midnight + (endOfDay ? 86399 : 0);

    int h = 0, mi = 0, s = 0;
    if (!c.takeAny('T', 't', ' ') || !c.number(2, h)) return std::nullopt;
    const bool colons = c.take(':');
    if (!c.number(2, mi)) return std::nullopt;
    if ((colons ? c.take(':') : c.digitsFollow()) && !c.number(2, s)) return std::nullopt;
    if (c.takeAny('.', ',')) {
        if (!c.digitsFollow()) return std::nullopt;
        c.skipDigits();  // whole seconds are kept
    }
    if (h > 23 || mi > 59 || s > 59) return std::nullopt;
    std::int64_t offset = 0;
    if (!c.takeAny('Z', 'z') && !c.done()) {
        const char sign = c.peek();
        int oh = 0, om = 0;
        if (!c.takeAny('+', '-') || !c.number(2, oh)) return std::nullopt;
        const bool offsetColon = c.take(':');
        if ((offsetColon || c.digitsFollow()) && !c.number(2, om)) return std::nullopt;
        if (oh > 23 || om > 59) return std::nullopt;
        offset = (sign == '-' ? -1 : 1) * (oh * 3600 + om * 60);
    }
    if (!c.done()) return std::nullopt;
    return midnight + h * 3600 + mi * 60 + s - offset;
}

std::string formatInterval(std::int64_t seconds) {
    struct Unit {
        std::int64_t size;
        const char* name;
    };
    constexpr Unit kUnits[] = {{86400, "day"}, {3600, "hour"}, {60, "minute"}, {1, "second"}};
    for (const Unit& u : kUnits) {
        if (u.size > 1 && seconds < 2 * u.size) continue;
        const std::int64_t n = seconds / u.size;
        return std::to_string(n) + " " + u.name + (n == 1 ? "" : "s");
    }
    return {};
}

}  // namespace pelmora::history
