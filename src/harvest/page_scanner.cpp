#include "harvest/page_scanner.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text_util.h"
#include "harvest/crawl_scope.h"
#include "harvest/found_item.h"
#include "harvest/modern_reader.h"
#include "harvest/page_harvest.h"
#include "harvest/page_text.h"
#include "harvest/url_resolve.h"
#include "store/item_list.h"
#include "store/item_record.h"

// One pass from start to end. Every search that a tag makes beyond its own text (the next quote,
// ">", "</A>", link text start...) goes through a remembering Lookahead or the remembered
// link-text walk, so that hostile pages (thousands of unclosed anchors or quotes) stay linear.

namespace tarnvelox::harvest {
namespace {

using base::find_nocase;
using base::is_space;
using base::to_upper;

constexpr std::size_t kNone = std::string_view::npos;
// An "&" starts an entity only when its ";" lies within this many characters; a longer run is
// ordinary text, so a stray "&" cannot hide the address or tag that follows it.
constexpr std::size_t kMaxEntityReach = 7;
// Attribute values and link texts are copied into a working buffer of this size.
constexpr std::size_t kMaxValue = kWorkBuffer;
// An over-long area href keeps one character less than the other values: its buffer holds the
// terminator.
constexpr std::size_t kMaxAreaValue = kWorkBuffer - 1;

[[nodiscard]] bool starts_with_nocase(std::string_view text, std::size_t pos,
                                      std::string_view word) {
    if (pos > text.size() || text.size() - pos < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (to_upper(text[pos + i]) != to_upper(word[i])) return false;
    }
    return true;
}

// Searches for one kind of match whose start lies in [from, end); kNone when there is none. A
// match may read past `end` (only its start is bounded).
using Finder = std::size_t (*)(std::string_view text, char c, std::size_t from, std::size_t end);

std::size_t find_char(std::string_view text, char c, std::size_t from, std::size_t end) {
    if (from >= end) return kNone;
    const void* hit = std::memchr(text.data() + from, c, end - from);
    return hit == nullptr ? kNone : static_cast<const char*>(hit) - text.data();
}

// "/A" in either case: where an anchor's link text ends.
std::size_t find_anchor_end(std::string_view text, char, std::size_t from, std::size_t end) {
    for (std::size_t p = from; (p = find_char(text, '/', p, end)) != kNone; ++p) {
        if (p + 1 < text.size() && to_upper(text[p + 1]) == 'A') return p;
    }
    return kNone;
}

// A "<" followed by "/" or by "OPTION": where an option's text ends.
std::size_t find_option_end(std::string_view text, char, std::size_t from, std::size_t end) {
    for (std::size_t p = from; (p = find_char(text, '<', p, end)) != kNone; ++p) {
        if ((p + 1 < text.size() && text[p + 1] == '/') ||
            starts_with_nocase(text, p + 1, "OPTION")) {
            return p;
        }
    }
    return kNone;
}

// Answers "where is the next match at or after p" and remembers the answer, so that a stretch of
// text is searched once however many tags ask about it (a thousand anchors without a closing
// "</A>" would otherwise each search the rest of the page). Exact for any p: a question behind
// the remembered start searches only the gap up to that start.
class Lookahead {
public:
    Lookahead(std::string_view text, Finder find, char c = '\0')
        : text_(text), find_(find), c_(c) {}

    [[nodiscard]] std::size_t next(std::size_t p) {
        if (p >= text_.size()) return kNone;
        if (from_ != kNone && p >= from_ && (at_ == kNone || p <= at_)) return at_;
        if (from_ != kNone && p < from_) {
            const std::size_t hit = find_(text_, c_, p, from_);
            if (hit != kNone) at_ = hit;
        } else {
            at_ = find_(text_, c_, p, text_.size());
        }
        from_ = p;
        return at_;
    }

private:
    std::string_view text_;
    Finder find_;
    char c_;
    std::size_t from_ = kNone;  // the first match at or after from_ is at_ (kNone: no match)
    std::size_t at_ = kNone;
};

// What a tag handler found. An anchor's link text is looked for only when its link is about to
// be recorded, from anchor_value_end.
struct TagLink {
    bool claimed = false;
    std::optional<std::string> url;
    std::optional<std::string> text;
    std::size_t anchor_value_end = kNone;
};

[[nodiscard]] TagLink claimed(std::optional<std::string> url,
                              std::optional<std::string> text = std::nullopt) {
    TagLink link;
    link.claimed = true;
    link.url = std::move(url);
    link.text = std::move(text);
    return link;
}

class PageScanner {
public:
    PageScanner(HarvestEnv& env, int slot, store::ItemRecord* page, std::string_view text,
                PageEnd text_end)
        : harvest_(env, slot, page, text),
          env_(env),
          slot_(slot),
          page_(page),
          text_(text),
          text_end_(text_end),
          lts_(text, find_char, '<'),
          amps_(text, find_char, '&'),
          ats_(text, find_char, '@'),
          gts_(text, find_char, '>'),
          quotes_(text, find_char, '"'),
          blanks_(text, find_char, ' '),
          semicolons_(text, find_char, ';'),
          text_lts_(text, find_char, '<'),
          anchor_ends_(text, find_anchor_end),
          option_ends_(text, find_option_end) {}
    PageScanner(const PageScanner&) = delete;
    PageScanner& operator=(const PageScanner&) = delete;

    // Scans the page; returns the number of addresses recorded from it.
    int run();

private:
    std::size_t scan_tag(std::size_t t);
    std::size_t skip_entity(std::size_t amp) const;
    void take_title(std::size_t gt);
    TagLink offer_tag(std::size_t t);
    struct Span {
        std::size_t begin;
        std::size_t end;
    };
    [[nodiscard]] std::optional<Span> value_after_equals(std::size_t eq);
    TagLink anchor(std::size_t p);
    TagLink input(std::size_t t);
    TagLink area(std::size_t t, std::size_t p);
    TagLink option(std::size_t t, std::size_t p);
    TagLink frame(std::size_t t, std::size_t p);
    void handle_link(TagLink& link);
    std::optional<std::string> anchor_text(std::size_t value_end, std::string_view url);
    std::size_t text_start(std::size_t p);
    std::optional<std::string> input_attribute(std::size_t t, std::size_t end,
                                               std::string_view name);

    [[nodiscard]] std::size_t skip_ws(std::size_t p) const {
        while (p < text_.size() && is_space(text_[p])) ++p;
        return p;
    }
    [[nodiscard]] bool at(std::size_t p, char c) const { return p < text_.size() && text_[p] == c; }
    [[nodiscard]] std::string copy(std::size_t begin, std::size_t end, std::size_t cap) const {
        return std::string(text_.substr(begin, std::min(end - begin, cap)));
    }
    // The ">" that closes the tag at t, found outside quotes; computed once per tag.
    [[nodiscard]] std::size_t closing(std::size_t t) {
        if (closing_for_ != t) {
            closing_for_ = t;
            closing_at_ = find_outside_quotes(text_, '>', t);
        }
        return closing_at_;
    }

    PageHarvest harvest_;
    HarvestEnv& env_;
    const int slot_;
    store::ItemRecord* const page_;
    const std::string_view text_;
    const PageEnd text_end_;

    Lookahead lts_, amps_, ats_;  // the main loop's stops
    // Searches from inside tags. Link texts have a "<" search of their own: it runs ahead of
    // the main loop's, and sharing one would make each search the other's stretch again.
    Lookahead gts_, quotes_, blanks_, semicolons_, text_lts_, anchor_ends_, option_ends_;
    std::size_t closing_for_ = kNone;
    std::size_t closing_at_ = kNone;
    std::size_t last_anchor_end_ = kNone;  // an anchor text end and the "<" that opens it
    std::size_t last_anchor_end_open_ = kNone;

    // The last complete link-text walk: every non-blank position it examined, ascending, and
    // where it ended. A later walk that steps on one of these positions ends there too.
    std::vector<std::size_t> waypoints_;
    std::vector<std::size_t> fresh_;
    std::size_t waypoint_head_ = 0;
    std::size_t walk_result_ = kNone;
};

int PageScanner::run() {
    if (!harvest_.begin()) return 0;
    const bool extract_ok = harvest_.extract_ok();

    std::size_t pos = 0;
    while (pos < text_.size()) {
        std::size_t next = std::min(lts_.next(pos), amps_.next(pos));
        if (extract_ok) next = std::min(next, ats_.next(pos));
        if (next == kNone) break;
        pos = next;
        switch (text_[pos]) {
            case '<':
                pos = scan_tag(pos);
                break;
            case '&':
                pos = skip_entity(pos);
                break;
            default:  // "@"
                pos = std::max(recognise_address_at(env_, slot_, page_, text_, pos, text_end_),
                               pos + 1);
                break;
        }
    }

    return harvest_.finish();
}

std::size_t PageScanner::skip_entity(std::size_t amp) const {
    const std::size_t reach = std::min(kMaxEntityReach, text_.size() - amp - 1);
    const std::size_t semicolon = find_char(text_, ';', amp + 1, amp + 1 + reach);
    return semicolon == kNone ? amp + 1 : semicolon + 1;
}

// Handles the tag at t; returns where the scan goes on, kNone to stop.
std::size_t PageScanner::scan_tag(std::size_t t) {
    if (starts_with_nocase(text_, t, "<TITLE")) {
        const std::size_t gt = gts_.next(t);
        if (gt == kNone) return kNone;
        take_title(gt);
        return gt + 1;  // the title's words are running text as well
    }
    TagLink link = offer_tag(t);
    if (link.url) handle_link(link);
    const std::size_t close = closing(t);
    return close == kNone ? kNone : close + 1;
}

void PageScanner::take_title(std::size_t gt) {
    if (page_ == nullptr) return;
    std::string title(text_.substr(gt + 1, kMaxTitle));
    // The title ends at its closing tag: whatever follows it within the 50 characters belongs
    // to the page, not to its title.
    if (const std::size_t end = base::find_nocase(title, "</title"); end != base::kNotFound) {
        title.resize(end);
    }
    strip_markup(title);
    if (const std::size_t lt = title.find('<'); lt != std::string::npos) title.resize(lt);
    std::replace(title.begin(), title.end(), '\n', ' ');
    std::replace(title.begin(), title.end(), '\r', ' ');
    base::trim(title);
    title.erase(std::unique(title.begin(), title.end(),
                            [](char a, char b) { return a == ' ' && b == ' '; }),
                title.end());
    harvest_.set_title(std::move(title));
}

// The handlers are told apart by the first letter after "<" and blanks, so trying only the
// handlers for that letter keeps the order anchor, input, area, option, frame.
TagLink PageScanner::offer_tag(std::size_t t) {
    const std::size_t p = skip_ws(t + 1);
    if (p >= text_.size()) return {};
    switch (to_upper(text_[p])) {
        case 'A': {
            TagLink link = anchor(p);
            return link.claimed ? std::move(link) : area(t, p);
        }
        case 'I':
            return input(t);
        case 'O':
            return option(t, p);
        case 'F':
            return frame(t, p);
        default:
            return {};
    }
}

// The value of an attribute whose "=" is at `eq`: after blanks, a double-quoted value runs to
// the next double quote, any other to the next ">" (taking later attributes with it). None when
// that end is missing.
std::optional<PageScanner::Span> PageScanner::value_after_equals(std::size_t eq) {
    const std::size_t p = skip_ws(eq + 1);
    if (p >= text_.size()) return std::nullopt;
    const bool quoted = text_[p] == '"';
    const std::size_t begin = quoted ? p + 1 : p;
    const std::size_t end = quoted ? quotes_.next(begin) : gts_.next(begin);
    if (end == kNone) return std::nullopt;
    return Span{begin, end};
}

// "<A HREF=value": HREF must be the first attribute. A quoted value runs to the next double
// quote, any other to the next ">" (taking later attributes with it).
TagLink PageScanner::anchor(std::size_t p) {
    ++p;  // the "A"
    if (p >= text_.size() || !is_space(text_[p])) return {};
    p = skip_ws(p);
    if (!starts_with_nocase(text_, p, "HREF")) return {};
    p = skip_ws(p + 4);
    if (!at(p, '=')) return {};
    const std::optional<Span> value = value_after_equals(p);
    if (!value) return {};
    const std::size_t end = value->end;
    std::string url = copy(value->begin, end, kMaxValue);
    if (const std::size_t gt = url.find('>'); gt != std::string::npos) url.resize(gt);
    if (url.find('#') != std::string::npos) return {};
    resolve_link(page_, url);
    TagLink link = claimed(std::move(url));
    link.anchor_value_end = end;
    return link;
}

// "<INPUT": the link is its "value" (else "src") attribute, the text its "name". Buttons and
// hidden fields carry no link.
TagLink PageScanner::input(std::size_t t) {
    const std::size_t p = skip_ws(t + 1);
    if (!starts_with_nocase(text_, p, "INPUT")) return {};
    const std::size_t close = closing(t);
    const std::size_t end = close == kNone ? text_.size() : close;
    const std::string_view tag = text_.substr(0, end);
    if (find_nocase(tag, "TYPE=", t) != kNone &&
        (find_nocase(tag, "SUBMIT", t) != kNone || find_nocase(tag, "HIDDEN", t) != kNone ||
         find_nocase(tag, "RESET", t) != kNone)) {
        return {};
    }
    TagLink link = claimed(std::nullopt);
    const bool has_value = find_nocase(tag, "value", t) != kNone;
    link.url = input_attribute(t, end, has_value ? "value" : "src");
    if (!link.url) return link;
    resolve_link(page_, *link.url);
    link.text = input_attribute(t, end, "name");
    if (link.text) clean_link_text(*link.text, *link.url);
    return link;
}

// An input attribute: its name, blanks, an optional "=", blanks, an optional double quote, then
// the value up to the next double quote (none: no value).
std::optional<std::string> PageScanner::input_attribute(std::size_t t, std::size_t end,
                                                        std::string_view name) {
    const std::size_t found = find_nocase(text_.substr(0, end), name, t);
    if (found == kNone) return std::nullopt;
    std::size_t p = skip_ws(found + name.size());
    if (at(p, '=')) p = skip_ws(p + 1);
    if (at(p, '"')) ++p;
    const std::size_t quote = quotes_.next(p);
    if (quote == kNone) return std::nullopt;
    return copy(p, quote, kMaxValue);
}

// "<AREA ... HREF=value": HREF anywhere before the tag's first ">". An unquoted value stops at a
// blank. The text is the ALT value, else the link's last path segment.
TagLink PageScanner::area(std::size_t t, std::size_t p) {
    if (!starts_with_nocase(text_, p, "AREA")) return {};
    p += 4;
    if (p >= text_.size() || !is_space(text_[p])) return {};
    const std::size_t gt = gts_.next(t);
    const std::string_view tag = text_.substr(0, gt == kNone ? text_.size() : gt);
    const std::size_t href = find_nocase(tag, "HREF", p);
    if (href == kNone) return {};
    p = skip_ws(href + 4);
    if (!at(p, '=')) return {};
    p = skip_ws(p + 1);
    if (p >= text_.size()) return {};
    std::size_t begin = p;
    std::size_t end = p;
    if (text_[p] == '"') {
        begin = p + 1;
        end = quotes_.next(begin);
        if (end == kNone) return {};
    } else {
        while (end < text_.size() && text_[end] != '>' && !is_space(text_[end])) ++end;
    }
    const std::size_t length = end - begin;
    TagLink link = claimed(copy(begin, end, length > kMaxValue ? kMaxAreaValue : length));
    resolve_link(page_, *link.url);

    if (const std::size_t alt = find_nocase(tag, " ALT=", t); alt != kNone) {
        const std::size_t a = skip_ws(alt + 5);
        if (at(a, '"')) {
            const std::size_t quote = quotes_.next(a + 1);
            if (quote != kNone) link.text = copy(a + 1, quote, kMaxValue);
        } else if (a < text_.size()) {
            const std::size_t blank = blanks_.next(a);
            link.text = copy(a, blank == kNone ? text_.size() : blank, kMaxValue);
        }
    } else if (const std::size_t slash = link.url->rfind('/');
               slash != std::string::npos && slash + 1 < link.url->size()) {
        link.text = link.url->substr(slash + 1);
    }
    return link;
}

// "<OPTION ... value=\"...\"": only a quoted value is a link. The text is what follows the tag
// up to the next closing tag or option.
TagLink PageScanner::option(std::size_t t, std::size_t p) {
    if (!starts_with_nocase(text_, p, "OPTION")) return {};
    const std::size_t gt = gts_.next(t);
    const std::size_t tag_end = gt == kNone ? text_.size() : gt;
    const std::size_t value = find_nocase(text_.substr(0, tag_end), "value", p + 6);
    if (value == kNone) return {};
    p = skip_ws(value + 5);
    if (!at(p, '=')) return {};
    p = skip_ws(p + 1);
    if (!at(p, '"')) return {};
    const std::size_t begin = p + 1;
    const std::size_t quote = quotes_.next(begin);
    TagLink link = claimed(copy(begin, quote == kNone ? tag_end : quote, kMaxValue));
    resolve_link(page_, *link.url);
    if (quote == kNone) return link;
    const std::size_t after = gts_.next(quote);
    if (after == kNone) return link;
    const std::size_t start = skip_ws(after + 1);
    const std::size_t stop = option_ends_.next(start);
    link.text = copy(start, stop == kNone ? text_.size() : stop, kMaxValue);
    clean_link_text(*link.text, *link.url);
    return link;
}

// "<FRAME SRC=value" (the blank keeps FRAMESET out): the first SRC inside the tag that is
// followed by "=". The text is the value as written.
TagLink PageScanner::frame(std::size_t t, std::size_t p) {
    if (!starts_with_nocase(text_, p, "FRAME ")) return {};
    const std::size_t close = closing(t);
    const std::string_view tag = text_.substr(0, close == kNone ? text_.size() : close);
    std::size_t src = p + 6;
    for (;;) {
        src = find_nocase(tag, "SRC", src);
        if (src == kNone) return {};
        p = skip_ws(src + 3);
        if (at(p, '=')) break;
        ++src;
    }
    const std::optional<Span> span = value_after_equals(p);
    if (!span) return {};
    std::string value = copy(span->begin, span->end, kMaxValue);
    if (value.find('#') != std::string::npos) return {};
    TagLink link = claimed(value, value);
    resolve_link(page_, *link.url);
    return link;
}

void PageScanner::handle_link(TagLink& link) {
    std::string& url = *link.url;
    // Most links of a crawl are known already: the link text is worked out only for new ones.
    std::optional<PageHarvest::Link> accepted = harvest_.accept_link(url);
    if (!accepted) return;
    if (link.anchor_value_end != kNone) link.text = anchor_text(link.anchor_value_end, url);
    if (link.text) collapse_whitespace(*link.text);
    harvest_.store_link(std::move(*accepted), std::move(link.text));
}

// An anchor's text: from the first character after the tag that is not blank, markup or an
// entity, up to the "<" that opens the first "/A" after the next tag.
std::optional<std::string> PageScanner::anchor_text(std::size_t value_end, std::string_view url) {
    const std::size_t gt = gts_.next(value_end);
    if (gt == kNone) return std::nullopt;
    const std::size_t start = text_start(gt + 1);
    if (start == kNone) return std::nullopt;
    const std::size_t open = text_lts_.next(start);
    if (open == kNone) return std::nullopt;
    const std::size_t end = anchor_ends_.next(open);
    if (end == kNone) return std::nullopt;
    if (end != last_anchor_end_) {
        // The "<" at `open` lies before `end`, so the last "<" before `end` is at or after it
        // and depends on `end` alone.
        last_anchor_end_ = end;
        last_anchor_end_open_ = open + text_.substr(open, end - open).rfind('<');
    }
    std::string text = copy(start, last_anchor_end_open_, kMaxValue);
    clean_link_text(text, url);
    return text;
}

// Walks from p over blanks, entities (to their ";") and tags (to their ">" outside quotes) to
// where a link text starts; kNone when the text ends first. Anchors that follow one another
// without text in between would each walk the same tags to the same place, so the last walk is
// remembered and a new one stops as soon as it steps on one of its positions.
std::size_t PageScanner::text_start(std::size_t p) {
    const std::size_t count = waypoints_.size();
    while (waypoint_head_ < count && waypoints_[waypoint_head_] < p) ++waypoint_head_;
    const std::size_t entry_head = waypoint_head_;
    fresh_.clear();
    std::size_t result = kNone;
    for (;;) {
        p = skip_ws(p);
        if (p >= text_.size()) break;
        while (waypoint_head_ < count && waypoints_[waypoint_head_] < p) ++waypoint_head_;
        if (waypoint_head_ < count && waypoints_[waypoint_head_] == p) {
            // Joined the remembered walk. Keep it: its earlier positions may serve the next one.
            waypoint_head_ = entry_head;
            return walk_result_;
        }
        fresh_.push_back(p);
        std::size_t end = kNone;
        if (text_[p] == '&') {
            end = semicolons_.next(p + 1);
        } else if (text_[p] == '<') {
            end = find_outside_quotes(text_, '>', p);
        } else {
            result = p;
            break;
        }
        if (end == kNone) break;
        p = end + 1;
    }
    waypoints_.swap(fresh_);
    waypoint_head_ = 0;
    walk_result_ = result;
    return result;
}

}  // namespace

int scan_page(HarvestEnv& env, int slot, store::ItemRecord* page, std::string_view text,
              PageEnd text_end) {
    const std::string_view read = base::c_text(text);
    // A NUL before the end ends the text for good: its end is then no cut.
    if (read.size() < text.size()) text_end = PageEnd::Whole;
    if (env.run.modern_reader) return read_page_modern(env, slot, page, read, text_end);
    PageScanner scanner(env, slot, page, read, text_end);
    return scanner.run();
}

}  // namespace tarnvelox::harvest
