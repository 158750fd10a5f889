// Names and paths in configured texts: every <Name> must be a path constant or a
// user variable, every path the runtime creates or registers must be a full path it
// accepts, and files referred to below <InstallDir> should be installed by the
// payload.
#include "CheckContext.h"
#include "CheckText.h"
#include "common/WinPath.h"

#include <algorithm>

namespace mksetup {

using qvcommon::HasCharacterNotAllowedInNames;

namespace {

// Constants whose value is known when the setup is built: they come from [Setup].
const char* const kStaticConstants[][2] = {
    {"<AppName>", "AppName"},    {"<AppVersion>", "AppVersion"},   {"<CompanyName>", "CompanyName"},
    {"<WebSite>", "WebSite"},    {"<SupportLink>", "SupportLink"}, {"<GUID>", "GUID"},
    {"<BuildDate>", "BuildDate"}};

// Every occurrence of what (ignoring ASCII case) replaced by with.
std::string ReplaceAll(const std::string& s, const std::string& what, const std::string& with) {
    if (what.empty()) return s;
    const std::string us = AsciiUpper(s), uw = AsciiUpper(what);
    std::string out;
    size_t from = 0;
    for (size_t hit = us.find(uw); hit != std::string::npos; hit = us.find(uw, from)) {
        out.append(s, from, hit - from);
        out += with;
        from = hit + what.size();
    }
    out.append(s, from, std::string::npos);
    return out;
}

bool IsConstantLike(const std::string& inner) {
    if (inner.empty() ||
        !((inner[0] >= 'A' && inner[0] <= 'Z') || (inner[0] >= 'a' && inner[0] <= 'z')))
        return false;
    for (char c : inner)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_'))
            return false;
    return true;
}

// The names the system opens as devices whatever folder they are in, also with an
// extension ("NUL.txt", "com1.log").
bool IsDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && (base.back() == ' ' || base.back() == '.'))
        base.pop_back();
    base = AsciiUpper(base);
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

bool IsDotsOnly(const std::string& c) {
    return c.find_first_not_of(". ") == std::string::npos;
}

} // namespace

std::string ProjectChecker::ResolveStatic(const std::string& text) const {
    std::string s = text;
    for (const auto& [constant, key] : kStaticConstants)
        if (s.find('<') != std::string::npos) s = ReplaceAll(s, constant, SetupValue(key));
    return s;
}

void ProjectChecker::CollectNames() {
    variables_.clear();
    provided_.clear();
    if (const IniSection* vars = Section("Variables"))
        for (const auto& item : vars->items) {
            std::vector<std::string> f = SplitFields(item.second, "*?");
            if (!f.empty() && !f[0].empty()) variables_.push_back(f[0]);
        }
    for (const PayloadFile& file : project_.payload) {
        std::string dest = ResolveStatic(file.destination);
        if (StartsWithIgnoreCase(dest, "<InstallDir>\\")) provided_.insert(AsciiUpper(dest));
    }
    // Placed by the setup itself at the end of the run.
    if (SetupBool("Uninstall")) {
        provided_.insert("<INSTALLDIR>\\UNINSTALL.EXE");
        provided_.insert("<INSTALLDIR>\\UNINSTALL.INI");
    }
    if (SetupBool("Updater")) provided_.insert("<INSTALLDIR>\\UPDATER.EXE");
}

void ProjectChecker::CheckNames(const std::string& text, TextUse use, const std::string& where,
                                int line) {
    if (text.find('<') == std::string::npos) return;
    // User variables are replaced wherever their name occurs, before the constants.
    std::vector<std::string> vars = variables_;
    std::sort(vars.begin(), vars.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    std::string s = text;
    for (const std::string& v : vars)
        s = ReplaceAll(s, v, " ");

    std::vector<std::string> known;
    for (const PathConstantRule& c : PathConstantRules())
        known.push_back(c.name);
    known.insert(known.end(), variables_.begin(), variables_.end());

    std::vector<std::string> reported;
    for (size_t open = s.find('<'); open != std::string::npos; open = s.find('<', open + 1)) {
        size_t close = s.find('>', open + 1);
        if (close == std::string::npos) break;
        size_t inner = s.find('<', open + 1);
        if (inner != std::string::npos && inner < close) continue; // the later '<' opens it
        const std::string name = s.substr(open, close - open + 1);
        if (!IsConstantLike(name.substr(1, name.size() - 2)) || FindPathConstant(name)) continue;
        if (std::find(reported.begin(), reported.end(), AsciiUpper(name)) != reported.end())
            continue;
        reported.push_back(AsciiUpper(name));
        Report(use == TextUse::Path ? Severity::Error : Severity::Warning, line,
               where + " names " + name +
                   ", which is neither a path constant nor a user variable of [Variables]" +
                   DidYouMean(name, known) + "; the setup would leave it as written");
    }
}

void ProjectChecker::CheckFullPath(const std::string& text, bool isFile, const std::string& where,
                                   int line, Severity severity) {
    auto fail = [&](const std::string& why) {
        Report(severity, line, where + " '" + text + "' " + why);
    };
    if (text.empty()) return fail("is empty");
    size_t rest = 0;
    if (text[0] == '<') {
        size_t close = text.find('>');
        if (close == std::string::npos) return fail("is not a full path");
        const std::string head = text.substr(0, close + 1);
        bool variable =
            std::any_of(variables_.begin(), variables_.end(),
                        [&](const std::string& v) { return StartsWithIgnoreCase(text, v); });
        if (!variable && head.compare(0, 2, "<%") != 0) {
            const PathConstantRule* c = FindPathConstant(head);
            if (!c) return; // reported by CheckNames
            if (!c->folder)
                return fail("starts with " + std::string(c->name) +
                            ", which is not a folder: the path would be relative");
        }
        rest = close + 1;
        if (variable) {
            auto v = std::find_if(variables_.begin(), variables_.end(), [&](const std::string& n) {
                return StartsWithIgnoreCase(text, n);
            });
            rest = v->size();
        }
        if (rest < text.size() && text[rest] != '\\')
            return fail("needs a backslash after " + text.substr(0, rest));
    } else if (text.size() >= 3 &&
               ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) &&
               text[1] == ':' && text[2] == '\\') {
        rest = 2;
    } else if (text.size() > 2 && text[0] == '\\' && text[1] == '\\') {
        size_t server = text.find('\\', 2);
        size_t share = server == std::string::npos ? server : text.find('\\', server + 1);
        if (server == std::string::npos || share == std::string::npos || server == 2 ||
            share == server + 1)
            return fail("is not a full \\\\server\\share\\ path");
        rest = share;
    } else {
        return fail("is not a full path: write it from a path constant such as <InstallDir>, a "
                    "drive such as C:\\ or a share such as \\\\server\\share");
    }

    // rest is at the backslash before the first component (or at the end).
    if (rest >= text.size()) {
        if (isFile) fail("names a folder, not a file");
        return;
    }
    size_t start = rest + 1;
    for (;;) {
        size_t end = text.find('\\', start);
        const bool last = end == std::string::npos;
        const std::string c = text.substr(start, last ? std::string::npos : end - start);
        if (c.empty()) {
            if (!(last && !isFile)) return fail("holds an empty folder name (\\\\)");
        } else if (c.find('<') == std::string::npos) {
            if (IsDotsOnly(c))
                return fail("holds '" + c +
                            "': the setup refuses paths that climb out of their folder");
            if (HasCharacterNotAllowedInNames(c))
                return fail("holds '" + c + "', which has a character not allowed in file names");
            if (last && isFile && IsDeviceName(c))
                return fail("names the device " + AsciiUpper(c.substr(0, c.find('.'))) +
                            ": the system would write to the device, and the setup refuses it");
        }
        if (last) break;
        start = end + 1;
    }
}

void ProjectChecker::CheckProvided(const std::string& reference, const std::string& where,
                                   int line) {
    std::string r = TrimBlanks(reference);
    if (r.size() >= 2 && r.front() == '"' && r.back() == '"') r = r.substr(1, r.size() - 2);
    if (!StartsWithIgnoreCase(r, "<InstallDir>\\")) return;
    r = ResolveStatic(r);
    // Names known only on the target machine, or an environment reference.
    if (r.find('<', 1) != std::string::npos || r.find("%>") != std::string::npos) return;
    if (provided_.count(AsciiUpper(r))) return;
    std::vector<std::string> files;
    for (const PayloadFile& file : project_.payload)
        files.push_back(file.destination);
    Report(Severity::Warning, line,
           where + " '" + reference + "' is not installed by any [Payload] file" +
               DidYouMean(r, files));
}

void ProjectChecker::CheckPayload() {
    for (const PayloadFile& file : project_.payload) {
        CheckNames(file.destination, TextUse::Path, "[Payload] destination", file.line);
        CheckFullPath(file.destination, true, "[Payload] destination", file.line, Severity::Error);
    }
}

} // namespace mksetup
