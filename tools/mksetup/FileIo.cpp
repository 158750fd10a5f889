// The host-independent half of the builder's file access.
#include "FileIo.h"

#include "Builder.h"

#include <algorithm>

namespace mksetup {

namespace {

// Big enough that large payloads copy quickly, small enough to keep memory flat.
constexpr size_t kCopyBlock = 256 * 1024;

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

} // namespace

std::string HostPath(const std::string& path) {
    std::string p = path;
    std::replace_if(p.begin(), p.end(), IsSeparator, kHostSeparator);
    return p;
}

std::string JoinHostPath(const std::string& folder, const std::string& rel) {
    std::string tail = HostPath(rel);
    size_t skip = tail.find_first_not_of(kHostSeparator);
    tail.erase(0, skip == std::string::npos ? tail.size() : skip);
    std::string head = HostPath(folder);
    if (head.empty() || head.back() != kHostSeparator) head += kHostSeparator;
    return head + tail;
}

std::string HostFolderOf(const std::string& path) {
    std::string p = HostPath(path);
    size_t at = p.find_last_of(kHostSeparator);
    if (at == std::string::npos) return {};
    // "/x" and "C:\x" keep their root.
    if (at == 0 || (at == 2 && p[1] == ':')) return p.substr(0, at + 1);
    return p.substr(0, at);
}

std::string HostFileName(const std::string& path) {
    std::string p = HostPath(path);
    size_t at = p.find_last_of(kHostSeparator);
    return at == std::string::npos ? p : p.substr(at + 1);
}

void PackDosDateTime(int64_t localSeconds, uint16_t& date, uint16_t& time) {
    constexpr int64_t kDay = 86400;
    constexpr int64_t kFirst = 315532800;   // 1980-01-01 00:00:00
    constexpr int64_t kLast = 4354819198LL; // 2107-12-31 23:59:58
    const int64_t s = std::clamp(localSeconds, kFirst, kLast);
    int64_t days = s / kDay, rest = s % kDay;
    // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
    days += 719468;
    const int64_t era = days / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    date = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    time = static_cast<uint16_t>(((rest / 3600) << 11) | ((rest / 60 % 60) << 5) | (rest % 60 / 2));
}

std::string ReadSmallFile(const std::string& path, uint64_t maxSize) {
    InputFile in(path);
    if (in.Size() > maxSize)
        throw BuildError(path + " is larger than " + std::to_string(maxSize) + " bytes");
    std::string bytes(static_cast<size_t>(in.Size()), '\0');
    if (in.Read(bytes.data(), bytes.size()) != bytes.size())
        throw BuildError("cannot read " + path + ": the file changed while it was read");
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    OutputFile out;
    out.Open(path);
    out.Write(bytes.data(), bytes.size());
    out.Close();
}

void OutputFile::WriteZeros(uint64_t count) {
    std::vector<char> zeros(static_cast<size_t>(std::min<uint64_t>(count, kCopyBlock)), 0);
    while (count > 0) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, zeros.size()));
        Write(zeros.data(), chunk);
        count -= chunk;
    }
}

void OutputFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (offset + size > size_)
        throw BuildError("cannot write " + path_ + ": rewrite past the end of the file");
    const uint64_t end = size_;
    Seek(offset);
    size_ = offset;
    Write(data, size);
    Seek(end);
    size_ = end;
}

uint64_t OutputFile::Append(const std::string& path) {
    InputFile in(path);
    std::vector<char> buf(kCopyBlock);
    uint64_t total = 0;
    while (size_t got = in.Read(buf.data(), buf.size())) {
        Write(buf.data(), got);
        total += got;
    }
    return total;
}

} // namespace mksetup
