#include "pty_meter.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "meter.h"

extern char** environ;

namespace testing_support {

std::string PtyMeter::MeterAnswers(const std::string& command) {
  // A meter with the default settings never changes: one serves every test.
  static ovrin_sim::Meter* const meter = new ovrin_sim::Meter(ovrin_sim::MeterOptions{});
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  return meter->Answer(command);
}

PtyMeter::PtyMeter(Answers answers) : answers_(std::move(answers)) {
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  reader_ = std::thread([this] { Run(); });
}

PtyMeter::~PtyMeter() {
  Hangup();
  close(stopFd_);
}

void PtyMeter::Run() {
  ovrin_sim::CommandReader commands;
  char buffer[1024];
  for (;;) {
    pollfd fds[2] = {{terminal_.Fd(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [this] { return !paused_ || stopping_; });
      if (stopping_) return;
    }
    const ssize_t n = read(terminal_.Fd(), buffer, sizeof buffer);
    if (n <= 0) return;
    {
      std::lock_guard<std::mutex> hold(lock_);
      received_.append(buffer, static_cast<std::size_t>(n));
      changed_.notify_all();
    }
    for (const std::string& command : commands.Feed(buffer, static_cast<std::size_t>(n))) {
      const std::string answer = answers_(command);
      if (!answer.empty()) Send(answer);
    }
  }
}

void PtyMeter::Send(const std::string& bytes) {
  if (write(terminal_.Fd(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    std::fprintf(stderr, "PtyMeter: short write\n");
  }
}

std::string PtyMeter::Received() {
  std::lock_guard<std::mutex> hold(lock_);
  return received_;
}

void PtyMeter::ClearReceived() {
  std::lock_guard<std::mutex> hold(lock_);
  received_.clear();
}

bool PtyMeter::AwaitReceived(const std::string& needle, int timeoutMs) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return received_.find(needle) != std::string::npos; });
}

void PtyMeter::PauseReading() {
  std::lock_guard<std::mutex> hold(lock_);
  paused_ = true;
}

void PtyMeter::ResumeReading() {
  std::lock_guard<std::mutex> hold(lock_);
  paused_ = false;
  changed_.notify_all();
}

void PtyMeter::Hangup() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (reader_.joinable()) {
    const std::uint64_t one = 1;
    (void)!write(stopFd_, &one, sizeof one);
    reader_.join();
  }
  terminal_.Close();
}

SimProcess::SimProcess(const std::string& arguments) {
  std::vector<std::string> words = {OVRIN_SIM_PATH};
  std::istringstream split(arguments);
  for (std::string word; split >> word;) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) throw std::runtime_error("spawn");
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
  close(out[0]);
  if (path_.empty()) throw std::runtime_error("ovrin-sim printed no path");
}

SimProcess::~SimProcess() {
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

TempDir::TempDir() {
  char pattern[] = "/tmp/ovrin-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  const std::string command = "rm -rf '" + path_ + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path_.c_str());
}

PortEnvironment::PortEnvironment(const std::vector<std::string>& ports) {
  SetPorts(ports);
  setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1);
}

PortEnvironment::~PortEnvironment() {
  unsetenv("OVRIN_SERIAL_PORTS");
  unsetenv("XDG_CONFIG_HOME");
}

void PortEnvironment::SetPorts(const std::vector<std::string>& ports) {
  std::string list;
  for (const std::string& port : ports) list += (list.empty() ? "" : ":") + port;
  setenv("OVRIN_SERIAL_PORTS", list.c_str(), 1);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

}  // namespace testing_support
