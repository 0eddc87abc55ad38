#include "app/UpdatePlan.h"

#include <stdexcept>

namespace zal {

bool ArgumentNamesTarget(std::string_view argument1, std::string_view target, const MultiByteSettings& mb) {
    return SameBytes(AsciiLower(FileNamePart(argument1, mb)), AsciiLower(target));
}

StagedPaths StagedPathsFor(std::string_view ownExePath, std::string_view target,
                           const MultiByteSettings& mb) {
    std::string directory = DirectoryPart(ownExePath, mb);
    // GetModuleFileNameA gives a full path; anything else (empty, or "D:" alone, which means D's current
    // directory) would aim the replacement at some other folder.
    if (directory.empty() || directory.back() != '\\') {
        throw std::invalid_argument("The tool's own directory is unknown; no file was changed.");
    }
    StagedPaths paths;
    paths.Staged = directory + ReplaceExtension(target, StagedExtension, mb);
    paths.Installed = directory + std::string(target);
    return paths;
}

} // namespace zal
