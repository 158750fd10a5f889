// In-process runs: a run context whose end is observed instead of ending the test
// program, whose message boxes are recorded (and answered from a script) instead of
// shown, and whose configuration, language file and uninstall record are files of the
// test.
#pragma once

#include "run/RunContext.h"

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
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

// Runs part of a run whose end is observed: the exit code when the run ended there,
// nothing when it went on.
std::optional<uint32_t> EndCodeOf(const std::function<void()>& part);

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

// Records every box and overwrite question and answers them from scripts, in order.
// A box beyond its script gets `otherwise`; without it, such a box (like any
// overwrite question beyond its script) fails the test and is answered Abort (No), so
// that a wrong path cannot loop.
class ScriptedPrompt : public RecordingPrompt {
  public:
    int MessageBox(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override;
    OverwriteAnswer AskOverwrite(HWND owner, const std::string& text,
                                 const std::string& caption) override;

    std::deque<int> answers;
    std::optional<int> otherwise;
    std::deque<OverwriteAnswer> overwrite;
    // Called with the box's number (from 1) before it is answered.
    std::function<void(size_t)> onBox;
    std::string shown; // the texts of the boxes, joined by "|"
    std::vector<std::string> questions, questionCaptions;
};

// Writes text to path and makes it the run's configuration or language file.
void UseConfig(RunContext& ctx, const std::string& path, const std::string& text);
void UseLanguage(RunContext& ctx, const std::string& path, const std::string& text);

// The values of a section of the uninstall record at path, in key order, as the file
// holds them now.
std::vector<std::string> RecordedValues(const std::string& path, const std::string& section);
// The same, each followed by "|".
std::string RecordedText(const std::string& path, const std::string& section);
