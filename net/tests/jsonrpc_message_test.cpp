#include "net/jsonrpc_message.h"

#include <string>

#include <gtest/gtest.h>

#include "core/json_text.h"

namespace quorvane::jsonrpc {
namespace {

Json::Value parsed(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(parse_json(text, value)) << text;
  return value;
}

std::string text(const Json::Value& value) {
  std::string t = compact_json(value);
  if (!t.empty() && t.back() == '\n') t.pop_back();
  return t;
}

TEST(JsonRpcMessage, BuildsEachKindOfMessageInItsWireForm) {
  struct build_case {
    const char* name;
    Json::Value message;
    const char* want;
  };
  const build_case cases[] = {
      {"a request without params", request("attributes"), R"({"jsonrpc":"2.0","method":"attributes"})"},
      {"a request with one param", request("observe", one_param(true)),
       R"({"jsonrpc":"2.0","method":"observe","params":[true]})"},
      {"a notification", notification("printersWereRemoved", one_param(Json::Value(Json::arrayValue))),
       R"({"jsonrpc":"2.0","method":"printersWereRemoved","params":[[]]})"},
      {"a reply", result_reply(7, status_result(status_ok)), R"({"id":7,"jsonrpc":"2.0","result":[0]})"},
      {"a reply without the version", result_reply("p", status_result(4), version_member::left_out),
       R"({"id":"p","result":[4]})"},
      {"an error reply", error_reply("x", error_method_not_found, "Method not found"),
       R"({"error":{"code":-32601,"message":"Method not found"},"id":"x","jsonrpc":"2.0"})"},
      {"the close notice", close_notice(), R"({"error":{"code":10}})"},
  };
  for (const build_case& c : cases) {
    EXPECT_EQ(text(c.message), c.want) << c.name << ": got " << text(c.message) << ", want " << c.want;
  }
}

TEST(JsonRpcMessage, ReadsTheStatusOfEveryFormOfAnswer) {
  struct status_case {
    const char* name;
    const char* response;
    int32_t want;
  };
  const status_case cases[] = {
      // Answers that can be read.
      {"a status", R"({"id":1,"result":[0,9,12]})", 0},
      {"a failing status", R"({"id":1,"result":[4]})", 4},
      {"no result at all", R"({"id":1})", status_ok},
      {"an empty result", R"({"id":1,"result":[]})", status_ok},
      {"an error code", R"({"id":1,"error":{"code":-32601,"message":"no"}})", -32601},
      {"the close notice", R"({"error":{"code":10}})", status_connection_closed},
      // Answers that cannot.
      {"an error without a code", R"({"id":1,"error":{"message":"no"}})", status_malformed_response},
      {"an error that is not an object", R"({"id":1,"error":"no"})", status_malformed_response},
      {"a result that is not an array", R"({"id":1,"result":{"a":1}})", status_malformed_response},
      {"a status that is not an integer", R"({"id":1,"result":["0"]})", status_malformed_response},
      {"not an object", R"([1,2])", status_malformed_response},
  };
  for (const status_case& c : cases) {
    const int32_t got = response_status(parsed(c.response));
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
  }
}

TEST(JsonRpcMessage, TellsAnswersFromTheCloseNoticeAndErrorsFromResults) {
  EXPECT_TRUE(is_close_notice(close_notice()));
  EXPECT_TRUE(is_close_notice(parsed("[]")));
  EXPECT_FALSE(is_close_notice(parsed(R"({"id":null,"result":[0]})")));
  EXPECT_TRUE(is_error(parsed(R"({"id":1,"error":{"code":1}})")));
  EXPECT_FALSE(is_error(parsed(R"({"id":1,"error":null,"result":[0]})")));
  EXPECT_FALSE(is_error(parsed("[1]")));
  EXPECT_EQ(error_text(parsed(R"({"error":{"code":-32001,"message":"Unable to find printer 'x'"}})")),
            "Unable to find printer 'x' (code -32001)");
  EXPECT_EQ(error_text(parsed(R"({"error":{"code":"3"}})")), "error");
  EXPECT_EQ(error_text(parsed("[]")), "error");
  EXPECT_EQ(element(parsed("[1,2]"), 1).asInt(), 2);
  EXPECT_TRUE(element(parsed("[1,2]"), 2).isNull());
  EXPECT_TRUE(element(parsed(R"({"a":1})"), 0).isNull());
}

}  // namespace
}  // namespace quorvane::jsonrpc
