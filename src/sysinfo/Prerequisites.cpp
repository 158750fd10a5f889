// Which versions of the well-known runtime products the local machine has, read
// from its registry, and whether the internet can be reached.
#include "sysinfo/SystemInfo.h"

#include "platform/Registry.h"
#include "platform/SystemLibrary.h"

#include <wininet.h>

#include <vector>

const char* const TOSInfo::DotNetVersionNames[12] = {
    "1.0",     "1.1",        "2.0",      "3.0", "3.5",   "3.5 SP1 Client",
    "3.5 SP1", "4.0 Client", "4.0 Full", "4.5", "4.5.1", "4.5.2"};
const char* const TOSInfo::SqlCompactVersionNames[4] = {"3.5", "3.5 SP1", "3.5 SP2", "4.0"};
// Ten characters at most: both 2008 R2 service packs read the same.
const char* const TOSInfo::SqlServerVersionNames[15] = {
    "2005",       "2005 SP1",   "2005 SP2", "2005 SP3", "2005 SP4",
    "2008",       "2008 SP1",   "2008 SP2", "2008 SP3", "2008 R2",
    "2008 R2 SP", "2008 R2 SP", "2012",     "2012 SP1", "2014"};

namespace {

const char* const kNdp = "SOFTWARE\\Microsoft\\NET Framework Setup\\";

// An accessor below HKEY_LOCAL_MACHINE, read-only in the chosen view.
struct MachineKey {
    TRegistry reg;
    explicit MachineKey(bool view64) : reg(RegistryReadAccess(view64)) {
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
    }
    bool Open(const std::string& key) { return reg.OpenKeyReadOnly(key); }
    // Text of a value; empty when it is missing or not text.
    std::string Text(const std::string& name) {
        std::string s;
        return reg.ReadString(name, s) ? s : std::string();
    }
};

// The outcome of testing a number value: equal, different (or missing), or a read
// failure that ends the detection.
enum class Number { Equal, Other, Fail };

Number NumberIs(MachineKey& m, const std::string& key, const char* name, int32_t want) {
    if (!m.Open(key) || !m.reg.ValueExists(name)) return Number::Other;
    int32_t v = 0;
    if (!m.reg.ReadInteger(name, v)) return Number::Fail;
    return v == want ? Number::Equal : Number::Other;
}

struct Prefix {
    const char* text;
    int32_t level;
};

// Every prefix text begins with sets the level; the last one in the list wins.
int32_t MatchPrefixes(const std::string& text, const std::vector<Prefix>& list, int32_t level) {
    for (const Prefix& p : list)
        if (text.rfind(p.text, 0) == 0) level = p.level;
    return level;
}

// A subkey walk shared by the Acrobat and Java readers: candidate turns a name
// into the text to compare (empty: skip); the greatest number wins.
template <class F> std::string BestSubkey(TRegistry& reg, const std::string& key, F candidate) {
    double best = 0;
    std::string result = "0.0";
    std::vector<std::string> names;
    if (!reg.OpenKeyReadOnly(key) || !reg.GetKeyNames(names)) return result;
    for (const std::string& name : names) {
        std::string shown;
        double v = 0;
        std::string text = candidate(name, shown);
        if (text.empty() || !TOSInfo::DecimalValue(text, v) || v <= best) continue;
        best = v;
        result = shown;
    }
    return result;
}

} // namespace

std::string TOSInfo::CutVersion(const std::string& text) {
    size_t dot = text.find('.');
    return dot == std::string::npos ? text : text.substr(0, dot + 2);
}

bool TOSInfo::DecimalValue(const std::string& text, double& value) {
    double v = 0, scale = 1;
    bool digits = false, point = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (point)
                v += (c - '0') * (scale /= 10);
            else
                v = v * 10 + (c - '0');
        } else {
            return false;
        }
    }
    if (digits) value = v;
    return digits;
}

int32_t TOSInfo::DotNetLevel(bool view64) {
    MachineKey m(view64);
    int32_t level = -1;
    if (m.reg.KeyExists("SOFTWARE\\Microsoft\\.NETFramework\\Policy\\v1.0")) level = 0;
    struct Step {
        const char* key;
        const char* value;
        int32_t level;
    };
    static const Step steps[] = {{"NDP\\v1.1.4322", "Install", 1},
                                 {"NDP\\v2.0.50727", "Install", 2},
                                 {"NDP\\v3.0\\Setup", "InstallSuccess", 3},
                                 {"NDP\\v3.5", "Install", 4},
                                 {"DotNetClient\\v3.5", "Install", 5},
                                 {"NDP\\v4\\Client", "Install", 7},
                                 {"NDP\\v4\\Full", "Install", 8}};
    for (const Step& s : steps) {
        const std::string key = std::string(kNdp) + s.key;
        Number n = NumberIs(m, key, s.value, 1);
        if (n == Number::Fail) return level;
        if (n == Number::Other) continue;
        level = s.level;
        if (level == 4) {
            n = NumberIs(m, key, "SP", 1);
            if (n == Number::Fail) return level;
            if (n == Number::Equal) level = 6;
        } else if (level == 8 && m.Open(key) && m.reg.ValueExists("Release")) {
            int32_t r = 0;
            if (!m.reg.ReadInteger("Release", r)) return level;
            if (r >= 379893)
                level = 11;
            else if (r >= 378675)
                level = 10;
            else if (r >= 378389)
                level = 9;
        }
    }
    return level;
}

std::string TOSInfo::InternetExplorerVersion(bool view64) {
    MachineKey m(view64);
    if (!m.Open("SOFTWARE\\Microsoft\\Internet Explorer")) return {};
    std::string version = m.Text("Version"), svc = m.Text("svcVersion");
    return svc.empty() ? version : svc;
}

std::string TOSInfo::AcrobatReaderVersion() {
    MachineKey m(false);
    return BestSubkey(m.reg, "SOFTWARE\\Adobe\\Acrobat Reader",
                      [](const std::string& name, std::string& shown) {
                          shown = CutVersion(name);
                          return name;
                      });
}

std::string TOSInfo::JavaRuntimeVersion(bool view64) {
    MachineKey m(view64);
    return BestSubkey(m.reg, "SOFTWARE\\JavaSoft\\Java Runtime Environment",
                      [](const std::string& name, std::string& shown) {
                          shown = name.size() >= 3 && name[1] == '.' ? name.substr(0, 3) : "";
                          return shown;
                      });
}

int32_t TOSInfo::SqlCompactLevel(bool view64) {
    MachineKey m(view64);
    const std::string base = "SOFTWARE\\Microsoft\\Microsoft SQL Server Compact Edition\\";
    int32_t level = -1;
    if (m.Open(base + "v3.5\\ENU") && m.Text("DesktopRuntimeVersion").rfind("3.5", 0) == 0) {
        level = 0;
        std::string sp = m.Text("DesktopRuntimeServicePackLevel");
        if (!sp.empty() && sp[0] == '1') level = 1;
        if (!sp.empty() && sp[0] == '2') level = 2;
    }
    if (m.Open(base + "v4.0\\ENU") && m.Text("DesktopRuntimeVersion").rfind("4.", 0) == 0)
        level = 3;
    return level;
}

int32_t TOSInfo::SqlServerLevel(bool view64) {
    static const std::vector<Prefix> v90 = {
        {"9.0", 0}, {"9.00.2", 1}, {"9.00.3", 2}, {"9.00.4", 3}, {"9.00.5", 4}};
    static const std::vector<Prefix> v100 = {{"10.0", 5},    {"10.00.2", 6}, {"10.00.4", 7},
                                             {"10.00.5", 8}, {"10.50", 9},   {"10.50.2", 10},
                                             {"10.50.4", 11}};
    static const std::vector<Prefix> v110 = {{"11.", 12}, {"11.0.3", 13}, {"11.00.3", 13}};
    static const std::vector<Prefix> v120 = {{"12.", 14}};
    static const std::vector<Prefix> express = {
        {"9.0", 0},     {"9.00.2", 1},  {"9.00.3", 2},   {"9.00.4", 3},
        {"9.00.5", 4},  {"10.0", 5},    {"10.00.2", 6},  {"10.00.4", 7},
        {"10.00.5", 8}, {"10.5", 9},    {"10.50.2", 10}, {"10.50.4", 11},
        {"11.", 12},    {"11.0.3", 13}, {"11.00.3", 13}, {"12.", 14}};
    struct Source {
        const char* key;
        const std::vector<Prefix>* prefixes;
    };
    const Source sources[] = {{"90\\Tools\\ClientSetup\\CurrentVersion", &v90},
                              {"100\\Tools\\ClientSetup\\CurrentVersion", &v100},
                              {"110\\Tools\\ClientSetup\\CurrentVersion", &v110},
                              {"120\\Tools\\ClientSetup\\CurrentVersion", &v120},
                              {"SQLEXPRESS\\MSSQLServer\\CurrentVersion", &express}};
    MachineKey m(view64);
    int32_t level = -1;
    for (const Source& s : sources) {
        // Express is only a fallback for machines without any client tools.
        if (s.prefixes == &express && level != -1) break;
        if (m.Open(std::string("SOFTWARE\\Microsoft\\Microsoft SQL Server\\") + s.key))
            level = MatchPrefixes(m.Text("CurrentVersion"), *s.prefixes, level);
    }
    return level;
}

bool TOSInfo::HasInternetConnection(const std::string& address) {
    // Bound at run time from the system folder: only this one test needs it.
    HMODULE lib = LoadSystemLibrary("wininet.dll");
    if (!lib) return true;
    auto open = reinterpret_cast<decltype(&InternetOpenA)>(
        reinterpret_cast<void*>(GetProcAddress(lib, "InternetOpenA")));
    auto openUrl = reinterpret_cast<decltype(&InternetOpenUrlA)>(
        reinterpret_cast<void*>(GetProcAddress(lib, "InternetOpenUrlA")));
    auto setOption = reinterpret_cast<decltype(&InternetSetOptionA)>(
        reinterpret_cast<void*>(GetProcAddress(lib, "InternetSetOptionA")));
    auto close = reinterpret_cast<decltype(&InternetCloseHandle)>(
        reinterpret_cast<void*>(GetProcAddress(lib, "InternetCloseHandle")));
    bool connected = true;
    if (open && openUrl && setOption && close) {
        HINTERNET session = open("Setup", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        connected = false;
        if (session) {
            // The window cannot react while this waits: a dead network must not
            // freeze the setup for the system's default minute or more.
            DWORD timeout = 10000;
            setOption(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
            setOption(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
            setOption(session, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
            HINTERNET url = openUrl(session, address.c_str(), nullptr, 0, 0, 0);
            connected = url != nullptr;
            if (url) close(url);
            close(session);
        }
    }
    FreeLibrary(lib);
    return connected;
}
