// Arbitrary bytes as a profile file: section and key reads must agree with each other (a key
// read drops one pair of quotes), return trimmed single-line names, and a write must change
// only its own key and read back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_files.h"
#include "platform/profile.h"

using lumivex::platform::ProfileEntry;

namespace {

bool EqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = lumivex::fuzz::ScratchFolder() + "/p.ini";
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lumivex::fuzz::WriteBytes(path, bytes);

  // The first section header of the input is the one looked into, so the fuzzer steers it.
  std::string section = "s";
  if (auto open = bytes.find('['); open != std::string_view::npos) {
    auto close = bytes.find(']', open);
    auto nl = bytes.find('\n', open);
    if (close != std::string_view::npos && close < nl)
      section = lumivex::fuzz::Trimmed(bytes.substr(open + 1, close - open - 1));
  }

  const std::vector<ProfileEntry> entries =
      lumivex::platform::ReadProfileSection(path, section, 255);
  Check(entries.size() <= 255);
  for (const auto& e : entries) {
    Check(e.key.find('=') == std::string::npos);
    Check(e.key.find('\n') == std::string::npos && e.value.find('\n') == std::string::npos);
    Check(lumivex::fuzz::Trimmed(e.key) == e.key && lumivex::fuzz::Trimmed(e.value) == e.value);
    Check(e.key.size() + e.value.size() <= lumivex::platform::kMaxProfileLineBytes);
    if (e.key.empty()) continue;
    // The key read finds the first line of that key, whatever the case it was written in.
    auto value = lumivex::platform::ReadProfileString(path, section, e.key);
    Check(value.has_value());
    for (const auto& first : entries) {
      if (EqualFolded(first.key, e.key)) {
        Check(*value == lumivex::platform::UnquoteProfileValue(first.value));
        break;
      }
    }
  }
  Check(!lumivex::platform::ReadProfileString(path, section, "").has_value());

  // Setting one key leaves every other section reading exactly as before.
  const std::vector<ProfileEntry> other = lumivex::platform::ReadProfileSection(path, "other", 255);
  // A quoted value, so that the write must keep its quotes for the read to give it back.
  const std::string written = bytes.size() % 2 == 0 ? "value" : "\"value\"";
  if (lumivex::platform::WriteProfileString(path, "fuzzed", "Key", written)) {
    Check(lumivex::platform::ReadProfileString(path, "fuzzed", "key") == written);
    if (!EqualFolded(section, "fuzzed")) {
      const auto after = lumivex::platform::ReadProfileSection(path, section, 255);
      Check(after.size() == entries.size());
      for (std::size_t i = 0; i < after.size(); ++i) {
        Check(after[i].key == entries[i].key && after[i].value == entries[i].value);
      }
    }
    const auto otherAfter = lumivex::platform::ReadProfileSection(path, "other", 255);
    Check(otherAfter.size() == other.size());
  }
  return 0;
}
