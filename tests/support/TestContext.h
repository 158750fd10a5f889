// In-process runs: a run context whose end is observed instead of ending the test
// program, and whose message boxes are recorded instead of shown.
#pragma once

#include "run/RunContext.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Thrown by a test context's Terminate: the run ended with this exit code.
struct RunEndedForTest {
    uint32_t code;
};

// Makes ctx.Terminate throw RunEndedForTest.
inline void ObserveRunEnd(RunContext& ctx) {
    ctx.Terminate = [](uint32_t code) { throw RunEndedForTest{code}; };
}

struct Box {
    HWND owner;
    std::string text, caption;
    UINT type;
};

// Records every message box and answers it with IDOK.
class RecordingPrompt : public IUserPrompt {
  public:
    int MessageBox(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override {
        boxes.push_back({owner, text, caption, type});
        return IDOK;
    }
    std::vector<Box> boxes;
};
