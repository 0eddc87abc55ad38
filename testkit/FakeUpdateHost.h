#pragma once
// Stands in for the window and the process around the update completion: a chosen argument 1, a directory
// of the caller's as the tool's own, and a record of every pause (the waits for held files and the final
// one) and of the close request. Nothing sleeps.
#include "app/UpdateCompletion.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace zal::testkit {

class FakeUpdateHost : public IUpdateHost {
public:
    std::string Argument = "ZAL.exe";
    std::string ExePath;
    MultiByteSettings Mb;
    std::vector<unsigned long> Pauses;
    int Closes = 0;
    // Runs at each pause with its number, from 1: what the rest of the system does while the tool waits.
    std::function<void(std::size_t)> WhilePaused;

    std::string Argument1() override { return Argument; }
    std::string OwnExePath() override { return ExePath; }
    const MultiByteSettings& MultiByte() override { return Mb; }
    void Pause(unsigned long milliseconds) override {
        Pauses.push_back(milliseconds);
        if (WhilePaused) {
            WhilePaused(Pauses.size());
        }
    }
    void RequestClose() override { ++Closes; }
};

} // namespace zal::testkit
