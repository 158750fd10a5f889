#include "SetupRunner.h"

#include "TestSupport.h"
#include "WindowText.h"

#include <gtest/gtest.h>

#include <memory>

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
    WriteFileBytes(projectDir + "\\setup\\Englishqv.lng", ReadFileBytes(kDemoLanguageFile));
}

StartedProgram::StartedProgram(const std::string& path, const std::string& args,
                               const Environment& environment, DWORD creationFlags, UINT killCode)
    : killCode_(killCode) {
    std::vector<std::unique_ptr<ScopedEnvironment>> scoped;
    for (const auto& [name, value] : environment)
        scoped.push_back(std::make_unique<ScopedEnvironment>(name, value));
    std::string cmd = "\"" + path + "\"" + (args.empty() ? "" : " " + args);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(path.c_str(), cmd.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                        nullptr, &si, &pi_)) {
        ADD_FAILURE() << "cannot start " << path << " (error " << GetLastError() << ")";
        pi_ = {};
    }
}

StartedProgram::~StartedProgram() {
    Kill();
}

bool StartedProgram::Exited() const {
    return Started() && WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0;
}

std::optional<DWORD> StartedProgram::WaitExit(DWORD timeoutMs) const {
    if (!Started() || WaitForSingleObject(pi_.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

void StartedProgram::Kill() {
    if (!Started()) return;
    if (!Exited()) {
        TerminateProcess(pi_.hProcess, killCode_);
        WaitForSingleObject(pi_.hProcess, 10000);
    }
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
    pi_ = {};
}

StartedProgram::Environment TempAt(const std::string& folder) {
    return {{"TEMP", folder}, {"TMP", folder}};
}

namespace {

// Reads the box, then clicks the button answer chooses (the first one by default).
SeenBox AnswerBox(HWND box, std::vector<std::string> tempFiles, const BoxAnswer& answer) {
    SeenBox seen;
    seen.caption = TextOf(box);
    seen.owner = GetWindow(box, GW_OWNER);
    seen.setupTempFiles = std::move(tempFiles);
    seen.text = BoxText(box);
    const std::vector<HWND> buttons = BoxButtonWindows(box);
    for (HWND b : buttons)
        seen.buttons.push_back(TextOf(b));
    HWND button = buttons.empty() ? nullptr : buttons.front();
    if (answer) {
        const std::string want = answer(seen);
        if (HWND chosen = want.empty() ? nullptr : BoxButton(box, want)) button = chosen;
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

SetupRun RunSetup(const std::string& setupPath, const std::string& args, const std::string& tempDir,
                  DWORD timeoutMs, const BoxAnswer& answer) {
    SetupRun run;
    StartedProgram program(setupPath, args, TempAt(tempDir));
    if (!program.Started()) return run;
    const DWORD start = GetTickCount();
    HWND lastAnswered = nullptr;
    std::optional<DWORD> code;
    while (!(code = program.WaitExit(50))) {
        HWND box = FindProcessWindow(program.Id(), "#32770");
        if (box && box != lastAnswered) {
            std::vector<std::string> files;
            for (const std::string& d : ListFolders(tempDir, "QVTMP"))
                for (const std::string& f : ListFiles(tempDir + "\\" + d))
                    files.push_back(f);
            run.boxes.push_back(AnswerBox(box, files, answer));
            lastAnswered = box;
        }
        if (GetTickCount() - start > timeoutMs) {
            run.timedOut = true;
            program.Kill();
            break;
        }
    }
    run.exitCode = code.value_or(0xDEAD);
    return run;
}
