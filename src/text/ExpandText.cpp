#include "text/ExpandText.h"

#include "run/RunContext.h"

#include <exception>
#include <optional>
#include <string>
#include <utility>

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Position of what in s from pos on, ignoring ASCII case. Bytes of other
// characters compare as they are, so a name never matches inside a multibyte
// character whose bytes differ from its own.
size_t FindTextIgnoreCase(const std::string& s, const std::string& what, size_t pos = 0) {
    if (what.empty() || what.size() > s.size()) return std::string::npos;
    for (size_t i = pos; i + what.size() <= s.size(); ++i) {
        size_t k = 0;
        while (k < what.size() && Upper(s[i + k]) == Upper(what[k]))
            ++k;
        if (k == what.size()) return i;
    }
    return std::string::npos;
}

// No configured text comes anywhere near this length. Values that multiply (a
// variable whose value names a later variable twice, that one's value naming the
// next twice, and so on) would otherwise grow a text without bound until memory
// runs out.
constexpr size_t kMaxExpandedLength = size_t{16} << 20;

// Every occurrence of what in s replaced by with; nothing when what does not occur or
// the result would be longer than limit.
std::optional<std::string> ReplaceWithin(const std::string& s, const std::string& what,
                                         const std::string& with, size_t limit) {
    size_t hit = FindTextIgnoreCase(s, what);
    if (hit == std::string::npos) return std::nullopt;
    std::string out;
    out.reserve(s.size());
    size_t from = 0;
    for (; hit != std::string::npos; hit = FindTextIgnoreCase(s, what, from)) {
        out.append(s, from, hit - from);
        out += with;
        from = hit + what.size();
        if (out.size() > limit) return std::nullopt;
    }
    out.append(s, from, std::string::npos);
    if (out.size() > limit) return std::nullopt;
    return out;
}

// Replaces what by with in s unless that would grow the text past kMaxExpandedLength:
// then s stays as it is, so the name remains in the text just as for a value that
// cannot be computed.
void ReplaceBounded(std::string& s, const std::string& what, const std::string& with) {
    const size_t limit = with.size() > what.size() ? kMaxExpandedLength : std::string::npos;
    if (std::optional<std::string> replaced = ReplaceWithin(s, what, with, limit))
        s = std::move(*replaced);
}

void ExpandUserVariables(const RunContext& ctx, std::string& s) {
    for (const std::string& entry : ctx.UserVariables) {
        size_t q = entry.find('?');
        // An entry without a name (or without its "?") defines nothing.
        if (q == std::string::npos || q == 0) continue;
        std::string name = entry.substr(0, q);
        if (FindTextIgnoreCase(s, name) == std::string::npos) continue;
        ReplaceBounded(s, name, entry.substr(q + 1));
    }
}

void ExpandConstants(const RunContext& ctx, std::string& s) {
    for (int n = 1; n <= PathConstantCount; ++n) {
        const PathConstant c = static_cast<PathConstant>(n);
        const std::string name = PathConstantName(c);
        // Values are computed only when needed: some read the registry or the shell.
        if (FindTextIgnoreCase(s, name) == std::string::npos) continue;
        std::optional<std::string> value;
        try {
            value = ComputePathConstant(ctx, c);
        } catch (const std::exception&) {
            value.reset();
        }
        if (value) ReplaceBounded(s, name, *value);
    }
}

// Only the first reference's variable is expanded (all of its occurrences); a
// second, different reference stays as written.
void ExpandEnvironment(std::string& s) {
    size_t open = s.find("<%");
    if (open == std::string::npos || s.find("%>") == std::string::npos) return;
    size_t close = s.find("%>", open + 2);
    // With "%>" only before "<%" the name is empty, and "<%%>" is what is looked for.
    std::string name =
        close == std::string::npos ? std::string() : s.substr(open + 2, close - open - 2);
    ReplaceBounded(s, "<%" + name + "%>", EnvironmentValue(name));
}

} // namespace

std::string ReplaceTextIgnoreCase(const std::string& s, const std::string& what,
                                  const std::string& with) {
    std::optional<std::string> replaced = ReplaceWithin(s, what, with, std::string::npos);
    return replaced ? std::move(*replaced) : s;
}

std::string ExpandText(const RunContext& ctx, const std::string& text) {
    std::string s = text;
    ExpandUserVariables(ctx, s);
    ExpandConstants(ctx, s);
    ExpandEnvironment(s);
    s = ReplaceTextIgnoreCase(s, "<#>", "\r\n");
    return s;
}

std::string ConstantValue(const RunContext& ctx, PathConstant c) {
    try {
        return ComputePathConstant(ctx, c).value_or(std::string());
    } catch (const std::exception&) {
        return {};
    }
}

std::string ConstantValue(const RunContext& ctx, const std::string& name) {
    std::optional<PathConstant> c = FindPathConstant(name);
    return c ? ConstantValue(ctx, *c) : std::string();
}
