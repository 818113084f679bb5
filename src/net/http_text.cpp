#include "net/http_text.h"

#include <algorithm>
#include <array>

#include "base/text_util.h"

namespace tarnvelox::net {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value of a run of at most `most` digits (all of `text`), or -1.
int64_t digits_value(std::string_view text, std::size_t most) {
    if (text.empty() || text.size() > most) return -1;
    int64_t value = 0;
    for (const char c : text) {
        if (!is_digit(c)) return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

}  // namespace

std::optional<std::string_view> body_of(std::string_view response) {
    const std::size_t end = response.find(kHeaderEnd);
    if (end == std::string_view::npos) return std::nullopt;
    return response.substr(end + kHeaderEnd.size());
}

std::optional<ResponseParts> split_response(std::string_view response) {
    for (std::size_t at = response.find('\n'); at != std::string_view::npos;
         at = response.find('\n', at + 1)) {
        std::size_t next = at + 1;
        if (next < response.size() && response[next] == '\r') ++next;
        if (next < response.size() && response[next] == '\n') {
            return ResponseParts{response.substr(0, at), response.substr(next + 1)};
        }
    }
    return std::nullopt;
}

std::optional<int64_t> content_length(std::string_view headers) {
    const std::optional<std::string_view> value = header_line(headers, "Content-Length");
    if (!value) return std::nullopt;
    const int64_t length = digits_value(*value, 18);
    if (length < 0) return std::nullopt;
    return length;
}

int64_t body_bytes_missing(std::string_view response) {
    const std::optional<ResponseParts> parts = split_response(response);
    if (!parts) return 0;
    const int code = http_status_code(response);
    if ((code >= 100 && code < 200) || code == 204 || code == 304) return 0;
    const std::optional<int64_t> length = content_length(parts->headers);
    const auto body = static_cast<int64_t>(parts->body.size());
    return length && *length > body ? *length - body : 0;
}

std::optional<std::string> header_value(std::string_view headers, std::string_view name,
                                        std::size_t skip) {
    const std::size_t at = base::find_nocase(headers, name);
    if (at == base::kNotFound) return std::nullopt;
    const std::string_view rest = headers.substr(std::min(at + skip, headers.size()));
    // The record line keeps at most 30 characters of it; a hostile 2 MB value is not kept whole.
    return std::string(rest.substr(0, std::min(rest.find('\r'), kMaxHeaderValue)));
}


int http_status_code(std::string_view response) {
    if (!response.starts_with("HTTP/")) return -1;
    std::size_t i = 5;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < response.size() && is_digit(response[i])) ++i;
        return i > from;
    };
    if (!digits() || i >= response.size() || response[i] != '.') return -1;
    ++i;
    if (!digits() || i >= response.size() || response[i] != ' ') return -1;
    const int64_t code = digits_value(response.substr(i + 1, 3), 3);
    if (code < 0 || response.substr(i + 1, 3).size() != 3) return -1;
    // A fourth digit makes it no status code.
    if (i + 4 < response.size() && is_digit(response[i + 4])) return -1;
    return static_cast<int>(code);
}

std::optional<std::string_view> header_line(std::string_view headers, std::string_view name) {
    std::size_t start = 0;
    while (start < headers.size()) {
        std::size_t end = headers.find('\n', start);
        if (end == std::string_view::npos) end = headers.size();
        const std::string_view line = headers.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            base::equal_nocase(base::trimmed(line.substr(0, colon)), name)) {
            return base::trimmed(line.substr(colon + 1));
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<int64_t> parse_http_date(std::string_view text) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    int64_t day = -1;
    int64_t month = -1;
    int64_t year = -1;
    int64_t seconds = -1;  // of the day
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == ',' || text[i] == '-' || text[i] == '\t') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != ',' && text[end] != '-' &&
               text[end] != '\t') {
            ++end;
        }
        const std::string_view token = text.substr(i, end - i);
        i = end;
        if (token.find(':') != std::string_view::npos) {
            if (token.size() != 8 || token[2] != ':' || token[5] != ':') return std::nullopt;
            const int64_t h = digits_value(token.substr(0, 2), 2);
            const int64_t m = digits_value(token.substr(3, 2), 2);
            const int64_t s = digits_value(token.substr(6, 2), 2);
            if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60) return std::nullopt;
            seconds = h * 3600 + m * 60 + s;
        } else if (is_digit(token.front())) {
            if (day < 0) {
                day = digits_value(token, 2);
                if (day < 1 || day > 31) return std::nullopt;
            } else if (year < 0) {
                year = digits_value(token, 4);
                if (year < 0 || (token.size() != 2 && token.size() != 4)) return std::nullopt;
                if (token.size() == 2) year += year < 70 ? 2000 : 1900;
            } else {
                return std::nullopt;
            }
        } else if (token.size() >= 3 && month < 0) {
            for (std::size_t m = 0; m < kMonths.size(); ++m) {
                if (base::equal_nocase(token, kMonths[m])) month = static_cast<int64_t>(m) + 1;
            }
            // Any other word (the weekday, "GMT") says nothing about the moment.
        }
    }
    if (day < 0 || month < 0 || year < 0 || seconds < 0) return std::nullopt;
    return days_from_civil(year, month, day) * 86400 + seconds;
}

std::optional<int64_t> retry_after_seconds(std::string_view headers, int64_t now) {
    const std::optional<std::string_view> value = header_line(headers, "Retry-After");
    if (!value) return std::nullopt;
    // Delay-seconds: digits only. Nine of them are more than thirty years.
    if (!value->empty() && std::all_of(value->begin(), value->end(), is_digit)) {
        return value->size() > 9 ? int64_t{999'999'999} : digits_value(*value, 9);
    }
    const std::optional<int64_t> when = parse_http_date(*value);
    if (!when) return std::nullopt;
    const std::optional<std::string_view> date = header_line(headers, "Date");
    const std::optional<int64_t> sent = date ? parse_http_date(*date) : std::nullopt;
    return std::max<int64_t>(0, *when - sent.value_or(now));
}

}  // namespace tarnvelox::net
