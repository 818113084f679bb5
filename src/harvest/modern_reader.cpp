#include "harvest/modern_reader.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text_util.h"
#include "harvest/found_item.h"
#include "harvest/html_text.h"
#include "harvest/page_harvest.h"
#include "harvest/page_text.h"
#include "harvest/url_resolve.h"
#include "harvest/written_address.h"

// One pass from the start of the body to its end. Markup is tokenised as browsers do it; every
// search ahead (the end of a quoted value, a comment, a script) consumes what it passes over, so
// the pass stays linear however the page is broken: a tag, comment or script that never ends
// ends the page, as it does in a browser.

namespace tarnvelox::harvest {
namespace {

using base::equal_nocase;
using base::is_space;

constexpr std::size_t kNone = std::string_view::npos;
// Browsers look for a <meta> naming the character set in this many leading bytes of a page.
constexpr std::size_t kCharsetPrescan = 1024;
// Shown text is searched for addresses in pieces of at least this many bytes, each ending where
// markup separates words, so that a long page is not held whole.
constexpr std::size_t kTextPiece = 64 * 1024;
// Attribute values and link texts are read up to the working buffer's size.
constexpr std::size_t kMaxValue = kWorkBuffer;
constexpr std::string_view kMailto = "mailto:";
// Quotes and brackets that enclose an address in a "mailto:" link.
constexpr std::string_view kEnclosing = "'\"`()[]{}<>";
// The longest character reference ("&CounterClockwiseContourIntegral;") and some room: an "&"
// this close to the end of a cut page may start a reference the cut broke.
constexpr std::size_t kMaxReferenceReach = 40;

// What an element means to the reader.
enum class Element {
    Other,        // separates the words of the text around it
    Inline,       // does not: "a<span>@</span>b.org" reads "a@b.org"
    Anchor,       // <a href>: a link whose text is what the element shows
    Area,         // <area href alt>
    Frame,        // <frame src>
    InlineFrame,  // <iframe src>, whose content is not markup
    Link,         // <link rel href>: a page when its relation is one of the site's pages
    Base,         // <base href>: what relative links are resolved against
    Title,        // the page title: text up to </title>, no markup in it
    TextArea,     // shown text up to </textarea>, no markup in it
    RawText,      // script, style and the like: plain text up to their end tag
    PlainText,    // <plaintext>: the rest of the page is shown as it is
};

struct NamedElement {
    std::string_view name;
    Element element;
};

// Elements not listed separate words.
constexpr NamedElement kElements[] = {
    {"a", Element::Anchor},          {"abbr", Element::Inline},
    {"acronym", Element::Inline},    {"area", Element::Area},
    {"b", Element::Inline},          {"base", Element::Base},
    {"bdi", Element::Inline},        {"bdo", Element::Inline},
    {"big", Element::Inline},        {"blink", Element::Inline},
    {"cite", Element::Inline},       {"code", Element::Inline},
    {"data", Element::Inline},       {"del", Element::Inline},
    {"dfn", Element::Inline},        {"em", Element::Inline},
    {"font", Element::Inline},       {"frame", Element::Frame},
    {"i", Element::Inline},          {"iframe", Element::InlineFrame},
    {"ins", Element::Inline},        {"kbd", Element::Inline},
    {"label", Element::Inline},      {"link", Element::Link},
    {"mark", Element::Inline},
    {"nobr", Element::Inline},       {"noembed", Element::RawText},
    {"noframes", Element::RawText},  {"plaintext", Element::PlainText},
    {"q", Element::Inline},          {"rb", Element::Inline},
    {"rp", Element::Inline},         {"rt", Element::Inline},
    {"rtc", Element::Inline},        {"ruby", Element::Inline},
    {"s", Element::Inline},          {"samp", Element::Inline},
    {"script", Element::RawText},    {"small", Element::Inline},
    {"span", Element::Inline},       {"strike", Element::Inline},
    {"strong", Element::Inline},     {"style", Element::RawText},
    {"sub", Element::Inline},        {"sup", Element::Inline},
    {"textarea", Element::TextArea}, {"time", Element::Inline},
    {"title", Element::Title},       {"tt", Element::Inline},
    {"u", Element::Inline},          {"var", Element::Inline},
    {"wbr", Element::Inline},        {"xmp", Element::RawText},
};
// Every tag is looked up, so names are compared as numbers: the bytes of a name of at most
// eight letters, in lower case, make one 64-bit key.
constexpr std::size_t kKeyedNameLength = 8;

constexpr uint64_t name_key(std::string_view name) {
    uint64_t key = 0;
    for (const char c : name) key = key << 8 | static_cast<unsigned char>(base::to_lower(c));
    return key;
}

struct KeyedElement {
    uint64_t key;
    Element element;
};

constexpr auto kKeyedElements = [] {
    std::array<KeyedElement, std::size(kElements) - 1> keyed{};  // all but "plaintext"
    std::size_t n = 0;
    for (const NamedElement& e : kElements) {
        if (e.name.size() <= kKeyedNameLength) keyed[n++] = {name_key(e.name), e.element};
    }
    std::sort(keyed.begin(), keyed.end(),
              [](const KeyedElement& a, const KeyedElement& b) { return a.key < b.key; });
    return keyed;
}();

Element element_of(std::string_view name) {
    if (name.size() > kKeyedNameLength) {
        return equal_nocase(name, "plaintext") ? Element::PlainText : Element::Other;
    }
    const uint64_t key = name_key(name);
    const auto it = std::lower_bound(kKeyedElements.begin(), kKeyedElements.end(), key,
                                     [](const KeyedElement& e, uint64_t k) { return e.key < k; });
    return it != kKeyedElements.end() && it->key == key ? it->element : Element::Other;
}

bool is_ascii_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_alnum(char c) { return is_ascii_alpha(c) || (c >= '0' && c <= '9'); }

// `text` up to and with its last line break; empty when it has none. A written-out address is
// never taken across a line break, so only the last line can hold one that a cut page cut.
std::string_view whole_lines(std::string_view text) {
    const std::size_t line_end = text.find_last_of("\n\r");
    return line_end == kNone ? std::string_view() : text.substr(0, line_end + 1);
}

bool starts_with_nocase(std::string_view text, std::size_t pos, std::string_view word) {
    return pos <= text.size() && equal_nocase(text.substr(pos, word.size()), word);
}

struct Attribute {
    std::string_view name;   // as written
    std::string_view value;  // as written, quotes removed, references not decoded
};

// A start or end tag as browsers tokenise it.
struct Tag {
    std::string_view name;
    std::vector<Attribute> attributes;  // in order; reused from tag to tag

    // The first attribute called `wanted` (any case), or null.
    [[nodiscard]] const Attribute* find(std::string_view wanted) const {
        for (const Attribute& a : attributes) {
            if (equal_nocase(a.name, wanted)) return &a;
        }
        return nullptr;
    }
};

// Relations of a <link> that name another page of the site (the next, the contents, the search
// page ...); style sheets, icons, feeds and the like are no pages.
constexpr std::string_view kPageRelations[] = {
    "appendix", "chapter", "contents", "first",   "glossary",   "help", "index", "last", "next",
    "prev",     "previous", "search",  "section", "subsection", "start", "top",  "up"};

// Whether a <link> tag leads to a page: one of its "rel" words (any case) is a page relation.
bool leads_to_page(const Tag& tag) {
    const Attribute* rel = tag.find("rel");
    if (rel == nullptr) return false;
    std::string_view words = rel->value;
    while (!words.empty()) {
        const std::size_t start = words.find_first_not_of(" \t\n\r\f");
        if (start == std::string_view::npos) break;
        words.remove_prefix(start);
        const std::string_view word = words.substr(0, words.find_first_of(" \t\n\r\f"));
        for (const std::string_view page : kPageRelations) {
            if (equal_nocase(word, page)) return true;
        }
        words.remove_prefix(word.size());
    }
    return false;
}

// Reads the tag whose "<" is at `lt` in `text` ("<" and a letter, or "</" and a letter).
// Returns the position after its ">", or kNone when the text ends inside the tag (the tag then
// counts for nothing). A value in double or single quotes runs to the same quote, ">" included;
// any other value to white space or ">".
std::size_t parse_tag(std::string_view text, std::size_t lt, Tag& tag) {
    const std::size_t n = text.size();
    tag.attributes.clear();
    std::size_t p = lt + 1;
    if (p < n && text[p] == '/') ++p;
    const std::size_t name_start = p;
    while (p < n && !is_space(text[p]) && text[p] != '/' && text[p] != '>') ++p;
    tag.name = text.substr(name_start, p - name_start);
    for (;;) {
        while (p < n && (is_space(text[p]) || text[p] == '/')) ++p;
        if (p >= n) return kNone;
        if (text[p] == '>') return p + 1;
        const std::size_t name_begin = p++;  // a name may begin with "="
        while (p < n && !is_space(text[p]) && text[p] != '/' && text[p] != '>' && text[p] != '=') {
            ++p;
        }
        Attribute attribute{text.substr(name_begin, p - name_begin), {}};
        while (p < n && is_space(text[p])) ++p;
        if (p < n && text[p] == '=') {
            ++p;
            while (p < n && is_space(text[p])) ++p;
            if (p >= n) return kNone;
            if (text[p] == '"' || text[p] == '\'') {
                const void* close = std::memchr(text.data() + p + 1, text[p], n - p - 1);
                if (close == nullptr) return kNone;
                const auto end =
                    static_cast<std::size_t>(static_cast<const char*>(close) - text.data());
                attribute.value = text.substr(p + 1, end - p - 1);
                p = end + 1;
            } else {
                const std::size_t begin = p;
                while (p < n && !is_space(text[p]) && text[p] != '>') ++p;
                attribute.value = text.substr(begin, p - begin);
            }
        }
        tag.attributes.push_back(attribute);
    }
}

// The start of "</name" (any case) followed by white space, "/", ">" or the end, from `from`;
// kNone when there is none.
std::size_t find_end_tag(std::string_view text, std::size_t from, std::string_view name) {
    for (std::size_t p = from; (p = text.find("</", p)) != kNone; p += 2) {
        const std::size_t after = p + 2 + name.size();
        if (starts_with_nocase(text, p + 2, name) &&
            (after >= text.size() || is_space(text[after]) || text[after] == '/' ||
             text[after] == '>')) {
            return p;
        }
    }
    return kNone;
}

// The value of "charset=" in a Content-Type text ("text/html; charset=utf-8"), if it names a
// character set this reader knows.
std::optional<Charset> content_type_charset(std::string_view content_type) {
    const std::size_t at = base::find_nocase(content_type, "charset=");
    if (at == kNone) return std::nullopt;
    std::string_view value = content_type.substr(at + 8);
    value = value.substr(0, std::min(value.find(';'), value.size()));
    return charset_from_label(value);
}

// Link texts and titles as they are stored: white space, control characters (U+0000 to U+001F,
// U+007F to U+009F) and angle brackets (which the stored record line reserves) become single
// blanks, none at either end, and at most kMaxTitle bytes without splitting a character. `text` is
// well-formed UTF-8.
std::string plain_text(std::string_view text) {
    std::string out;
    bool blank = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        // U+0080 to U+009F, the second set of controls, are C2 80 to C2 9F.
        const bool wide_control = byte == 0xC2 && i + 1 < text.size() &&
                                  static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                                  static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (wide_control) ++i;
        if (byte <= 0x20 || byte == 0x7F || c == '<' || c == '>' || wide_control) {
            blank = !out.empty();
            continue;
        }
        if (blank) out.push_back(' ');
        blank = false;
        out.push_back(c);
        if (out.size() > kMaxTitle + 4) break;  // a whole character beyond the cut is enough
    }
    out.resize(utf8_prefix_length(out, kMaxTitle));
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// "%" and two hex digits become the byte they stand for; anything else stays.
std::string percent_decoded(std::string_view text) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string_view trimmed_value(std::string_view value) {
    while (!value.empty() && static_cast<unsigned char>(value.front()) <= 0x20) {
        value.remove_prefix(1);
    }
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20) {
        value.remove_suffix(1);
    }
    return value;
}

class ModernReader {
  public:
    ModernReader(HarvestEnv& env, int slot, store::ItemRecord* page, std::string_view text,
                 PageEnd text_end)
        : harvest_(env, slot, page, text), text_(text), cut_(text_end == PageEnd::Cut) {}
    ModernReader(const ModernReader&) = delete;
    ModernReader& operator=(const ModernReader&) = delete;

    // Reads the page; returns the number of addresses recorded from it.
    int run();

  private:
    [[nodiscard]] std::size_t body_start() const;
    void choose_charset(std::size_t& body);
    [[nodiscard]] std::optional<Charset> header_charset(std::string_view headers) const;
    [[nodiscard]] std::optional<Charset> meta_charset(std::string_view head);
    std::size_t markup(std::size_t lt);
    std::size_t start_tag(std::size_t lt);
    std::size_t end_tag(std::size_t lt);
    std::size_t element_content(std::size_t from, Element element);
    void shown_text(std::string_view raw);
    void word_break();
    void flush_shown(std::size_t length = std::string::npos);
    void flush_shown_words();
    void code_markup(bool start);
    void search(std::string_view text, bool written_forms, bool at_end = false);
    void search_written(std::string_view text);
    void open_anchor(const Attribute* href);
    void close_anchor();
    void take_link(std::string_view value, std::optional<std::string> text);
    void take_mailto(std::string_view value);
    void take_base(const Attribute* href);
    [[nodiscard]] std::string attribute_text(std::string_view raw) const {
        return decoded(raw.substr(0, kMaxValue), charset_, RefPlace::Attribute);
    }

    [[nodiscard]] bool reaches_end(std::string_view raw) const {
        return raw.data() + raw.size() == text_.data() + text_.size();
    }

    PageHarvest harvest_;
    const std::string_view text_;
    const bool cut_;  // the page was cut at the size limit: its end is no end of a word
    std::size_t shown_end_ = kNone;  // where the text of the page's last bytes ends in shown_
    Charset charset_ = Charset::Utf8;
    std::string base_;  // what relative links resolve against
    bool base_taken_ = false;
    bool title_taken_ = false;
    std::string shown_;  // shown text, decoded, not yet searched for addresses
    // Inline markup (anchors, span, b ...) stood since the last shown text: the text after it
    // continues the word only where one side of the markup is '@' or '.'.
    bool inline_edge_ = false;
    // Code shown as it is (pre, code, kbd, samp) is searched for addresses with "@" only:
    // its "x[at]" and "y.z" are program text. The pieces of shown_ that are code:
    std::size_t code_depth_ = 0;
    std::size_t code_from_ = 0;
    std::vector<std::pair<std::size_t, std::size_t>> code_spans_;
    bool anchor_open_ = false;
    std::string anchor_url_;   // the open anchor's href, decoded
    std::string anchor_text_;  // what it shows so far, decoded, at most kMaxValue bytes
    Tag tag_;
};

int ModernReader::run() {
    if (!harvest_.begin()) return 0;
    std::size_t pos = body_start();
    choose_charset(pos);
    if (const store::ItemRecord* page = harvest_.page()) base_ = store::url_text(page);

    while (pos < text_.size()) {
        const void* hit = std::memchr(text_.data() + pos, '<', text_.size() - pos);
        if (hit == nullptr) {
            shown_text(text_.substr(pos));
            break;
        }
        const auto lt = static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
        shown_text(text_.substr(pos, lt - pos));
        pos = markup(lt);
    }
    // Markup left open by the cut (a tag, a comment) may have joined more to the shown text
    // before it ("jo<span>@</span>x.example<span>.</sp"): that text runs to the cut too.
    if (pos == kNone && cut_ && shown_end_ == kNone) shown_end_ = shown_.size();
    close_anchor();
    flush_shown();
    return harvest_.finish();
}

// The body follows the response header; a text that is no response is all body.
std::size_t ModernReader::body_start() const {
    if (!starts_with_nocase(text_, 0, "HTTP/")) return 0;
    const std::size_t crlf = text_.find("\r\n\r\n");
    const std::size_t lf = text_.find("\n\n");
    if (crlf == kNone && lf == kNone) return text_.size();
    return crlf < lf ? crlf + 4 : lf + 2;
}

// As browsers choose: a byte order mark, else the response's Content-Type, else a <meta> near
// the start, else UTF-8 when the page is well-formed UTF-8 and Windows-1252 when it is not.
void ModernReader::choose_charset(std::size_t& body) {
    if (text_.substr(body).starts_with("\xEF\xBB\xBF")) {
        body += 3;
        charset_ = Charset::Utf8;
        return;
    }
    std::optional<Charset> charset = header_charset(text_.substr(0, body));
    if (!charset) charset = meta_charset(text_.substr(body, kCharsetPrescan));
    if (!charset)
        charset = is_valid_utf8(text_.substr(body)) ? Charset::Utf8 : Charset::Windows1252;
    charset_ = *charset;
}

std::optional<Charset> ModernReader::header_charset(std::string_view headers) const {
    std::size_t line = 0;
    while (line < headers.size()) {
        const std::size_t end = std::min(headers.find('\n', line), headers.size());
        if (starts_with_nocase(headers, line, "Content-Type:")) {
            return content_type_charset(headers.substr(line, end - line));
        }
        line = end + 1;
    }
    return std::nullopt;
}

std::optional<Charset> ModernReader::meta_charset(std::string_view head) {
    for (std::size_t p = head.find('<'); p != kNone; p = head.find('<', p + 1)) {
        if (starts_with_nocase(head, p, "<!--")) {
            p = head.find("-->", p + 2);
            if (p == kNone) break;
            continue;
        }
        if (!starts_with_nocase(head, p, "<meta") || p + 5 >= head.size() ||
            !(is_space(head[p + 5]) || head[p + 5] == '/')) {
            continue;
        }
        if (parse_tag(head, p, tag_) == kNone) break;
        if (const Attribute* charset = tag_.find("charset")) {
            if (auto known = charset_from_label(charset->value)) return known;
        }
        const Attribute* equiv = tag_.find("http-equiv");
        const Attribute* content = tag_.find("content");
        if (equiv != nullptr && content != nullptr && equal_nocase(equiv->value, "content-type")) {
            if (auto known = content_type_charset(content->value)) return known;
        }
    }
    return std::nullopt;
}

// Handles the markup that starts with the "<" at `lt`; returns where reading goes on, or kNone
// at the end of the page.
std::size_t ModernReader::markup(std::size_t lt) {
    const std::size_t n = text_.size();
    const char next = lt + 1 < n ? text_[lt + 1] : '\0';
    const auto bogus_comment = [&](std::size_t from) {
        const std::size_t gt = text_.find('>', from);
        return gt == kNone ? kNone : gt + 1;
    };
    if (next == '!') {
        if (!starts_with_nocase(text_, lt, "<!--")) return bogus_comment(lt + 2);
        // "<!-->" and "<!--->" are whole (empty) comments. A comment is not shown: it
        // separates nothing, and its text is searched as it stands.
        const std::size_t end = text_.find("-->", lt + 2);
        const std::size_t content = std::min(lt + 4, end == kNone ? n : end);
        flush_shown_words();
        search(text_.substr(content, (end == kNone ? n : end) - content), false, end == kNone);
        return end == kNone ? kNone : end + 3;
    }
    if (next == '?') return bogus_comment(lt + 2);
    if (next == '/') {
        if (lt + 2 < n && is_ascii_alpha(text_[lt + 2])) return end_tag(lt);
        if (lt + 2 < n && text_[lt + 2] == '>') return lt + 3;
        return bogus_comment(lt + 2);
    }
    if (is_ascii_alpha(next)) return start_tag(lt);
    shown_text(text_.substr(lt, 1));  // a "<" that starts no markup is text
    return lt + 1;
}

std::size_t ModernReader::start_tag(std::size_t lt) {
    const std::size_t after = parse_tag(text_, lt, tag_);
    if (after == kNone) return kNone;
    code_markup(true);
    const Element element = element_of(tag_.name);
    switch (element) {
        case Element::Inline:
            inline_edge_ = true;
            return after;
        case Element::Anchor:
            inline_edge_ = true;
            close_anchor();  // anchors do not nest: a new one ends the open one
            open_anchor(tag_.find("href"));
            return after;
        case Element::Area:
            word_break();
            if (const Attribute* href = tag_.find("href")) {
                const Attribute* alt = tag_.find("alt");
                take_link(attribute_text(href->value),
                          alt == nullptr ? std::nullopt
                                         : std::optional<std::string>(attribute_text(alt->value)));
            }
            return after;
        case Element::Link:
            if (const Attribute* href = tag_.find("href"); href != nullptr && leads_to_page(tag_)) {
                const Attribute* title = tag_.find("title");
                std::optional<std::string> text;
                if (title != nullptr) text = attribute_text(title->value);
                take_link(attribute_text(href->value), std::move(text));
            }
            return after;
        case Element::Frame:
        case Element::InlineFrame:
            word_break();
            if (const Attribute* src = tag_.find("src")) {
                std::string value = attribute_text(src->value);
                take_link(value, std::string(trimmed_value(value)));
            }
            return element == Element::InlineFrame ? element_content(after, element) : after;
        case Element::Base:
            take_base(tag_.find("href"));
            return after;
        case Element::Title:
        case Element::TextArea:
        case Element::RawText:
        case Element::PlainText:
            word_break();
            return element_content(after, element);
        case Element::Other:
            word_break();
            return after;
    }
    return after;
}

std::size_t ModernReader::end_tag(std::size_t lt) {
    const std::size_t after = parse_tag(text_, lt, tag_);
    if (after == kNone) return kNone;
    code_markup(false);
    switch (element_of(tag_.name)) {
        case Element::Anchor:
            inline_edge_ = true;
            close_anchor();
            break;
        case Element::Inline:
            inline_edge_ = true;
            break;
        case Element::Link:
            break;
        case Element::Area:
        case Element::Frame:
        case Element::InlineFrame:
        case Element::Base:
        case Element::Title:
        case Element::TextArea:
        case Element::RawText:
        case Element::PlainText:
        case Element::Other:
            word_break();
            break;
    }
    return after;
}

// The content of an element whose text is no markup (title, textarea, script ...), from `from`
// to its end tag; returns the position after that end tag, kNone when the page ends first.
std::size_t ModernReader::element_content(std::size_t from, Element element) {
    if (element == Element::PlainText) {
        append_converted(shown_, text_.substr(from), charset_);
        shown_end_ = shown_.size();
        return kNone;
    }
    const std::string name(tag_.name);  // the next tag replaces tag_
    const std::size_t end = find_end_tag(text_, from, name);
    const std::string_view content = text_.substr(from, (end == kNone ? text_.size() : end) - from);
    switch (element) {
        case Element::Title: {
            const std::string title = decoded(content, charset_, RefPlace::Text);
            if (!title_taken_) {  // the first title is the page's, as in a browser
                title_taken_ = true;
                harvest_.set_title(plain_text(title));
            }
            shown_.append(title);  // its words are searched like the page's
            if (reaches_end(content)) shown_end_ = shown_.size();
            word_break();
            break;
        }
        case Element::TextArea:
            shown_text(content);
            word_break();
            break;
        default:
            flush_shown_words();
            search(content, false, reaches_end(content));
            break;
    }
    return end == kNone ? kNone : parse_tag(text_, end, tag_);
}

void ModernReader::shown_text(std::string_view raw) {
    if (raw.empty()) return;
    const std::size_t before = shown_.size();
    append_decoded(shown_, raw, charset_, RefPlace::Text);
    if (shown_.size() == before) return;
    if (anchor_open_ && anchor_text_.size() < kMaxValue) {
        const std::string_view added = std::string_view(shown_).substr(before);
        anchor_text_.append(
            added.substr(0, utf8_prefix_length(added, kMaxValue - anchor_text_.size())));
    }
    if (inline_edge_) {
        inline_edge_ = false;
        // "a<span>@</span>b.org" is one address; "<span>Contact</span><span>jo@x.org</span>"
        // is two words. Only the address search sees the blank, not the link text.
        const auto joins = [](char c) { return c == '@' || c == '.' || is_space(c); };
        if (before > 0 && !joins(shown_[before - 1]) && !joins(shown_[before])) {
            shown_.insert(before, 1, ' ');
        }
    }
    if (reaches_end(raw)) shown_end_ = shown_.size();
}

// Markup that separates words: the shown text gets a line break, the open anchor's text a blank.
void ModernReader::word_break() {
    inline_edge_ = false;
    if (anchor_open_ && !anchor_text_.empty() && anchor_text_.size() < kMaxValue) {
        anchor_text_.push_back(' ');
    }
    if (shown_.empty()) return;
    if (shown_.size() >= kTextPiece) {
        flush_shown();
    } else if (shown_.back() != '\n') {
        shown_.push_back('\n');
    }
}

// Keeps count of the open code elements when tag_ is one.
void ModernReader::code_markup(bool start) {
    const std::string_view name = tag_.name;
    if (!equal_nocase(name, "pre") && !equal_nocase(name, "code") && !equal_nocase(name, "kbd") &&
        !equal_nocase(name, "samp")) {
        return;
    }
    if (start) {
        if (code_depth_++ == 0) code_from_ = shown_.size();
    } else if (code_depth_ > 0 && --code_depth_ == 0) {
        code_spans_.emplace_back(code_from_, shown_.size());
    }
}

// Searches the first `length` bytes of the shown text and drops them.
void ModernReader::flush_shown(std::size_t length) {
    length = std::min(length, shown_.size());
    std::string_view shown = std::string_view(shown_).substr(0, length);
    // The end of a cut page lies in this piece: what follows it is no text of the page.
    const bool at_end = cut_ && shown_end_ <= length;
    if (at_end) shown = shown.substr(0, shown_end_);
    const std::string_view written = at_end ? whole_lines(shown) : shown;
    const auto search_written_part = [&](std::size_t from, std::size_t to) {
        if (from < std::min(to, written.size())) {
            search_written(written.substr(from, std::min(to, written.size()) - from));
        }
    };
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    std::vector<std::pair<std::size_t, std::size_t>> kept;
    for (const auto& [start, end] : code_spans_) {
        if (start < length) spans.emplace_back(start, std::min(end, length));
        if (end > length) kept.emplace_back(std::max(start, length) - length, end - length);
    }
    if (code_depth_ > 0 && code_from_ < length) spans.emplace_back(code_from_, length);
    if (spans.empty()) {
        search(shown, true, at_end);
    } else {
        search(shown, false, at_end);
        std::size_t from = 0;
        for (const auto& [start, end] : spans) {
            search_written_part(from, start);
            from = std::max(from, end);
        }
        search_written_part(from, written.size());
    }
    code_spans_ = std::move(kept);
    code_from_ = code_from_ > length ? code_from_ - length : 0;
    shown_end_ = shown_end_ == kNone || shown_end_ <= length ? kNone : shown_end_ - length;
    shown_.erase(0, length);
}

// Before text that is searched at once (comments, scripts), the shown words before it are, so
// that addresses are stored in the order of the page. A word still open stays, as a comment
// may stand inside an address ("jo@<!-- x -->example.org").
void ModernReader::flush_shown_words() {
    std::size_t cut = shown_.size();
    while (cut > 0 && !is_space(shown_[cut - 1])) --cut;
    if (cut > 0) flush_shown(cut);
}

// Records the addresses in `text`: around each "@", and in written-out forms when asked.
// `at_end`: the text ends where the page does, and on a cut page that end cut what ran to it.
void ModernReader::search(std::string_view text, bool written_forms, bool at_end) {
    if (!harvest_.extract_ok() || text.empty()) return;
    HarvestEnv& env = harvest_.env();
    const int slot = harvest_.slot();
    const store::ItemRecord* page = harvest_.page();
    const PageEnd text_end = at_end && cut_ ? PageEnd::Cut : PageEnd::Whole;
    for (std::size_t at = text.find('@'); at != kNone;) {
        const std::size_t next =
            std::max(recognise_address_at(env, slot, page, text, at, text_end), at + 1);
        at = text.find('@', next);
    }
    if (written_forms) search_written(text_end == PageEnd::Cut ? whole_lines(text) : text);
}

void ModernReader::search_written(std::string_view text) {
    if (!harvest_.extract_ok() || text.empty()) return;
    for (const std::string& address : written_addresses(text)) {
        record_text_address(harvest_.env(), harvest_.slot(), harvest_.page(), address);
    }
}

void ModernReader::open_anchor(const Attribute* href) {
    anchor_open_ = href != nullptr;
    if (!anchor_open_) return;
    anchor_url_ = attribute_text(href->value);
    anchor_text_.clear();
}

void ModernReader::close_anchor() {
    if (!anchor_open_) return;
    anchor_open_ = false;
    take_link(anchor_url_, std::move(anchor_text_));
    anchor_text_.clear();
}

// A link's decoded value with the text it shows (none: the link has no text of its own).
void ModernReader::take_link(std::string_view value, std::optional<std::string> text) {
    value = trimmed_value(value);
    // An empty link or a bare fragment is a place in this page, not another page.
    if (value.empty() || value.front() == '#') return;
    if (starts_with_nocase(value, 0, kMailto)) {
        take_mailto(value);
        return;
    }
    std::optional<std::string> url = resolve_reference(base_, value);
    if (!url || url->empty()) return;
    std::optional<PageHarvest::Link> accepted =
        harvest_.accept_link(*url, PageHarvest::Rules::Modern);
    if (!accepted) return;
    std::string title = text ? plain_text(*text) : std::string();
    if (title.empty()) {
        const std::size_t slash = url->rfind('/');
        if (slash != std::string::npos)
            title = plain_text(std::string_view(*url).substr(slash + 1));
    }
    harvest_.store_link(std::move(*accepted), title.empty() ? std::string(kNoTitle) : title,
                        TitleText::Plain);
}

// "mailto:" links name their addresses percent-encoded (often with the "%" itself written as a
// character reference, which is decoded by now), several separated by commas, with a query of
// headers after "?".
void ModernReader::take_mailto(std::string_view value) {
    std::string_view to = value.substr(kMailto.size());
    to = to.substr(0, std::min(to.find('?'), to.size()));
    const std::string addresses = percent_decoded(to);
    std::size_t start = 0;
    while (start <= addresses.size()) {
        const std::size_t comma = std::min(addresses.find(',', start), addresses.size());
        std::string_view address =
            base::trimmed(std::string_view(addresses).substr(start, comma - start));
        start = comma + 1;
        // A quote or bracket around an address ("'jo@x.org'", "(jo@x.org)") is not part of it.
        while (!address.empty() && kEnclosing.find(address.front()) != kNone) {
            address.remove_prefix(1);
        }
        while (!address.empty() && kEnclosing.find(address.back()) != kNone) {
            address.remove_suffix(1);
        }
        // Blanks, controls and quotes are never part of an address; escapes that decode to
        // bytes outside UTF-8 would store a key no view can show.
        const bool usable =
            !address.empty() && is_valid_utf8(address) &&
            std::none_of(address.begin(), address.end(), [](char c) {
                const auto byte = static_cast<unsigned char>(c);
                return byte <= 0x20 || byte == 0x7F || c == '<' || c == '>' || c == '"';
            });
        // Nor is "mailto:@" or "mailto:jo@" one: the address checks of running text apply.
        const std::size_t at = address.find('@');
        if (!usable || at == std::string_view::npos ||
            address.find('@', at + 1) != std::string_view::npos ||
            !acceptable_address(address, at)) {
            continue;
        }
        std::string url(kMailto);
        url.append(address);
        if (std::optional<PageHarvest::Link> accepted =
                harvest_.accept_link(url, PageHarvest::Rules::Modern)) {
            harvest_.store_link(std::move(*accepted), std::nullopt, TitleText::Plain);
        }
    }
}

// The first <base href> sets what relative links resolve against, when it is a web address.
void ModernReader::take_base(const Attribute* href) {
    if (base_taken_ || href == nullptr) return;
    base_taken_ = true;
    const std::optional<std::string> resolved =
        resolve_reference(base_, trimmed_value(attribute_text(href->value)));
    if (resolved && (resolved->starts_with("http://") || resolved->starts_with("https://"))) {
        base_ = *resolved;
    }
}

}  // namespace

int read_page_modern(HarvestEnv& env, int slot, store::ItemRecord* page, std::string_view text,
                     PageEnd text_end) {
    if (text_end == PageEnd::Cut) {
        // A reference the cut broke ("jo@x.example&#4") ends the page before it, so that the
        // text it followed counts as running to the cut.
        const std::size_t amp = text.rfind('&');
        if (amp != kNone && text.size() - amp <= kMaxReferenceReach &&
            std::all_of(text.begin() + static_cast<std::ptrdiff_t>(amp) + 1, text.end(),
                        [](char c) { return c == '#' || is_ascii_alnum(c); })) {
            text = text.substr(0, amp);
        }
    }
    ModernReader reader(env, slot, page, text, text_end);
    return reader.run();
}

}  // namespace tarnvelox::harvest
