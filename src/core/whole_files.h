// Files read and written whole, and replaced so that a failed write never loses what was
// there: the settings file and the operator's HEX files go through these.
#pragma once

#include <cstdint>
#include <string>

namespace rompush {

// The whole content of a regular file of at most maxBytes; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& content, std::uintmax_t maxBytes);
// Writes bytes to the file (created or truncated) and reads them back: true only when the
// file now holds exactly them.
bool WriteAndCheck(const std::string& path, const std::string& bytes);

enum class Replaced { Done, CannotCreate, CannotWrite, CannotReplace };
// Writes bytes to path + freshSuffix beside the file, checks them and renames that over the
// file in one step. On any failure the file is as it was and the fresh file is gone.
Replaced ReplaceFile(const std::string& path, const std::string& bytes,
                     const std::string& freshSuffix);

}  // namespace rompush
