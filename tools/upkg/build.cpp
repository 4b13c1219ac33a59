#include "tools/upkg/build.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "package/archive_format.h"
#include "package/file.h"
#include "package/hash_list.h"
#include "tools/upkg/base_release.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/source_files.h"
#include "tools/upkg/stored_text.h"
#include "tools/upkg/stream.h"
#include "tools/upkg/temporary_file.h"
#include "tools/upkg/windows_program.h"

namespace upkg {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t Maximum32 = 0xFFFFFFFF;

uint64_t HashListSize(const PackageLayout& layout, const std::vector<SourceFile>& files,
                      bool hashList) {
    return hashList ? sizeof(package::HashListHeader) + uint64_t{layout.recordSize} * files.size()
                    : 0;
}

bool WriteAll(package::CFileDX& out, const void* data, uint64_t length) {
    return length == 0 || (length <= Maximum32 && out.Write(data, static_cast<uint32_t>(length)) ==
                                                      static_cast<uint32_t>(length));
}

// Copies one file into the output, folding its checksum on the way.
bool CopyFile(SourceFile& file, TemporaryFile& output, Progress& progress, std::string& error) {
    package::CFileDX in;
    const std::string shown = Quoted(file.path);
    if (!OpenListed(file, in, error)) return false;
    uint64_t checksum = 0;
    switch (StreamWithChecksum(in, file.size, &output.file(), checksum, progress)) {
        case StreamResult::ReadShort:
            error = "cannot read " + shown + ": " + ReadProblem(in);
            return false;
        case StreamResult::WriteFailed:
            error = output.WriteError();
            return false;
        case StreamResult::Done:
            break;
    }
    uint8_t extra;
    if (in.Read(&extra, 1) != 0 || (file.checksumKnown && checksum != file.checksum)) {
        error = shown + " changed while it was read";
        return false;
    }
    file.checksum = checksum;
    return true;
}

// The stub padded to the package offset, with room for the package header after it.
BuildResult ReadStub(const BuildRequest& request, std::vector<uint8_t>& image, std::string& error) {
    package::CFileDX stub;
    uint64_t size = 0;
    const std::string shown = "the stub " + Quoted(request.stub);
    if (!stub.OpenForRead(package::FromSystemPath(fs::u8path(request.stub)).c_str()) ||
        !stub.GetFullSize(&size)) {
        error = "cannot read " + shown + ": " + stub.LastErrorText();
        return BuildResult::WriteFailed;
    }
    if (size > package::PackageOffset) {
        error = shown + " is " + std::to_string(size) + " bytes; at most " +
                std::to_string(package::PackageOffset) + " fit before the package";
        return BuildResult::Refused;
    }
    image.assign(package::PackageOffset + package::PackageHeaderSize, 0);
    if (size != 0 && stub.Read(image.data(), static_cast<uint32_t>(size)) != size) {
        error = "cannot read " + shown + ": " + ReadProblem(stub);
        return BuildResult::WriteFailed;
    }
    if (!IsWindowsProgram(image.data(), size)) {
        error = shown + " is not a Windows program (no \"MZ\" header with a PE signature)";
        return BuildResult::Refused;
    }
    // The package would come after its certificate table, which must stay at the end.
    if (FindCertificateTable(image.data(), size)) {
        error = shown + " carries a signature: sign the update program after building it";
        return BuildResult::Refused;
    }
    return BuildResult::Ok;
}

bool PutTitle(const std::string& text, std::vector<uint8_t>& image, std::string& error) {
    std::optional<std::string> title = StoreAsTitle(text);
    if (!title) {
        error = "the title " + Quoted(text) + " is not valid text";
        return false;
    }
    if (title->size() >= package::PackageHeaderSize) {
        error = "the title is " + std::to_string(title->size()) + " bytes once encoded; at most " +
                std::to_string(package::PackageHeaderSize - 1) + " fit";
        return false;
    }
    std::memcpy(&image[package::PackageOffset], title->data(), title->size());
    return true;
}

bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// Refuses, before anything is written, an output that cannot or must not be written: no
// name, a folder (the source among them), a read-only file, the stub, or a file in the
// folder being packed.
bool CheckOutput(const BuildRequest& request, std::string& error) {
    std::error_code ec;
    if (request.output.empty()) {
        error = "-o needs the name of the update program to write";
        return false;
    }
    const fs::path output = fs::absolute(fs::u8path(request.output), ec);
    const fs::file_status status = fs::symlink_status(output, ec);
    if (fs::is_directory(status) || !fs::u8path(request.output).has_filename()) {
        error = "-o " + Quoted(request.output) + " is a folder";
        return false;
    }
    // A file the publisher made read-only is one they meant to keep.
    if (fs::is_regular_file(status) &&
        (status.permissions() & fs::perms::owner_write) == fs::perms::none) {
        error = "-o " + Quoted(request.output) + " is read-only";
        return false;
    }
    if (SameFile(output, fs::u8path(request.stub))) {
        error = "-o " + Quoted(request.output) + " names the stub; it would be replaced";
        return false;
    }
    const fs::path source = fs::u8path(request.source);
    for (fs::path folder = output.parent_path(); !folder.empty(); folder = folder.parent_path()) {
        if (SameFile(folder, source)) {
            error = "-o " + Quoted(request.output) + " is inside the source folder " +
                    Quoted(request.source) + "; the update would pack itself";
            return false;
        }
        if (folder == folder.parent_path()) break;
    }
    return true;
}

}  // namespace

namespace {

// The archive header and index, with every entry's place in the data area known before any
// data is read; the hash list, when there is one, comes first.
bool LayOutIndex(const PackageLayout& layout, const std::vector<SourceFile>& files, bool hashList,
                 std::vector<char>& index, std::string& error) {
    const size_t count = files.size() + (hashList ? 1 : 0);
    index.assign(sizeof(package::ArchiveHeader) + count * layout.index.entrySize, 0);
    package::ArchiveHeader header;
    std::memcpy(header.magic, layout.index.magic, package::ArchiveMagicSize);
    header.count = static_cast<uint32_t>(count);
    std::memcpy(index.data(), &header, sizeof header);
    uint64_t offset = 0;
    auto addEntry = [&](size_t i, const std::string& storedName, uint64_t size) {
        char* entry = index.data() + sizeof(package::ArchiveHeader) + i * layout.index.entrySize;
        std::memcpy(entry, storedName.data(), storedName.size());
        const uint32_t fields[2] = {static_cast<uint32_t>(offset), static_cast<uint32_t>(size)};
        std::memcpy(entry + layout.index.offsetField, fields, sizeof fields);
        offset += size;
    };
    if (hashList) addEntry(0, package::PackagedHashListName, HashListSize(layout, files, hashList));
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].size > Maximum32 || offset > Maximum32) {
            error = Quoted(files[i].relative) + ": the package would pass 4 GiB";
            return false;
        }
        addEntry(i + (hashList ? 1 : 0), files[i].storedName, files[i].size);
    }
    // The updater takes the file's size as 32 bits, so the whole program must stay below 4 GiB.
    const uint64_t total = package::ArchiveOffset + index.size() + offset;
    if (total > Maximum32) {
        error = "the update program would be " + std::to_string(total) + " bytes; at most " +
                std::to_string(Maximum32) + " are possible";
        return false;
    }
    return true;
}

// The hash list's bytes, once every file's checksum is known.
bool EncodeRecords(const PackageLayout& layout, const std::vector<SourceFile>& files,
                   std::vector<char>& bytes) {
    package::HashListHeader listHeader{};
    std::memcpy(listHeader.magic, layout.hashListMagic, package::HashListMagicSize);
    listHeader.count = static_cast<uint32_t>(files.size());
    std::vector<package::HashListEntry> records;
    for (const SourceFile& file : files) records.push_back({file.relative, file.checksum});
    return package::EncodeHashList(listHeader, records, bytes) &&
           bytes.size() == HashListSize(layout, files, true);
}

bool CopyFiles(const BuildRequest& request, std::vector<SourceFile>& files, TemporaryFile& output,
               BuildSummary& summary, std::string& error) {
    for (const SourceFile& file : files) summary.dataBytes += file.size;
    Progress progress(summary.dataBytes, request.quiet || request.verbose);
    for (SourceFile& file : files) {
        if (request.verbose)
            std::printf("packing %s (%llu bytes)\n", Shown(file.relative).c_str(),
                        static_cast<unsigned long long>(file.size));
        if (!CopyFile(file, output, progress, error)) return false;
        if (BetweenFilesHook != nullptr) BetweenFilesHook();
    }
    summary.files = files.size();
    return true;
}

// Writes the image, the index and the data, then the hash list into the place reserved
// for it, and moves the whole to `request.output`.
BuildResult WriteProgram(const BuildRequest& request, const std::vector<uint8_t>& image,
                         const std::vector<char>& index, std::vector<SourceFile>& files,
                         BuildSummary& summary, std::string& error) {
    const PackageLayout layout = LayoutFor(request);
    const bool hashList = request.hashList != HashListVersion::None;
    const fs::path target = fs::u8path(request.output);
    const fs::path folderPath = target.has_parent_path() ? target.parent_path() : fs::path(".");
    package::HeldFolder folder;  // the publisher's to choose, a link included
    if (!folder.Open(package::FromSystemPath(folderPath).c_str(),
                     package::HeldFolder::Links::Follow)) {
        error = "cannot write " + Quoted(request.output) + ": " + package::SystemErrorText();
        return BuildResult::WriteFailed;
    }
    TemporaryFile output(folder, package::FromSystemPath(target.filename()), request.output);
    if (!output.Create(error)) return BuildResult::WriteFailed;
    const std::vector<uint8_t> reserved(HashListSize(layout, files, hashList), 0);
    uint64_t dataBytes = 0;
    for (const SourceFile& file : files) dataBytes += file.size;
    // Room set aside up front lets the writes go out in larger pieces.
    output.file().Reserve(image.size() + index.size() + reserved.size() + dataBytes);
    if (!WriteAll(output.file(), image.data(), image.size()) ||
        !WriteAll(output.file(), index.data(), index.size()) ||
        !WriteAll(output.file(), reserved.data(), reserved.size())) {
        error = output.WriteError();
        return BuildResult::WriteFailed;
    }
    if (!CopyFiles(request, files, output, summary, error)) return BuildResult::WriteFailed;
    std::vector<char> records;
    if (hashList && !EncodeRecords(layout, files, records)) {
        error = "a path did not fit the hash list";
        return BuildResult::Refused;
    }
    if (hashList && (!output.file().Seek(package::ArchiveOffset + index.size()) ||
                     !WriteAll(output.file(), records.data(), records.size()))) {
        error = output.WriteError();
        return BuildResult::WriteFailed;
    }
    if (!output.PutInPlace(true, error)) return BuildResult::WriteFailed;
    summary.outputBytes = image.size() + index.size() + reserved.size() + summary.dataBytes;
    return BuildResult::Ok;
}

// The files to pack: collected, less those the base already has, checked.
BuildResult ChooseFiles(const BuildRequest& request, std::vector<SourceFile>& files,
                        BuildSummary& summary, std::string& error) {
    BaseRelease base;
    BuildResult result = BuildResult::Ok;
    if (!request.base.empty() && request.hashList == HashListVersion::None) {
        error = "--base needs a hash list: the records of unchanged files stay in the game's";
        return BuildResult::Refused;
    }
    if (!request.base.empty() &&
        (result = LoadBaseRelease(request.base, base, error)) != BuildResult::Ok)
        return result;
    if ((result = CollectFiles(request, files, error)) != BuildResult::Ok) return result;
    if (!request.base.empty() && !files.empty() &&
        (result = LeaveOutUnchanged(request, base, files, summary, error)) != BuildResult::Ok)
        return result;
    return CheckFiles(request, files, error) ? BuildResult::Ok : BuildResult::Refused;
}

}  // namespace

BuildResult BuildPackage(const BuildRequest& request, std::string& error, BuildSummary* summary) {
    std::vector<uint8_t> image;
    BuildResult result = ReadStub(request, image, error);
    if (result != BuildResult::Ok) return result;
    if (!PutTitle(request.title, image, error) || !CheckOutput(request, error))
        return BuildResult::Refused;

    BuildSummary done;
    std::vector<SourceFile> files;
    if ((result = ChooseFiles(request, files, done, error)) != BuildResult::Ok) return result;
    std::vector<char> index;
    if (!LayOutIndex(LayoutFor(request), files, request.hashList != HashListVersion::None, index,
                     error))
        return BuildResult::Refused;
    result = WriteProgram(request, image, index, files, done, error);
    if (summary != nullptr) *summary = done;
    return result;
}

}  // namespace upkg
