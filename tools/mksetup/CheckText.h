// Small text helpers of the checks: ASCII case rules (texts are 8-bit in the
// system's code page), the nearest known name for a misspelt one, and record
// splitting as the runtime does it.
#pragma once

#include <string>
#include <vector>

namespace mksetup {

std::string AsciiUpper(std::string s);
bool EqualsIgnoreCase(const std::string& a, const std::string& b);
bool StartsWithIgnoreCase(const std::string& s, const std::string& head);
bool EndsWithIgnoreCase(const std::string& s, const std::string& tail);
// Blanks and tabs removed at both ends.
std::string TrimBlanks(const std::string& s);

// Edits (insert, delete, replace a character) between two texts, ignoring case.
size_t EditDistance(const std::string& a, const std::string& b);
// The candidate closest to name when it is close enough to be a misspelling of it;
// empty otherwise.
std::string NearestName(const std::string& name, const std::vector<std::string>& candidates);
// " (did you mean 'X'?)" for the nearest candidate, or empty text.
std::string DidYouMean(const std::string& name, const std::vector<std::string>& candidates);

// The runtime's record splitting: every separator (and line break) ends a field, two
// adjacent separators give an empty field, an empty last field is lost, and a record
// of separators only gives no field at all.
std::vector<std::string> SplitFields(const std::string& record, const std::string& separator);

// The runtime's integer reading: decimal with an optional sign, or "$"/"0x" and at
// most eight hexadecimal digits; blanks around it allowed. False for other text.
bool ParseConfigInteger(const std::string& text, long long& value);

} // namespace mksetup
