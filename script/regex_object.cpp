#include "script/regex_object.h"

#include "script/utf8_text.h"

#include <pcre2.h>

#include <vector>

namespace vestrel {

namespace {

constexpr std::size_t unset = static_cast<std::size_t>(-1);

struct CompileContext {
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    ~CompileContext() { pcre2_compile_context_free(context); }
};

struct MatchContext {
    pcre2_match_context* context = pcre2_match_context_create(nullptr);
    ~MatchContext() { pcre2_match_context_free(context); }
};

struct Code {
    pcre2_code* code = nullptr;
    ~Code() { pcre2_code_free(code); }
};

struct MatchData {
    pcre2_match_data* data = nullptr;
    ~MatchData() { pcre2_match_data_free(data); }
};

std::string expand_placeholder(std::string_view pattern) {
    static constexpr std::string_view placeholder = "#引号";
    std::string out;
    out.reserve(pattern.size());
    std::size_t at = 0;
    for (;;) {
        const std::size_t hit = pattern.find(placeholder, at);
        if (hit == std::string_view::npos) {
            out.append(pattern.substr(at));
            return out;
        }
        out.append(pattern.substr(at, hit - at));
        out.push_back('"');
        at = hit + placeholder.size();
    }
}

} // namespace

struct RegexObject::Run {
    std::string pattern;
    std::string subject;
    bool ran = false;               // the pattern compiled and the search ended normally
    std::size_t groups = 0;         // capturing groups of the pattern
    std::vector<std::size_t> spans; // per match, (groups + 1) pairs of byte offsets; `unset` for no part

    std::size_t match_total() const { return ran ? spans.size() / ((groups + 1) * 2) : 0; }
    // Start and end of group g (0 for the whole match) of match m (from 0).
    std::pair<std::size_t, std::size_t> span(std::size_t m, std::size_t g) const {
        const std::size_t at = (m * (groups + 1) + g) * 2;
        return {spans[at], spans[at + 1]};
    }
    bool has(int m, int g) const {
        return m >= 1 && static_cast<std::size_t>(m) <= match_total() && g >= 0 &&
               static_cast<std::size_t>(g) <= groups;
    }
    std::string text(int m, int g, int* position) const {
        if (has(m, g)) {
            const auto [begin, end] = span(static_cast<std::size_t>(m - 1), static_cast<std::size_t>(g));
            if (begin != unset) {
                if (position != nullptr) {
                    *position = static_cast<int>(begin);
                }
                return subject.substr(begin, end - begin);
            }
        }
        if (position != nullptr) {
            *position = -2;
        }
        return {};
    }
};

RegexObject::RegexObject() = default;
RegexObject::~RegexObject() = default;
RegexObject::RegexObject(const RegexObject&) = default;
RegexObject& RegexObject::operator=(const RegexObject&) = default;
RegexObject::RegexObject(RegexObject&&) noexcept = default;
RegexObject& RegexObject::operator=(RegexObject&&) noexcept = default;

bool RegexObject::execute(std::string_view pattern, std::string_view subject, bool case_sensitive,
                          bool multiline, bool global, bool quote_placeholder) {
    auto run = std::make_shared<Run>();
    run->pattern = quote_placeholder ? expand_placeholder(pattern) : std::string(pattern);
    run->subject = std::string(subject);
    run_ = run;

    // ECMAScript behaviour: \u escapes, [] and [^] as classes, a back reference to an unset group matches
    // the empty text, and $ without multiline only at the very end. A page in another charset is matched
    // byte by byte rather than refused.
    const bool utf = utf8::is_valid(run->pattern) && utf8::is_valid(run->subject);
    uint32_t options =
        PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS | PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY;
    if (utf) {
        options |= PCRE2_UTF | PCRE2_NO_UTF_CHECK;
    }
    if (!case_sensitive) {
        options |= PCRE2_CASELESS;
    }
    if (multiline) {
        options |= PCRE2_MULTILINE;
    }
    CompileContext compile_context;
    MatchContext match_context;
    if (compile_context.context == nullptr || match_context.context == nullptr) {
        return false;
    }
    // "." and the line anchors treat CR, LF and CR LF as line breaks.
    pcre2_set_newline(compile_context.context, PCRE2_NEWLINE_ANYCRLF);
    pcre2_set_match_limit(match_context.context, match_step_limit);
    pcre2_set_depth_limit(match_context.context, match_depth_limit);
    pcre2_set_heap_limit(match_context.context, match_heap_limit_kib);

    int error = 0;
    PCRE2_SIZE error_offset = 0;
    Code code;
    code.code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(run->pattern.data()), run->pattern.size(), options,
                              &error, &error_offset, compile_context.context);
    if (code.code == nullptr) {
        return false;
    }
    uint32_t capture_count = 0;
    pcre2_pattern_info(code.code, PCRE2_INFO_CAPTURECOUNT, &capture_count);
    run->groups = capture_count;
    MatchData match_data;
    match_data.data = pcre2_match_data_create_from_pattern(code.code, nullptr);
    if (match_data.data == nullptr) {
        return false;
    }

    const auto* text = reinterpret_cast<PCRE2_SPTR>(run->subject.data());
    const std::size_t length = run->subject.size();
    const uint32_t match_options = utf ? PCRE2_NO_UTF_CHECK : 0;
    std::size_t start = 0;
    std::size_t found = 0;
    for (;;) {
        const int rc = pcre2_match(code.code, text, length, start, match_options, match_data.data,
                                   match_context.context);
        if (rc == PCRE2_ERROR_NOMATCH) {
            break;
        }
        if (rc < 0 || ++found > max_matches) {
            // A limit or an internal error: no partial result.
            run->spans.clear();
            return false;
        }
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match_data.data);
        for (std::size_t g = 0; g <= run->groups; ++g) {
            // Groups past rc took no part; their slots hold PCRE2_UNSET.
            const bool set = g < static_cast<std::size_t>(rc) && ovector[2 * g] != PCRE2_UNSET;
            run->spans.push_back(set ? ovector[2 * g] : unset);
            run->spans.push_back(set ? ovector[2 * g + 1] : unset);
        }
        if (!global) {
            break;
        }
        std::size_t next = ovector[1];
        if (next <= ovector[0] || next <= start) {
            // An empty match: the next search starts one character further on, as in ECMAScript.
            next = (ovector[0] > start ? ovector[0] : start);
            if (next >= length) {
                break;
            }
            ++next;
            if (utf) {
                while (next < length && (static_cast<unsigned char>(run->subject[next]) & 0xC0) == 0x80) {
                    ++next;
                }
            }
        }
        if (next > length) {
            break;
        }
        start = next;
    }
    run->ran = true;
    return true;
}

std::string RegexObject::get_pattern() const {
    return run_ ? run_->pattern : std::string();
}

std::string RegexObject::replace(std::string_view replacement) const {
    if (!run_ || !run_->ran) {
        return {};
    }
    const Run& run = *run_;
    const std::string_view subject = run.subject;
    std::string out;
    out.reserve(subject.size());
    std::size_t copied = 0;
    for (std::size_t m = 0; m < run.match_total(); ++m) {
        const auto [begin, end] = run.span(m, 0);
        out.append(subject.substr(copied, begin - copied));
        for (std::size_t i = 0; i < replacement.size(); ++i) {
            const char c = replacement[i];
            if (c != '$' || i + 1 == replacement.size()) {
                out.push_back(c);
                continue;
            }
            const char next = replacement[i + 1];
            if (next == '$') {
                out.push_back('$');
                ++i;
            } else if (next == '&') {
                out.append(subject.substr(begin, end - begin));
                ++i;
            } else if (next == '`') {
                out.append(subject.substr(0, begin));
                ++i;
            } else if (next == '\'') {
                out.append(subject.substr(end));
                ++i;
            } else if (next >= '0' && next <= '9') {
                // $nn when that group exists, else $n when that one does, else the text as it stands.
                std::size_t group = 0;
                std::size_t digits = 0;
                if (i + 2 < replacement.size() && replacement[i + 2] >= '0' && replacement[i + 2] <= '9') {
                    const std::size_t two = static_cast<std::size_t>(next - '0') * 10 +
                                            static_cast<std::size_t>(replacement[i + 2] - '0');
                    if (two >= 1 && two <= run.groups) {
                        group = two, digits = 2;
                    }
                }
                if (digits == 0) {
                    const auto one = static_cast<std::size_t>(next - '0');
                    if (one >= 1 && one <= run.groups) {
                        group = one, digits = 1;
                    }
                }
                if (digits == 0) {
                    out.push_back('$');
                    continue;
                }
                const auto [g_begin, g_end] = run.span(m, group);
                if (g_begin != unset) {
                    out.append(subject.substr(g_begin, g_end - g_begin));
                }
                i += digits;
            } else {
                out.push_back('$');
            }
        }
        copied = end;
    }
    out.append(subject.substr(copied));
    return out;
}

int RegexObject::match_count() const {
    return run_ ? static_cast<int>(run_->match_total()) : 0;
}

std::string RegexObject::match_text(int match) const {
    return run_ ? run_->text(match, 0, nullptr) : std::string();
}

std::string RegexObject::match_text(int match, int& position) const {
    if (!run_) {
        position = -2;
        return {};
    }
    return run_->text(match, 0, &position);
}

std::string RegexObject::submatch_text(int match, int group) const {
    return run_ && group >= 1 ? run_->text(match, group, nullptr) : std::string();
}

std::string RegexObject::submatch_text(int match, int group, int& position) const {
    if (!run_ || group < 1) {
        position = -2;
        return {};
    }
    return run_->text(match, group, &position);
}

int RegexObject::submatch_count() const {
    return run_ && run_->match_total() > 0 ? static_cast<int>(run_->groups) : 0;
}

} // namespace vestrel
