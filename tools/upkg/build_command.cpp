#include <cstdio>

#include "tools/upkg/build.h"
#include "tools/upkg/report.h"
#include "tools/upkg/subcommands.h"

namespace upkg {

namespace {

// The request's choices from their names; false with `error` set for an unknown one.
bool ReadChoices(const Arguments& args, BuildRequest& request, std::string& error) {
    const std::string format = args.Value("--format");
    if (format == "packfile")
        request.format = ArchiveFormat::PackFile;
    else if (!format.empty() && format != "arc20")
        error = "--format is arc20 or packfile, not " + format;
    const std::string version = args.Value("--hash-list");
    if (version == "v1")
        request.hashList = HashListVersion::V1;
    else if (version == "none")
        request.hashList = HashListVersion::None;
    else if (!version.empty() && version != "v2")
        error = "--hash-list is v2, v1 or none, not " + version;
    return error.empty();
}

}  // namespace

int RunBuild(const Arguments& args) {
    for (const char* required : {"--stub", "--title", "--output"})
        if (!args.Has(required)) return UsageError("build", std::string(required) + " is required");
    if (args.positional.size() != 1) return UsageError("build", "name one SOURCE_DIR");
    BuildRequest request;
    request.stub = args.Value("--stub");
    request.title = args.Value("--title");
    request.output = args.Value("--output");
    request.source = args.positional[0];
    request.base = args.Value("--base");
    if (args.values.count("--exclude")) request.excludes = args.values.at("--exclude");
    request.quiet = args.Quiet();
    request.verbose = args.Verbose();
    std::string error;
    if (!ReadChoices(args, request, error)) return UsageError("build", error);

    BuildSummary summary;
    switch (BuildPackage(request, error, &summary)) {
        case BuildResult::Ok:
            break;
        case BuildResult::Refused:
            return Fail(ExitUsage, error);
        case BuildResult::WriteFailed:
            return Fail(ExitDamaged, error);
    }
    if (!request.quiet) {
        std::printf("%zu files, %llu bytes -> %s (%llu bytes)", summary.files,
                    static_cast<unsigned long long>(summary.dataBytes),
                    Shown(request.output).c_str(),
                    static_cast<unsigned long long>(summary.outputBytes));
        if (!request.base.empty()) std::printf("; %zu unchanged files left out", summary.unchanged);
        std::printf("\n");
        // What a small update cannot do, said where the publisher looks.
        if (summary.leftInstalled != 0)
            std::printf(
                "%zu files the base records are not in the source: a small update leaves "
                "them installed, with their records (-v names them)\n",
                summary.leftInstalled);
        if (summary.unrecorded != 0)
            std::printf(
                "%zu paths are over the 55 bytes that the base's v1 list holds: the "
                "updater installs them without a record (-v names them)\n",
                summary.unrecorded);
    }
    return ExitOk;
}

}  // namespace upkg
