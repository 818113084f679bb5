#pragma once

// Addresses written out so that programs looking for an "@" miss them, as the modern page
// reader finds them in decoded page text:
//   jo [at] example [dot] org    jo(at)example.org    jo {at} mail.example {dot} org
//   jo [@] example.org           jo AT example DOT org
// The "at" and "dot" in brackets (square, round or curly, blanks allowed inside and around)
// may be in any case; the bare forms only in capitals, and a bare AT counts only when at least
// one bare DOT follows it, so that prose ("available at example.com", "Tickets AT Example.com")
// is not taken for an address. Lower-case "jo at example dot org" is not recognised: it cannot
// be told from ordinary sentences. An address is never taken across a line break, from words in
// capitals only with a bare AT, nor when its domain runs straight into "(", "=" or "[" or its
// bracket is glued to one side only, as code has it ("items[at] name.first").

#include <string>
#include <string_view>
#include <vector>

namespace tarnvelox::harvest {

// Every written-out address in `text`, as "local@domain", in the order of the text. The local
// part is a run of address characters (letters, digits, "_", "-", "~", "."; leading full stops
// dropped; a "+" or "=" between two of them joins them) beginning with a letter or digit; the
// domain is at least two labels of letters, digits and "-", the last of at least two letters.
// Callers apply the usual address checks.
[[nodiscard]] std::vector<std::string> written_addresses(std::string_view text);

}  // namespace tarnvelox::harvest
