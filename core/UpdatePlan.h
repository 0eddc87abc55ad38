#pragma once
// Which installed files the tool replaces and where their staged copies lie. Portable: argument 1, the
// tool's own path and the multi-byte settings come in as values, so the matching can be tested natively.
#include "core/PathRules.h"
#include "core/ProgramImage.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace zal {

// An installed file that can be updated, and what its staged copy must be to be installed.
struct UpdateTarget {
    std::string_view Name;
    ImageKind Kind;
};

// The installed files that can be updated, examined in this order.
inline constexpr std::array<UpdateTarget, 2> UpdateTargets{
    {{"ZAL.exe", ImageKind::Program}, {"Glimae.dll", ImageKind::Library}}};

// The extension that the product gives the staged copy of a target.
inline constexpr std::string_view StagedExtension = ".upd";

// How long the tool waits after the replacements before it closes, in milliseconds.
inline constexpr unsigned long UpdatePauseMs = 3000;

// A file that another process still holds (ZAL may still be exiting) is tried again every RetryIntervalMs,
// for at most RetryLimitMs in all for one press of the button.
inline constexpr unsigned long RetryIntervalMs = 100;
inline constexpr unsigned long RetryLimitMs = 5000;

// The files of one replacement, all in the tool's own directory.
struct StagedPaths {
    std::string Directory;               // the tool's own, ending in its backslash
    std::string Staged;                  // the new content, left by the product; renamed into place
    std::string Installed;               // the file that is replaced, or created when missing
    ImageKind Kind = ImageKind::Program; // what the staged copy must be
};

// True when argument 1's file-name part, with A to Z lower-cased, is exactly the target's name lower-cased.
// Any directory in the argument is ignored.
bool ArgumentNamesTarget(std::string_view argument1, std::string_view target, const MultiByteSettings& mb);

// The paths for target in the directory of ownExePath; none when ownExePath has no directory part ending in
// a backslash, since names built from it would point elsewhere.
std::optional<StagedPaths> StagedPathsFor(std::string_view ownExePath, const UpdateTarget& target,
                                          const MultiByteSettings& mb);

} // namespace zal
