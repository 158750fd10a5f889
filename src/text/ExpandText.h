// Turns a configured text into its final form: user variables, path constants,
// one environment reference and line breaks, in that order.
#pragma once

#include "text/PathConstants.h"

#include <string>

struct RunContext;

// The full expansion of text for this run. Never fails: a constant whose value
// cannot be computed stays in the text as written, and so does any name in angle
// brackets that is neither a defined user variable nor a constant. Each pass
// replaces in one left-to-right sweep and never looks at what it inserted again,
// so expansion always ends. A replacement that would make the text longer than
// 16 MiB is not made (the name stays), so values that multiply cannot exhaust
// memory.
std::string ExpandText(const RunContext& ctx, const std::string& text);

// The value of one constant, named with its angle brackets and in any case
// ("<TempDir>"), trailing backslash removed. Empty for an unknown name or a value
// that cannot be computed.
std::string ConstantValue(const RunContext& ctx, const std::string& name);
std::string ConstantValue(const RunContext& ctx, PathConstant c);

// Replaces every occurrence of what in s by with, ignoring ASCII case, in one
// left-to-right sweep (text inserted is not searched again). An empty what leaves
// s alone.
std::string ReplaceTextIgnoreCase(const std::string& s, const std::string& what,
                                  const std::string& with);
