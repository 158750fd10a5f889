#include "app/RunContext.h"

RunContext::RunContext()
    : Prompt(&SystemPrompt()), Terminate([](uint32_t code) { ExitProcess(code); }) {}

RunContext::~RunContext() { ReleaseResources(); }

void RunContext::ReleaseResources() {
    if (WizardPicture) DeleteObject(WizardPicture);
    if (HeaderPicture) DeleteObject(HeaderPicture);
    WizardPicture = HeaderPicture = nullptr;
}
