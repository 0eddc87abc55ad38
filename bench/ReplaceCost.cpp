// bench_replace DIRECTORY SIZE_MB RUNS
// The tool's update completion on one staged file of SIZE_MB, timed inside this process, against the two
// system calls that its replacement comes down to (FlushFileBuffers of the staged file and MoveFileExA over
// the installed one), and against a plain CopyFileA of the same file, which the replacement used to be.
// Each run starts from the same state: the staged file freshly copied from a master file and flushed, so it
// sits clean in the page cache, and an old 4 KB file where the installed one goes. What a run writes is
// flushed after its clock stops, so no run pays for the write-back of the one before. Variants take turns.
// One line per run:
//   run VARIANT INDEX MS
#include "app/UpdateCompletion.h"
#include "app/UpdatePlan.h"
#include "bench/BenchSupport.h"
#include "testkit/FakeUpdateHost.h"
#include "base/Handles.h"

#include <windows.h>

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

void MakeMaster(const std::string& path, unsigned sizeMb) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        Fail("cannot create " + path);
    }
    // Content that no file system can store as holes or compress away.
    std::vector<unsigned> block(1 << 18);
    unsigned state = 0x2545F491u;
    for (unsigned mb = 0; mb < sizeMb; ++mb) {
        for (unsigned& word : block) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            word = state;
        }
        DWORD written = 0;
        if (!::WriteFile(file.Get(), block.data(), static_cast<DWORD>(block.size() * sizeof(unsigned)),
                         &written, nullptr)) {
            Fail("cannot write " + path);
        }
    }
    ::FlushFileBuffers(file.Get());
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

struct Variant {
    const char* Name;
    std::function<void(const std::string& source, const std::string& target)> Timed;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_replace DIRECTORY SIZE_MB RUNS\n");
        return 2;
    }
    std::string directory = argv[1];
    if (directory.back() != '\\') {
        directory += '\\';
    }
    const unsigned sizeMb = static_cast<unsigned>(std::atoi(argv[2]));
    const int runs = std::atoi(argv[3]);
    const unsigned long long size = static_cast<unsigned long long>(sizeMb) << 20;

    const std::string master = directory + "master.bin";
    const std::string staged = directory + "ZAL.upd";
    const std::string installed = directory + "ZAL.exe";
    MakeMaster(master, sizeMb);
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
    const std::vector<Variant> variants = {
        {"tool", [&](const std::string&, const std::string&) { CompleteUpdate(host); }},
        {"flush+rename",
         [](const std::string& source, const std::string& target) {
             Flush(source);
             if (!::MoveFileExA(source.c_str(), target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                 Fail("MoveFileExA");
             }
         }},
        {"copyfile",
         [](const std::string& source, const std::string& target) {
             if (!::CopyFileA(source.c_str(), target.c_str(), FALSE)) {
                 Fail("CopyFileA");
             }
         }},
    };

    for (int run = 0; run < runs; ++run) {
        for (std::size_t k = 0; k < variants.size(); ++k) {
            const Variant& variant = variants[(k + static_cast<std::size_t>(run)) % variants.size()];
            if (!::CopyFileA(master.c_str(), staged.c_str(), FALSE)) {
                Fail("cannot stage");
            }
            Flush(staged);
            WriteSmallFile(installed);

            Stopwatch clock;
            variant.Timed(staged, installed);
            const double ms = clock.Milliseconds();

            if (FileSize(installed) != size) {
                Fail(std::string(variant.Name) + " left the installed file at the wrong size");
            }
            Flush(installed);
            RemoveIfThere(installed);
            RemoveIfThere(staged);
            std::printf("run %s %d %.3f\n", variant.Name, run, ms);
            std::fflush(stdout);
        }
    }
    if (host.Closes != runs) {
        Fail("the completion did not finish every run");
    }
    RemoveIfThere(master);
    RemoveIfThere(directory + "ZALUpdate.exe");
    return 0;
}
