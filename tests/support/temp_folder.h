// A folder under the Unix /tmp, seen from Wine as Z:\tmp\..., removed with everything in it at
// the end. The one temporary folder of the Wine and end-to-end tests.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace testsupport {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "skv-test")
    {
        // Wine reuses small process ids, and another checkout's prefix counts from the same
        // ones: a name may be taken, so try the next.
        static unsigned counter = 0;
        std::error_code error;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string leaf = prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                                     std::to_string(++counter) + "-" + std::to_string(GetTickCount() % 100000);
            if (std::filesystem::create_directory("Z:\\tmp\\" + leaf, error)) {
                Leaf = leaf;
                return;
            }
        }
        ADD_FAILURE() << "cannot create a folder like /tmp/" << prefix << "-...";
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!Leaf.empty())
            std::filesystem::remove_all(Path(), ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Path() const { return Leaf.empty() ? "" : "Z:\\tmp\\" + Leaf; }   // no trailing backslash
    std::string UnixPath() const { return Leaf.empty() ? "" : "/tmp/" + Leaf; }
    std::string File(const std::string& relative) const { return Path() + "\\" + relative; }
    // Writes the file, with its folders.
    bool Write(const std::string& relative, const std::string& bytes) const
    {
        const std::filesystem::path file = File(relative);
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        std::ofstream stream(file, std::ios::binary | std::ios::trunc);
        stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(stream.flush());
    }

private:
    std::string Leaf;   // empty when no folder was made: nothing is removed
};

}  // namespace testsupport
