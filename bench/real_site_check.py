#!/usr/bin/env python3
"""Helpers of bench/real_site_bench.sh: the pages a crawl reached and the addresses a page's text
holds, worked out independently of the harvester.

  real_site_check.py lin-pages FILE.lin      pages the harvester fetched with success
  real_site_check.py mai-addresses FILE.mai  the addresses the harvester stored (whole keys)
  real_site_check.py dir-pages DIR BASE      pages saved under DIR (a wget2 mirror), as URLs
  real_site_check.py addresses DIR           the addresses in the text of every page under DIR
  real_site_check.py served-addresses FILE ROOT [BYTES]
                                             the same for every URL listed in FILE, read whole
                                             from the file nginx serves for it under ROOT (or
                                             from its .gz beside it), or only its first BYTES
  real_site_check.py compare REFERENCE FOUND the addresses listed in FOUND (one a line) against
                                             those of REFERENCE: how many REFERENCE holds, how
                                             many FOUND holds, how many of REFERENCE's it holds
                                             and how many others, as a share of REFERENCE's

Pages are printed one URL a line, a URL ending in "/" as its index.html. Addresses are found by
decoding each page the standard way (Python's html.parser, character references included) into
the text a browser shows, plus its mailto: links and the text of its scripts, styles and
comments, and then searching that text around every "@" with the harvester's address rules:
letters, digits and "_-~." on both sides ("+" and "=" between two of them joining the local
part, the value of "?to=" or "&to=" alone), full stops at the ends dropped, something before the
"@", a dot after it, and no ending of a web file (.png, .css ...). The addresses of mailto:
links, percent-decoded, pass the same checks once quotes and brackets around them are dropped.
Written-out forms ("jo [at] example [dot] org") are not part of this search.
"""
import gzip
import html.parser
import os
import re
import sys
import urllib.parse

STATUS_VISITED = 0x0004
STATUS_BAD = 0x0008
# A record line inside a link tree file: key "<1>" title(50) "<2>" kind "<3>" status "<4>" ...
RECORD = re.compile(rb"((?:https?://|mailto:)[^\x00<>\n]*)<1>.{50}<2> *(-?\d+)<3> *(-?\d+)<4>",
                    re.S)

INLINE = set("a abbr acronym b bdi bdo big blink cite code data del dfn em font i ins kbd label "
             "mark nobr q rb rp rt rtc ruby s samp small span strike strong sub sup time tt u "
             "var wbr".split())
ADDRESS_CHAR = re.compile(r"[A-Za-z0-9_~.\-]")
WEB_FILES = {"png", "jpg", "jpeg", "gif", "svg", "webp", "ico", "css", "js"}
# Quotes and brackets around an address in a mailto: link, which are not part of it.
ENCLOSING = "'\"`()[]{}<>"


def page_url(url):
    return url + "index.html" if url.endswith("/") else url


def lin_pages(path):
    data = open(path, "rb").read()
    for match in RECORD.finditer(data):
        url = match.group(1).decode("utf-8", "replace")
        status = int(match.group(3))
        if url.startswith("http") and status & STATUS_VISITED and not status & STATUS_BAD:
            print(page_url(url))


def mai_addresses(path):
    data = open(path, "rb").read()
    for match in RECORD.finditer(data):
        key = match.group(1).decode("utf-8", "replace")
        if key.startswith("mailto:"):
            print(key[7:])


def dir_pages(root, base):
    for folder, _, files in os.walk(root):
        for name in files:
            if name.endswith((".html", ".htm")):
                rel = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                print(base.rstrip("/") + "/" + rel)


class Text(html.parser.HTMLParser):
    """What a browser shows, with inline markup joining words and other markup separating them;
    mailto: targets and the text of scripts, styles and comments on the side."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.shown = []
        self.aside = []
        self.mailto = []

    def handle_starttag(self, tag, attrs):
        if tag not in INLINE:
            self.shown.append("\n")
        if tag in ("a", "area"):
            for name, value in attrs:
                if name == "href" and value and value.strip().lower().startswith("mailto:"):
                    self.mailto.append(value.strip()[7:])

    def handle_endtag(self, tag):
        if tag not in INLINE:
            self.shown.append("\n")

    def handle_data(self, data):
        if self.cdata_elem:  # script, style: plain text beside the page
            self.aside.append(data)
        else:
            self.shown.append(data)

    def handle_comment(self, data):
        self.aside.append(data)


def addresses_around_at(text):
    found = []
    for at in (m.start() for m in re.finditer("@", text)):
        start = at
        after_equals = None  # just after the first "=" the walk went past
        while True:
            while start > 0 and ADDRESS_CHAR.match(text[start - 1]):
                start -= 1
            # "+" and "=" between two address characters join one local part: "hana+bugs@x.org"
            # names the mailbox "hana+bugs".
            if (start < 2 or start == at or text[start - 1] not in "+=" or
                    not ADDRESS_CHAR.match(text[start - 2])):
                break
            if text[start - 1] == "=" and after_equals is None:
                after_equals = start
            start -= 1
        # "?email=jo@x.org" and "&to=jo@x.org" are a query's name and value: the value counts.
        if after_equals is not None and start > 0 and text[start - 1] in "?&":
            start = after_equals
        end = at + 1
        while end < len(text) and ADDRESS_CHAR.match(text[end]):
            end += 1
        candidate = text[start:end].strip(".")
        if acceptable(candidate):
            found.append(candidate.lower())
    return found


def acceptable(address):
    """Something before a single "@", a dot after it, and no ending of a web file."""
    local, _, domain = address.partition("@")
    return (local != "" and "@" not in domain and "." in domain and
            domain.rsplit(".", 1)[1].lower() not in WEB_FILES)


def charset_of(raw):
    match = re.search(rb"""<meta[^>]*charset=["']?([A-Za-z0-9_\-]+)""", raw[:1024], re.I)
    return match.group(1).decode() if match else "utf-8"


def page_addresses(path):
    return text_addresses(open(path, "rb").read())


def text_addresses(raw):
    try:
        text = raw.decode(charset_of(raw))
    except (LookupError, UnicodeDecodeError):
        text = raw.decode("cp1252", "replace")
    parser = Text()
    parser.feed(text)
    parser.close()
    found = addresses_around_at("".join(parser.shown))
    for chunk in parser.aside:
        found += addresses_around_at(chunk)
    for target in parser.mailto:
        try:
            target = urllib.parse.unquote(target.split("?", 1)[0], errors="strict")
        except UnicodeDecodeError:
            continue  # no address is stored that is not UTF-8
        for address in target.split(","):
            address = address.strip().strip(ENCLOSING)
            if acceptable(address) and not re.search(r"[\x00-\x20\x7f<>\"]", address):
                found.append(address.lower())
    return found


def addresses(root):
    seen = set()
    for folder, _, files in os.walk(root):
        for name in files:
            if name.endswith((".html", ".htm")):
                seen.update(page_addresses(os.path.join(folder, name)))
    for address in sorted(seen):
        print(address)


def served_file(url, root):
    """The bytes nginx serves for `url` from the folder `root`: the file at the URL's path, a
    folder's index.html, or the file gzip'd beside it unpacked."""
    path = urllib.parse.unquote(urllib.parse.urlsplit(url).path)
    path = os.path.join(root, page_url(path).lstrip("/"))
    if not os.path.exists(path) and os.path.exists(path + ".gz"):
        with gzip.open(path + ".gz") as packed:
            return packed.read()
    with open(path, "rb") as page:
        return page.read()


def served_addresses(listing, root, limit):
    seen = set()
    for url in open(listing).read().split():
        seen.update(text_addresses(served_file(url, root)[:limit]))
    for address in sorted(seen):
        print(address)


def compare(reference_path, found_path):
    reference = set(open(reference_path).read().split())
    found = set(open(found_path).read().split())
    both = len(reference & found)
    extra = len(found - reference)

    def share(count):
        return 100.0 * count / len(reference) if reference else 0.0

    print("decoded %d, found %d: %d of the decoded (%.1f%%), %d extra (%.1f%%)" %
          (len(reference), len(found), both, share(both), extra, share(extra)))


if __name__ == "__main__":
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command == "lin-pages" and len(sys.argv) == 3:
        lin_pages(sys.argv[2])
    elif command == "dir-pages" and len(sys.argv) == 4:
        dir_pages(sys.argv[2], sys.argv[3])
    elif command == "mai-addresses" and len(sys.argv) == 3:
        mai_addresses(sys.argv[2])
    elif command == "addresses" and len(sys.argv) == 3:
        addresses(sys.argv[2])
    elif command == "served-addresses" and len(sys.argv) in (4, 5):
        limit = int(sys.argv[4]) if len(sys.argv) == 5 else None
        served_addresses(sys.argv[2], sys.argv[3], limit)
    elif command == "compare" and len(sys.argv) == 4:
        compare(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
