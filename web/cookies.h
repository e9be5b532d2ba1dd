#pragma once
// Cookie texts: "name=value" items joined by "; ", as a Cookie request header carries them. Cookie texts are
// credentials: nothing here logs them or writes them anywhere.
//
// Spaces, in these rules, are the ASCII space and the ideographic space U+3000; tabs are not spaces.

#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

// Pieces of `text` between occurrences of `separator`, in order: an empty piece between two adjacent
// separators is kept, a piece after the last separator only when it is not empty, an empty text gives none.
std::vector<std::string> split_text(std::string_view text, std::string_view separator);

// Merges the cookies a response set (`incoming`) into `kept`, which receives the result, also returned.
// Every space is removed; incoming items come first, kept ones whose name is not among them follow in their
// old order; items ending in "=deleted" are dropped; exact repeats come out once; items are joined by "; ".
std::string merge_cookies(std::string& kept, std::string_view incoming);

// `text` without items (split at `separator`) that equal an item before them.
std::string remove_duplicate_items(std::string_view text, std::string_view separator);

// The host part of a URL or bare host, lower case; with `last_two_labels` only its last two labels; without
// `keep_port` cut before the first ":".
std::string url_domain(std::string_view text, bool last_two_labels, bool keep_port);

// The text between the first `left` and the first `right` after it; empty when either is missing.
std::string text_between(std::string_view text, std::string_view left, std::string_view right);

// A cookie item's name: the text before the first "=" (the whole item without one), spaces trimmed.
std::string cookie_pair_name(std::string_view item);

} // namespace vestrel
