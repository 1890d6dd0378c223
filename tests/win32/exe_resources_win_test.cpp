// What Explorer and the elevation prompt read from the built program (QX_EXE, a Linux path Wine shows on Z:).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

class BuiltProgram : public ::testing::Test {
protected:
    void SetUp() override {
        const char* exe = std::getenv("QX_EXE");
        ASSERT_NE(exe, nullptr) << "QX_EXE is not set: no built program to check";
        for (const char* c = exe; *c; ++c) path_ += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
    std::wstring path_ = L"Z:";
};

TEST_F(BuiltProgram, VersionResourceReadsOneZeroOneZeroZeroZeroOne) {
    std::vector<BYTE> data(GetFileVersionInfoSizeW(path_.c_str(), nullptr));
    ASSERT_TRUE(!data.empty() && GetFileVersionInfoW(path_.c_str(), 0, data.size(), data.data())) << "no version";
    VS_FIXEDFILEINFO* fixed = nullptr;
    wchar_t* text = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u) << "major, minor";
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), 1u) << "revision";
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\080404b0\\FileVersion",
                               reinterpret_cast<void**>(&text), &len));
    EXPECT_EQ(std::wstring(text), L"1.01.0001");
}

TEST_F(BuiltProgram, ManifestAsksForHighestAvailable) {
    HMODULE module = LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(res, nullptr) << "no manifest resource";
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, res))),
                               SizeofResource(module, res));
    FreeLibrary(module);
    EXPECT_NE(manifest.find("level=\"highestAvailable\""), std::string::npos) << manifest;
}

}  // namespace
