// Pattern replacement with the semantics of the scripting regular-expression
// object the program was designed around: '.' does not match a line break,
// '*' is greedy, "$1" in a replacement names the first group, and the options
// ignore case, multi-line and global (replace every match).
//
// Matching works on characters, not bytes: GBK text is decoded before the
// match and encoded again afterwards. One instance per use; not shared between
// threads.
#pragma once

#include <memory>
#include <regex>
#include <string>
#include <string_view>

namespace logdesk {

class RegexEngine {
public:
    RegexEngine();
    ~RegexEngine();
    RegexEngine(const RegexEngine&) = delete;
    RegexEngine& operator=(const RegexEngine&) = delete;

    // Sets the pattern and the options; always true. An empty pattern keeps
    // the previous one and applies only the options. A call that repeats the
    // current pattern and options changes nothing.
    bool SetPattern(std::string_view pattern, bool caseSensitive = false, bool singleLine = false,
                    bool firstMatchOnly = false);

    // The source with what the pattern matches replaced; empty when the
    // pattern could not be compiled.
    std::string Replace(std::string_view source, std::string_view replacement) const;

private:
    void compile();

    std::string pattern_;
    int optionBits_ = 0; // 1 ignore case, 2 multi-line, 4 global
    std::unique_ptr<std::wregex> regex_;
    bool compiled_ = false;
};

} // namespace logdesk
