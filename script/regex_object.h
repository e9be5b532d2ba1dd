// RegexObject: one regular expression run over one subject, keeping every match for reading by number.
//
// The dialect is that of ECMAScript 3 regular expressions as the service pages need them: lazy quantifiers,
// \w for ASCII letters, digits and underscore, groups in parentheses, "." never matching a line break (CR or
// LF). Texts are UTF-8; a subject that is not valid UTF-8 (raw bytes of a page in another charset) is
// matched byte by byte instead. Nothing throws; a failure gives false, empty text or 0.
//
// An object belongs to the thread that made it. Copies share the last run's result and copy the subject.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vestrel {

class RegexObject {
public:
    RegexObject();
    ~RegexObject();
    RegexObject(const RegexObject&);
    RegexObject& operator=(const RegexObject&);
    RegexObject(RegexObject&&) noexcept;
    RegexObject& operator=(RegexObject&&) noexcept;

    // Runs pattern over subject and keeps the matches. True when the pattern was run (even with no match);
    // false for an invalid pattern or when the run hit its limits (then there are no matches). With
    // quote_placeholder every "#引号" in the pattern stands for a double quote.
    bool execute(std::string_view pattern, std::string_view subject, bool case_sensitive = false,
                 bool multiline = true, bool global = true, bool quote_placeholder = false);

    // The pattern of the last run (after the placeholder replacement); empty before the first.
    std::string get_pattern() const;

    // The subject of the last run with its matches (all with global, else the first) replaced by
    // replacement, where $1..$99 stand for a group, $& for the match, $` and $' for the text before and
    // after it, and $$ for a dollar sign. Empty when there was no successful run.
    std::string replace(std::string_view replacement) const;

    // Number of matches of the last run; 0 when there is none.
    int match_count() const;

    // The text of match number `match` (from 1); empty when there is no such match. With `position`, also
    // its start in the subject as a byte offset from 0, or -2 when there is no such match.
    std::string match_text(int match) const;
    std::string match_text(int match, int& position) const;

    // The text of group `group` (from 1) of match `match` (from 1); empty when either does not exist or the
    // group took no part in the match. With `position`, the group's start as a byte offset, or -2.
    std::string submatch_text(int match, int group) const;
    std::string submatch_text(int match, int group, int& position) const;

    // Number of capturing groups of the first match; 0 when nothing matched.
    int submatch_count() const;

    // Limits of one run, so that a hostile pattern or subject ends in a failed run rather than a hang.
    static constexpr unsigned match_step_limit = 5'000'000;  // backtracking steps of one search
    static constexpr unsigned match_depth_limit = 100'000;   // nested backtracking frames
    static constexpr unsigned match_heap_limit_kib = 65'536; // backtracking memory of one search
    static constexpr std::size_t max_matches = 1'000'000;    // matches kept by one global run

private:
    struct Run;
    std::shared_ptr<const Run> run_; // pattern, subject and matches of the last run
};

} // namespace vestrel
