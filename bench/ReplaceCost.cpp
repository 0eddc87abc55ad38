// bench_replace make PATH SIZE_MB
//   writes a program image of SIZE_MB (its data section fills it) to PATH, for bench/run.sh to sign a copy
//   of.
// bench_replace DIRECTORY UNSIGNED SIGNED RUNS
// The tool's update completion on one staged program, timed inside this process: the unsigned program
// against the two system calls that its replacement comes down to (FlushFileBuffers of the staged file and
// MoveFileExA over the installed one) and against a plain CopyFileA, which the replacement used to be; the
// signed program against WinVerifyTrust's check of it followed by the same two calls. Each run starts from
// the same state: the staged file freshly copied from its master, open to everybody (so that the tool gives
// it the installed file's access rules every time) and flushed, so it sits clean in the page cache, and an
// old 4 KB file where the installed one goes. What a run writes is flushed after its clock stops, so no run
// pays for the write-back of the one before. Variants take turns, in the opposite order every other round,
// so that no variant always follows the same one. One line per run:
//   run VARIANT INDEX MS
#include "app/ProgramImage_win.h"
#include "app/UpdateCompletion.h"
#include "core/UpdatePlan.h"
#include "base/Handles.h"
#include "bench/BenchSupport.h"
#include "testkit/FakeUpdateHost.h"
#include "testkit/ProgramMaker.h"

#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace zal;
using zal::bench::Stopwatch;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_replace: %s (error %lu)\n", what.c_str(), ::GetLastError());
    std::exit(1);
}

void Flush(const std::string& path) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !::FlushFileBuffers(file.Get())) {
        Fail("cannot flush " + path);
    }
}

void WriteSmallFile(const std::string& path) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string old(4096, 'o');
    DWORD written = 0;
    if (!file || !::WriteFile(file.Get(), old.data(), static_cast<DWORD>(old.size()), &written, nullptr) ||
        !::FlushFileBuffers(file.Get())) {
        Fail("cannot write " + path);
    }
}

// The access list of a file that everybody may write, unlike the installed file's.
void OpenToEverybody(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;WD)", SDDL_REVISION_1,
                                                                &descriptor, nullptr) ||
        !::SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor)) {
        Fail("cannot open " + path + " to everybody");
    }
    ::LocalFree(descriptor);
}

void MakeMaster(const std::string& path, unsigned sizeMb) {
    const std::string image = testkit::MakeProgram({.Size = static_cast<std::size_t>(sizeMb) << 20});
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file ||
        !::WriteFile(file.Get(), image.data(), static_cast<DWORD>(image.size()), &written, nullptr) ||
        written != image.size() || !::FlushFileBuffers(file.Get())) {
        Fail("cannot write " + path);
    }
}

unsigned long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void RemoveIfThere(const std::string& path) {
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
}

void FlushAndRename(const std::string& source, const std::string& target) {
    Flush(source);
    if (!::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Fail("MoveFileExA");
    }
}

struct Variant {
    const char* Name;
    const std::string& Master;
    std::function<void(const std::string& source, const std::string& target)> Timed;
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "make") {
        MakeMaster(argv[2], static_cast<unsigned>(std::atoi(argv[3])));
        return 0;
    }
    if (argc != 5) {
        std::fprintf(
            stderr,
            "usage: bench_replace make PATH SIZE_MB | bench_replace DIRECTORY UNSIGNED SIGNED RUNS\n");
        return 2;
    }
    std::string directory = argv[1];
    if (directory.back() != '\\') {
        directory += '\\';
    }
    const std::string unsignedMaster = argv[2];
    const std::string signedMaster = argv[3];
    const int runs = std::atoi(argv[4]);

    const std::string staged = directory + "ZAL.upd";
    const std::string installed = directory + "ZAL.exe";
    // The tool's own file only has to exist for its path to be taken as real.
    WriteSmallFile(directory + "ZALUpdate.exe");

    // The tool in the benchmark's directory, with argument 1 naming ZAL.exe; its pause does nothing.
    testkit::FakeUpdateHost host;
    host.ExePath = directory + "ZALUpdate.exe";
    // A wait for a held file would make the figure meaningless.
    host.WhilePaused = [&host](std::size_t) {
        if (host.Pauses.back() != UpdatePauseMs) {
            Fail("the completion waited, so something held a file");
        }
    };
    const auto tool = [&](const std::string&, const std::string&) { CompleteUpdate(host); };
    const std::vector<Variant> variants = {
        {"tool", unsignedMaster, tool},
        {"flush+rename", unsignedMaster, FlushAndRename},
        {"copyfile", unsignedMaster,
         [](const std::string& source, const std::string& target) {
             if (!::CopyFileA(source.c_str(), target.c_str(), FALSE)) {
                 Fail("CopyFileA");
             }
         }},
        {"tool-signed", signedMaster, tool},
        {"verify+flush+rename", signedMaster,
         [](const std::string& source, const std::string& target) {
             {
                 UniqueFile file(::CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                 if (!file || VerifyEmbeddedSignature(file.Get(), source) != 0) {
                     Fail("the signed master does not verify");
                 }
             }
             FlushAndRename(source, target);
         }},
    };

    for (int run = 0; run < runs; ++run) {
        for (std::size_t k = 0; k < variants.size(); ++k) {
            const std::size_t turn = (k + static_cast<std::size_t>(run)) % variants.size();
            const Variant& variant = variants[run % 2 == 0 ? turn : variants.size() - 1 - turn];
            if (!::CopyFileA(variant.Master.c_str(), staged.c_str(), FALSE)) {
                Fail("cannot stage");
            }
            OpenToEverybody(staged);
            Flush(staged);
            WriteSmallFile(installed);

            Stopwatch clock;
            variant.Timed(staged, installed);
            const double ms = clock.Milliseconds();

            if (FileSize(installed) != FileSize(variant.Master)) {
                Fail(std::string(variant.Name) + " left the installed file at the wrong size");
            }
            Flush(installed);
            RemoveIfThere(installed);
            RemoveIfThere(staged);
            std::printf("run %s %d %.3f\n", variant.Name, run, ms);
            std::fflush(stdout);
        }
    }
    if (host.Closes != 2 * runs) {
        Fail("the completion did not finish every run");
    }
    RemoveIfThere(directory + "ZALUpdate.exe");
    return 0;
}
