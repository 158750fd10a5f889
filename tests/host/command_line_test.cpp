// The native mksetup's command line: help, version, exit codes and messages, the
// same as mksetup.exe's; the progress line only on a terminal.
#include "FileIo.h"
#include "HostSupport.h"
#include "Progress.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

RunResult Native(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QV_HOST_MKSETUP};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

RunResult Windows(const std::vector<std::string>& args) {
    std::vector<std::string> argv{WindowsBuild() + "/wine-run.sh",
                                  WindowsBuild() + "/bin/mksetup.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = RunProgram(argv);
    // The console of a Windows program ends its lines with CR LF.
    for (std::string* text : {&r.out, &r.err})
        for (size_t at; (at = text->find("\r\n")) != std::string::npos;)
            text->erase(at, 1);
    return r;
}

TEST(CommandLine, HelpVersionAndUsageErrors) {
    RunResult help = Native({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: mksetup <project folder> <output setup.exe>", 0), 0u)
        << help.out;
    EXPECT_NE(help.out.find("--uninstaller"), std::string::npos);
    EXPECT_NE(help.out.find("exit codes"), std::string::npos);

    RunResult version = Native({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("mksetup 1.0.0 (Linux build, zlib ", 0), 0u) << version.out;

    for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                                {"only-one"},
                                                {"a", "b", "c"},
                                                {"a", "b", "--bogus"},
                                                {"a", "b", "--stub"},
                                                {"a", "b", "--stub", "x", "--stub", "y"}}) {
        RunResult r = Native(bad);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(r.err.rfind("mksetup: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("usage: mksetup"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(CommandLine, FailedBuildSaysWhyAndLeavesNothing) {
    Scratch s;
    RunResult r = Native({s / "no-such-project", s / "setup.exe"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "mksetup: error: project folder not found: " + s / "no-such-project" + "\n");
    WriteSampleProject(s / "p");
    r = Native({s / "p", s / "setup.exe", "--stub", s / "missing-stub.exe"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "mksetup: error: runtime not found: " + s / "missing-stub.exe" + "\n");
    r = Native(
        {s / "p", s / "setup.exe", "--stub", s / "p/setup.ini", "--uninstaller", s / "none.exe"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "mksetup: error: uninstaller not found: " + s / "none.exe" + "\n");
    EXPECT_FALSE(mksetup::FileExists(s / "setup.exe"));

    // Setup-folder names that a Linux folder holds but a Windows one cannot.
    PutFile(s / "stub.exe", NoiseBytes(100, 1));
    PutFile(s / "p/setup/notes:v2.txt", "x");
    r = Native({s / "p", s / "setup.exe", "--stub", s / "stub.exe"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "mksetup: error: setup folder file name is not valid on Windows: notes:v2.txt\n");
    std::remove((s / "p/setup/notes:v2.txt").c_str());
    PutFile(s / "p/setup/Readme.txt", "a");
    PutFile(s / "p/setup/README.TXT", "b");
    r = Native({s / "p", s / "setup.exe", "--stub", s / "stub.exe"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "mksetup: error: setup folder holds README.TXT and Readme.txt, one file on "
                     "Windows\n");
    EXPECT_FALSE(mksetup::FileExists(s / "setup.exe"));
}

TEST(CommandLine, BuildsWithAWarningWhenNoUninstallerIsFound) {
    Scratch s;
    WriteSampleProject(s / "p");
    PutFile(s / "stub.exe", NoiseBytes(100, 1));
    RunResult r = Native({s / "p", s / "setup.exe", "--stub", s / "stub.exe"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.rfind("mksetup: warning: no uninstaller", 0), 0u) << r.err;
    EXPECT_EQ(r.out.rfind("mksetup: 5 file(s), ", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << "no progress line into a pipe";
    // The product maker's own uninstaller needs none from the builder.
    PutFile(s / "p/setup/QVUninstall.exe", "own");
    r = Native({s / "p", s / "setup.exe", "--stub", s / "stub.exe"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

// The Windows builder answers the same command lines with the same exit codes and
// texts (paths aside, which each host spells its own way).
TEST(CommandLine, WindowsBuilderAnswersTheSame) {
    if (WindowsBuild().empty()) GTEST_SKIP() << "no Windows build to compare with";
    EXPECT_EQ(Windows({"--help"}).out, Native({"--help"}).out);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"only-one"}, {"a", "b", "--bogus"}, {"a", "b", "--stub"}}) {
        RunResult w = Windows(args), n = Native(args);
        EXPECT_EQ(w.exitCode, n.exitCode);
        EXPECT_EQ(w.err, n.err);
    }
    Scratch s;
    RunResult w = Windows({WinePath(s / "nothing"), WinePath(s / "x.exe")});
    RunResult n = Native({s / "nothing", s / "x.exe"});
    EXPECT_EQ(w.exitCode, 1);
    EXPECT_EQ(n.exitCode, 1);
    EXPECT_EQ(w.err, "mksetup: error: project folder not found: " + WinePath(s / "nothing") + "\n");
}

TEST(CommandLine, ProgressLineOnlyOnATerminalAndAfterASecond) {
    mksetup::BuildProgress p{3, 10, 5 << 20, 20 << 20};
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    FILE* terminal = ::fdopen(slave, "w");
    ASSERT_NE(terminal, nullptr);
    mksetup::ProgressLine quiet(file), shown(terminal);
    quiet.Update(p);
    shown.Update(p); // too early: short builds show nothing
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    quiet.Update(p);
    shown.Update(p);
    shown.Finish();
    EXPECT_EQ(std::ftell(file), 0L) << "a file is no terminal";
    char buf[256] = {};
    const ssize_t n = ::read(master, buf, sizeof buf - 1);
    ASSERT_GT(n, 0);
    const std::string line(buf, static_cast<size_t>(n));
    EXPECT_NE(line.find("mksetup: 3/10 files, 5.0/20.0 MB, "), std::string::npos) << line;
    EXPECT_NE(line.find(" MB/s"), std::string::npos) << line;
    std::fclose(file);
    std::fclose(terminal);
    ::close(master);
}

} // namespace
