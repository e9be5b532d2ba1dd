#include "web/cookies.h"

#include <unordered_set>

namespace vestrel {

namespace {

constexpr std::string_view ideographic_space = "\xE3\x80\x80"; // U+3000 in UTF-8

std::string remove_spaces(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ')
            continue;
        if (text.substr(i, ideographic_space.size()) == ideographic_space) {
            i += ideographic_space.size() - 1;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string_view trim_spaces(std::string_view text) {
    for (;;) {
        if (!text.empty() && text.front() == ' ')
            text.remove_prefix(1);
        else if (text.starts_with(ideographic_space))
            text.remove_prefix(ideographic_space.size());
        else
            break;
    }
    for (;;) {
        if (!text.empty() && text.back() == ' ')
            text.remove_suffix(1);
        else if (text.ends_with(ideographic_space))
            text.remove_suffix(ideographic_space.size());
        else
            break;
    }
    return text;
}

std::string join_items(const std::vector<std::string>& items, std::string_view separator) {
    std::string out;
    for (const std::string& item : items) {
        out += item;
        out += separator;
    }
    out.resize(out.size() >= separator.size() ? out.size() - separator.size() : 0);
    return out;
}

std::string lower_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

} // namespace

std::vector<std::string> split_text(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    if (text.empty())
        return pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            if (start < text.size())
                pieces.emplace_back(text.substr(start));
            break;
        }
        pieces.emplace_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    return pieces;
}

std::string remove_duplicate_items(std::string_view text, std::string_view separator) {
    // A set, not a search of what is kept: a response may set a great many cookies.
    std::vector<std::string> items = split_text(text, separator);
    std::unordered_set<std::string_view> seen;
    seen.reserve(items.size());
    std::vector<std::string> kept;
    for (std::string& item : items) {
        if (seen.insert(item).second)
            kept.push_back(item);
    }
    return join_items(kept, separator);
}

std::string cookie_pair_name(std::string_view item) {
    std::size_t eq = item.find('=');
    return std::string(trim_spaces(eq == std::string_view::npos ? item : item.substr(0, eq)));
}

std::string merge_cookies(std::string& kept, std::string_view incoming) {
    std::vector<std::string> items = split_text(remove_spaces(incoming), ";");
    std::unordered_set<std::string> names;
    names.reserve(items.size());
    for (const std::string& item : items)
        names.insert(cookie_pair_name(item));
    for (std::string& item : split_text(remove_spaces(kept), ";")) {
        if (names.insert(cookie_pair_name(item)).second)
            items.push_back(std::move(item));
    }
    std::vector<std::string> live;
    for (std::string& item : items) {
        if (!std::string_view(item).ends_with("=deleted"))
            live.push_back(std::move(item));
    }
    kept = remove_duplicate_items(join_items(live, "; "), "; ");
    return kept;
}

std::string text_between(std::string_view text, std::string_view left, std::string_view right) {
    std::size_t l = text.find(left);
    if (l == std::string_view::npos)
        return {};
    std::size_t from = l + left.size();
    std::size_t r = text.find(right, from);
    if (r == std::string_view::npos)
        return {};
    return std::string(text.substr(from, r - from));
}

std::string url_domain(std::string_view text, bool last_two_labels, bool keep_port) {
    std::string t = lower_ascii(text);
    if (t.empty() || t.back() != '/')
        t.push_back('/');
    std::string host;
    if (t.starts_with("https://")) {
        host = text_between(t, "https://", "/");
    } else {
        if (t.find("http://") == std::string::npos)
            t = "http://" + t;
        host = text_between(t, "http://", "/");
    }
    if (last_two_labels) {
        std::vector<std::string> labels = split_text(host, ".");
        if (labels.size() > 1)
            host = labels[labels.size() - 2] + "." + labels.back();
    }
    if (!keep_port) {
        std::size_t colon = host.find(':');
        if (colon != std::string::npos)
            host.resize(colon);
    }
    return host;
}

} // namespace vestrel
