// Reads an 8-bit INI file (the configuration "qvsetup.ini", a language file)
// through the system's private-profile functions, with the reading rules every
// part of the runtime relies on.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TIniSection;

// The key names of a section of an INI file, in file order, as the system's profile
// functions list them. Every reader of a key list goes through here: the list is read
// whole, up to kKeyListLimit bytes of names with their terminators. Past that (a file
// made to exhaust memory) the names that fit are returned and complete is false.
inline constexpr size_t kKeyListLimit = 64u << 20;
struct KeyList {
    std::vector<std::string> names;
    bool complete = true;
};
KeyList ReadKeyList(const std::string& path, const std::string& section);

class TIniFile {
  public:
    explicit TIniFile(std::string path);
    ~TIniFile();
    TIniFile(TIniFile&&) noexcept;
    TIniFile& operator=(TIniFile&&) noexcept;
    const std::string& Path() const { return path_; }

    // The value, or def when the key is absent; cut at 2047 characters. Each section
    // is read from the file once (see TIniSection) and kept; Invalidate() after the
    // file was written.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // The same, asking the system every time.
    std::string ReadStringFromFile(const std::string& section, const std::string& key,
                                   const std::string& def) const;
    // Forgets the sections read so far: the next reads see the file as it is now.
    void Invalidate() const;
    // Decimal, or "0x"/"$" followed by hexadecimal digits; anything else gives def
    // (see ParseIniInteger for the exact rule).
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    // ReadInteger with def 0 or 1; non-zero is true.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    // Key names in file order, as far as they fit 16384 bytes with their terminators;
    // the first name that does not fit and all after it are left out, never cut.
    std::vector<std::string> ReadSection(const std::string& section) const;
    // True when the section holds at least one key (a bare header does not count).
    bool SectionExists(const std::string& section) const;

  private:
    // The kept snapshot of a section (made on first use), or null when it is not kept.
    const TIniSection* Section(const std::string& section) const;
    // True when the section is known to hold no key (missing, or a bare header).
    bool KnownEmpty(const std::string& section) const;

    std::string path_;
    mutable std::map<std::string, std::unique_ptr<TIniSection>> sections_; // upper-case name
};

// One section of an INI file read in a single call. Under Wine every read of a key
// opens and checks the file again (~0.1-0.3 ms each; a setup makes hundreds). A key
// looked up here gives exactly what the system's read gives: a value the snapshot
// cannot answer for sure (a blank or a quote at either end, which the system trims or
// unquotes) is read from the file; a key the section does not hold is missing. A
// section holding a key name the system might compare in its own way (blanks at its
// ends, non-ASCII letters, a comment), or too large to hold, is read key by key. The
// snapshot is not refreshed: TIniFile drops it when told the file was written.
class TIniSection {
  public:
    TIniSection(const TIniFile& file, std::string section);
    std::string ReadString(const std::string& key, const std::string& def) const;
    // The whole section was read and holds no key.
    bool KnownEmpty() const { return complete_ && entries_.empty(); }

  private:
    const TIniFile& file_;
    std::string section_;
    // Upper-case key -> its first value; empty where the system must be asked.
    std::map<std::string, std::optional<std::string>> entries_;
    bool complete_ = false; // every key of the section is in entries_
};

// True when the profile functions store and read back the value exactly as it
// stands: no blank or quote at either end (which they trim or strip).
bool IsPlainIniValue(const std::string& value);

// The entries of a section as the system lists them ("key=value", or a bare name), in
// file order, read in one call; none for a missing section; nothing at all when the
// section is larger than 64 MB.
std::optional<std::vector<std::string>> ReadSectionLines(const std::string& path,
                                                         const std::string& section);

// The number rule of ReadInteger. Blanks around the text are ignored. Decimal: an
// optional "+" or "-", then digits only, within -2147483648..2147483647. Hexadecimal:
// "$", "0x" or "0X", then 1 to 8 significant hex digits (leading zeros are free), taken
// as the 32-bit pattern, so "$FFFFFFFF" is -1; no sign. Anything else ("", "12abc",
// "1 2", "0x", "- 5", a decimal out of range, nine significant hex digits) is no number:
// false, value untouched.
bool ParseIniInteger(const std::string& text, int32_t& value);

// Splits a record at every separator ("*?", or "?" for [Files]) the way the
// configuration defines it: n separators between non-empty fields give n+1 fields, two
// adjacent ones give an empty field, an empty last field is lost, and a line break in
// the text also ends a field, so a field never holds one. A record made only of
// separators (or empty) gives no fields at all.
std::vector<std::string> SplitRecord(const std::string& record, const std::string& separator);
