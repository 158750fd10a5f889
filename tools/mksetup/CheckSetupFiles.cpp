// The setup folder: the wizard pictures must be bitmaps the system loads (a setup
// whose picture does not load ends at once), the default language must name a
// language file, every language file must hold the texts this setup will show, and
// the licence and readme pages need their texts.
#include "CheckContext.h"
#include "CheckText.h"
#include "Checks.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace mksetup {

namespace {

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// At most limit bytes of a file; false when it cannot be read.
bool ReadHead(const std::string& path, size_t limit, std::string& bytes, uint64_t& size) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    size = static_cast<uint64_t>(in.tellg());
    in.seekg(0);
    bytes.assign(static_cast<size_t>(std::min<uint64_t>(size, limit)), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(in) || in.eof();
}

uint32_t U16(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1]))
                                             << 8;
}
uint32_t U32(const std::string& b, size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

// Sections and keys of a language file, read as leniently as the system reads it:
// upper-case section name to upper-case key names.
using TextKeys = std::map<std::string, std::set<std::string>>;

TextKeys ReadTextKeys(const std::string& text) {
    TextKeys keys;
    std::string section;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = TrimBlanks(text.substr(pos, end - pos));
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line = TrimBlanks(line.substr(0, line.size() - 1));
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            section = AsciiUpper(
                TrimBlanks(line.substr(1, close == std::string::npos ? close : close - 1)));
            keys[section];
            continue;
        }
        size_t eq = line.find('=');
        if (eq != std::string::npos && !section.empty())
            keys[section].insert(AsciiUpper(TrimBlanks(line.substr(0, eq))));
    }
    return keys;
}

// Texts the setup will show, grouped by what shows them.
struct Needed {
    std::string what; // "the Welcome page (DialogWelcome=1)"
    std::string section;
    std::vector<int> indices;
};

} // namespace

std::string ProjectChecker::SetupFileName(const std::string& name) const {
    return ProjectFileName(setupDirName_, name);
}

void ProjectChecker::CheckSetupFiles() {
    std::vector<std::string> languageFiles, languages;
    for (const std::string& path : project_.setupFiles) {
        const std::string name = FileNameOf(path);
        if (EqualsIgnoreCase(name, "qvwizard.bmp")) CheckPicture(path, name, 500, 314);
        if (EqualsIgnoreCase(name, "qvheader.bmp")) CheckPicture(path, name, 498, 55);
        if (name.size() > 6 && EndsWithIgnoreCase(name, "qv.lng")) {
            languageFiles.push_back(path);
            languages.push_back(name.substr(0, name.size() - 6));
        }
    }
    if (languages.empty()) return; // the project reading refuses that already
    CheckDefaultLanguage(languages);
    CheckRichTexts(languages);
    CheckLanguages(languageFiles);
}

void ProjectChecker::CheckPicture(const std::string& path, const std::string& name, int width,
                                  int height) {
    const std::string file = SetupFileName(name);
    auto fail = [&](const std::string& why) {
        ReportIn(file, Severity::Error, 0,
                 why + "; the setup would end at start-up with error code 2");
    };
    std::string b;
    uint64_t size = 0;
    if (!ReadHead(path, 64, b, size)) return fail("cannot be read");
    if (b.size() < 26 || b.compare(0, 2, "BM") != 0) {
        std::string kind = b.compare(0, 4, "\x89PNG") == 0        ? "a PNG image"
                           : b.compare(0, 3, "\xFF\xD8\xFF") == 0 ? "a JPEG image"
                           : b.compare(0, 4, "GIF8") == 0         ? "a GIF image"
                                                                  : "not a Windows bitmap";
        return fail("is " + kind + "; the wizard pictures must be BMP files (24-bit, " +
                    std::to_string(width) + "x" + std::to_string(height) + ")");
    }
    const uint32_t dataOffset = U32(b, 10), header = U32(b, 14);
    int64_t w = 0, h = 0;
    uint32_t planes = 0, bits = 0, compression = 0;
    if (header == 12) {
        w = U16(b, 18);
        h = U16(b, 20);
        planes = U16(b, 22);
        bits = U16(b, 24);
    } else if ((header == 40 || header == 52 || header == 56 || header == 108 || header == 124) &&
               b.size() >= 34) {
        w = static_cast<int32_t>(U32(b, 18));
        h = static_cast<int32_t>(U32(b, 22));
        planes = U16(b, 26);
        bits = U16(b, 28);
        compression = U32(b, 30);
    } else {
        return fail("is a bitmap with an unknown header");
    }
    if (h < 0) h = -h; // stored top-down
    if (planes != 1 || w <= 0 || h == 0) return fail("is a damaged bitmap");
    const bool supported =
        ((bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
         compression == 0) ||
        (compression == 1 && bits == 8) || (compression == 2 && bits == 4) ||
        (compression == 3 && (bits == 16 || bits == 32));
    if (!supported)
        return fail("is a bitmap of a kind the system does not load (" + std::to_string(bits) +
                    " bits, compression " + std::to_string(compression) +
                    "); save it as a 24-bit BMP");
    const uint64_t rowBytes = (static_cast<uint64_t>(w) * bits + 31) / 32 * 4;
    if (dataOffset > size ||
        (compression == 0 && dataOffset + rowBytes * static_cast<uint64_t>(h) > size))
        return fail("is cut short");
    if (w != width || h != height)
        ReportIn(file, Severity::Warning, 0,
                 "is " + std::to_string(w) + "x" + std::to_string(h) +
                     " pixels; the wizard shows it stretched to " + std::to_string(width) + "x" +
                     std::to_string(height));
}

void ProjectChecker::CheckDefaultLanguage(const std::vector<std::string>& languages) {
    const std::string wanted = SetupValue("DefaultLanguage");
    for (const std::string& l : languages)
        if (EqualsIgnoreCase(l, wanted)) return;
    const IniSection* setup = Section("Setup");
    int line = 0;
    if (setup) {
        int i = setup->Find("DefaultLanguage");
        line = i >= 0 ? setup->LineOf(static_cast<size_t>(i)) : setup->line;
    }
    const std::string text = "'DefaultLanguage' is '" + wanted + "', but the setup folder has no " +
                             wanted + "qv.lng" + DidYouMean(wanted, languages);
    if (SetupBool("AutoDetectLanguage"))
        Report(Severity::Warning, line,
               text + ": only systems whose language matches a file's [Info] id get texts");
    else
        Report(Severity::Error, line,
               text + ": the setup would choose no language and show every text empty");
}

void ProjectChecker::CheckRichTexts(const std::vector<std::string>& languages) {
    const IniSection* setup = Section("Setup");
    auto has = [&](const std::string& name) {
        return std::any_of(
            project_.setupFiles.begin(), project_.setupFiles.end(),
            [&](const std::string& p) { return EqualsIgnoreCase(FileNameOf(p), name); });
    };
    const char* const pages[][3] = {{"DialogLicense", "L", "Licence"},
                                    {"DialogReadme", "R", "Readme"}};
    for (const auto& [key, letter, page] : pages) {
        if (!SetupBool(key)) continue;
        if (has(std::string(letter) + "(Default).rtf")) continue;
        for (const std::string& l : languages)
            if (!has(letter + l + ".rtf")) {
                int i = setup ? setup->Find(key) : -1;
                Report(Severity::Warning, i >= 0 ? setup->LineOf(static_cast<size_t>(i)) : 0,
                       std::string(page) + " page without a text for " + l +
                           ": the setup folder has neither " + letter + l + ".rtf nor " + letter +
                           "(Default).rtf");
            }
    }
}

void ProjectChecker::CheckLanguages(const std::vector<std::string>& languageFiles) {
    for (const std::string& path : languageFiles)
        CheckLanguageFile(path, SetupFileName(FileNameOf(path)));
}

void ProjectChecker::CheckLanguageFile(const std::string& path, const std::string& shownName) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const TextKeys keys = ReadTextKeys(text);

    std::vector<Needed> needed;
    auto need = [&](const std::string& what, const std::string& section, std::vector<int> idx) {
        needed.push_back({what, section, std::move(idx)});
    };
    auto on = [&](const char* key) { return SetupBool(key); };
    auto records = [&](const char* section) {
        const IniSection* s = Section(section);
        return s ? s->items : std::vector<std::pair<std::string, std::string>>{};
    };
    auto anyRecord = [&](const char* section, const std::string& contains) {
        for (const auto& item : records(section))
            if (AsciiUpper(item.second).find(contains) != std::string::npos) return true;
        return false;
    };
    const bool desktop = anyRecord("Shortcuts", "DESKTOP>");
    const bool quick = anyRecord("Shortcuts", "<QUICKLAUNCH>");

    if (!on("SilentInstall")) {
        need("the window and its buttons", "Title", {0});
        need("the window and its buttons", "Buttons", {0, 1, 2});
        need("the cancel question", "Messages", {0, 1});
        need("the Install page", "Install", {0, 1});
        need("the system question", "Messages", {3});
        if (on("DialogWelcome")) need("the Welcome page (DialogWelcome=1)", "Welcome", {0, 1});
        if (on("DialogLicense")) {
            need("the Licence page (DialogLicense=1)", "LicenseAgreement",
                 {0, 1, 2, on("AcceptAgreement") ? 4 : 3});
            if (!on("AcceptAgreement")) need("the Licence page (DialogLicense=1)", "Buttons", {11});
        }
        if (on("DialogReadme")) need("the Readme page (DialogReadme=1)", "Readme", {0, 1, 2});
        if (on("DialogUserInfo")) {
            std::vector<int> idx{0, 1, 2};
            if (on("InfoUserName")) idx.push_back(3);
            if (on("InfoCompany")) idx.push_back(4);
            need("the User information page (DialogUserInfo=1)", "UserInformation", idx);
        }
        if (on("DialogDestinationFolder")) {
            need("the Destination page (DialogDestinationFolder=1)", "DestinationFolder",
                 {0, 1, 2, 3, 4, 5, 6, 7});
            need("the Destination page (DialogDestinationFolder=1)", "Buttons", {7});
        }
        std::vector<int> tasks;
        if (desktop) tasks.push_back(4);
        if (quick) tasks.push_back(5);
        if (HasSection("Extensions")) tasks.push_back(6);
        if (on("DialogProgramGroup")) {
            std::vector<int> idx{0, 1, 2, 3};
            idx.insert(idx.end(), tasks.begin(), tasks.end());
            need("the Program group page (DialogProgramGroup=1)", "ShortcutsFolder", idx);
        }
        if (on("DialogReady")) {
            need("the Ready page (DialogReady=1)", "ReadyToInstall", {0, 1, 2});
            need("the Ready page (DialogReady=1)", "Setup", {0, 1, 2});
            if (!tasks.empty()) need("the Ready page (DialogReady=1)", "ShortcutsFolder", tasks);
        }
        if (on("DialogFinish")) {
            std::vector<int> idx{0, 1, 2, 3};
            if (on("LaunchFile")) idx.push_back(4);
            if (on("ViewReadme")) idx.push_back(5);
            if (on("RestartComputer")) idx.insert(idx.end(), {6, 7, 8, 9});
            need("the Finish page (DialogFinish=1)", "SetupComplete", idx);
            need("the Finish page (DialogFinish=1)", "Buttons", {8});
        }
        if (on("64-bit")) need("the 64-bit requirement (64-bit=1)", "Messages", {2});
        if (on("Admin")) need("the administrator requirement (Admin=1)", "Messages", {4});
        if (on("Internet")) need("the connection requirement (Internet=1)", "Messages", {5});
        if (on("CloseApp")) need("the running-program check (CloseApp=1)", "Messages", {6});
        long long mode = 0;
        ParseConfigInteger(SetupValue("InstallMode"), mode);
        if (mode == 0 && on("PromptUninstall") && !on("PromptSilentUninstall"))
            need("the question to remove an installed copy", "Messages", {11});
        if (mode == 1) need("updates (InstallMode=1)", "Messages", {25});
        bool ask = std::any_of(project_.payload.begin(), project_.payload.end(),
                               [](const PayloadFile& f) { return f.existMode == "ASK"; });
        if (ask) need("the overwrite question (exist mode ASK)", "Messages", {12});
        if (!project_.payload.empty()) need("a folder that cannot be created", "Messages", {13});
        if (on("Uninstall") && on("ShowAddRemove"))
            need("a failed installed-programs entry", "Messages", {15});
        if (!records("INI").empty()) need("a failed [INI] value", "Messages", {19});
        if (anyRecord("Commands", "DATA.ZIP")) need("the data file question", "Messages", {29});
        std::set<std::string> otherKinds;
        for (const auto& item : records("Others")) {
            std::vector<std::string> f = SplitFields(item.second, "*?");
            if (!f.empty()) otherKinds.insert(AsciiUpper(f[0]));
        }
        const struct {
            const char* kind;
            int message, status;
        } registrations[] = {{"FONT", 21, 7}, {"DLL/ACTIVEX", 22, 8}, {"TYPE LIBRARY", 23, 9}};
        for (const auto& r : registrations)
            if (otherKinds.count(r.kind)) {
                need("[Others] " + std::string(r.kind) + " records", "Messages", {r.message});
                need("[Others] " + std::string(r.kind) + " records", "Install", {r.status});
            }
    }
    // Asked in silent runs too.
    const struct {
        const char* key;
        int message;
    } products[] = {{"dotNET", 7}, {"IE", 8}, {"AR", 9}, {"Java", 10}, {"SQL", 24}, {"SQLE", 26}};
    bool offers = HasSection("Prerequisites");
    for (const auto& p : products)
        if (on(p.key)) {
            need("the prerequisite question (" + std::string(p.key) + "=1)", "Messages",
                 {p.message});
            offers = true;
        }
    if (HasSection("Prerequisites")) need("the [Prerequisites] question", "Messages", {27});
    if (offers) need("the prerequisite download notice", "Messages", {28});
    if (on("Uninstall")) need("the uninstaller (Uninstall=1)", "Uninstall", {0, 1, 2, 3, 4, 5, 6});
    if (on("Updater")) need("the updater (Updater=1)", "Updater", {0, 1, 2, 3, 4, 5, 6, 7, 8});
    if (on("AutoDetectLanguage")) need("the language detection (AutoDetectLanguage=1)", "Info", {});

    // One finding per purpose, listing what is missing for it.
    std::map<std::string, std::string> missing;
    std::vector<std::string> order;
    for (const Needed& n : needed) {
        auto sec = keys.find(AsciiUpper(n.section));
        std::string list;
        if (n.section == "Info") {
            if (sec == keys.end() || !sec->second.count("ID")) list = "[Info] id";
        } else {
            for (int i : n.indices)
                if (sec == keys.end() || !sec->second.count(std::to_string(i)))
                    list += (list.empty() ? "[" + n.section + "] " : ", ") + std::to_string(i);
        }
        if (list.empty()) continue;
        if (!missing.count(n.what)) order.push_back(n.what);
        std::string& all = missing[n.what];
        all += (all.empty() ? "" : "; ") + list;
    }
    for (const std::string& what : order)
        ReportIn(shownName, Severity::Warning, 0,
                 "lacks " + missing[what] + ", used by " + what +
                     ": the setup would show empty texts");
}

} // namespace mksetup
