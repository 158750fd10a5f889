// Program entry of the setup runtime: restrict DLL loading, run start-up, then show
// the wizard until it closes. Everything else lives in the qvruntime library.
#include "app/Startup.h"
#include "platform/Error.h"
#include "platform/SystemLibrary.h"
#include "run/CommandLine.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupLog.h"
#include "wizard/Unit1.h"

#include <windows.h>
#include <objbase.h>

#include <new>

// The default handler of an escaped exception prints the demangled type name, which
// drags the whole demangler (about 46 KB) into the runtime. Nothing escapes WinMain,
// so the short handler is enough.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    ExitProcess(1);
}
} // namespace __gnu_cxx

// The library's own raisers of its error exceptions live in one object together with
// every standard exception type and pull in a second, reference-counted string
// implementation (about 40 KB). These raise the same conditions with the program's own
// error type (a std::exception as well, so every handler still sees them).
namespace std {
void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
void __throw_length_error(const char* what) {
    throw RuntimeError(what);
}
void __throw_logic_error(const char* what) {
    throw RuntimeError(what);
}
void __throw_out_of_range(const char* what) {
    throw RuntimeError(what);
}
void __throw_out_of_range_fmt(const char* format, ...) {
    throw RuntimeError(format);
}
void __throw_invalid_argument(const char* what) {
    throw RuntimeError(what);
}
} // namespace std

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // A setup usually runs from a Downloads folder, where a planted DLL must never be
    // picked up: DLLs loaded from here on come from the system folder only.
    RestrictDllSearchToSystemFolder();
    static RunContext ctx;
    ctx.Args = CommandLineArgs();
    static TForm1 form(ctx);
    try {
        // Returns only when the wizard is to be shown: a silent run ends inside.
        FormCreate(ctx);
        // The folder browser and the shell need COM on this, the only, thread.
        EnsureCom();
        if (!form.Create()) {
            AbortSetup(ctx);
            return 1;
        }
        form.Show();
        const int code = form.Run();
        EndEventLog(ctx, "Exit code: " + std::to_string(code) + " (the wizard closed)");
        return code;
    } catch (...) {
        // Nothing should get here; if something does, the run still cleans up after
        // itself and reports a failure rather than crashing or claiming success.
        AbortSetup(ctx);
    }
    return 1;
}
