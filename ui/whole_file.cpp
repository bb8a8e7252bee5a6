#include "ui/whole_file.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace lumivex::ui {

namespace fs = std::filesystem;

namespace {
std::u8string Utf8(std::string_view text) {
  return std::u8string(text.begin(), text.end());
}
}  // namespace

bool WriteWholeFile(const std::string& path, std::string_view text) {
  const fs::path target(Utf8(path));
  // Beside the target, so that putting it in place is a rename within one folder; a random
  // tail keeps it off any file of the user's.
  std::random_device random;
  const fs::path temp =
      target.parent_path() / (u8"." + target.filename().u8string() + u8"." +
                              Utf8(std::to_string(random() % 1000000)) + u8".part");
  bool written = false;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (out) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      out.flush();
      written = static_cast<bool>(out);
    }
    out.close();
    written = written && !out.fail();
  }
  std::error_code error;
  if (written) {
    fs::rename(temp, target, error);
    if (!error) return true;
  }
  fs::remove(temp, error);
  return false;
}

}  // namespace lumivex::ui
