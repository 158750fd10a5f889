#include "HostSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

Scratch::Scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qvhost-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make a scratch folder");
    path_ = name.data();
}

Scratch::~Scratch() {
    std::error_code ec;
    // Read-only files inside are removed too: their folders are writable.
    fs::remove_all(path_, ec);
}

void PutFile(const std::string& path, const std::string& bytes, int64_t mtime) {
    fs::create_directories(fs::path(path).parent_path());
    std::error_code ec; // a file made read-only by an earlier call is written again
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << path;
    }
    const struct timespec times[2] = {{static_cast<time_t>(mtime), 0},
                                      {static_cast<time_t>(mtime), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::string GetFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void CopyTree(const std::string& from, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy(from, to, fs::copy_options::recursive);
    for (const auto& e : fs::recursive_directory_iterator(from)) {
        const fs::path target = fs::path(to) / fs::relative(e.path(), from);
        struct stat st;
        ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, target.c_str(), times, 0), 0);
    }
}

std::string NoiseBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string TextBytes(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"install", "folder", "value",       "record", "setup",
                                         "return",  "const",  "std::string", "if",     "file"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) {
        s += kWords[rng() % 10];
        s += (rng() % 8 == 0) ? "\r\n" : " ";
    }
    s.resize(size);
    return s;
}

RunResult RunProgram(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment) {
    RunResult r;
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        for (const std::string& e : environment)
            ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string WindowsBuild() {
    return QV_WINDOWS_BUILD;
}

std::string WinePath(const std::string& path) {
    std::string p = "Z:" + path;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

void WriteSampleProject(const std::string& dir) {
    int64_t t = 1685620800; // 2023-06-01 12:00:00 UTC; each file a minute later
    auto put = [&](const std::string& rel, const std::string& bytes) {
        PutFile(dir + "/" + rel, bytes, t += 60);
    };
    put("setup.ini", "[Setup]\r\nAppName=Sample\r\nAppVersion=1.0\r\n"
                     "InstallationPath=<ProgramFiles>\\Sample\r\nWindows 7=1\r\n"
                     "Windows 8.1=1\r\n\r\n[Payload]\r\n"
                     "0=payload\\app.exe?<InstallDir>\\app.exe?OVERWRITE?Yes\r\n"
                     "1=payload/docs?<InstallDir>\\docs?OVERWRITE ONLY IF NEWER?Yes\r\n"
                     "2=payload\\empty.dat?<InstallDir>\\empty.dat?SKIP?No\r\n");
    // The demo's pictures and texts: a project the builder's checks accept.
    for (const char* name : {"qvwizard.bmp", "qvheader.bmp", "Englishqv.lng"})
        put(std::string("setup/") + name,
            GetFile(std::string(QV_SOURCE_DIR) + "/examples/demo/setup/" + name));
    put("payload/app.exe", NoiseBytes(100000, 3) + TextBytes(150000, 4));
    put("payload/docs/read me.txt", TextBytes(70000, 5));
    put("payload/docs/sub/notes.log", TextBytes(5000, 6));
    put("payload/docs/sub/locked.txt", "read-only");
    ::chmod((dir + "/payload/docs/sub/locked.txt").c_str(), 0444);
    put("payload/empty.dat", "");
}

namespace {

uint16_t U16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) |
                                 (static_cast<uint8_t>(b[at + 1]) << 8));
}
uint32_t U32(const std::string& b, size_t at) {
    return U16(b, at) | (uint32_t{U16(b, at + 2)} << 16);
}

// The checksum as a reader computes it: 32-bit little-endian words XORed, the last
// one to three bytes first-byte-highest.
uint32_t Checksum(const char* p, size_t n, uint32_t sum) {
    for (; n >= 4; n -= 4, p += 4)
        sum ^= U32(std::string(p, 4), 0);
    uint32_t last = 0;
    while (n-- > 0)
        last = (last << 8) | static_cast<uint8_t>(*p++);
    return sum ^ last;
}

// Inflates one MSZIP block with the previous block as the window.
std::string Inflate(const std::string& packed, const std::string& window, size_t rawSize) {
    std::string out(rawSize, '\0');
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    if (!window.empty()) {
        EXPECT_EQ(inflateSetDictionary(&z, reinterpret_cast<const Bytef*>(window.data()),
                                       static_cast<uInt>(window.size())),
                  Z_OK);
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << "a block must be one whole deflate stream";
    EXPECT_EQ(z.avail_out, 0u);
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the block's stream";
    inflateEnd(&z);
    return out;
}

} // namespace

std::vector<CabFileFound> ReadCabinet(const std::string& b) {
    std::vector<CabFileFound> found;
    if (b.size() < 36 || b.compare(0, 4, "MSCF") != 0) {
        ADD_FAILURE() << "not a cabinet";
        return found;
    }
    EXPECT_EQ(U32(b, 8), b.size()) << "cabinet size field";
    EXPECT_EQ(U16(b, 30), 0) << "a single cabinet: no previous or next one, no reserve";
    const uint16_t folders = U16(b, 26), files = U16(b, 28);
    std::vector<std::string> data(folders);
    for (uint16_t f = 0; f < folders; ++f) {
        size_t at = U32(b, 36 + 8 * f);
        const uint16_t blocks = U16(b, 36 + 8 * f + 4), type = U16(b, 36 + 8 * f + 6);
        std::string window;
        for (uint16_t k = 0; k < blocks && at + 8 <= b.size(); ++k) {
            const uint16_t packedSize = U16(b, at + 4), rawSize = U16(b, at + 6);
            const std::string packed = b.substr(at + 8, packedSize);
            EXPECT_EQ(U32(b, at),
                      Checksum(b.data() + at + 4, 4, Checksum(packed.data(), packed.size(), 0)))
                << "checksum of block " << k;
            std::string raw;
            if (type == 1) {
                EXPECT_EQ(packed.substr(0, 2), "CK");
                raw = Inflate(packed.substr(2), window, rawSize);
            } else {
                raw = packed;
            }
            EXPECT_LE(raw.size(), 32768u);
            data[f] += raw;
            window = raw;
            at += 8 + packedSize;
        }
    }
    size_t at = U32(b, 16);
    for (uint16_t i = 0; i < files && at + 16 < b.size(); ++i) {
        CabFileFound file;
        const uint32_t size = U32(b, at), offset = U32(b, at + 4);
        const uint16_t folder = U16(b, at + 8);
        file.date = U16(b, at + 10);
        file.time = U16(b, at + 12);
        file.attributes = U16(b, at + 14);
        const size_t end = b.find('\0', at + 16);
        file.name = b.substr(at + 16, end - at - 16);
        if (folder < data.size() && offset + uint64_t{size} <= data[folder].size())
            file.data = data[folder].substr(offset, size);
        else
            ADD_FAILURE() << file.name << " lies outside its folder's data";
        found.push_back(file);
        at = end + 1;
    }
    return found;
}

SetupFound ReadSetup(const std::string& setupFile) {
    SetupFound s;
    const std::string b = GetFile(setupFile);
    if (b.size() < 400013 || b.compare(b.size() - 13, 3, "ZYX") != 0) {
        ADD_FAILURE() << setupFile << " has no trailer";
        return s;
    }
    const size_t cabSize = std::stoul(b.substr(b.size() - 10));
    const size_t cabStart = b.size() - 13 - cabSize;
    s.setupFiles = ReadCabinet(b.substr(cabStart, cabSize));
    for (const CabFileFound& f : s.setupFiles)
        if (f.name == "qvsetup.ini") s.configuration = f.data;
    std::istringstream lines(s.configuration);
    std::string line, section;
    std::vector<size_t> sizes;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') section = line;
        if (section == "[Setup]" && line.rfind("EngineSize=", 0) == 0)
            s.engineSize = static_cast<uint32_t>(std::stoul(line.substr(11)));
        if (section == "[Files]" && line.find('=') != std::string::npos) {
            const size_t q1 = line.find('?'), q2 = line.find('?', q1 + 1);
            sizes.push_back(std::stoul(line.substr(q1 + 1, q2 - q1 - 1)));
        }
    }
    size_t at = s.engineSize;
    for (size_t size : sizes) {
        std::vector<CabFileFound> one = ReadCabinet(b.substr(at, size));
        EXPECT_EQ(one.size(), 1u) << "one file per payload cabinet";
        if (!one.empty()) s.payload.push_back(one[0]);
        at += size;
    }
    EXPECT_EQ(at, cabStart) << "the payload ends where the setup cabinet starts";
    return s;
}
