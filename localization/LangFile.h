#pragma once
// The parsed language file: named sections of key=value lines, read by the localization
// engine. ParseLangFile is a function over the file's bytes so that tests and fuzzers
// call it directly.
//
// Format, as read here:
//  - Lines end at CR, LF or CR LF. A NUL byte ends the text. A byte-order mark is not
//    recognised: it is part of the first line.
//  - Every line is trimmed of bytes 0..32 at both ends; empty lines and lines whose first
//    character is ';' are ignored (nothing else is a comment).
//  - "[name]" (first character '[', last ']') opens a section named by the trimmed text
//    between the brackets; "[abc" is an ordinary line. Lines before the first section are
//    ignored.
//  - Other lines belong to the current section: with a '=', the key is the trimmed text
//    before the first '=' and the value the trimmed rest (taken literally); without one,
//    the line is a bare line that defines no key but makes its section non-empty.
//  - Names of sections and keys match without regard to the case of A-Z. A repeated
//    section header starts the section over (sections are not merged); a repeated key
//    within a section is found at its last occurrence.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TLangFile {
public:
    struct Line {
        bool IsKey = false; // false: a bare line, held unchanged in Key
        std::string Key;
        std::string Value;
    };

    // The value of the key; `def` when the section or the key is absent. A present key
    // with an empty value gives the empty value.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // The value read as a decimal or hexadecimal ("0x", "0X", "$") integer: non-zero is
    // true, zero false; an empty value or one that is not an integer gives `def`.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    // A section exists when it holds at least one line, key line or bare line.
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // The lines of the section in file order (empty when it does not exist).
    const std::vector<Line>& SectionLines(std::string_view section) const;

    // Starts a section; a later section of the same name replaces an earlier one.
    void AddSection(std::string_view name);
    // Adds a line to the section opened last.
    void AddLine(Line line);

private:
    struct Section {
        std::vector<Line> Lines;
        // Upper-cased key -> index of its last line.
        std::unordered_map<std::string, std::size_t> Keys;
    };
    const Section* Find(std::string_view section) const;
    const Line* FindLine(std::string_view section, std::string_view key) const;

    // Upper-cased section name -> its last occurrence.
    std::unordered_map<std::string, Section> sections_;
    // Upper-cased name of the section opened last; none before the first header.
    std::string current_;
    bool hasCurrent_ = false;
};

TLangFile ParseLangFile(std::string_view bytes);
