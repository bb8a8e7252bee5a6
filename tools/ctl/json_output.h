// --json: each result line a command prints becomes one JSON object, so scripts need no text
// parsing: "ok" {"result":"ok"}, "outcome success" {"outcome":"success"}, "red=25 green=----"
// {"red":25,"green":null}, a port {"port":"COM3","device":"/dev/pts/4","searched":true}. Lines
// that already are JSON objects (watch --json) pass unchanged. Main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace lumivex::ctl {

enum class Command;

// text as a JSON string, quotes included. Bytes that are no UTF-8 become U+FFFD, so the result
// is valid JSON whatever a device name holds.
std::string JsonString(std::string_view text);

// The JSON object for one result line (without its line end) of command; index counts the
// command's result lines from 0 (a port's place in the search order).
std::string JsonResultLine(Command command, std::string_view line, std::size_t index);

// A stream that hands every complete line written to it, converted, to out, flushing out after
// each (a watch's lines show as they come). A last line without its line end is converted when
// the stream is destroyed.
class JsonResultStream {
 public:
  JsonResultStream(std::ostream& out, Command command);
  ~JsonResultStream();
  JsonResultStream(const JsonResultStream&) = delete;
  JsonResultStream& operator=(const JsonResultStream&) = delete;
  std::ostream& stream() { return stream_; }

 private:
  class Buffer;
  std::unique_ptr<Buffer> buffer_;
  std::ostream stream_;
};

}  // namespace lumivex::ctl
