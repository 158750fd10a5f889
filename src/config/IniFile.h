// Reads an 8-bit INI file (the configuration "qvsetup.ini", a language file)
// through the system's private-profile functions, with the reading rules every
// part of the runtime relies on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TIniFile {
public:
    explicit TIniFile(std::string path);
    const std::string& Path() const { return path_; }

    // The value, or def when the key is absent; cut at 2047 characters.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Decimal, or "0x"/"$" followed by hexadecimal digits; anything else gives def.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    // ReadInteger with def 0 or 1; non-zero is true.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    // Key names in file order, as far as they fit 16384 bytes with their terminators.
    std::vector<std::string> ReadSection(const std::string& section) const;
    bool SectionExists(const std::string& section) const;

private:
    std::string path_;
};

// Splits a record at every separator ("*?", or "?" for [Files]) the way the
// configuration defines it: an empty last field is lost, a field never holds a
// line break.
std::vector<std::string> SplitRecord(const std::string& record, const std::string& separator);
