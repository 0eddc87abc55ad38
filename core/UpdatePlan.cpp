#include "core/UpdatePlan.h"

#include <utility>

namespace zal {

bool ArgumentNamesTarget(std::string_view argument1, std::string_view target, const MultiByteSettings& mb) {
    return SameBytes(AsciiLower(FileNamePart(argument1, mb)), AsciiLower(target));
}

std::optional<StagedPaths> StagedPathsFor(std::string_view ownExePath, const UpdateTarget& target,
                                          const MultiByteSettings& mb) {
    std::string directory = DirectoryPart(ownExePath, mb);
    // GetModuleFileNameA gives a full path; anything else (empty, or "D:" alone, which means D's current
    // directory) would aim the replacement at some other folder.
    if (directory.empty() || directory.back() != '\\') {
        return std::nullopt;
    }
    StagedPaths paths;
    paths.Staged = directory + ReplaceExtension(target.Name, StagedExtension, mb);
    paths.Installed = directory + std::string(target.Name);
    paths.Kind = target.Kind;
    paths.Directory = std::move(directory);
    return paths;
}

} // namespace zal
