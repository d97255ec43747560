// How the ovrin tool writes readings: the formats, and where they go.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "options.h"
#include "ovrin_readings.h"

namespace ovrin_tool {

// The text DescError gives for a device error code.
std::string ErrorText(int code);
// Now, in nanoseconds since 1970 UTC.
std::int64_t WallClockNs();
// A time in nanoseconds since 1970 as ISO 8601 UTC with milliseconds:
// "2026-12-08T20:27:04.123Z".
std::string IsoTime(std::int64_t utcNs);
// Bytes as the inside of a JSON string: printable ASCII as it is, the rest
// escaped.
std::string JsonEscape(const char* bytes, std::size_t count);
// The JSON object of a device error code alone (ovrin error --json).
std::string FormatErrorCode(int code);

// The first line of a CSV file of readings.
extern const char kCsvHeader[];
// One reading in a format, without the line end; seq counts the readings of
// the run.
std::string FormatReading(const ovrin::Reading& reading, std::uint64_t seq, Format format);

// Where the readings of a run go: stdout, or a file that is appended to and
// never truncated (a CSV header only when it is new or empty). Every reading
// is written whole and flushed as it comes, so that an interrupt or a crash
// leaves complete lines; a file is synced when the sink closes.
class ReadingSink {
 public:
  explicit ReadingSink(Format format) : format_(format) {}
  ~ReadingSink();
  ReadingSink(const ReadingSink&) = delete;
  ReadingSink& operator=(const ReadingSink&) = delete;

  // Opens `path` for appending, or takes stdout when it is empty. False, with
  // Error() naming the file, when it cannot be opened.
  bool Open(const std::string& path);
  // Writes one reading, numbered from 1 across the run (across reconnects too).
  // False, with Error(), when it could not be written.
  bool Write(const ovrin::Reading& reading);
  // A change of the connection ("searching", "connected", "lost"): an object
  // marked "event" in the JSON stream; nothing in the other formats.
  bool WriteEvent(const char* event, const std::string& port);
  // Syncs and closes a file. False, with Error(), when that failed.
  bool Close();

  const std::string& Error() const { return error_; }
  std::uint64_t Written() const { return written_; }

 private:
  bool Put(const std::string& line);

  Format format_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool ownsFile_ = false;
  bool headerDue_ = false;  // a CSV header goes before the first reading
  std::uint64_t written_ = 0;
  std::string error_;
};

}  // namespace ovrin_tool
