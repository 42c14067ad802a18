#pragma once
// Base-station settings: a raw dialogue on the serial line. StartConfiguration sends the
// configuration request and starts the dialogue timer (100 ms); the receive thread, while
// the line's stationTransfer is set, only compares each chunk with the acknowledgement
// and sets stationAck; DialogueTick sends the settings record once it is seen,
// or gives up after 10 ticks. The handset poll is paused for the whole dialogue.
//
// Threads: all methods, and the delayed steps they schedule through WindowTimers,
// run on the window thread; none of them sleeps or waits for the line. The port is
// written directly from here under the send thread's lock, taken only when free, so
// no poll or job frame lands in between: while a job holds the line the write is
// tried again a little later.

#include <string>

#include "common/MessageSink.h"
#include "common/WindowTimers.h"
#include "link/LineActivity.h"
#include "linktest/HandsetTree.h"

namespace orderlink {

class SendThread;
class HandsetPoller;

// The tab's controls as the user left them.
struct StationInput {
  bool voice = false;   // voiceStationRadio_ "语音基站" (else dataStationRadio_ "数据基站")
  bool master = true;   // masterStationRadio_ "主基站" (else slaveStationRadio_ "从基站")
  std::string channel;  // channelCombo_ "信道选择"
  std::string station;  // stationNumberCombo_ "基站编号"
  std::string address;  // slaveAddressEdit_ "从机地址"
};

// What the dialogue changes on its tab (window thread, direct calls).
class StationView {
 public:
  virtual ~StationView() = default;
  // The configure button's caption "传输" while waiting for the acknowledgement, else "确定".
  virtual void ShowTransfer(bool transferring) = 0;
  virtual void SetConfigureButtonEnabled(bool enabled) = 0;
  virtual void SetDialogueTimer(bool running) = 0;
};

class StationConfig {
 public:
  static constexpr int kDialogueTickMs = 100;
  static constexpr int kMaxTicks = 10;  // about one second without acknowledgement

  // `send` and `poller` may be absent (nothing is then written / paused).
  // `handsets` is the test tab's handset tree: a voice station serves those handsets.
  // `timers` must drop its pending calls before this object goes; `line` must outlive it.
  StationConfig(WindowTimers& timers, MessageSink& messages, SendThread* send,
                HandsetPoller* poller, const HandsetTree& handsets, StationView& view,
                LineActivity& line);

  // "确定": checks the input, pauses polling and, after a short settling pause,
  // sends the configuration request. Refused while a download or a link test holds
  // the line, or while its serial device is gone. The values are checked and taken here once; the
  // ticks use them.
  void StartConfiguration(const StationInput& input);
  // One step of the dialogue.
  void DialogueTick();
  // The serial device is gone: a dialogue that has not sent its record yet ends now
  // with a message that the line was lost (the station's settings are not made).
  void LineLost();

  // From the click until the dialogue has ended (polling runs again).
  [[nodiscard]] bool Busy() const { return busy_; }
  [[nodiscard]] bool Transferring() const { return transferring_; }
  [[nodiscard]] int StationTicks() const { return ticks_; }

 private:
  struct Settings {
    StationInput texts;
    int channel = 0;
    int station = 0;
    int address = 0;
  };

  void SetTransfer(bool transferring);
  // Writes raw bytes between jobs; false while a job holds the line.
  [[nodiscard]] bool TryWrite(std::string_view bytes);
  // Writes the configuration request, or tries again shortly while the line is busy.
  // `dialogue` is the number of the dialogue that scheduled it: a later one, or the
  // end of this one, makes the step do nothing.
  void SendRequest(int dialogue);
  // The serial device is there (or the dialogue has no line to check, in tests).
  [[nodiscard]] bool LineUp() const;
  // Writes the settings record and reports success; false while the line is busy.
  [[nodiscard]] bool SendRecord(const std::string& record);
  // Ends the wait: dialogue timer off, caption "确定", optional pause, poll resumed, the
  // message shown, then the button enabled again.
  void Finish(const std::string& message, int pauseMs);
  [[nodiscard]] std::string SuccessText() const;

  WindowTimers& timers_;
  MessageSink& messages_;
  SendThread* send_;
  HandsetPoller* poller_;
  const HandsetTree& handsets_;
  StationView& view_;
  LineActivity& line_;
  LineGrant grant_;  // during a dialogue: the line, polling paused
  Settings settings_;
  bool busy_ = false;
  bool transferring_ = false;
  bool ending_ = false;     // Finish ran; the poll resumes after the pause
  bool recordDue_ = false;  // acknowledged, the record waits for the line
  int dialogue_ = 0;        // counts dialogues and their ends
  int ticks_ = 0;
};

}  // namespace orderlink
