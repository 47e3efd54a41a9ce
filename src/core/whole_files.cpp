#include "core/whole_files.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace rompush {

namespace fs = std::filesystem;

bool ReadWholeFile(const std::string& path, std::string& content, std::uintmax_t maxBytes) {
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return false;
    const auto size = fs::file_size(path, error);
    if (error || size > maxBytes)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

namespace {
Replaced Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.is_open())
        return Replaced::CannotCreate;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return out.good() ? Replaced::Done : Replaced::CannotWrite;
}
}  // namespace

bool WriteAndCheck(const std::string& path, const std::string& bytes) {
    std::string back;
    return Write(path, bytes) == Replaced::Done && ReadWholeFile(path, back, bytes.size()) &&
           back == bytes;
}

Replaced ReplaceFile(const std::string& path, const std::string& bytes,
                     const std::string& freshSuffix) {
    const std::string fresh = path + freshSuffix;
    std::error_code error;
    Replaced result = Write(fresh, bytes);
    if (result == Replaced::Done) {
        std::string back;
        if (!ReadWholeFile(fresh, back, bytes.size()) || back != bytes)
            result = Replaced::CannotWrite;
    }
    if (result == Replaced::Done) {
        fs::rename(fresh, path, error);
        if (error)
            result = Replaced::CannotReplace;
    }
    if (result != Replaced::Done)
        fs::remove(fresh, error);
    return result;
}

}  // namespace rompush
