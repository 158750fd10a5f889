#include "sysinfo/Requirements.h"

#include "platform/MessagePump.h"
#include "platform/Redirection.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupKeys.h"
#include "run/SetupLog.h"
#include "sysinfo/CustomPrerequisites.h"
#include "sysinfo/OpenLink.h"
#include "sysinfo/SystemInfo.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <windows.h>

namespace {

// The system keys message 3 lists, in its order.
const char* const kSystemKeys[] = {
    "Windows XP",          "Windows Vista",         "Windows 7",           "Windows 8",
    "Windows 8.1",         "Windows Server 2003",   "Windows Server 2008", "Windows Server 2008 R2",
    "Windows Server 2012", "Windows Server 2012 R2"};

std::string Message(const RunContext& ctx, int index, const std::string& arg = "") {
    return FormatText(LanguageText(ctx, "Messages", index), arg);
}

int Ask(RunContext& ctx, int index, const std::string& arg, UINT buttons) {
    return ctx.Prompt->MessageBox(nullptr, Message(ctx, index, arg), ctx.Lang.TitleCaption,
                                  buttons | MB_ICONWARNING);
}

// The display name of a level; a level beyond its table is shown as its number.
template <size_t N> std::string LevelName(const char* const (&names)[N], int32_t level) {
    return level >= 0 && static_cast<size_t>(level) < N ? names[level] : std::to_string(level);
}

// Starts this setup again, with the same arguments, through the elevation request,
// and ends with that run's exit code. This run's working files go first: the new run
// unpacks its own (it could draw the same folder name), and the log ("/L") is the new
// run's to write. False when the request was declined; the run then only refuses.
bool HandOnElevated(RunContext& ctx, const ElevatedStart& startElevated) {
    LogEvent(ctx, "Asking for administrator rights: a new run takes over (and this log)");
    RestoreRedirection(ctx.Redirection);
    ctx.ReleaseResources();
    CleanUpSetupFiles(ctx);
    uint32_t code = kExitRefused;
    if (!startElevated(ctx.SetupFile, JoinArguments(ctx.Args), code)) return false;
    ctx.Terminate(code);
    return true;
}

enum class Outcome { Pass, Again, Stop };

// A product is missing or too old: ask whether to install it. Again when its
// installer ran to its end, so that everything is examined afresh.
Outcome Offer(RunContext& ctx, int message, const std::string& required, const char* linkKey) {
    if (Ask(ctx, message, required, MB_YESNO) == IDYES &&
        OpenLink(ctx, ExpandText(ctx, ReadSetupString(ctx, linkKey)), true, true))
        return Outcome::Again;
    RefuseSetup(ctx);
    return Outcome::Stop;
}

// One pass over the running program and the products.
Outcome CheckProducts(RunContext& ctx) {
    const bool view64 = ctx.Is64;
    if (ReadSetupBool(ctx, "CloseApp") &&
        TOSInfo::IsProcessRunning(ExpandText(ctx, ReadSetupString(ctx, "CloseAppFile")))) {
        if (!ctx.Silent && Ask(ctx, 6, ExpandText(ctx, ReadSetupString(ctx, "CloseAppText")),
                               MB_RETRYCANCEL) == IDRETRY)
            return Outcome::Again;
        RefuseSetup(ctx);
        return Outcome::Stop;
    }
    if (ReadSetupBool(ctx, "dotNET")) {
        int32_t want = ReadSetupInteger(ctx, "dotNETVersion");
        if (TOSInfo::DotNetLevel(view64) < want)
            return Offer(ctx, 7, LevelName(TOSInfo::DotNetVersionNames, want), "LinkDN");
    }
    struct TextProduct {
        const char* flag;
        const char* versionKey;
        int message;
        const char* link;
    };
    static const TextProduct texts[] = {{"IE", "IEVersion", 8, "LinkIE"},
                                        {"AR", "ARVersion", 9, "LinkAR"},
                                        {"Java", "JavaVersion", 10, "LinkJR"}};
    for (const TextProduct& p : texts) {
        if (!ReadSetupBool(ctx, p.flag)) continue;
        std::string installed = p.message == 8   ? TOSInfo::InternetExplorerVersion(view64)
                                : p.message == 9 ? TOSInfo::AcrobatReaderVersion()
                                                 : TOSInfo::JavaRuntimeVersion(view64);
        std::string required = ReadSetupString(ctx, p.versionKey);
        if (!VersionAtLeast(installed, required)) return Offer(ctx, p.message, required, p.link);
    }
    if (ReadSetupBool(ctx, "SQL")) {
        int32_t want = ReadSetupInteger(ctx, "SQLVersion");
        if (TOSInfo::SqlCompactLevel(view64) < want)
            return Offer(ctx, 24, LevelName(TOSInfo::SqlCompactVersionNames, want), "LinkSQL");
    }
    if (ReadSetupBool(ctx, "SQLE")) {
        int32_t want = ReadSetupInteger(ctx, "SQLEVersion");
        if (TOSInfo::SqlServerLevel(view64) < want)
            return Offer(ctx, 26, LevelName(TOSInfo::SqlServerVersionNames, want), "LinkSQLE");
    }
    return Outcome::Pass;
}

} // namespace

std::string SupportedSystemsList(const RunContext& ctx) {
    std::string list;
    for (const char* key : kSystemKeys)
        if (ReadSetupBool(ctx, key)) list += std::string(key + 8) + ", "; // without "Windows "
    if (list.size() > 1 && list[list.size() - 2] == ',') list.resize(list.size() - 2);
    return list;
}

bool VersionAtLeast(const std::string& installed, const std::string& required) {
    std::string want = required;
    if (want == "X (10.0)") want = "10.0";
    if (want == "XI (11.0)") want = "11.0";
    if (want == "XII (12.0)") want = "12.0";
    double have = 0, need = 0;
    return TOSInfo::DecimalValue(TOSInfo::CutVersion(installed), have) &&
           TOSInfo::DecimalValue(TOSInfo::CutVersion(want), need) && have >= need;
}

void WarnUnlessSilent(RunContext& ctx, const std::string& text) {
    if (!ctx.Silent)
        ctx.Prompt->MessageBox(nullptr, text, ctx.Lang.TitleCaption, MB_OK | MB_ICONWARNING);
}

void RunRequirementChecks(RunContext& ctx, const ElevatedStart& startElevated) {
    // Each refusal returns at once: RefuseSetup ends the process, and whatever
    // replaces that end must not see the setup go on.
    if (ReadSetupBool(ctx, "64-bit") && !TOSInfo::IsWow64()) {
        WarnUnlessSilent(ctx, Message(ctx, 2));
        return RefuseSetup(ctx);
    }
    if (!ReadSetupBool(ctx, ctx.System.OsName) &&
        (ctx.Silent || Ask(ctx, 3, SupportedSystemsList(ctx), MB_YESNO) != IDYES))
        return RefuseSetup(ctx);
    // Taken in every run, so that the programs the setup starts never see the mark.
    const bool startedByRequest = TakeElevationRequestMark();
    if (ReadSetupBool(ctx, "Admin") && !ctx.Admin) {
        // Read first: asking for the rights removes this run's files, language included.
        const std::string refusal = Message(ctx, 4);
        if (ShouldRequestElevation(true, ctx.Admin, ReadSetupBool(ctx, "RequestElevation"),
                                   startedByRequest) &&
            HandOnElevated(ctx, startElevated))
            return;
        WarnUnlessSilent(ctx, refusal);
        return RefuseSetup(ctx);
    }
    if (ReadSetupBool(ctx, "Internet") && !TOSInfo::HasInternetConnection() &&
        (ctx.Silent || Ask(ctx, 5, "", MB_YESNO) != IDYES))
        return RefuseSetup(ctx);
    for (const std::string& key : ctx.Config->ReadSection("Prerequisites"))
        CheckCustomPrerequisite(ctx, ctx.Config->ReadString("Prerequisites", key, ""));
    // The pause lets a product installer that was just started finish settling; before
    // the first examination nothing has run yet, so every setup would only wait.
    Outcome outcome = CheckProducts(ctx);
    while (outcome == Outcome::Again) {
        Sleep(500);
        ProcessMessages();
        outcome = CheckProducts(ctx);
    }
}
