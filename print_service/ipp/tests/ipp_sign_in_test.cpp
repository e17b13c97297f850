// The sign-in's parts that need neither PAM nor a device: reading Basic credentials, the decision for one
// request, and the delays that an address's failures earn.
#include "print_service/ipp/ipp_sign_in.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

// "Basic " and the base64 of `text`.
std::string basic(const std::string& text) {
  std::string encoded(text.size() * 2 + 8, '\0');
  httpEncode64_2(encoded.data(), static_cast<int>(encoded.size()), text.data(),
                 static_cast<int>(text.size()));
  return "Basic " + std::string(encoded.c_str());
}

TEST(BasicCredentials, AreReadFromTheHeaderOrRefused) {
  struct case_t {
    const char* name;
    std::string header;
    bool read;
    const char* user;
    const char* password;
  };
  const std::vector<case_t> cases = {
      // Read
      {"name and password", basic("alice:s3cret"), true, "alice", "s3cret"},
      {"a colon in the password", basic("alice:a:b:c"), true, "alice", "a:b:c"},
      {"an empty password", basic("alice:"), true, "alice", ""},
      {"the scheme in lower case", "basic " + basic("bob:pw").substr(6), true, "bob", "pw"},
      {"spaces before the value", "Basic    " + basic("bob:pw").substr(6), true, "bob", "pw"},
      {"UTF-8 in the name", basic("j\xc3\xb6rg:pw"), true, "j\xc3\xb6rg", "pw"},
      // Refused
      {"empty", "", false, "", ""},
      {"another scheme", "Bearer abc", false, "", ""},
      {"the scheme alone", "Basic ", false, "", ""},
      {"no colon", basic("alice"), false, "", ""},
      {"an empty name", basic(":s3cret"), false, "", ""},
      {"a NUL in the password", basic(std::string("alice:s3\0cret", 13)), false, "", ""},
      {"longer than 4 KiB", basic("alice:" + std::string(4096, 'p')), false, "", ""},
  };
  for (const case_t& c : cases) {
    basic_credentials got{"stale", "stale"};
    EXPECT_EQ(parse_basic_credentials(c.header.c_str(), got), c.read) << c.name;
    EXPECT_EQ(got.user, c.user) << c.name;
    EXPECT_EQ(got.password, c.password) << c.name;
  }
  basic_credentials got;
  EXPECT_FALSE(parse_basic_credentials(nullptr, got)) << "no header";
}

TEST(SignInDecision, FollowsTheConnectionTheCredentialsAndTheList) {
  const std::vector<std::string> acl = {"alice", "carol"};
  // The accounts and passwords PAM would accept; "dave" is one whose password cannot be checked here.
  const auto check = [](const basic_credentials& c) {
    return (c.user == "alice" && c.password == "right") || (c.user == "bob" && c.password == "right");
  };
  struct case_t {
    const char* name;
    bool encrypted;
    std::string header;
    sign_in_result want;
    bool checked;  // whether the password was put to PAM
  };
  const std::vector<case_t> cases = {
      {"a listed name with its password over TLS", true, basic("alice:right"), sign_in_result::accepted,
       true},
      {"the right credentials over a plain connection", false, basic("alice:right"),
       sign_in_result::needs_encryption, false},
      {"nothing over a plain connection", false, "", sign_in_result::needs_encryption, false},
      {"no credentials", true, "", sign_in_result::no_credentials, false},
      {"another scheme", true, "Digest x", sign_in_result::no_credentials, false},
      {"a wrong password", true, basic("alice:wrong"), sign_in_result::wrong_credentials, true},
      {"an unlisted name with its password", true, basic("bob:right"), sign_in_result::not_listed, true},
      // A wrong password says nothing of the list.
      {"an unlisted name with a wrong password", true, basic("bob:wrong"), sign_in_result::wrong_credentials,
       true},
      {"a listed name that cannot be checked", true, basic("dave:right"), sign_in_result::unverifiable,
       false},
  };
  for (const case_t& c : cases) {
    bool checked = false;
    basic_credentials credentials;
    const sign_in_result got = decide_sign_in(
        c.encrypted, c.header.c_str(), acl, [](const std::string& user) { return user != "dave"; },
        [&](const basic_credentials& given) {
          checked = true;
          return check(given);
        },
        credentials);
    EXPECT_EQ(static_cast<int>(got), static_cast<int>(c.want)) << c.name;
    EXPECT_EQ(checked, c.checked) << c.name;
  }
}

TEST(SignInDelays, GrowWithEachFailureOfAnAddressAndNoOtherAddressPays) {
  sign_in_delays delays(/*step=*/100ms, /*longest=*/450ms, /*forget_after=*/std::chrono::minutes(15));
  const auto t0 = sign_in_delays::clock::now();
  EXPECT_EQ(delays.take_turn("10.0.0.1", t0), t0) << "a first attempt waits for nothing";

  // One attempt after the other, each made when the one before has been answered.
  std::vector<std::chrono::milliseconds> waits;
  auto now = t0;
  for (int i = 0; i < 8; ++i) {
    delays.record_failure("10.0.0.1", now);
    const auto turn = delays.take_turn("10.0.0.1", now);
    waits.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(turn - now));
    now = turn;
  }
  EXPECT_EQ(waits,
            (std::vector<std::chrono::milliseconds>{100ms, 200ms, 300ms, 400ms, 450ms, 450ms, 450ms, 450ms}))
      << "the wait grows by a step per failure up to the longest";
  EXPECT_EQ(delays.take_turn("10.0.0.2", now), now) << "another address waits for nothing";
}

TEST(SignInDelays, AttemptsAtTheSameTimeTakeTurns) {
  sign_in_delays delays(100ms, 5000ms, std::chrono::minutes(15));
  const auto t0 = sign_in_delays::clock::now();
  delays.record_failure("10.0.0.1", t0);
  delays.record_failure("10.0.0.1", t0);
  // Ten connections of one address at once: one after another, not ten checks at the same moment.
  auto previous = t0;
  for (int i = 0; i < 10; ++i) {
    const auto turn = delays.take_turn("10.0.0.1", t0);
    EXPECT_GE(turn - previous, 200ms) << "attempt " << i;
    previous = turn;
  }
}

TEST(SignInDelays, AnAddressIsForgottenAfterAQuietWhile) {
  sign_in_delays delays(100ms, 5000ms, std::chrono::minutes(15));
  const auto t0 = sign_in_delays::clock::now();
  for (int i = 0; i < 5; ++i) delays.record_failure("10.0.0.1", t0);
  EXPECT_EQ(delays.remembered(), 1u);
  EXPECT_EQ(delays.record_failure("10.0.0.1", t0 + std::chrono::minutes(14)), 6u) << "still remembered";
  const auto later = t0 + std::chrono::minutes(30);
  EXPECT_EQ(delays.take_turn("10.0.0.1", later), later) << "forgotten: no wait";
  EXPECT_EQ(delays.remembered(), 0u);
  EXPECT_EQ(delays.record_failure("10.0.0.1", later), 1u) << "counted afresh";
}

}  // namespace
}  // namespace quorvane::print_service::testing
