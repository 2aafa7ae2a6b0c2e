// The release zip end to end: made by CPack from the Windows build, unpacked into an empty
// folder, its texts looked at, its dbg32.exe run under Wine on the sample program to the
// first prompt and out by "exit".
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string quoted(const std::string &path) {
    return "'" + path + "'";
}

std::string read_file(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The one file in `folder` whose name starts with `prefix` and ends with `suffix`.
fs::path find_entry(const fs::path &folder, const std::string &prefix, const std::string &suffix) {
    fs::path found;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found = entry.path();
    }
    return found;
}

// Plain ASCII, which every Notepad shows right.
bool ascii_only(const std::string &text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > 0x7E ||
            (c < ' ' && c != '\r' && c != '\n' && c != '\t'))
            return false;
    return true;
}

// Every line end of `text` is CR LF.
bool crlf_only(const std::string &text) {
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        if (at == 0 || text[at - 1] != '\r')
            return false;
    return true;
}

class PackageE2e : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/dbg32-package-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        work_ = name;
    }
    void TearDown() override {
        if (!work_.empty())
            fs::remove_all(work_);
    }
    fs::path work_;
};

TEST_F(PackageE2e, UnpackedZipRunsTheSample) {
    fs::path out = work_ / "out", unpacked = work_ / "unpacked";
    fs::create_directories(unpacked);
    std::string make_zip = "timeout 300 cpack --config " +
                           quoted(DBG32_WIN32_DIR "/CPackConfig.cmake") + " -B " +
                           quoted(out.string()) + " >/dev/null";
    ASSERT_EQ(std::system(make_zip.c_str()), 0) << make_zip;
    fs::path zip = find_entry(out, "dbg32-", "-win32.zip");
    ASSERT_FALSE(zip.empty()) << "no zip in " << out;
    std::string unpack = "cd " + quoted(unpacked.string()) + " && timeout 60 cmake -E tar xf " +
                         quoted(zip.string());
    ASSERT_EQ(std::system(unpack.c_str()), 0) << unpack;

    fs::path folder = unpacked / zip.stem();
    ASSERT_TRUE(fs::exists(folder / "dbg32.exe")) << "no " << zip.stem() << "/dbg32.exe";
    for (const char *name :
         {"README.txt", "CHANGELOG.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"}) {
        std::string text = read_file(folder / name);
        EXPECT_FALSE(text.empty()) << "no " << name;
        EXPECT_TRUE(crlf_only(text)) << name << " has a line end without CR";
        EXPECT_TRUE(ascii_only(text)) << name << " is not plain ASCII";
    }
    EXPECT_NE(read_file(folder / "README.txt").find("User's guide\r\n"), std::string::npos)
        << "README.txt is not the user's guide";

    // Packing may have outlasted the test's wineserver: a new one starts first.
    fs::path output = work_ / "output";
    std::string run = "cd " + quoted(folder.string()) + " && echo exit | timeout 120 wine " +
                      "dbg32.exe " + quoted(DBG32_WIN32_DIR "/targets/sample.exe") + " >" +
                      quoted(output.string());
    EXPECT_EQ(std::system(run.c_str()), 0) << run;
    EXPECT_EQ(read_file(output), ">...press any key for exit...\r\n");
}

} // namespace
