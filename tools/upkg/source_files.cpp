#include "tools/upkg/source_files.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>

#include "package/hash_list.h"
#include "package/package_plan.h"
#include "text/convert.h"
#include "text/encoding.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stored_text.h"

namespace upkg {

namespace fs = std::filesystem;

namespace {

// Bytes of the UTF-8 character at `text`, so that ? takes a whole one.
size_t CharacterLength(const char* text) {
    size_t length = 1;
    if (static_cast<unsigned char>(text[0]) >= 0xC0)
        while ((static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) ++length;
    return length;
}

// The closing ']' of the set opened just before `p`; nullptr when there is none, and the
// '[' then stands for itself.
const char* SetEnd(const char* p) {
    if (*p == '!' || *p == '^') ++p;
    if (*p == ']') ++p;  // a ']' first belongs to the set
    while (*p != 0 && *p != ']') ++p;
    return *p != 0 ? p : nullptr;
}

bool InSet(const char* p, const char* close, unsigned char c) {
    const bool negated = *p == '!' || *p == '^';
    if (negated) ++p;
    bool found = false;
    for (; p < close; ++p) {
        unsigned char low = static_cast<unsigned char>(*p), high = low;
        if (p + 2 < close && p[1] == '-') {
            high = static_cast<unsigned char>(p[2]);
            p += 2;
        }
        found = found || (c >= low && c <= high);
    }
    return found != negated;
}

// One pattern element at `p` against the text at `t` (neither at its end): where the
// pattern goes on, and how many bytes of text the element took.
bool ElementMatches(const char* p, const char* t, const char*& next, size_t& taken) {
    taken = 1;
    next = p + 1;
    if (*p == '?') {
        taken = CharacterLength(t);
        return true;
    }
    const char* close = *p == '[' ? SetEnd(p + 1) : nullptr;
    if (close == nullptr) return *p == *t;
    next = close + 1;
    return InSet(p + 1, close, static_cast<unsigned char>(*t));
}

// The pattern that leaves out `relative` ('/' between folders), or nullptr. As tar does,
// a pattern may match the whole path or any part of it after a '/'.
const std::string* ExcludedBy(const std::vector<std::string>& patterns,
                              const std::string& relative) {
    for (const std::string& pattern : patterns) {
        for (size_t start = 0; start != std::string::npos;) {
            if (GlobMatches(pattern.c_str(), relative.c_str() + start)) return &pattern;
            start = relative.find('/', start);
            if (start != std::string::npos) ++start;
        }
    }
    return nullptr;
}

// A name found in a folder as the package stores it: UTF-8, which has no form for a byte that
// is not UTF-8 text (or, on Windows, a lone surrogate).
std::optional<std::string> PackageName(const fs::path& name) {
    const std::u16string wide = package::FromSystemPath(name);
    if (text::HasLoneSurrogate(wide.data(), wide.size())) return std::nullopt;
    return text::WideToNarrow(wide.c_str(), text::ConversionMode::ToUtf8);
}

// The file as it is listed, so that packing can tell it is still the same file.
BuildResult Identify(SourceFile& file, std::string& error) {
    package::CFileDX in;
    if (!in.OpenForRead(package::FromSystemPath(file.path).c_str(),
                        package::HeldFolder::Links::Refuse) ||
        !in.GetIdentity(&file.identity)) {
        error = "cannot read " + Quoted(file.path) + ": " + in.LastErrorText();
        return BuildResult::WriteFailed;
    }
    file.size = file.identity.size;
    return BuildResult::Ok;
}

BuildResult AddFile(const fs::path& source, const fs::path& path, std::vector<SourceFile>& files,
                    std::string& error) {
    SourceFile file;
    file.path = path;
    for (const fs::path& part : path.lexically_relative(source)) {
        const std::optional<std::string> name = PackageName(part);
        if (!name || !IsWindowsFileName(*name)) {
            error = Quoted(path) + ": " + Quoted(part) +
                    (name ? " is not a name Windows allows" : " is not text a package can store");
            return BuildResult::Refused;
        }
        file.name = *name;
        file.relative += (file.relative.empty() ? "" : "\\") + file.name;
    }
    const BuildResult result = Identify(file, error);
    if (result == BuildResult::Ok) files.push_back(std::move(file));
    return result;
}

BuildResult Visit(const BuildRequest& request, const std::vector<std::string>& patterns,
                  const fs::path& source, fs::recursive_directory_iterator& it,
                  std::vector<SourceFile>& files, std::string& error) {
    const fs::path path = it->path();
    std::string relative;  // '/' between folders, as patterns have them
    for (const fs::path& part : path.lexically_relative(source))
        relative += (relative.empty() ? "" : "/") + Shown(part);
    package::NodeKind kind;
    if (!package::GetNodeKind(package::FromSystemPath(path).c_str(), kind)) {
        error = "cannot read " + Quoted(path) + ": " + package::SystemErrorText();
        return BuildResult::WriteFailed;
    }
    if (const std::string* pattern = ExcludedBy(patterns, relative)) {
        it.disable_recursion_pending();
        if (request.verbose)
            std::printf("left out %s%s (--exclude %s)\n", relative.c_str(),
                        kind == package::NodeKind::Folder ? "/" : "", Shown(*pattern).c_str());
        return BuildResult::Ok;
    }
    if (kind == package::NodeKind::Link) {
        error = Quoted(path) + " is a symbolic link, which upkg does not follow: put the " +
                "file itself there, or leave it out with --exclude";
        return BuildResult::Refused;
    }
    if (kind == package::NodeKind::Folder) {
        std::error_code ec;
        if (request.verbose && fs::is_empty(path, ec))
            std::printf("left out empty folder %s/ (an update holds only files)\n",
                        relative.c_str());
        return BuildResult::Ok;
    }
    if (kind != package::NodeKind::File) {
        error = Quoted(path) + " is neither a regular file nor a folder";
        return BuildResult::Refused;
    }
    return AddFile(source, path, files, error);
}

}  // namespace

bool OpenListed(const SourceFile& file, package::CFileDX& in, std::string& error) {
    package::FileIdentity now;
    if (!in.OpenForRead(package::FromSystemPath(file.path).c_str(),
                        package::HeldFolder::Links::Refuse) ||
        !in.GetIdentity(&now)) {
        error = "cannot open " + Quoted(file.path) + ": " + in.LastErrorText();
        return false;
    }
    if (!(now == file.identity)) {
        error = Quoted(file.path) + " changed after it was listed; nothing was packed";
        return false;
    }
    return true;
}

PackageLayout LayoutFor(const BuildRequest& request) {
    const bool v1 = request.hashList == HashListVersion::V1;
    const uint32_t recordSize = v1 ? package::HashRecordSizeV1 : package::HashRecordSizeV2;
    return {request.format == ArchiveFormat::Arc20 ? package::Arc20Layout : package::PackFileLayout,
            recordSize, recordSize - 8, v1 ? package::HashListMagicV1 : package::HashListMagicV2};
}

bool GlobMatches(const char* pattern, const char* text) {
    const char* p = pattern;
    const char* t = text;
    const char* afterStar = nullptr;  // where the pattern resumes after the last '*'
    const char* starText = nullptr;   // the text that '*' has taken up to
    while (*t != 0) {
        const char* next;
        size_t taken;
        if (*p == '*') {
            afterStar = ++p;
            starText = t;
        } else if (*p != 0 && ElementMatches(p, t, next, taken)) {
            p = next;
            t += taken;
        } else if (afterStar != nullptr) {
            p = afterStar;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == 0;
}

BuildResult CollectFiles(const BuildRequest& request, std::vector<SourceFile>& files,
                         std::string& error) {
    const fs::path source = fs::u8path(request.source);
    std::error_code ec;
    if (!fs::is_directory(source, ec)) {
        error = "source folder " + Quoted(request.source) + " is not a folder";
        return BuildResult::Refused;
    }
    std::vector<std::string> patterns = request.excludes;
    for (std::string& pattern : patterns) std::replace(pattern.begin(), pattern.end(), '\\', '/');
    fs::recursive_directory_iterator it(source, ec), end;
    fs::path reading = source;  // the folder the next step reads
    for (; !ec && it != end; it.increment(ec)) {
        const BuildResult result = Visit(request, patterns, source, it, files, error);
        if (result != BuildResult::Ok) return result;
        // The step after a folder still to be entered opens that folder.
        std::error_code kindError;
        const bool entering = it.recursion_pending() && it->is_directory(kindError);
        reading = entering ? it->path() : it->path().parent_path();
    }
    if (ec) {
        error = "cannot read " + Quoted(reading) + ": " + ec.message();
        return BuildResult::WriteFailed;
    }
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.relative < b.relative; });
    return BuildResult::Ok;
}

namespace {

bool CheckName(const PackageLayout& layout, SourceFile& file, std::set<std::string>& names,
               std::string& error) {
    const std::string folded = text::Lowercased(file.name);
    if (folded == package::HashListName) {
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
                " bytes in code page 932; at most " + std::to_string(layout.index.nameSize - 1) +
                " fit";
        return false;
    }
    file.storedName = std::move(*stored);
    return true;
}

bool CheckPath(const BuildRequest& request, const PackageLayout& layout, const SourceFile& file,
               std::string& error) {
    if (request.hashList == HashListVersion::None) {
        // Without a hash list the updater puts every file in the installation folder.
        if (file.relative == file.name) return true;
        error = Quoted(file.relative) + ": files below folders need a hash list";
        return false;
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
    return true;
}

}  // namespace

bool CheckFiles(const BuildRequest& request, std::vector<SourceFile>& files, std::string& error) {
    const PackageLayout layout = LayoutFor(request);
    const size_t limit =
        package::MaximumEntries - (request.hashList != HashListVersion::None ? 1 : 0);
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
    std::vector<std::string> destinations;
    for (SourceFile& file : files) {
        if (!CheckName(layout, file, names, error) || !CheckPath(request, layout, file, error))
            return false;
        destinations.push_back(file.relative);
    }
    // The updater refuses a package that would write one file twice or one it keeps.
    if (const std::optional<size_t> collision = package::FindWriteCollision(destinations)) {
        error = Quoted(files[*collision].relative) +
                ": it or its temporary file (.tmp) would overwrite another file of the update "
                "or one the updater keeps beside its lists";
        return false;
    }
    return true;
}

}  // namespace upkg
