// The cabinet layout, all little-endian:
//
//   header    "MSCF", 0, cabinet size, 0, offset of the first file entry, 0, version
//             1.3, folder count, file count, flags (1 previous, 2 next cabinet), set
//             id, index in the set; then the previous and next cabinet's name and
//             disk name when the flags say so
//   folders   8 bytes each: offset of its first data block, block count, compression
//   files     16 bytes each + name: size, offset in its folder's data, folder index
//             (or 0xFFFD/0xFFFE/0xFFFF: continued from the previous cabinet, into the
//             next one, or both), DOS date, DOS time, attributes
//   data      per block: checksum, stored size, data size (at most 32 KiB); then the
//             stored bytes
//
// One cabinet is streamed straight into its file; a set is laid out in memory (sets
// only serve to test the reader). In a set, a cabinet boundary restarts the history
// of the compression, and the folder it cut through ends with the file it cut, so
// every file that starts in a later cabinet starts a folder of its own there: that
// cabinet can be read without the one before.
#include "CabWriter.h"

#include "Builder.h"
#include "FileIo.h"
#include "MsZip.h"
#include "common/WinPath.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace mksetup {

namespace {

constexpr uint16_t kSetId = 0x5156; // "QV"
constexpr uint16_t kTypeStored = 0;
constexpr uint16_t kTypeMsZip = 1;
constexpr uint16_t kFlagPrevious = 1;
constexpr uint16_t kFlagNext = 2;
constexpr uint16_t kFromPrevious = 0xFFFD;
constexpr uint16_t kToNext = 0xFFFE;
constexpr uint16_t kPreviousAndNext = 0xFFFF;
constexpr uint16_t kExecute = 0x40;
constexpr size_t kHeaderSize = 36;
constexpr size_t kFolderSize = 8;
constexpr size_t kFileSize = 16;
constexpr size_t kBlockHeaderSize = 8;
constexpr size_t kMaxName = 255;      // the readers' name buffers hold 256 bytes
constexpr size_t kMaxBlocks = 0xFFFF; // block count of a folder: 16 bits
constexpr uint64_t kMaxFolder = 0xFFFFFFFFull;

void Put16(std::string& b, uint32_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// One file as the cabinet lists it; offset counts from the start of its stream (the
// single folder, or the whole set's data).
struct FileRecord {
    std::string name;
    uint32_t size = 0;
    uint64_t offset = 0;
    FileStamp stamp;
    bool execute = false;
};

// An entry's bytes: the source file, or contents given in memory. The file is open
// only while it is read: a setup may hold more files than a process may keep open
// (1024 on a usual Linux system).
class EntrySource {
  public:
    // Given contents still take the date, time and attributes of the source file.
    explicit EntrySource(const CabEntry& e) : entry_(e) {
        const InputFile file(e.sourcePath);
        size_ = e.contents ? e.contents->size() : file.Size();
        stamp_ = file.Stamp();
    }
    uint64_t Size() const { return size_; }
    FileStamp Stamp() const { return stamp_; }
    size_t Read(char* data, size_t size) {
        if (!entry_.contents) {
            if (!file_) file_ = std::make_unique<InputFile>(entry_.sourcePath);
            return file_->Read(data, size);
        }
        const size_t n = std::min<size_t>(size, entry_.contents->size() - at_);
        std::copy_n(entry_.contents->data() + at_, n, data);
        at_ += n;
        return n;
    }
    // The entry has been read whole: its file is closed.
    void Done() { file_.reset(); }

  private:
    const CabEntry& entry_;
    std::unique_ptr<InputFile> file_;
    uint64_t size_ = 0;
    FileStamp stamp_;
    size_t at_ = 0;
};

void CheckName(const std::string& name) {
    if (name.empty() || name.size() > kMaxName)
        throw std::runtime_error("invalid name in cabinet \"" + name + "\"");
}

// Opens every entry and lists it at its offset in one stream of data.
std::vector<FileRecord> OpenEntries(const std::vector<CabEntry>& entries,
                                    std::vector<std::unique_ptr<EntrySource>>& sources) {
    std::vector<FileRecord> records;
    uint64_t offset = 0;
    for (const CabEntry& e : entries) {
        CheckName(e.nameInCab);
        sources.push_back(std::make_unique<EntrySource>(e));
        const EntrySource& s = *sources.back();
        if (s.Size() > 0xFFFFFFFFull)
            throw std::runtime_error(e.sourcePath +
                                     " is 4 GiB or larger; a cabinet cannot hold it");
        FileRecord r;
        r.name = e.nameInCab;
        r.size = static_cast<uint32_t>(s.Size());
        r.offset = offset;
        r.stamp = s.Stamp();
        r.execute = e.execute;
        records.push_back(r);
        offset += r.size;
    }
    return records;
}

// A data block as stored: checksum, sizes, data. rawSize 0 marks the first part of
// a block split across two cabinets.
std::string MakeRecord(const char* packed, size_t size, size_t rawSize) {
    std::string sizes;
    Put16(sizes, static_cast<uint32_t>(size));
    Put16(sizes, static_cast<uint32_t>(rawSize));
    std::string record;
    record.reserve(kBlockHeaderSize + size);
    Put32(record, CabChecksum(sizes.data(), sizes.size(), CabChecksum(packed, size, 0)));
    record += sizes;
    record.append(packed, size);
    return record;
}

struct ListedFile {
    const FileRecord* record;
    uint64_t folderStart; // stream offset where the file's folder begins
    uint16_t folderField;
};

struct FolderHead {
    uint32_t blocks = 0;
    uint64_t dataSize = 0;
};

// Everything a cabinet's header says.
struct Listing {
    uint16_t index = 0;
    std::string previous, next; // cabinet names in a set; empty: none
    uint16_t compression = kTypeMsZip;
    std::vector<FolderHead> folders;
    std::vector<ListedFile> files;

    size_t HeaderSize() const {
        size_t n = kHeaderSize + kFolderSize * folders.size();
        if (!previous.empty()) n += previous.size() + 2; // name and an empty disk name
        if (!next.empty()) n += next.size() + 2;
        for (const ListedFile& f : files)
            n += kFileSize + f.record->name.size() + 1;
        return n;
    }

    std::string Header(uint64_t cabinetSize) const {
        if (folders.size() > 0xFFFF || files.size() > 0xFFFF)
            throw std::runtime_error("too many files for one cabinet");
        std::string b = "MSCF";
        Put32(b, 0);
        Put32(b, static_cast<uint32_t>(cabinetSize));
        Put32(b, 0);
        Put32(b, 0); // offset of the file entries, below
        Put32(b, 0);
        b += '\x03';
        b += '\x01';
        Put16(b, static_cast<uint32_t>(folders.size()));
        Put16(b, static_cast<uint32_t>(files.size()));
        Put16(b, (previous.empty() ? 0 : kFlagPrevious) | (next.empty() ? 0 : kFlagNext));
        Put16(b, kSetId);
        Put16(b, index);
        for (const std::string* name : {&previous, &next})
            if (!name->empty()) b += *name + '\0' + '\0';
        uint64_t data = HeaderSize();
        for (const FolderHead& f : folders) {
            Put32(b, static_cast<uint32_t>(data));
            Put16(b, f.blocks);
            Put16(b, compression);
            data += f.dataSize;
        }
        const size_t filesAt = b.size();
        b[16] = static_cast<char>(filesAt & 0xFF);
        b[17] = static_cast<char>((filesAt >> 8) & 0xFF);
        b[18] = static_cast<char>((filesAt >> 16) & 0xFF);
        for (const ListedFile& f : files) {
            const FileRecord& r = *f.record;
            Put32(b, r.size);
            Put32(b, static_cast<uint32_t>(r.offset - f.folderStart));
            Put16(b, f.folderField);
            Put16(b, r.stamp.date);
            Put16(b, r.stamp.time);
            Put16(b, r.stamp.attributes | (r.execute ? kExecute : 0));
            b += r.name + '\0';
        }
        return b;
    }
};

// ---- a set, laid out in memory --------------------------------------------------------

// The part of a folder that lies in one cabinet. A folder goes on in the next
// cabinet only through a block split across the boundary: its first part ends this
// piece (splitOut; its data runs from end to reach), the rest starts the next piece
// (splitIn), as the readers expect.
struct Piece {
    size_t folder;       // index into the set's folders
    uint64_t start, end; // stream offsets of the data its whole blocks give
    std::vector<std::string> blocks;
    uint64_t dataSize = 0;
    bool splitOut = false, splitIn = false;
    uint64_t reach = 0;
};

struct Cabinet {
    std::vector<Piece> pieces;
};

class SetLayout {
  public:
    SetLayout(const std::vector<FileRecord>& files, const std::string& data,
              const CabWriterOptions& options)
        : files_(files), data_(data), options_(options),
          zip_(options.compress ? std::make_unique<MsZipCompressor>() : nullptr) {}

    // Lays out the entries [first, last) of the stream, starting a new cabinet.
    void AddGroup(size_t first, size_t last) {
        const uint64_t begin = first < files_.size() ? files_[first].offset : data_.size();
        const uint64_t end = last < files_.size() ? files_[last].offset : data_.size();
        cabinets_.emplace_back();
        groupFirstFolder_ = folderStarts_.size();
        StartFolder(begin);
        uint64_t pos = begin, folderEnd = end;
        std::string packed, record;
        while (pos < end) {
            const uint64_t stop = std::min({pos + kCabBlockSize, folderEnd, end});
            const size_t rawSize = static_cast<size_t>(stop - pos);
            Pack(pos, stop, packed);
            Piece& piece = cabinets_.back().pieces.back();
            Piece probe = piece;
            probe.end = stop;
            const uint64_t whole = SizeWith(probe, packed.size());
            const bool lastOfFolder = stop == folderEnd || stop == end;
            const uint64_t limit = options_.maxCabinetSize;
            // A whole block leaves room to split the next one; the last block of a
            // folder need not, since nothing of the folder goes on.
            if (!limit || whole + (lastOfFolder ? 0 : kSplitReserve) <= limit) {
                Place(piece, MakeRecord(packed.data(), packed.size(), rawSize), stop);
                Advance(pos, stop, folderEnd, end);
                continue;
            }
            if (piece.blocks.empty()) {
                // The folder has nothing here yet: it starts in the next cabinet.
                const size_t folder = piece.folder;
                cabinets_.back().pieces.pop_back();
                if (cabinets_.back().pieces.empty())
                    throw std::runtime_error("the largest cabinet size is too small for one block");
                cabinets_.emplace_back();
                cabinets_.back().pieces.push_back({folder, pos, pos, {}, 0});
                continue;
            }
            const uint64_t fileEnd = std::min(end, FileEndAt(pos));
            if (folderEnd != fileEnd) {
                // The folder is cut here: it ends with the file being written, so that no
                // file starts in the part of it that lies in the next cabinet.
                folderEnd = fileEnd;
                continue;
            }
            // Split the block, packed without history: a reader may start afresh in the
            // next cabinet.
            if (zip_) zip_->Reset();
            Pack(pos, stop, packed);
            probe.end = pos;
            probe.splitOut = true;
            probe.reach = stop;
            const uint64_t room = limit - SizeWith(probe, 0);
            const size_t firstPart =
                static_cast<size_t>(std::min<uint64_t>(room, packed.size() - 1));
            piece.blocks.push_back(MakeRecord(packed.data(), firstPart, 0));
            piece.dataSize += piece.blocks.back().size();
            piece.splitOut = true;
            piece.reach = stop;
            cabinets_.emplace_back();
            Piece next{piece.folder, pos, pos, {}, 0};
            next.splitIn = true;
            cabinets_.back().pieces.push_back(next);
            Place(cabinets_.back().pieces.back(),
                  MakeRecord(packed.data() + firstPart, packed.size() - firstPart, rawSize), stop);
            Advance(pos, stop, folderEnd, end);
        }
        for (size_t i = first; i < last; ++i)
            fileFolder_.push_back(FolderOfFile(i));
    }

    // The header of each cabinet, given the names of the set's cabinets.
    Listing ListCabinet(size_t index, const std::vector<std::string>& names) const {
        Listing l;
        l.index = static_cast<uint16_t>(index);
        l.compression = options_.compress ? kTypeMsZip : kTypeStored;
        if (index > 0) l.previous = names[index - 1];
        if (index + 1 < cabinets_.size()) l.next = names[index + 1];
        for (const Piece& p : cabinets_[index].pieces)
            List(p, l);
        return l;
    }

    const std::vector<Cabinet>& Cabinets() const { return cabinets_; }

  private:
    // Room kept behind a whole block for the first part of a split one: its block
    // header, one byte, and the entry of a file that may start in it.
    static constexpr uint64_t kSplitReserve = kBlockHeaderSize + 1 + kFileSize + kMaxName + 1;

    void Pack(uint64_t from, uint64_t to, std::string& packed) {
        if (zip_)
            zip_->Compress(data_.data() + from, static_cast<size_t>(to - from), packed);
        else
            packed.assign(data_.data() + from, static_cast<size_t>(to - from));
    }

    void Place(Piece& piece, std::string record, uint64_t stop) {
        piece.dataSize += record.size();
        piece.blocks.push_back(std::move(record));
        piece.end = stop;
    }

    // Moves on past a placed block; a folder that ends there is followed by a new one.
    void Advance(uint64_t& pos, uint64_t stop, uint64_t& folderEnd, uint64_t end) {
        pos = stop;
        if (pos == folderEnd && pos < end) {
            StartFolder(pos);
            folderEnd = end;
        }
    }

    void StartFolder(uint64_t at) {
        folderStarts_.push_back(at);
        cabinets_.back().pieces.push_back({folderStarts_.size() - 1, at, at, {}, 0});
        if (zip_) zip_->Reset();
    }

    // The end of the file whose data holds the byte at pos.
    uint64_t FileEndAt(uint64_t pos) const {
        for (const FileRecord& f : files_)
            if (f.offset <= pos && pos < f.offset + f.size) return f.offset + f.size;
        return pos;
    }

    // The folder of a file: fixed once its group is laid out, else the last folder of
    // the group being laid out that starts at or before it.
    size_t FolderOfFile(size_t k) const {
        if (k < fileFolder_.size()) return fileFolder_[k];
        size_t f = groupFirstFolder_;
        while (f + 1 < folderStarts_.size() && folderStarts_[f + 1] <= files_[k].offset)
            ++f;
        return f;
    }

    // Adds a piece and the entries of its files to a cabinet's listing.
    void List(const Piece& p, Listing& l) const {
        const uint16_t index = static_cast<uint16_t>(l.folders.size());
        l.folders.push_back({static_cast<uint32_t>(p.blocks.size()), p.dataSize});
        const uint64_t reach = p.splitOut ? p.reach : p.end;
        for (size_t k = 0; k < files_.size(); ++k) {
            const FileRecord& f = files_[k];
            if (FolderOfFile(k) != p.folder) continue;
            const uint64_t fEnd = f.offset + f.size;
            // A file that starts in a block split from the previous cabinet was listed
            // there.
            const bool fromPrevious = f.offset < p.start || (p.splitIn && f.offset == p.start);
            const bool inside = f.size > 0 ? f.offset < reach && fEnd > p.start
                                           : p.start <= f.offset && f.offset <= p.end &&
                                                 !(p.splitIn && f.offset == p.start);
            if (!inside) continue;
            const bool toNext = f.size > 0 && fEnd > p.end && p.splitOut;
            const bool previous = f.size > 0 && fromPrevious;
            const uint16_t field = previous && toNext ? kPreviousAndNext
                                   : previous         ? kFromPrevious
                                   : toNext           ? kToNext
                                                      : index;
            l.files.push_back({&f, folderStarts_[p.folder], field});
        }
    }

    // The size of the last cabinet with its last piece replaced by `last` and one more
    // block of dataBytes, assuming a next cabinet follows.
    uint64_t SizeWith(const Piece& last, size_t dataBytes) const {
        const Cabinet& cab = cabinets_.back();
        Listing l;
        l.next = std::string(kMaxName, 'x');
        if (cabinets_.size() > 1) l.previous = l.next;
        uint64_t size = kBlockHeaderSize + dataBytes;
        for (size_t i = 0; i + 1 < cab.pieces.size(); ++i) {
            List(cab.pieces[i], l);
            size += cab.pieces[i].dataSize;
        }
        List(last, l);
        return size + last.dataSize + l.HeaderSize();
    }

    const std::vector<FileRecord>& files_;
    const std::string& data_;
    const CabWriterOptions& options_;
    std::unique_ptr<MsZipCompressor> zip_;
    std::vector<uint64_t> folderStarts_;
    std::vector<size_t> fileFolder_; // per file of the groups laid out
    size_t groupFirstFolder_ = 0;
    std::vector<Cabinet> cabinets_;
};

std::vector<std::string> WriteSet(const std::string& folder, const std::string& stem,
                                  const std::string& ext, const std::vector<CabEntry>& entries,
                                  const CabWriterOptions& options,
                                  std::vector<std::string>& written) {
    std::vector<std::unique_ptr<EntrySource>> sources;
    std::vector<FileRecord> files = OpenEntries(entries, sources);
    std::string data;
    for (size_t i = 0; i < sources.size(); ++i) {
        const size_t at = data.size();
        data.resize(at + files[i].size);
        if (sources[i]->Read(data.data() + at, files[i].size) != files[i].size)
            throw std::runtime_error("cannot read " + entries[i].sourcePath +
                                     ": the file changed while it was read");
        sources[i]->Done();
    }
    SetLayout layout(files, data, options);
    size_t first = 0;
    for (size_t i = 1; i <= entries.size(); ++i)
        if (i == entries.size() || entries[i].newCabinet) {
            layout.AddGroup(first, i);
            first = i;
        }

    std::vector<std::string> names;
    for (size_t i = 0; i < layout.Cabinets().size(); ++i)
        names.push_back(i == 0 ? stem + ext : stem + std::to_string(i + 1) + ext);
    for (size_t i = 0; i < names.size(); ++i) {
        Listing l = layout.ListCabinet(i, names);
        const Cabinet& cab = layout.Cabinets()[i];
        uint64_t size = l.HeaderSize();
        for (const Piece& p : cab.pieces)
            size += p.dataSize;
        const std::string path = folder + names[i];
        OutputFile out;
        out.Open(path);
        written.push_back(path);
        const std::string header = l.Header(size);
        out.Write(header.data(), header.size());
        for (const Piece& p : cab.pieces)
            for (const std::string& b : p.blocks)
                out.Write(b.data(), b.size());
        out.Close();
    }
    return written;
}

} // namespace

uint64_t AppendCabinet(OutputFile& out, const std::vector<CabEntry>& entries,
                       const CabWriterOptions& options) {
    std::vector<std::unique_ptr<EntrySource>> sources;
    std::vector<FileRecord> files = OpenEntries(entries, sources);
    const uint64_t total = files.empty() ? 0 : files.back().offset + files.back().size;
    const uint64_t blocks = (total + kCabBlockSize - 1) / kCabBlockSize;
    if (total > kMaxFolder || blocks > kMaxBlocks)
        throw std::runtime_error("the files total " + std::to_string(total) +
                                 " bytes, more than one cabinet folder holds");

    Listing l;
    l.compression = options.compress ? kTypeMsZip : kTypeStored;
    if (!entries.empty()) l.folders.push_back({static_cast<uint32_t>(blocks), 0});
    for (const FileRecord& f : files)
        l.files.push_back({&f, 0, 0});
    const uint64_t start = out.Size();
    const std::string header = l.Header(0);
    out.Write(header.data(), header.size());

    std::unique_ptr<MsZipCompressor> zip =
        options.compress ? std::make_unique<MsZipCompressor>() : nullptr;
    std::string raw(kCabBlockSize, '\0'), packed;
    size_t fill = 0;
    auto flush = [&] {
        if (zip)
            zip->Compress(raw.data(), fill, packed);
        else
            packed.assign(raw.data(), fill);
        const std::string block = MakeRecord(packed.data(), packed.size(), fill);
        out.Write(block.data(), block.size());
        if (options.progress) options.progress(fill);
        fill = 0;
    };
    for (size_t i = 0; i < sources.size(); ++i) {
        uint64_t left = files[i].size;
        while (left > 0) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(left, kCabBlockSize - fill));
            const size_t got = sources[i]->Read(raw.data() + fill, want);
            if (got == 0)
                throw std::runtime_error("cannot read " + entries[i].sourcePath +
                                         ": the file changed while it was read");
            fill += got;
            left -= got;
            if (fill == kCabBlockSize) flush();
        }
        char probe;
        if (!entries[i].contents && sources[i]->Read(&probe, 1) != 0)
            throw std::runtime_error("cannot read " + entries[i].sourcePath +
                                     ": the file changed while it was read");
        sources[i]->Done();
    }
    if (fill > 0) flush();

    const uint64_t size = out.Size() - start;
    std::string field;
    Put32(field, static_cast<uint32_t>(size));
    out.WriteAt(start + 8, field.data(), field.size());
    return size;
}

std::vector<std::string> WriteCabinet(const std::string& cabPath,
                                      const std::vector<CabEntry>& entries,
                                      const CabWriterOptions& options) {
    const std::string full = FullHostPath(cabPath);
    const std::string name = HostFileName(full);
    if (name.empty())
        throw std::runtime_error("Cannot write cabinet \"" + cabPath + "\": invalid path");
    const std::string folder = full.substr(0, full.size() - name.size());
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);

    const bool set =
        !entries.empty() &&
        (options.maxCabinetSize > 0 || std::any_of(entries.begin() + 1, entries.end(),
                                                   [](const CabEntry& e) { return e.newCabinet; }));
    std::vector<std::string> written;
    try {
        if (set) return WriteSet(folder, stem, ext, entries, options, written);
        OutputFile out;
        out.Open(full);
        written.push_back(full);
        AppendCabinet(out, entries, options);
        out.Close();
        return written;
    } catch (const std::exception& e) {
        for (const std::string& path : written)
            RemoveFile(path);
        throw std::runtime_error("Cannot write cabinet \"" + full + "\": " + e.what());
    }
}

void WriteCabinet(const std::string& cabPath, const std::vector<CabEntry>& entries) {
    WriteCabinet(cabPath, entries, CabWriterOptions{});
}

} // namespace mksetup
