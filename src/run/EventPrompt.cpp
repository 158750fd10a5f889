#include "run/EventPrompt.h"

#include "run/RunContext.h"
#include "run/SetupLog.h"

#include <memory>

int QuietAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OK:
        return IDOK;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    case MB_YESNO:
        return IDNO;
    default: // OK/Cancel, Yes/No/Cancel, Retry/Cancel, Cancel/Try again/Continue
        return IDCANCEL;
    }
}

std::string AnswerName(int id) {
    switch (id) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDABORT:
        return "Abort";
    case IDRETRY:
        return "Retry";
    case IDIGNORE:
        return "Ignore";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    case IDTRYAGAIN:
        return "Try again";
    case IDCONTINUE:
        return "Continue";
    default:
        return "none (" + std::to_string(id) + ")";
    }
}

void EventPrompt::Log(const std::string& kind, const std::string& caption, const std::string& text,
                      const std::string& answer) {
    LogEvent(ctx_, kind + " [" + caption + "] " + text + " => " + answer +
                       (ctx_.Quiet ? " (quiet: not shown)" : ""));
}

int EventPrompt::MessageBox(HWND owner, const std::string& text, const std::string& caption,
                            UINT type) {
    const int answer =
        ctx_.Quiet ? QuietAnswer(type) : inner_.MessageBox(owner, text, caption, type);
    Log((type & MB_TYPEMASK) == MB_OK ? "Message" : "Question", caption, text, AnswerName(answer));
    return answer;
}

OverwriteAnswer EventPrompt::AskOverwrite(HWND owner, const std::string& text,
                                          const std::string& caption) {
    const OverwriteAnswer answer =
        ctx_.Quiet ? OverwriteAnswer::No : inner_.AskOverwrite(owner, text, caption);
    static const char* const kNames[] = {"Yes", "No", "No to All", "Yes to All", "closed"};
    Log("Question", caption, text, kNames[static_cast<int>(answer)]);
    return answer;
}

bool EventPrompt::ChooseDataFile(HWND owner, std::string& path) {
    const bool chosen = !ctx_.Quiet && inner_.ChooseDataFile(owner, path);
    Log("Question", "Open", "the data file (Data.zip or another archive)",
        chosen ? "chose " + path : "cancelled");
    return chosen;
}

void InstallEventPrompt(RunContext& ctx) {
    if (ctx.OwnPrompt && ctx.Prompt == ctx.OwnPrompt.get()) return;
    ctx.OwnPrompt = std::make_unique<EventPrompt>(ctx, *ctx.Prompt);
    ctx.Prompt = ctx.OwnPrompt.get();
}
