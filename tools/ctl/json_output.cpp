#include "tools/ctl/json_output.h"

#include <cstdio>
#include <streambuf>
#include <vector>

#include "connection/connection.h"
#include "tools/ctl/ctl.h"

namespace lumivex::ctl {

namespace {

constexpr std::string_view kNotAvailable = "----";

// The length of the UTF-8 sequence starting at text[i], 0 when it is not a valid one.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  uint32_t code = 0;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  // Overlong forms, surrogates and numbers beyond Unicode are no characters.
  constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

bool IsInteger(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsName(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  while (!line.empty()) {
    const std::size_t space = line.find(' ');
    if (space != 0) words.push_back(line.substr(0, space));
    if (space == std::string_view::npos) break;
    line.remove_prefix(space + 1);
  }
  return words;
}

// "red=25 green=---- blue=27": every word a name and a number or "----".
bool Fields(const std::vector<std::string_view>& words, std::string& json) {
  if (words.empty()) return false;
  std::string object = "{";
  for (std::string_view word : words) {
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view name = word.substr(0, equals);
    const std::string_view value = word.substr(equals + 1);
    if (!IsName(name) || (value != kNotAvailable && !IsInteger(value))) return false;
    if (object.size() > 1) object += ',';
    object += JsonString(name) + ":" + (value == kNotAvailable ? "null" : std::string(value));
  }
  json = object + "}";
  return true;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const std::size_t length = Utf8Length(text, i);
    if (length == 0) {
      json += "\\ufffd";
      ++i;
      continue;
    }
    if (length > 1) {
      json.append(text.substr(i, length));
      i += length;
      continue;
    }
    ++i;
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          json += escaped;
        } else {
          json += c;
        }
    }
  }
  return json + "\"";
}

std::string JsonResultLine(Command command, std::string_view line, std::size_t index) {
  if (line.starts_with('{')) return std::string(line);
  const std::vector<std::string_view> words = Words(line);
  if (line == "no answer" || line == "bad check") {
    return "{\"result\":" + JsonString(line) + "}";
  }
  if (command == Command::kPorts && words.size() >= 2 && words[0].starts_with("COM")) {
    // The panel's search, and lumivexctl's without --port, tries the first ports of the map only.
    const bool searched = index < connection::kMaxPorts;
    return "{\"port\":" + JsonString(words[0]) + ",\"device\":" + JsonString(words[1]) +
           ",\"searched\":" + (searched ? "true" : "false") + "}";
  }
  if (words.size() == 2 && words[0] == "outcome") {
    return "{\"outcome\":" + JsonString(words[1]) + "}";
  }
  if (words.size() == 1 && words[0].find('=') == std::string_view::npos) {
    return "{\"result\":" + JsonString(words[0]) + "}";
  }
  if (std::string json; Fields(words, json)) return json;
  return "{\"text\":" + JsonString(line) + "}";
}

class JsonResultStream::Buffer : public std::streambuf {
 public:
  Buffer(std::ostream& out, Command command) : out_(out), command_(command) {}

  void EmitPartial() {
    if (!line_.empty()) Emit();
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (traits_type::to_char_type(c) == '\n') {
      Emit();
    } else {
      line_ += traits_type::to_char_type(c);
    }
    return c;
  }

  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) overflow(traits_type::to_int_type(s[i]));
    return n;
  }

  int sync() override {
    out_.flush();
    return out_ ? 0 : -1;
  }

 private:
  void Emit() {
    out_ << JsonResultLine(command_, line_, index_++) << '\n';
    out_.flush();
    line_.clear();
  }

  std::ostream& out_;
  Command command_;
  std::string line_;
  std::size_t index_ = 0;
};

JsonResultStream::JsonResultStream(std::ostream& out, Command command)
    : buffer_(std::make_unique<Buffer>(out, command)), stream_(buffer_.get()) {}

JsonResultStream::~JsonResultStream() {
  buffer_->EmitPartial();
}

}  // namespace lumivex::ctl
