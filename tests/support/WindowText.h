// Reading windows the way a user sees them, from this process or another one: texts,
// the visible top-level windows of a process, and the parts of a message box.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The window's whole text; "" when its thread does not answer within five seconds (a
// hung program must not hang the test).
std::string TextOf(HWND wnd);

// A visible top-level window of the process with the class name, or nullptr.
HWND FindProcessWindow(DWORD processId, const char* className);

// The message of a message box: the text of its last static control that has one (the
// icon's has none).
std::string BoxText(HWND box);
// The visible push buttons of a box, in window order.
std::vector<HWND> BoxButtonWindows(HWND box);
// Their texts, in window order.
std::vector<std::string> BoxButtons(HWND box);
// The first visible button of the box with the text, or nullptr.
HWND BoxButton(HWND box, const std::string& text);
