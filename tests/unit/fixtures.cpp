#include "fixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <random>

#include "package/archive_format.h"
#include "package/checksum.h"
#include "package/hash_list.h"
#include "tools/upkg/build.h"
#include "tools/upkg/commands.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

using namespace package;
using namespace upkg;

namespace fs = std::filesystem;

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed * 7 + i * 13 + (i >> 10));
    return bytes;
}

Bytes WindowsProgram(size_t size) {
    Bytes bytes = Pattern(size, 7);
    const uint32_t pe = 0x80;
    std::memcpy(&bytes[0], "MZ", 2);
    std::memcpy(&bytes[0x3C], &pe, 4);
    std::memcpy(&bytes[pe], "PE\0\0", 4);
    return bytes;
}

uint64_t ChecksumOf(const Bytes& bytes) {
    uint8_t state[8] = {};
    AddToChecksum(state, bytes.data(), static_cast<uint32_t>(bytes.size()));
    uint64_t value;
    std::memcpy(&value, state, sizeof value);
    return value;
}

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> serial{0};
    std::random_device random;
    path_ = fs::temp_directory_path() /
            ("updater-test-" + std::to_string(random()) + "-" + std::to_string(serial++));
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

bool CapFileSize(uint64_t cap) {
#ifdef _WIN32
    return cap == 0;
#else
    signal(SIGXFSZ, SIG_IGN);  // a write past the cap fails with EFBIG instead of killing
    const rlimit limit{cap != 0 ? cap : RLIM_INFINITY, RLIM_INFINITY};
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);  // natively a cap must hold
    return true;
#endif
}

void RemoveTree(const fs::path& path) {
    std::error_code ignored;
    for (auto& entry : fs::recursive_directory_iterator(path, ignored))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(path, ignored);
}

std::u16string ScratchFolder::File(const std::string& name) const {
    return (path_ / fs::u8path(name)).u16string();
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes WrittenList(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return Bytes(text.begin(), text.end() + 1);
}

namespace {
void PutLE32(Bytes& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
}  // namespace

Bytes MakeArchive(FixtureFormat format, const std::vector<FixtureEntry>& entries) {
    bool arc20 = format == FixtureFormat::Arc20;
    size_t entrySize = arc20 ? sizeof(Arc20IndexEntry) : sizeof(PackFileIndexEntry);
    size_t nameSize = arc20 ? sizeof(Arc20IndexEntry::name) : sizeof(PackFileIndexEntry::name);
    Bytes out(sizeof(ArchiveHeader) + entries.size() * entrySize);
    std::memcpy(out.data(), arc20 ? Arc20Magic : PackFileMagic, ArchiveMagicSize);
    PutLE32(out, ArchiveMagicSize, static_cast<uint32_t>(entries.size()));
    uint32_t offset = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        size_t at = sizeof(ArchiveHeader) + i * entrySize;
        const FixtureEntry& entry = entries[i];
        std::memcpy(&out[at], entry.name.data(), std::min(entry.name.size(), nameSize));
        PutLE32(out, at + nameSize, offset);
        PutLE32(out, at + nameSize + 4, static_cast<uint32_t>(entry.data.size()));
        offset += static_cast<uint32_t>(entry.data.size());
    }
    for (const FixtureEntry& entry : entries)
        out.insert(out.end(), entry.data.begin(), entry.data.end());
    return out;
}

Bytes MakeProgramFile(const std::string& title, const Bytes& archive) {
    Bytes out = Pattern(PackageOffset + PackageHeaderSize, 1);
    std::fill(out.begin() + PackageOffset, out.end(), 0);
    std::memcpy(&out[PackageOffset], title.data(),
                std::min<size_t>(title.size(), PackageHeaderSize));
    out.insert(out.end(), archive.begin(), archive.end());
    return out;
}

Bytes MakeHashList(const char* magic, uint32_t reserved, const std::vector<StoredRecord>& records,
                   uint32_t count) {
    const size_t recordSize = std::memcmp(magic, HashListMagicV1, HashListMagicSize) == 0
                                  ? HashRecordSizeV1
                                  : HashRecordSizeV2;
    if (count == UINT32_MAX) count = static_cast<uint32_t>(records.size());
    Bytes out(16 + records.size() * recordSize, 0);
    std::memcpy(out.data(), magic, 8);
    PutLE32(out, 8, reserved);
    PutLE32(out, 12, count);
    for (size_t i = 0; i < records.size(); ++i) {
        uint8_t* record = &out[16 + i * recordSize];
        std::memcpy(record, records[i].path.data(),
                    std::min(records[i].path.size(), recordSize - 8));
        std::memcpy(record + recordSize - 8, &records[i].value, 8);
    }
    return out;
}

Tree Snapshot(const fs::path& root) {
    Tree tree;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = entry.path().lexically_relative(root).generic_u8string();
        const bool readOnly =
            (entry.status().permissions() & fs::perms::owner_write) == fs::perms::none;
        if (entry.is_directory())
            tree[relative + "/"] = {};
        else
            tree[relative + (readOnly ? " (read-only)" : "")] = ReadFile(entry.path().u16string());
    }
    return tree;
}

void PutFiles(const fs::path& folder, const FileList& files) {
    for (auto [path, bytes] : files) {
        const size_t mark = path.rfind(" (read-only)");
        const bool locked = mark != std::string::npos && mark + 12 == path.size();
        if (locked) path.resize(mark);
        const fs::path file = folder / fs::u8path(path);
        fs::create_directories(file.parent_path());
        WriteFile(file, bytes);
        if (locked)
            fs::permissions(
                file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                fs::perm_options::remove);
    }
}

int RunUpkgCaptured(const std::vector<std::string>& arguments, std::string& out, std::string& err) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int code = RunUpkg(arguments);
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    return code;
}

void BuildProgram(const fs::path& stub, const fs::path& source, const FileList& files,
                  const fs::path& output, const std::string& title) {
    RemoveTree(source);
    PutFiles(source, files);
    BuildRequest request;
    request.stub = stub.u8string();
    request.title = title;
    request.output = output.u8string();
    request.source = source.u8string();
    request.quiet = true;
    std::string error;
    ASSERT_EQ(BuildPackage(request, error), BuildResult::Ok) << error;
}
