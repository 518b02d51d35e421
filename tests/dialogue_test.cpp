#include "device/dialogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_link.h"

namespace murve_test {
namespace {

// A link whose device replied to the first command with `reply`, in one piece.
std::unique_ptr<FakeLink> link_with_queued(const std::string& reply) {
  bool replied = false;
  auto link = std::make_unique<FakeLink>([reply, replied](const std::string&) mutable {
    if (replied) {
      return std::vector<ReplyPiece>{};
    }
    replied = true;
    return std::vector<ReplyPiece>{{0, reply}};
  });
  link->send_bytes("x", 1);
  return link;
}

TEST(ReadResponse, TakesAtMostOneBufferAtATime) {
  std::string flood(5000, '.');
  flood[4094] = 'A';
  flood[4095] = 'B';
  const auto owner = link_with_queued(flood);
  FakeLink& link = *owner;
  murve::Dialogue dialogue(link);
  dialogue.read_response();
  EXPECT_EQ(std::strlen(dialogue.reply()), 4095u);
  EXPECT_EQ(dialogue.reply()[4094], 'A');
  dialogue.read_response();
  EXPECT_EQ(std::strlen(dialogue.reply()), 905u);
  EXPECT_EQ(dialogue.reply()[0], 'B');
  // Nothing more: empty after the one-second wait for a first byte.
  const std::int64_t before = link.now_ms;
  dialogue.read_response();
  EXPECT_STREQ(dialogue.reply(), "");
  EXPECT_EQ(link.now_ms - before, murve::k_reply_timeout_ms);
}

TEST(ReadResponse, ReplyIsSeenUpToItsFirstNul) {
  const auto owner = link_with_queued(std::string("MUR\0VE", 6));
  murve::Dialogue dialogue(*owner);
  dialogue.read_response();
  EXPECT_STREQ(dialogue.reply(), "MUR");
}

bool lacks_end(const char* reply) {
  return std::strstr(reply, "END") == nullptr;
}

TEST(CompleteReply, ReadsOnWhileBytesKeepComing) {
  struct Case {
    const char* name;
    std::vector<ReplyPiece> pieces;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"complete at once", {{0, "a END"}, {10, "later"}}, "a END"},
      {"rest 90 ms later", {{0, "a "}, {90, "b END"}}, "a b END"},
      {"rest too late", {{0, "a "}, {250, "b END"}}, "a "},
      {"NUL ends the waiting", {{0, std::string("a\0", 2)}, {50, "END"}}, "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLink link([&c](const std::string&) { return c.pieces; });
    murve::Dialogue dialogue(link);
    link.send_bytes("x", 1);
    dialogue.read_response();
    dialogue.complete_reply(lacks_end);
    EXPECT_EQ(std::string(dialogue.reply()), c.reply);
  }
}

TEST(CompleteReply, StopsWhenTheBufferIsFull) {
  FakeLink link([](const std::string&) {
    std::vector<ReplyPiece> pieces;
    for (int i = 0; i < 100; ++i) {
      pieces.push_back({i, std::string(100, '.')});
    }
    return pieces;
  });
  murve::Dialogue dialogue(link);
  link.send_bytes("x", 1);
  dialogue.read_response();
  dialogue.complete_reply(lacks_end);
  EXPECT_EQ(std::strlen(dialogue.reply()), murve::k_max_reply_bytes);
}

TEST(DiscardLeftovers, DropsLeftoversAndTheirRestButWaitsForNothingElse) {
  const auto quiet = link_with_queued("");
  const std::int64_t before = quiet->now_ms;
  EXPECT_EQ(murve::Dialogue(*quiet).discard_leftovers().size(), 0u);
  EXPECT_EQ(quiet->now_ms, before);  // nothing left over: no waiting at all

  FakeLink link([](const std::string& sent) {
    if (sent == "first") {
      return std::vector<ReplyPiece>{{0, "old "}, {5, "rest of old"}};
    }
    return std::vector<ReplyPiece>{{0, "new"}};
  });
  murve::Dialogue dialogue(link);
  link.send_bytes("first", 5);
  EXPECT_EQ(dialogue.discard_leftovers().size(), 15u);
  link.send_bytes("second", 6);
  dialogue.read_response();
  EXPECT_STREQ(dialogue.reply(), "new");
}

}  // namespace
}  // namespace murve_test
