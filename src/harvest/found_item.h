#pragma once

// The gate through which every found link and address reaches the store: recognising an
// address around an "@" in page text, and record_found_item, which checks, normalises, stores,
// lists and counts one item.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "harvest/harvest_env.h"

namespace tarnvelox::harvest {

// Longest key (url) that is stored.
inline constexpr std::size_t kMaxKeyLength = 256;
// The program's own sample address, refused in Web Search mode so that searching for it never
// harvests it. An invented person at a reserved domain.
inline constexpr std::string_view kSampleAddress = "jo.doe@abc.test";

// How a page's text ends: where its response ended, or at the size limit, with the rest of the
// response lost. What runs to the end of a cut text may have been cut with it ("q@x.exam").
enum class PageEnd { Whole, Cut };

// Cuts out the address candidate around the "@" at `at` in `text` (the page text, already cut
// at its first NUL; a NUL is no address character anyway) and records it when it passes the
// checks. A "+" or "=" between address characters left of the "@" belongs to the candidate
// ("hana+bugs@x.org"). When `text` is Cut, a candidate that runs to its end is not recorded.
// Returns the position after the candidate, where the scanner continues.
std::size_t recognise_address_at(HarvestEnv& env, int slot, const store::ItemRecord* page,
                                 std::string_view text, std::size_t at,
                                 PageEnd text_end = PageEnd::Whole);

// The checks every address must pass, the "@" at `at_in_candidate`: something before it, a
// dot after it, and no ending of a web file ("logo@2x.png").
[[nodiscard]] bool acceptable_address(std::string_view candidate, std::size_t at_in_candidate);

// Records `candidate`, an address found in page text ("jo@example.org"), when it passes the
// checks every address in running text must pass: something before its only "@", a dot after
// it, and no ending of a web file ("logo@2x.png"). Returns 1 when it was stored.
int record_text_address(HarvestEnv& env, int slot, const store::ItemRecord* page,
                        std::string_view candidate);

// How a link text reaches record_found_item: as page markup, from which markup and entities
// are removed and which is cut to the title length, or as plain text that is already decoded,
// clean and at most kMaxTitle bytes long, cut at a character boundary (the modern reader's).
enum class TitleText { Markup, Plain };

// Checks, normalises and stores one found item. `page` is the record of the page it was found
// on (its url becomes the source; may be null). `text` is the link text or none. `kind` is
// KIND_PAGE or KIND_ADDRESS; `status` is stored as it is. Returns 1 when a new record was
// stored, 0 otherwise (duplicate, out of scope, malformed: never reported).
int record_found_item(HarvestEnv& env, int slot, const store::ItemRecord* page, std::string url,
                      std::optional<std::string> text, uint32_t kind, int32_t status);

// The two halves of record_found_item, for callers whose link text is costly to work out: the
// checks and normalisation of the url, giving the key to store (none when the item is refused
// or its key is stored already), and the storing of that key with its text.
[[nodiscard]] std::optional<std::string> found_item_key(HarvestEnv& env,
                                                        const store::ItemRecord* page,
                                                        std::string url, uint32_t kind);
int store_found_item(HarvestEnv& env, const store::ItemRecord* page, std::string key,
                     std::optional<std::string> text, uint32_t kind, int32_t status,
                     TitleText form = TitleText::Markup);

}  // namespace tarnvelox::harvest
