#pragma once

// The modern page reader: reads a fetched page as today's browsers read it, for the setting
// "Read pages as today's browsers do". Compared with the classic scanner:
// - tags are read as browsers tokenise them: attributes in any order, values in double quotes,
//   single quotes or none (ending at white space or ">"), names and values in any case;
//   comments, scripts and styles are not taken for markup;
// - links come from the href of anchors and areas and the src of frames and iframes, resolved
//   against the page or its <base href> as browsers resolve them; a fragment is cut and the
//   link followed, a link ending in "/" is a page; everything else of the scope and keyword
//   rules is the classic one;
// - character references are decoded in attribute values, link texts, titles and running text,
//   and the page's character set (the response's Content-Type, a byte order mark, <meta
//   charset> or <meta http-equiv>, else UTF-8 when the page is well-formed UTF-8 and
//   Windows-1252 otherwise) is read, so that titles and link texts are stored as UTF-8;
// - addresses are sought in the text a browser shows, where inline markup (<span>, <b>, <a>,
//   comments ...) does not separate words and block markup does; in "mailto:" links after their
//   percent-encoding is decoded; in written-out forms ("jo [at] example [dot] org"); and, as
//   plain text, in scripts, styles and comments.
// The page's keyword and Web Search tests read the page as it came, as the classic ones do.

#include <string_view>

#include "harvest/found_item.h"
#include "harvest/harvest_env.h"
#include "store/item_record.h"

namespace tarnvelox::harvest {

// Reads `text` (the whole response, header lines included, cut at its first NUL) for the page
// held by connection slot `slot`, whose record is `page` (may be null). Returns the number of
// addresses recorded from this page. Linear in the page, whatever its markup. When the page is
// Cut, no address is taken from what runs to its end: the text where it lies, decoded, ends
// there (a character reference cut short counts as part of that text), and so does the last
// line of shown text for the written-out forms.
int read_page_modern(HarvestEnv& env, int slot, store::ItemRecord* page, std::string_view text,
                     PageEnd text_end = PageEnd::Whole);

}  // namespace tarnvelox::harvest
