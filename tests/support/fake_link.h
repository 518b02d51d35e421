#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "device/dialogue.h"
#include "device/serial_link.h"
#include "sim/murve_console.h"

namespace murve_test {

// A piece of a reply that arrives `after_ms` after the command that caused it was sent.
struct ReplyPiece {
  std::int64_t after_ms;
  std::string bytes;
};

// A link on a virtual clock: sleeping and waiting move the clock instead of taking time, and the
// device's reply to each command is planned by `plan`.
class FakeLink final : public murve::SerialLink {
 public:
  using ReplyPlan = std::function<std::vector<ReplyPiece>(const std::string& sent)>;

  // The error a failing send gives (EIO on Linux).
  static constexpr int k_send_error_code = 5;

  explicit FakeLink(ReplyPlan plan) : plan_(std::move(plan)) {}

  murve::SendOutcome send_bytes(const void* data, std::size_t length) override {
    const std::string bytes(static_cast<const char*>(data), length);
    const bool fails = sends_failing_from_ >= 0 && attempts_ >= sends_failing_from_ &&
                       (sends_failing_until_ < 0 || attempts_ < sends_failing_until_);
    ++attempts_;
    if (fails) {
      events.push_back("failed send " + bytes);
      return {{k_send_error_code, "Input/output error"}};
    }
    sent.push_back(bytes);
    events.push_back("send " + bytes);
    for (ReplyPiece& piece : plan_(bytes)) {
      pending_.push_back({now_ms + piece.after_ms, std::move(piece.bytes)});
    }
    return {};
  }

  void sleep_ms(int milliseconds) override {
    events.push_back("sleep " + std::to_string(milliseconds));
    now_ms += milliseconds;
  }

  void close_port() override { closed = true; }

  // What has arrived by now goes; what is still on its way does not.
  void discard_input() override {
    events.push_back("discard input");
    while (arrived()) {
      pending_.pop_front();
    }
  }

  bool hardware_flow_control() const override { return false; }

  std::size_t receive_bytes(char* into, std::size_t capacity, int wait_ms) override {
    events.push_back("receive");
    if (!arrived()) {
      const std::int64_t deadline = now_ms + wait_ms;
      const std::int64_t next = next_arrival();
      if (next < 0 || next > deadline) {
        now_ms = deadline;
        return 0;
      }
      now_ms = next;
    }
    std::size_t count = 0;
    while (count < capacity && arrived()) {
      Arrival& first = pending_.front();
      const std::size_t take = std::min(capacity - count, first.bytes.size());
      first.bytes.copy(into + count, take);
      count += take;
      first.bytes.erase(0, take);
      if (first.bytes.empty()) {
        pending_.pop_front();
      }
    }
    return count;
  }

  std::int64_t monotonic_ms() override { return now_ms; }

  // Sends numbered `first` (counting from 0) up to but not including `until` fail; -1: no end.
  void fail_sends(int first, int until = -1) {
    sends_failing_from_ = first;
    sends_failing_until_ = until;
  }

  std::vector<std::string> sent;
  std::vector<std::string> events;
  std::int64_t now_ms = 0;
  bool closed = false;

 private:
  struct Arrival {
    std::int64_t at_ms;
    std::string bytes;
  };

  bool arrived() const { return !pending_.empty() && pending_.front().at_ms <= now_ms; }
  std::int64_t next_arrival() const { return pending_.empty() ? -1 : pending_.front().at_ms; }

  ReplyPlan plan_;
  // Kept in order of arrival: every piece of one command's reply before those of the next.
  std::deque<Arrival> pending_;
  int attempts_ = 0;
  int sends_failing_from_ = -1;
  int sends_failing_until_ = -1;
};

// Replies as the simulated console does, at once and in one piece.
inline FakeLink::ReplyPlan console_replies(murvesim::MurveConsole& console) {
  return [&console](const std::string& sent) {
    std::string reply;
    for (char byte : sent) {
      reply += console.receive(byte);
    }
    return std::vector<ReplyPiece>{{0, reply}};
  };
}

}  // namespace murve_test
