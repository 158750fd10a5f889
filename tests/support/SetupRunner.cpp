#include "SetupRunner.h"

#include "TestSupport.h"

#include <cstring>

std::string MakeBitmapFile(int width, int height) {
    const int rowSize = (width * 3 + 3) & ~3;
    const int imageSize = rowSize * height;
    BITMAPFILEHEADER fh{};
    BITMAPINFOHEADER ih{};
    fh.bfType = 0x4D42; // "BM"
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + imageSize;
    ih.biSize = sizeof ih;
    ih.biWidth = width;
    ih.biHeight = height;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biCompression = BI_RGB;
    ih.biSizeImage = imageSize;
    std::string data(reinterpret_cast<const char*>(&fh), sizeof fh);
    data.append(reinterpret_cast<const char*>(&ih), sizeof ih);
    for (int y = 0; y < height; ++y) {
        std::string row(rowSize, '\0');
        for (int x = 0; x < width; ++x) {
            row[x * 3] = static_cast<char>(40 + y);     // blue
            row[x * 3 + 1] = static_cast<char>(90 + x); // green
            row[x * 3 + 2] = static_cast<char>(160);    // red
        }
        data += row;
    }
    return data;
}

void WriteMinimalProject(const std::string& projectDir, const std::string& setupBody) {
    CreateDirectoryA(projectDir.c_str(), nullptr);
    CreateDirectoryA((projectDir + "\\setup").c_str(), nullptr);
    // Defaults for the product's name and version unless the body gives its own.
    std::string head = "[Setup]\r\n";
    if (setupBody.find("AppName=") == std::string::npos) head += "AppName=Test Product\r\n";
    if (setupBody.find("AppVersion=") == std::string::npos) head += "AppVersion=1.0\r\n";
    // Every system the system check knows is supported, unless the body says otherwise.
    for (const char* os : {"Windows XP", "Windows Vista", "Windows 7", "Windows 8", "Windows 8.1",
                           "Windows Server 2003", "Windows Server 2008", "Windows Server 2008 R2",
                           "Windows Server 2012", "Windows Server 2012 R2"})
        if (setupBody.find(std::string(os) + "=") == std::string::npos)
            head += std::string(os) + "=1\r\n";
    WriteFileBytes(projectDir + "\\setup.ini", head + setupBody);
    WriteFileBytes(projectDir + "\\setup\\qvwizard.bmp", MakeBitmapFile(16, 32));
    WriteFileBytes(projectDir + "\\setup\\qvheader.bmp", MakeBitmapFile(8, 8));
    // The demo's complete English texts, so that tests see the real messages.
    WriteFileBytes(projectDir + "\\setup\\Englishqv.lng",
                   ReadFileBytes(QV_SOURCE_DIR "\\examples\\demo\\setup\\Englishqv.lng"));
}

namespace {

struct BoxSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindDialogOfProcess(HWND wnd, LPARAM param) {
    auto* s = reinterpret_cast<BoxSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    char cls[64] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (pid == s->pid && std::strcmp(cls, "#32770") == 0 && IsWindowVisible(wnd)) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

std::string WindowText(HWND wnd) {
    int n = static_cast<int>(SendMessageA(wnd, WM_GETTEXTLENGTH, 0, 0));
    std::string s(n + 1, '\0');
    SendMessageA(wnd, WM_GETTEXT, n + 1, reinterpret_cast<LPARAM>(s.data()));
    s.resize(std::strlen(s.c_str()));
    return s;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    // The message text is the static control that carries text (the icon's has none).
    if (_stricmp(cls, "Static") == 0) {
        std::string t = WindowText(child);
        if (!t.empty()) *reinterpret_cast<std::string*>(param) = t;
    }
    return TRUE;
}

BOOL CALLBACK CollectButtons(HWND child, LPARAM param) {
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (_stricmp(cls, "Button") == 0 && IsWindowVisible(child))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    return TRUE;
}

SeenBox AnswerBox(HWND box, std::vector<std::string> tempFiles, const BoxAnswer& answer) {
    SeenBox seen;
    seen.caption = WindowText(box);
    seen.owner = GetWindow(box, GW_OWNER);
    seen.setupTempFiles = std::move(tempFiles);
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&seen.text));
    std::vector<HWND> buttons;
    EnumChildWindows(box, CollectButtons, reinterpret_cast<LPARAM>(&buttons));
    for (HWND b : buttons)
        seen.buttons.push_back(WindowText(b));
    HWND button = buttons.empty() ? nullptr : buttons.front();
    if (answer) {
        std::string want = answer(seen);
        for (HWND b : buttons)
            if (!want.empty() && WindowText(b) == want) button = b;
    }
    if (button)
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    else
        PostMessageA(box, WM_CLOSE, 0, 0);
    return seen;
}

} // namespace

SeenBox ReadAndAnswerBox(HWND box, const BoxAnswer& answer) {
    return AnswerBox(box, {}, answer);
}

std::vector<std::string> BoxButtons(HWND box) {
    std::vector<HWND> buttons;
    EnumChildWindows(box, CollectButtons, reinterpret_cast<LPARAM>(&buttons));
    std::vector<std::string> texts;
    for (HWND b : buttons)
        texts.push_back(WindowText(b));
    return texts;
}

SetupRun RunSetup(const std::string& setupPath, const std::string& args, const std::string& tempDir,
                  DWORD timeoutMs, const BoxAnswer& answer) {
    SetupRun run;
    TempEnvironment env(tempDir);
    std::string cmd = "\"" + setupPath + "\"" + (args.empty() ? "" : " " + args);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(setupPath.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        ADD_FAILURE() << "cannot start " << setupPath << " (error " << GetLastError() << ")";
        return run;
    }
    const DWORD start = GetTickCount();
    HWND lastAnswered = nullptr;
    for (;;) {
        DWORD w = WaitForSingleObject(pi.hProcess, 50);
        if (w == WAIT_OBJECT_0) break;
        BoxSearch s{pi.dwProcessId, nullptr};
        EnumWindows(FindDialogOfProcess, reinterpret_cast<LPARAM>(&s));
        if (s.found && s.found != lastAnswered) {
            std::vector<std::string> files;
            for (const std::string& d : ListFolders(tempDir, "QVTMP"))
                for (const std::string& f : ListFiles(tempDir + "\\" + d))
                    files.push_back(f);
            run.boxes.push_back(AnswerBox(s.found, files, answer));
            lastAnswered = s.found;
        }
        if (GetTickCount() - start > timeoutMs) {
            run.timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    run.exitCode = code;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

std::vector<std::string> ListFolders(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\" + prefix + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) out.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
}

std::vector<std::string> ListFiles(const std::string& dir) {
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
}
