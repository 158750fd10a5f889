#include "run/RunContext.h"

RunContext::RunContext()
    : Prompt(&SystemPrompt()), Terminate([](uint32_t code) { ExitProcess(code); }) {}

RunContext::~RunContext() {
    ReleaseResources();
}

void RunContext::ReleaseResources() {
    Config.reset();
    Language.reset();
    if (WizardPicture) DeleteObject(WizardPicture);
    if (HeaderPicture) DeleteObject(HeaderPicture);
    WizardPicture = HeaderPicture = nullptr;
}
