#pragma once
// The stand-in ordering software at work: binds its UDP port on 127.0.0.1, starts
// orderlink with that port (unless told not to), answers the program's
// notifications through the exchange files in TXT, posts short messages, and ends
// when the program posts WM_CLOSE. It can misbehave as a busy ordering software
// does: answer late, answer twice, or not at all.
//
// Threading: one thread. Run() loops on the socket until the end; the only thing
// another context touches is the stop flag, which a signal handler sets.

#include <netinet/in.h>
#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "HostLogic.h"
#include "common/TxtDir.h"

namespace orderlink::hostsim {

struct HostOptions {
  std::filesystem::path appDir;
  std::filesystem::path program;
  std::filesystem::path tables;
  bool launch = true;
  int port = 0;
  Users users;
  int replyDelayMs = 50;
  int downloadDelayMs = 200;
  int rollCallEvery = 0;
  int ignoreEvery = 0;
  double shortMessageEvery = 0;
  int shortFrom = 0;
  int shortTo = 0;
  double seconds = 0;
  int graceMs = 5000;
  // Faults of the ordering software: a share of the requests answered lateMs late,
  // answered twice (code 1 posted twice for one R1.txt), or never answered.
  int lateMs = 0;
  double lateShare = 0.1;
  double answerTwiceShare = 0;
  double silentShare = 0;
  std::uint32_t seed = 1;
  // Timed record of the run ("<monotonic ms> notify 007 DC  "), when given.
  std::filesystem::path events;
};

class Host {
 public:
  // `stopRequested` turns non-zero (from a signal handler) when the stand-in should
  // ask the program to close and end.
  Host(HostOptions options, const volatile std::sig_atomic_t& stopRequested);

  // Runs until the program has closed (or the stand-in gave up on it) and prints
  // the summary line. Returns the exit status: 0 when the program closed with
  // WM_CLOSE and status 0 and nothing went wrong, 1 otherwise, 2 when the socket
  // or the program could not be set up.
  int Run();

 private:
  void Log(std::string line);
  void Problem(const std::string& line);
  bool Bind();
  bool Launch();
  void Post(std::uint32_t message, std::int32_t code);
  void OnDatagram(const unsigned char* data, ssize_t size, const sockaddr_in& from);
  void OnNotify(std::int32_t code);
  void AnswerRequest();
  void SendDueAnswers(std::int64_t nowMs);
  void Event(std::int64_t atMs, const std::string& what);
  bool Chance(double share);
  void AnswerLogin();
  void AnswerDownload();
  void SendShortMessage();
  bool WriteTxt(const std::string& name, const std::vector<std::string>& lines);
  void ReapChild(bool wait);

  HostOptions options_;
  const volatile std::sig_atomic_t& stopRequested_;
  TxtDir txt_;
  int socket_ = -1;
  int ownPort_ = 0;
  int programPort_ = 0;
  pid_t child_ = -1;
  int childStatus_ = -1;
  std::int64_t startMs_;
  bool closed_ = false;
  int problems_ = 0;
  int notifications_ = 0, requests_ = 0, replies_ = 0, ignored_ = 0, rollCalls_ = 0;
  int logins_ = 0, accepted_ = 0, downloads_ = 0, shortMessages_ = 0;
  int shortTurn_ = 0;
  std::map<std::string, std::string> dishNames_;
  // Answers written and posted when their time comes, so a late one holds up nothing.
  struct PendingAnswer {
    std::int64_t dueMs = 0;
    std::vector<std::string> reply;  // lines of R1.txt
    std::string what;                // "007 DC  " for the log and the record
    bool twice = false;
  };
  std::deque<PendingAnswer> answers_;
  std::mt19937 random_;
  std::FILE* events_ = nullptr;
  int late_ = 0, answeredTwice_ = 0, silent_ = 0;
};

}  // namespace orderlink::hostsim
