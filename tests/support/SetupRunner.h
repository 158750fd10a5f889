// Starts real setup programs (and other programs) the way a user would and watches
// what they show.
#pragma once

#include "WindowText.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A tiny valid 24-bit bitmap file.
std::string MakeBitmapFile(int width, int height);

// Writes a minimal project folder for mksetup: setup.ini with the given [Setup]
// body (AppName "Test Product" and AppVersion "1.0" unless it sets them), the
// setup folder with both pictures and the English language file.
void WriteMinimalProject(const std::string& projectDir, const std::string& setupBody = "");

// A program the test started: "path" args, with environment variables set for it (and
// whatever it starts) only. Fails the test when it cannot be started; killed with
// killCode when it still runs as the object goes away.
class StartedProgram {
  public:
    using Environment = std::vector<std::pair<std::string, std::string>>;
    StartedProgram(const std::string& path, const std::string& args,
                   const Environment& environment = {}, DWORD creationFlags = 0,
                   UINT killCode = 0xDEAD);
    ~StartedProgram();
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    bool Started() const { return pi_.hProcess != nullptr; }
    DWORD Id() const { return pi_.dwProcessId; }
    bool Exited() const;
    // The exit code once the program ended within timeoutMs; nothing while it runs.
    std::optional<DWORD> WaitExit(DWORD timeoutMs) const;
    // Kills it (if it still runs) and waits until it is gone.
    void Kill();

  private:
    PROCESS_INFORMATION pi_{};
    UINT killCode_;
};

// The environment that points TEMP and TMP at a folder.
StartedProgram::Environment TempAt(const std::string& folder);

// A message box that a setup process showed.
struct SeenBox {
    std::string caption;
    std::string text;
    HWND owner = nullptr;
    std::vector<std::string> buttons; // push-button texts in window order
    // Files in the setup temp folders (QVTMP*) of the run's TEMP while the box showed.
    std::vector<std::string> setupTempFiles;
};

struct SetupRun {
    uint32_t exitCode = 0xFFFFFFFF;
    bool timedOut = false;
    std::vector<SeenBox> boxes; // every box seen, in order, each answered with its default button
};

// Chooses the button (by its text, e.g. "&Ignore") to answer a box with; an empty
// answer clicks the box's first button.
using BoxAnswer = std::function<std::string(const SeenBox&)>;

// Runs the setup with the command line arguments, TEMP/TMP set to tempDir, and
// answers every box it shows (reading its texts first), by default with the first
// button. Gives up after timeoutMs (the process is then killed).
SetupRun RunSetup(const std::string& setupPath, const std::string& args, const std::string& tempDir,
                  DWORD timeoutMs = 60000, const BoxAnswer& answer = nullptr);

// Reads a box's texts and answers it as RunSetup does (for boxes of other processes
// than the one RunSetup started).
SeenBox ReadAndAnswerBox(HWND box, const BoxAnswer& answer);
