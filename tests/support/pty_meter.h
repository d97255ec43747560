// A meter inside the test: a pseudo-terminal whose far end the test drives,
// answering commands by a function and recording every byte it receives.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "terminal.h"

namespace testing_support {

class PtyMeter {
 public:
  // Returns the bytes to send for one command line ("" for none).
  using Answers = std::function<std::string(const std::string& command)>;
  // The simulated meter's own answers, as ovrin-sim gives them by default.
  static std::string MeterAnswers(const std::string& command);

  explicit PtyMeter(Answers answers = MeterAnswers);
  ~PtyMeter();
  PtyMeter(const PtyMeter&) = delete;
  PtyMeter& operator=(const PtyMeter&) = delete;

  const std::string& Path() const { return terminal_.Path(); }
  // The meter's end of the terminal (it shares the line settings with the host's).
  int MasterFd() const { return terminal_.Fd(); }
  // Bytes to the host, as one write.
  void Send(const std::string& bytes);
  // Every byte received so far.
  std::string Received();
  // Forgets the bytes received so far (keeping the memory they took).
  void ClearReceived();
  // Waits until the received bytes contain needle; false after timeoutMs.
  bool AwaitReceived(const std::string& needle, int timeoutMs = 5000);
  // The meter goes away: its side of the terminal closes.
  void Hangup();
  // While paused the meter reads nothing: what the host sends waits in the
  // terminal.
  void PauseReading();
  void ResumeReading();

 private:
  void Run();

  Answers answers_;
  ovrin_sim::MeterTerminal terminal_;
  int stopFd_ = -1;
  std::thread reader_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::string received_;
  bool paused_ = false;
  bool stopping_ = false;
};

// An ovrin-sim process on its own pseudo-terminal, ended when this goes.
class SimProcess {
 public:
  explicit SimProcess(const std::string& arguments = "");
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  const std::string& Path() const { return path_; }

 private:
  int pid_ = -1;
  std::string path_;
};

// A fresh directory under /tmp, removed with its contents when this goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Points the library at the given ports (in order) and at a settings
// directory of its own, for the life of this object.
class PortEnvironment {
 public:
  explicit PortEnvironment(const std::vector<std::string>& ports);
  ~PortEnvironment();
  void SetPorts(const std::vector<std::string>& ports);
  std::string SettingsFile() const { return config_.Path() + "/Quenmark/OVRIN.conf"; }
  const std::string& ConfigHome() const { return config_.Path(); }

 private:
  TempDir config_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace testing_support
