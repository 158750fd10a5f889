// Version texts such as "2.1 beta" or "1,5" read as four numbers, and their
// comparison. Used to compare an installed product's version with the new one,
// by custom prerequisites, and for the installed-programs entry.
#pragma once

#include <array>
#include <cstdint>
#include <string>

using TVersionNumbers = std::array<int32_t, 4>;

// The four numbers of a version text. When the text holds ",", "_" or a blank,
// "," and "_" become ".", blanks go and ".." becomes "." (one pass); then only
// digits and dots are kept and the text is cut at each dot into at most four
// numbers. A part that is empty or does not fit a signed 32-bit number counts as
// 0, as does a missing one.
TVersionNumbers ParseVersion(const std::string& text);

// True when first's numbers are greater than second's, compared from the first
// number to the last; equal versions answer false.
bool IsNewerVersion(const std::string& first, const std::string& second);
