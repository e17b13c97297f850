// Values of an unexpected type never throw: the field takes its readJSON default and a warning names the key.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "core/json_text.h"
#include "model/device.h"
#include "model/job.h"
#include "model/json_p.h"
#include "model/printer.h"
#include "model/proxy.h"
#include "model/tests/model_fixture.h"

namespace quorvane::model {
namespace {

using testing_support::log_capture;

struct bad_value_case {
  const char* name;
  const char* json;        // the object handed to readJSON
  const char* warned_key;  // the key the warning must name; null when no warning is expected
  std::function<std::string(const Json::Value&)> read;  // reads the record and returns the field as text
  std::string want;
};

template <class T, class... Args>
std::function<std::string(const Json::Value&)> reading(std::function<std::string(const T&)> field,
                                                       Args... args) {
  return [field, args...](const Json::Value& in) {
    T record(args...);
    record.readJSON(in);
    return field(record);
  };
}

std::string text(const wide_string& w) {
  return w.narrow();
}

void run(const bad_value_case& c) {
  Json::Value in;
  ASSERT_TRUE(quorvane::parse_json(c.json, in)) << c.name;
  log_capture log(log_warning);
  std::string got;
  ASSERT_NO_THROW(got = c.read(in)) << c.name;
  EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
  const auto warnings = log.messages_starting("Unable to read");
  if (c.warned_key) {
    ASSERT_EQ(warnings.size(), 1u) << c.name;
    EXPECT_NE(warnings[0].find(std::string("key '") + c.warned_key + "'"), std::string::npos)
        << c.name << ": " << warnings[0];
  } else {
    EXPECT_TRUE(warnings.empty()) << c.name << ": " << ::testing::PrintToString(warnings);
  }
}

TEST(BadJson, PrinterFieldsTakeTheirReadDefaults) {
  using P = std::function<std::string(const printer&)>;
  const bad_value_case cases[] = {
      // Values the JSON library cannot convert: default and a warning.
      {"text for an integer", R"({"copy":"yes"})", "copy",
       reading<printer>(P([](auto& p) { return std::to_string(p.copy()); })), "0"},
      {"number beyond 32 bits", R"({"state":1099511627776})", "state",
       reading<printer>(P([](auto& p) { return std::to_string(p.state()); })), "0"},
      {"negative beyond 32 bits", R"({"reasons":-8589934592})", "reasons",
       reading<printer>(P([](auto& p) { return std::to_string(p.reasons()); })), "0"},
      {"unsigned beyond 64 bits", R"({"action":18446744073709551615})", "action",
       reading<printer>(P([](auto& p) { return std::to_string(p.action()); })), "0"},
      {"object for text", R"({"name":{"a":1}})", "name",
       reading<printer>(P([](auto& p) { return text(p.name()); })), ""},
      {"array for text", R"({"displayName":[1]})", "displayName",
       reading<printer>(P([](auto& p) { return p.displayName(); })), ""},
      {"text for a boolean", R"({"enabled":"true"})", "enabled",
       reading<printer>(P([](auto& p) { return std::to_string(p.enabled()); })), "0"},
      {"object for exists", R"({"exists":{}})", "exists",
       reading<printer>(P([](auto& p) { return std::to_string(p.exists()); })), "1"},
      {"text for a list", R"({"formats":"application/pdf"})", "formats",
       reading<printer>(P([](auto& p) { return std::to_string(p.formats().size()); })), "0"},
      {"object in the formats", R"({"formats":[{},"application/pdf"]})", "formats",
       reading<printer>(P([](auto& p) { return p.formats()[0] + " " + std::to_string(p.formats().size()); })),
       "application/pdf 3"},
      {"object in the acl", R"({"acl":["alice",{}]})", "acl",
       reading<printer>(P([](auto& p) { return std::to_string(p.acl().size()); })), "1"},
      {"text as a media entry", R"({"media":["A4"]})", "",
       reading<printer>(P([](auto& p) { return std::to_string(p.media().size()) + p.media()[0]->name(); })),
       "1"},
      {"invalid UTF-8 for wide text", "{\"location\":\"caf\xe9\"}", "location",
       reading<printer>(P([](auto& p) { return text(p.location()); })), ""},
      // Conversions the JSON library makes: no warning.
      {"number for text", R"({"uuid":5})", nullptr, reading<printer>(P([](auto& p) { return p.uuid(); })),
       "5"},
      {"boolean for a feature word", R"({"landscape":true})", nullptr,
       reading<printer>(P([](auto& p) { return std::to_string(p.landscape()); })), "1"},
      {"fraction for an integer", R"({"state":4.7})", nullptr,
       reading<printer>(P([](auto& p) { return std::to_string(p.state()); })), "4"},
      {"null is missing", R"({"state":null,"exists":null})", nullptr,
       reading<printer>(P([](auto& p) { return std::to_string(p.state()) + std::to_string(p.exists()); })),
       "01"},
  };
  for (const auto& c : cases) {
    if (c.warned_key && std::string(c.warned_key).empty()) {
      // A media entry that is not an object: the media reads as an empty object, warning about itself.
      Json::Value in;
      ASSERT_TRUE(quorvane::parse_json(c.json, in));
      log_capture log(log_warning);
      EXPECT_EQ(c.read(in), c.want) << c.name;
      const auto warnings = log.messages_starting("Unable to read media: expected an object, got text");
      EXPECT_EQ(warnings.size(), 1u) << c.name;
      continue;
    }
    run(c);
  }
}

TEST(BadJson, RecordsGivenANonObjectReadAsEmpty) {
  const struct {
    const char* name;
    std::function<void(const Json::Value&)> read;
  } records[] = {
      {"printer", [](const Json::Value& v) { printer().readJSON(v); }},
      {"media", [](const Json::Value& v) { media().readJSON(v); }},
      {"job", [](const Json::Value& v) { job().readJSON(v); }},
      {"device", [](const Json::Value& v) { device().readJSON(v); }},
      {"proxy", [](const Json::Value& v) { network::proxy(uri()).readJSON(v); }},
  };
  for (const auto& r : records) {
    for (const char* text : {R"("a string")", "[1,2]", "42", "true"}) {
      Json::Value in;
      ASSERT_TRUE(quorvane::parse_json(text, in));
      log_capture log(log_warning);
      EXPECT_NO_THROW(r.read(in)) << r.name << " " << text;
      const auto warnings =
          log.messages_starting(std::string("Unable to read ") + r.name + ": expected an object");
      EXPECT_EQ(warnings.size(), 1u) << r.name << " " << text;
    }
  }
  printer p;
  p.readJSON(Json::Value("text"));
  EXPECT_EQ(p.state(), 0) << "every key reads as missing";
  EXPECT_TRUE(p.exists());
}

TEST(BadJson, MediaFieldsTakeTheirReadDefaults) {
  using M = std::function<std::string(const media&)>;
  const bad_value_case cases[] = {
      {"text for width", R"({"width":"210"})", "width",
       reading<media>(M([](auto& m) { return std::to_string(m.width()); })), "0"},
      {"object for name", R"({"name":{}})", "name", reading<media>(M([](auto& m) { return m.name(); })), ""},
      {"text for enabled", R"({"enabled":"no"})", "enabled",
       reading<media>(M([](auto& m) { return std::to_string(m.enabled()); })), "0"},
      {"text margin", R"({"margins":[{"left":"x","top":7}]})", "left", reading<media>(M([](auto& m) {
         return std::to_string(m.margins().at(0).left) + "," + std::to_string(m.margins().at(0).top);
       })),
       "0,7"},
      {"margins not a list", R"({"margins":{"left":1}})", "margins",
       reading<media>(M([](auto& m) { return std::to_string(m.margins().size()); })), "0"},
  };
  for (const auto& c : cases) run(c);
}

TEST(BadJson, JobFieldsTakeTheirReadDefaults) {
  using J = std::function<std::string(const job&)>;
  const bad_value_case cases[] = {
      {"text for copies", R"({"copies":"2"})", "copies",
       reading<job>(J([](auto& j) { return std::to_string(j.copies()); })), "0"},
      {"number beyond 32 bits", R"({"platformID":4294967296})", "platformID",
       reading<job>(J([](auto& j) { return std::to_string(j.platformID()); })), "0"},
      {"text for a 64-bit time", R"({"timeAtCreation":"now"})", "timeAtCreation",
       reading<job>(J([](auto& j) { return std::to_string(j.timeAtCreation()); })), "0"},
      {"number beyond 64 bits", R"({"timeAtCreation":1.8e19})", "timeAtCreation",
       reading<job>(J([](auto& j) { return std::to_string(j.timeAtCreation()); })), "0"},
      {"array for a boolean", R"({"isColor":[]})", "isColor",
       reading<job>(J([](auto& j) { return std::to_string(j.isColor()); })), "0"},
      {"object for text", R"({"filename":{}})", "filename",
       reading<job>(J([](auto& j) { return text(j.filename()); })), ""},
      {"text width inside media", R"({"media":{"width":"wide","height":5}})", "width",
       reading<job>(J([](auto& j) {
         return std::to_string(j.media()->width()) + "," + std::to_string(j.media()->height());
       })),
       "0,5"},
      {"largest 64-bit time", R"({"timeAtCreation":9223372036854775807})", nullptr,
       reading<job>(J([](auto& j) { return std::to_string(j.timeAtCreation()); })), "9223372036854775807"},
  };
  for (const auto& c : cases) run(c);
}

TEST(BadJson, DeviceFieldsTakeTheirReadDefaults) {
  using D = std::function<std::string(const device&)>;
  const bad_value_case cases[] = {
      {"text for lastUsed", R"({"lastUsed":"yesterday"})", "lastUsed",
       reading<device>(D([](auto& d) { return std::to_string(d.lastUsed()); })), "0"},
      {"unsigned beyond 63 bits", R"({"lastUsed":18446744073709551615})", "lastUsed",
       reading<device>(D([](auto& d) { return std::to_string(d.lastUsed()); })), "0"},
      {"array for host", R"({"host":["a"]})", "host",
       reading<device>(D([](auto& d) { return text(d.host()); })), ""},
  };
  for (const auto& c : cases) run(c);
}

TEST(BadJson, ProxyFieldsTakeTheirReadDefaults) {
  using X = std::function<std::string(const network::proxy&)>;
  const bad_value_case cases[] = {
      {"text for port", R"({"port":"8080"})", "port",
       reading<network::proxy>(X([](auto& p) { return std::to_string(p.port()); }), uri()), "80"},
      {"port beyond 32 bits", R"({"port":4294967376})", "port",
       reading<network::proxy>(X([](auto& p) { return std::to_string(p.port()); }), uri()), "80"},
      {"object for uri", R"({"uri":{},"port":3128})", "uri",
       reading<network::proxy>(X([](auto& p) { return p.uri().text() + std::to_string(p.port()); }), uri()),
       "3128"},
      {"port beyond 16 bits keeps the low bits", R"({"port":70000})", nullptr,
       reading<network::proxy>(X([](auto& p) { return std::to_string(p.port()); }), uri()), "4464"},
  };
  for (const auto& c : cases) run(c);
}

}  // namespace
}  // namespace quorvane::model
