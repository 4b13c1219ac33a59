#include "tools/upkg/build.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "package/archive_format.h"
#include "package/file.h"
#include "package/hash_list.h"
#include "text/encoding.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/stored_text.h"
#include "tools/upkg/stream.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t Maximum32 = 0xFFFFFFFF;

struct SourceFile {
    fs::path path;
    std::string relative;  // UTF-8, backslashes between components
    std::string name;      // UTF-8, the last component
    std::string storedName;
    uint64_t size = 0;
    uint64_t checksum = 0;
};

struct Layout {
    const IndexLayout& index;
    uint32_t recordSize;
    uint32_t pathField;
    const char* hashListMagic;
};

Layout LayoutFor(const BuildRequest& request) {
    const bool v1 = request.hashList == HashListVersion::V1;
    const uint32_t recordSize = v1 ? HashRecordSizeV1 : HashRecordSizeV2;
    return {request.format == ArchiveFormat::Arc20 ? Arc20Layout : PackFileLayout, recordSize,
            recordSize - 8, v1 ? HashListMagicV1 : HashListMagicV2};
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Every regular file below `source`, ordered by relative path; false with `error` set when
// something else stands there or a name cannot be read.
bool CollectFiles(const fs::path& source, std::vector<SourceFile>& files, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(source, ec)) {
        error = "source folder " + Quoted(source.u8string()) + " is not a folder";
        return false;
    }
    fs::recursive_directory_iterator it(source, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::file_status status = it->symlink_status(ec);
        if (ec) break;
        const std::string shown = it->path().u8string();
        if (fs::is_directory(status)) continue;
        if (!fs::is_regular_file(status)) {
            error = Quoted(shown) + " is neither a regular file nor a folder";
            return false;
        }
        SourceFile file;
        file.path = it->path();
        std::vector<std::string> components;
        for (const fs::path& part : it->path().lexically_relative(source)) {
            components.push_back(part.u8string());
            if (!IsWindowsFileName(components.back())) {
                error = Quoted(shown) + ": " + Quoted(components.back()) +
                        " is not a name Windows allows";
                return false;
            }
            file.relative += (file.relative.empty() ? "" : "\\") + components.back();
        }
        file.name = components.back();
        file.size = it->file_size(ec);
        if (ec) break;
        files.push_back(std::move(file));
    }
    if (ec) {
        error = "cannot read " + Quoted(source.u8string()) + ": " + ec.message();
        return false;
    }
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.relative < b.relative; });
    return true;
}

bool CheckFiles(const BuildRequest& request, const Layout& layout, std::vector<SourceFile>& files,
                std::string& error) {
    const bool hashList = request.hashList != HashListVersion::None;
    const size_t limit = MaximumEntries - (hashList ? 1 : 0);
    if (files.empty()) {
        error = "no files below " + Quoted(request.source);
        return false;
    }
    if (files.size() > limit) {
        error = std::to_string(files.size()) + " files below " + Quoted(request.source) +
                "; an update holds at most " + std::to_string(limit);
        return false;
    }
    std::set<std::string> names;
    for (SourceFile& file : files) {
        const std::string folded = Lowercased(file.name);
        if (folded == HashListName) {
            error = Quoted(file.relative) + ": the name is kept for the update's hash list";
            return false;
        }
        if (!names.insert(folded).second) {
            error = Quoted(file.relative) + ": another file has the same name apart from case";
            return false;
        }
        std::optional<std::string> stored = StoreAsCodePage932(file.name);
        if (!stored) {
            error = Quoted(file.relative) + ": the name cannot be written in code page 932";
            return false;
        }
        if (stored->size() >= layout.index.nameSize) {
            error = Quoted(file.relative) + ": the name is " + std::to_string(stored->size()) +
                    " bytes in code page 932; at most " +
                    std::to_string(layout.index.nameSize - 1) + " fit";
            return false;
        }
        file.storedName = std::move(*stored);
        if (!hashList) {
            // Without a hash list the updater puts every file in the installation folder.
            if (file.relative != file.name) {
                error = Quoted(file.relative) + ": files below folders need a hash list";
                return false;
            }
            continue;
        }
        std::optional<std::string> path = StoreAsCodePage932(file.relative);
        if (!path) {
            error = Quoted(file.relative) + ": the path cannot be written in code page 932";
            return false;
        }
        if (path->size() >= layout.pathField) {
            error = Quoted(file.relative) + ": the path is " + std::to_string(path->size()) +
                    " bytes in code page 932; at most " + std::to_string(layout.pathField - 1) +
                    " fit in the hash list";
            return false;
        }
    }
    return true;
}

uint64_t HashListSize(const Layout& layout, const std::vector<SourceFile>& files, bool hashList) {
    return hashList ? sizeof(HashListHeader) + uint64_t{layout.recordSize} * files.size() : 0;
}

void PutName(char* field, const std::string& stored) {
    std::memcpy(field, stored.data(), stored.size());
}

class OutputFile {
public:
    explicit OutputFile(const fs::path& path) : path_((path.u8string() + ".tmp")) {}
    ~OutputFile() {
        file_.Close();
        if (!kept_) DeleteFileAt(path_.u16string().c_str());
    }
    bool Open() { return file_.OpenForWrite(path_.u16string().c_str(), CreateOrTruncate); }
    bool Write(const void* data, uint64_t length) {
        return length == 0 ||
               (length <= Maximum32 && file_.Write(data, static_cast<uint32_t>(length)) == length);
    }
    bool Seek(uint64_t position) { return file_.Seek(static_cast<int64_t>(position)); }
    bool Keep(const fs::path& target) {
        file_.Close();
        kept_ = MoveFileOver(path_.u16string().c_str(), target.u16string().c_str());
        return kept_;
    }
    std::string Shown() const { return path_.u8string(); }
    CFileDX& file() { return file_; }

private:
    fs::path path_;
    CFileDX file_;
    bool kept_ = false;
};

// Copies one file into the output, folding its checksum on the way.
bool CopyFile(SourceFile& file, OutputFile& output, Progress& progress, std::string& error) {
    CFileDX in;
    if (!in.OpenForRead(file.path.u16string().c_str())) {
        error = "cannot open " + Quoted(file.path.u8string());
        return false;
    }
    switch (StreamWithChecksum(in, file.size, &output.file(), file.checksum, progress)) {
        case StreamResult::ReadShort:
            error = Quoted(file.path.u8string()) + " became shorter while it was read";
            return false;
        case StreamResult::WriteFailed:
            error = "cannot write " + Quoted(output.Shown());
            return false;
        case StreamResult::Done:
            break;
    }
    uint8_t extra;
    if (in.Read(&extra, 1) != 0) {
        error = Quoted(file.path.u8string()) + " grew while it was read";
        return false;
    }
    return true;
}

// The stub padded to the package offset, with room for the package header after it.
BuildResult ReadStub(const BuildRequest& request, std::vector<uint8_t>& image, std::string& error) {
    CFileDX stub;
    uint64_t size = 0;
    if (!stub.OpenForRead(fs::u8path(request.stub).u16string().c_str()) ||
        !stub.GetFullSize(&size)) {
        error = "cannot read the stub " + Quoted(request.stub);
        return BuildResult::Refused;
    }
    if (size > PackageOffset) {
        error = "the stub " + Quoted(request.stub) + " is " + std::to_string(size) +
                " bytes; at most " + std::to_string(PackageOffset) + " fit before the package";
        return BuildResult::Refused;
    }
    image.assign(PackageOffset + PackageHeaderSize, 0);
    if (size != 0 && stub.Read(image.data(), static_cast<uint32_t>(size)) != size) {
        error = "cannot read the stub " + Quoted(request.stub);
        return BuildResult::Refused;
    }
    return BuildResult::Built;
}

bool PutTitle(const std::string& text, std::vector<uint8_t>& image, std::string& error) {
    std::optional<std::string> title = StoreAsTitle(text);
    if (!title) {
        error = "the title " + Quoted(text) + " is not valid text";
        return false;
    }
    if (title->size() >= PackageHeaderSize) {
        error = "the title is " + std::to_string(title->size()) + " bytes once encoded; at most " +
                std::to_string(PackageHeaderSize - 1) + " fit";
        return false;
    }
    std::memcpy(&image[PackageOffset], title->data(), title->size());
    return true;
}

// The archive header and index, with every entry's place in the data area known before any
// data is read; the hash list, when there is one, comes first.
bool LayOutIndex(const Layout& layout, const std::vector<SourceFile>& files, bool hashList,
                 std::vector<char>& index, std::string& error) {
    const size_t count = files.size() + (hashList ? 1 : 0);
    index.assign(sizeof(ArchiveHeader) + count * layout.index.entrySize, 0);
    ArchiveHeader header;
    std::memcpy(header.magic, layout.index.magic, ArchiveMagicSize);
    header.count = static_cast<uint32_t>(count);
    std::memcpy(index.data(), &header, sizeof header);
    uint64_t offset = 0;
    auto addEntry = [&](size_t i, const std::string& storedName, uint64_t size) {
        char* entry = index.data() + sizeof(ArchiveHeader) + i * layout.index.entrySize;
        PutName(entry, storedName);
        const uint32_t fields[2] = {static_cast<uint32_t>(offset), static_cast<uint32_t>(size)};
        std::memcpy(entry + layout.index.offsetField, fields, sizeof fields);
        offset += size;
    };
    if (hashList) addEntry(0, PackagedHashListName, HashListSize(layout, files, hashList));
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].size > Maximum32 || offset > Maximum32) {
            error = Quoted(files[i].relative) + ": the package would pass 4 GiB";
            return false;
        }
        addEntry(i + (hashList ? 1 : 0), files[i].storedName, files[i].size);
    }
    // The updater takes the file's size as 32 bits, so the whole program must stay below 4 GiB.
    const uint64_t total = ArchiveOffset + index.size() + offset;
    if (total > Maximum32) {
        error = "the update program would be " + std::to_string(total) + " bytes; at most " +
                std::to_string(Maximum32) + " are possible";
        return false;
    }
    return true;
}

// The hash list's bytes, once every file's checksum is known.
bool EncodeRecords(const Layout& layout, const std::vector<SourceFile>& files,
                   std::vector<char>& bytes) {
    HashListHeader listHeader{};
    std::memcpy(listHeader.magic, layout.hashListMagic, HashListMagicSize);
    listHeader.count = static_cast<uint32_t>(files.size());
    std::vector<HashListEntry> records;
    for (const SourceFile& file : files) records.push_back({file.relative, file.checksum});
    return EncodeHashList(listHeader, records, bytes) &&
           bytes.size() == HashListSize(layout, files, true);
}

// Writes the image, the index and the data, then the hash list into the place reserved
// for it, and renames the whole over `request.output`.
BuildResult WriteProgram(const BuildRequest& request, const Layout& layout,
                         const std::vector<uint8_t>& image, const std::vector<char>& index,
                         std::vector<SourceFile>& files, std::string& error) {
    const bool hashList = request.hashList != HashListVersion::None;
    const fs::path target = fs::u8path(request.output);
    OutputFile output(target);
    if (!output.Open()) {
        error = "cannot create " + Quoted(output.Shown());
        return BuildResult::WriteFailed;
    }
    const std::vector<uint8_t> reserved(HashListSize(layout, files, hashList), 0);
    uint64_t dataBytes = 0;
    for (const SourceFile& file : files) dataBytes += file.size;
    output.file().Reserve(image.size() + index.size() + reserved.size() + dataBytes);
    if (!output.Write(image.data(), image.size()) || !output.Write(index.data(), index.size()) ||
        !output.Write(reserved.data(), reserved.size())) {
        error = "cannot write " + Quoted(output.Shown());
        return BuildResult::WriteFailed;
    }
    {
        Progress progress(dataBytes, request.quiet);
        for (SourceFile& file : files)
            if (!CopyFile(file, output, progress, error)) return BuildResult::WriteFailed;
    }
    std::vector<char> records;
    if (hashList && !EncodeRecords(layout, files, records)) {
        error = "a path did not fit the hash list";
        return BuildResult::Refused;
    }
    if (hashList && (!output.Seek(ArchiveOffset + index.size()) ||
                     !output.Write(records.data(), records.size()))) {
        error = "cannot write " + Quoted(output.Shown());
        return BuildResult::WriteFailed;
    }
    if (!output.Keep(target)) {
        error = "cannot replace " + Quoted(request.output);
        return BuildResult::WriteFailed;
    }
    return BuildResult::Built;
}

}  // namespace

BuildResult BuildPackage(const BuildRequest& request, std::string& error) {
    const Layout layout = LayoutFor(request);
    std::vector<uint8_t> image;
    const BuildResult stub = ReadStub(request, image, error);
    if (stub != BuildResult::Built) return stub;
    if (!PutTitle(request.title, image, error)) return BuildResult::Refused;

    std::vector<SourceFile> files;
    if (!CollectFiles(fs::u8path(request.source), files, error) ||
        !CheckFiles(request, layout, files, error))
        return BuildResult::Refused;
    std::vector<char> index;
    if (!LayOutIndex(layout, files, request.hashList != HashListVersion::None, index, error))
        return BuildResult::Refused;
    return WriteProgram(request, layout, image, index, files, error);
}
