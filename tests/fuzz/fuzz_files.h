// A scratch folder for fuzz targets that feed their input through a file. It lives in memory
// (/dev/shm) where possible, since every input is written, fsynced and renamed.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace lumivex::fuzz {

inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string base = ::access("/dev/shm", W_OK) == 0
                           ? "/dev/shm"
                           : std::filesystem::temp_directory_path().string();
    std::string path = base + "/lumivex-fuzz.XXXXXX";
    if (::mkdtemp(path.data()) == nullptr) std::abort();
    static std::string remove = path;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(remove, ec);
    });
    return path;
  }();
  return folder;
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

// Trims blanks as the profile reader does, for checks on what it returns.
inline std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace lumivex::fuzz
