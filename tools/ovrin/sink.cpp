#include "sink.h"

#include <cerrno>
#include <cstring>

#include "system.h"

namespace ovrin_tool {

ReadingSink::~ReadingSink() { Close(); }

bool ReadingSink::Open(const std::string& path) {
  path_ = path;
  if (path.empty()) {
    file_ = stdout;
    headerDue_ = format_ == Format::kCsv;
    return true;
  }
  file_ = std::fopen(path.c_str(), "ab");
  if (file_ == nullptr) {
    error_ = "cannot write to \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  ownsFile_ = true;
  std::fseek(file_, 0, SEEK_END);
  headerDue_ = format_ == Format::kCsv && std::ftell(file_) == 0;
  return true;
}

bool ReadingSink::Put(const std::string& line) {
  errno = 0;
  const bool written = WriteText(file_, line + "\n") && std::fflush(file_) == 0;
  if (!written && error_.empty()) {
    error_ = "writing to \"" + (path_.empty() ? std::string("standard output") : path_) +
             "\" failed: " + std::strerror(errno != 0 ? errno : EIO);
  }
  return written;
}

bool ReadingSink::Write(const NumberedReading& reading) {
  if (headerDue_ && !Put(kCsvHeader)) return false;
  headerDue_ = false;
  return Put(FormatReading(reading, format_));
}

bool ReadingSink::Write(const LinkChange& change) {
  return format_ != Format::kJson || Put(LinkStateJson(change, WallClockNs()));
}

bool ReadingSink::Close() {
  if (!ownsFile_ || file_ == nullptr) return error_.empty();
  const bool synced = std::fflush(file_) == 0 && SyncFile(file_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if ((!synced || !closed) && error_.empty()) {
    error_ = "writing to \"" + path_ + "\" failed: " + std::strerror(errno != 0 ? errno : EIO);
  }
  return error_.empty();
}

int WithSink(const Options& options, SinkUse use, const std::function<int(ReadingSink* sink)>& run) {
  ReadingSink sink(options.format);
  const bool wanted = use == SinkUse::kStdout || !options.output.empty();
  int result;
  if (wanted && !sink.Open(options.output)) {
    result = kOutputFailed;
  } else {
    result = run(wanted ? &sink : nullptr);
    if (wanted && !sink.Close() && result == kOk) result = kOutputFailed;
  }
  if (result == kOutputFailed && !sink.Error().empty()) std::fprintf(stderr, "ovrin: %s\n", sink.Error().c_str());
  return result;
}

}  // namespace ovrin_tool
