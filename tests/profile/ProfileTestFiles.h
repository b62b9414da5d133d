// Test helpers for profile files: a private temporary folder, and raw byte access so tests can
// write exact file images (UTF-16LE, 8-bit, odd lengths) and check exactly what was written.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace kevra::test {

// UTF-16LE bytes of a text, as the profile files store it.
inline std::string le(const std::u16string& text)
{
    std::string bytes;
    for (char16_t u : text) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    return bytes;
}

class TempFolder {
public:
    TempFolder()
    {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "kevra-profile-XXXXXX").string();
        char* made = ::mkdtemp(tmpl.data());
        if (made == nullptr)
            ADD_FAILURE() << "cannot create a temporary folder";
        path_ = tmpl;
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // The same file name as the engine takes it (the folder is plain ASCII).
    std::u16string wide(const std::string& name) const
    {
        std::string p = file(name);
        return std::u16string(p.begin(), p.end());
    }

private:
    std::string path_;
};

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}   // namespace kevra::test
