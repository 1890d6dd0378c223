// Checks of the built QXUpdate.exe itself: what Explorer and the elevation
// prompt will read from it. The program file is named by QX_EXE.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// QX_EXE names the program: a Linux path, which Wine shows on drive Z:.
class BuiltProgram : public ::testing::Test {
protected:
    void SetUp() override {
        const char* exe = std::getenv("QX_EXE");
        if (exe == nullptr) GTEST_FAIL() << "QX_EXE is not set: no built program to check";
        for (const char* c = exe; *c; ++c) path_ += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
        path_ = L"Z:" + path_;
    }
    std::wstring path_;
};

TEST_F(BuiltProgram, VersionResourceReadsOneZeroOneZeroZeroZeroOne) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 1u) << "major";
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 1u) << "minor";
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), 1u) << "revision";

    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\080404b0\\FileVersion",
                               reinterpret_cast<void**>(&text), &len));
    EXPECT_EQ(std::wstring(text), L"1.01.0001");
}

TEST_F(BuiltProgram, ManifestAsksForHighestAvailable) {
    HMODULE module = LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(res, nullptr) << "no manifest resource";
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, res)));
    const std::string manifest(bytes, SizeofResource(module, res));
    FreeLibrary(module);
    EXPECT_NE(manifest.find("level=\"highestAvailable\""), std::string::npos) << manifest;
}

}  // namespace
