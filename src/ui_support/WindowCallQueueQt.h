#pragma once
// Calls from worker threads carried to the window thread, in the order they were
// posted, without the poster ever waiting for the window.
//
// Why not QMetaObject::invokeMethod with a queued connection: its hand-over happens
// inside Qt's library, whose locks ThreadSanitizer cannot see, so every such call
// would look like a race and hide the real ones. Here the calls wait in a queue
// under a std::mutex, and an eventfd watched on the window thread only says "look".
//
// Threads: Post from any thread; the calls run on the thread that created this
// object (the window thread). mutex_ guards calls_ and nothing else; it is never
// held while a call runs.

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace orderlink {

class WindowCallQueueQt final : public QObject {
 public:
  explicit WindowCallQueueQt(QObject* parent = nullptr);
  ~WindowCallQueueQt() override;  // calls still queued are dropped

  void Post(std::function<void()> call);

 private:
  void RunQueued();

  int wakeFd_ = -1;
  std::unique_ptr<QSocketNotifier> wake_;
  std::mutex mutex_;
  std::vector<std::function<void()>> calls_;
};

}  // namespace orderlink
