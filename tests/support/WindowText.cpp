#include "WindowText.h"

#include <cstring>

namespace {

constexpr UINT kAnswerTimeoutMs = 5000;

bool ClassIs(HWND wnd, const char* className) {
    char cls[64] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    return _stricmp(cls, className) == 0;
}

struct WindowSearch {
    DWORD processId;
    const char* className;
    HWND found;
};

BOOL CALLBACK FindOfProcess(HWND wnd, LPARAM param) {
    auto* s = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid == s->processId && ClassIs(wnd, s->className) && IsWindowVisible(wnd)) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
    if (ClassIs(child, "Static")) {
        std::string t = TextOf(child);
        if (!t.empty()) *reinterpret_cast<std::string*>(param) = t;
    }
    return TRUE;
}

BOOL CALLBACK CollectButtons(HWND child, LPARAM param) {
    if (ClassIs(child, "Button") && IsWindowVisible(child))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    return TRUE;
}

} // namespace

std::string TextOf(HWND wnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                             &length))
        return "";
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(wnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &copied))
        return "";
    text.resize(std::strlen(text.c_str()));
    return text;
}

HWND FindProcessWindow(DWORD processId, const char* className) {
    WindowSearch s{processId, className, nullptr};
    EnumWindows(FindOfProcess, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string BoxText(HWND box) {
    std::string text;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

std::vector<HWND> BoxButtonWindows(HWND box) {
    std::vector<HWND> buttons;
    EnumChildWindows(box, CollectButtons, reinterpret_cast<LPARAM>(&buttons));
    return buttons;
}

std::vector<std::string> BoxButtons(HWND box) {
    std::vector<std::string> texts;
    for (HWND b : BoxButtonWindows(box))
        texts.push_back(TextOf(b));
    return texts;
}

HWND BoxButton(HWND box, const std::string& text) {
    for (HWND b : BoxButtonWindows(box))
        if (TextOf(b) == text) return b;
    return nullptr;
}
