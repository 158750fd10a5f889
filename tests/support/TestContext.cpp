#include "TestContext.h"

#include "TestSupport.h"
#include "record/UninstallRecord.h"

#include <gtest/gtest.h>

#include <memory>

std::optional<uint32_t> EndCodeOf(const std::function<void()>& part) {
    try {
        part();
    } catch (const RunEndedForTest& end) {
        return end.code;
    }
    return std::nullopt;
}

int ScriptedPrompt::MessageBox(HWND owner, const std::string& text, const std::string& caption,
                               UINT type) {
    RecordingPrompt::MessageBox(owner, text, caption, type);
    shown += (shown.empty() ? "" : "|") + text;
    if (onBox) onBox(boxes.size());
    if (!answers.empty()) {
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    if (otherwise) return *otherwise;
    ADD_FAILURE() << "unexpected box: " << text;
    return IDABORT;
}

OverwriteAnswer ScriptedPrompt::AskOverwrite(HWND, const std::string& text,
                                             const std::string& caption) {
    questions.push_back(text);
    questionCaptions.push_back(caption);
    if (overwrite.empty()) {
        ADD_FAILURE() << "unexpected overwrite question: " << text;
        return OverwriteAnswer::No;
    }
    const OverwriteAnswer answer = overwrite.front();
    overwrite.pop_front();
    return answer;
}

void UseConfig(RunContext& ctx, const std::string& path, const std::string& text) {
    WriteFileBytes(path, text);
    ctx.Config = std::make_unique<TIniFile>(path);
}

void UseLanguage(RunContext& ctx, const std::string& path, const std::string& text) {
    WriteFileBytes(path, text);
    ctx.Language = std::make_unique<TIniFile>(path);
}

std::vector<std::string> RecordedValues(const std::string& path, const std::string& section) {
    FlushRecordFile(path);
    std::vector<std::string> values;
    for (const std::string& key : RecordKeys(path, section))
        values.push_back(RecordValue(path, section, key));
    return values;
}

std::string RecordedText(const std::string& path, const std::string& section) {
    std::string text;
    for (const std::string& value : RecordedValues(path, section))
        text += value + "|";
    return text;
}
