#pragma once
// A HostLink that records the codes it is asked to notify, in order. The test's own
// thread only (notifications come from the thread that parses or the window's).

#include <vector>

#include "common/HostLink.h"

namespace orderlink::test {

class RecordingHostLink final : public HostLink {
 public:
  void Notify(int code) override { codes.push_back(code); }
  std::vector<int> codes;
};

}  // namespace orderlink::test
