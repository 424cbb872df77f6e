// Where messages go: main sends them to the standard streams, tests keep them.
#pragma once

#include <string_view>

#include "host.h"

namespace rdz {

class Reporter {
 public:
  virtual void info(std::string_view line) = 0;   // progress and summary
  virtual void error(std::string_view line) = 0;  // always shown

 protected:
  ~Reporter() = default;
};

// Hands the caller's Reporter one message at a time, whichever worker sends it.
class SharedReporter final : public Reporter {
 public:
  SharedReporter(Reporter& to, Host& host) : to_(to), host_(host) {}
  void info(std::string_view line) override {
    HostLock hold(host_);
    to_.info(line);
  }
  void error(std::string_view line) override {
    HostLock hold(host_);
    to_.error(line);
  }
  // For a caller that holds the host lock already and says several lines.
  Reporter& held() { return to_; }

 private:
  Reporter& to_;
  Host& host_;
};

}  // namespace rdz
