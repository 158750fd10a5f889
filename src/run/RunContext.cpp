#include "run/RunContext.h"

RunContext::RunContext()
    : Prompt(&SystemPrompt()), Terminate([](uint32_t code) { ExitProcess(code); }) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    EventLog.Origin = now.QuadPart;
}

RunContext::~RunContext() {
    ReleaseResources();
    if (EventLog.File != INVALID_HANDLE_VALUE) CloseHandle(EventLog.File);
}

void RunContext::ReleaseResources() {
    Config.reset();
    Language.reset();
    if (WizardPicture) DeleteObject(WizardPicture);
    if (HeaderPicture) DeleteObject(HeaderPicture);
    WizardPicture = HeaderPicture = nullptr;
}
