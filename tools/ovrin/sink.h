// Where the readings of a run go: stdout, or a file that is appended to.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "format.h"
#include "options.h"

namespace ovrin_tool {

// A file is appended to and never truncated (a CSV header only when it is
// new or empty). Every reading is written whole and flushed as it comes, so
// that an interrupt or a crash leaves complete lines; a file is synced when
// the sink closes.
class ReadingSink {
 public:
  explicit ReadingSink(Format format) : format_(format) {}
  ~ReadingSink();
  ReadingSink(const ReadingSink&) = delete;
  ReadingSink& operator=(const ReadingSink&) = delete;

  // Opens `path` for appending, or takes stdout when it is empty. False, with
  // Error() naming the file, when it cannot be opened.
  bool Open(const std::string& path);
  // False, with Error(), when it could not be written.
  bool Write(const NumberedReading& reading);
  // A change of the link: its JSON object in the JSON format; nothing in the
  // other formats.
  bool Write(const LinkChange& change);
  // Syncs and closes a file. False, with Error(), when that failed.
  bool Close();

  const std::string& Error() const { return error_; }

 private:
  bool Put(const std::string& line);

  Format format_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool ownsFile_ = false;
  bool headerDue_ = false;  // a CSV header goes before the first reading
  std::string error_;
};

// What a command does with its readings' sink: the --output file, and, when
// there is none, stdout (kStdout) or no sink at all (kOnlyAFile).
enum class SinkUse { kStdout, kOnlyAFile };

// Runs run(sink) (sink null when there is none) between opening and closing
// the sink, and tells the user when the sink failed: run's status, or
// kOutputFailed when the sink could not be opened, written or closed.
int WithSink(const Options& options, SinkUse use, const std::function<int(ReadingSink* sink)>& run);

}  // namespace ovrin_tool
