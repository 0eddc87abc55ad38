#include "tests/win/TestSupport.h"

#include "base/Handles.h"
#include "ui/Application.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace zal::test {

namespace {

std::string MakeUniqueDirectory(std::string_view prefix) {
    char base[MAX_PATH + 1];
    DWORD length = ::GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base) {
        throw std::runtime_error("GetTempPathA failed");
    }
    // Pid and tick count keep parallel suites apart; the counter keeps fixtures in one process apart.
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = std::string(base, length) + std::string(prefix) + "-" +
                           std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount()) +
                           "-" + std::to_string(++counter);
        if (::CreateDirectoryA(path.c_str(), nullptr)) {
            return path + "\\";
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

void RemoveTreeW(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (find) {
        do {
            std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                RemoveTreeW(path + L"\\" + name);
            }
        } while (::FindNextFileW(find.Get(), &entry));
    }
    find.Reset();
    ::RemoveDirectoryW(path.c_str());
}

} // namespace

TempDir::TempDir(std::string_view prefix) : FPath(MakeUniqueDirectory(prefix)) {}

TempDir::~TempDir() {
    RemoveTree(FPath);
}

std::wstring ExtendedPath(const std::string& path) {
    int length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
    bool absolute = wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\';
    return absolute ? L"\\\\?\\" + wide : wide;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
    UniqueFile file(::CreateFileW(ExtendedPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << "cannot create " << path << ", error " << ::GetLastError();
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ASSERT_TRUE(ok && written == bytes.size()) << "cannot write " << path;
}

std::string ReadFileBytes(const std::string& path) {
    UniqueFile file(::CreateFileW(ExtendedPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return "<missing>";
    }
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got != 0) {
        content.append(buffer, got);
    }
    return content;
}

void MakeDirectory(const std::string& path) {
    ASSERT_TRUE(::CreateDirectoryW(ExtendedPath(path).c_str(), nullptr))
        << "cannot create " << path << ", error " << ::GetLastError();
}

std::string BuildTreePath(std::string_view unixPath) {
    std::string path = "Z:" + std::string(unixPath);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string AccessRules(const std::string& path) {
    DWORD needed = 0;
    ::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::string descriptor(needed, '\0');
    char* text = nullptr;
    if (needed == 0 ||
        !::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed) ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.data(), SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return "<error " + std::to_string(::GetLastError()) + ">";
    }
    std::string rules = text;
    ::LocalFree(text);
    return rules;
}

void SetAccessRules(const std::string& path, std::string sddl) {
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    UniqueKernelHandle owned(token);
    char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD length = 0;
    ASSERT_TRUE(::GetTokenInformation(token, TokenUser, user, sizeof user, &length));
    char* sid = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
    for (std::size_t at = sddl.find("$USER"); at != std::string::npos; at = sddl.find("$USER")) {
        sddl.replace(at, 5, sid);
    }
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                       &descriptor, nullptr))
        << sddl;
    const BOOL set = ::SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    ::LocalFree(descriptor);
    ASSERT_TRUE(set) << path << " " << ::GetLastError();
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesW(ExtendedPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 3 && trimmed.back() == '\\') {
        trimmed.pop_back();
    }
    RemoveTreeW(ExtendedPath(trimmed));
}

std::string Summary(const std::string& content) {
    if (content.size() <= 64) {
        return content;
    }
    // FNV-1a: enough to tell two contents apart in a test, and short enough to read in a failure message.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : content) {
        hash = (hash ^ c) * 16777619u;
    }
    char text[64];
    std::snprintf(text, sizeof text, "<%lu bytes, hash %08x>", static_cast<unsigned long>(content.size()),
                  static_cast<unsigned>(hash));
    return text;
}

void ProcessPendingMessages() {
    while (Application && Application->ProcessMessage()) {
    }
}

std::map<std::string, std::string> ListDirectory(const std::string& directory) {
    std::map<std::string, std::string> entries;
    WIN32_FIND_DATAA entry;
    UniqueFind find(::FindFirstFileA((directory + "*").c_str(), &entry));
    if (find) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entries[name] = isDirectory ? "<dir>" : Summary(ReadFileBytes(directory + name));
        } while (::FindNextFileA(find.Get(), &entry));
    }
    return entries;
}

} // namespace zal::test
