#pragma once

// Reading the text of a page as today's browsers do: its bytes in the page's character set turned
// into UTF-8, and its character references ("&amp;", "&#64;", "&#x40;", "&eacute;") decoded.
// Used by the modern page reader for running text, attribute values, link texts and titles.
// Every function is linear in its input and never reads outside the views it is given.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarnvelox::harvest {

// The character sets pages are read in. Pages labelled Latin-1 (or ASCII) are read as
// Windows-1252, as browsers read them: the bytes 0x80-0x9F are the typographic signs of that
// set, which such pages use, rather than control characters.
enum class Charset { Utf8, Windows1252 };

// The character set a label names ("utf-8", "ISO-8859-1", "\"latin1\"" ...; case, blanks and
// quotes around do not matter), or none for a label this reader does not know.
[[nodiscard]] std::optional<Charset> charset_from_label(std::string_view label);

// Appends `code` in UTF-8; U+FFFD for a surrogate or a value beyond U+10FFFF.
void append_utf8(std::string& out, char32_t code);

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values beyond U+10FFFF).
[[nodiscard]] bool is_valid_utf8(std::string_view text);

// The length of the longest prefix of UTF-8 `text` of at most `max_bytes` bytes that does not
// end inside a character.
[[nodiscard]] std::size_t utf8_prefix_length(std::string_view text, std::size_t max_bytes);

// Appends page bytes in `charset` as UTF-8. In UTF-8 every byte that does not begin a
// well-formed character becomes U+FFFD, so the result is always well-formed.
void append_converted(std::string& out, std::string_view raw, Charset charset);

// Where a character reference stands. In an attribute value an old-style name without its ";"
// followed by "=" or a letter or digit ("?a=1&copy=2") is left as written, as browsers do.
enum class RefPlace { Text, Attribute };

// Appends `raw` (page bytes in `charset`) as UTF-8 with its character references decoded:
// "&#" decimal digits and "&#x" hex digits (the ";" may be missing), and the names of the
// table in named_refs.h (old-style names also without ";"). A number of 0, of a surrogate or
// beyond U+10FFFF gives U+FFFD; one in 0x80-0x9F gives the Windows-1252 sign of that byte.
// An "&" that starts no reference is kept as it is.
void append_decoded(std::string& out, std::string_view raw, Charset charset, RefPlace place);

// The same into a new string.
[[nodiscard]] std::string decoded(std::string_view raw, Charset charset, RefPlace place);

}  // namespace tarnvelox::harvest
