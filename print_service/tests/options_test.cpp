#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "print_service/service_options.h"

namespace quorvane::print_service {
namespace {

environment_reader fake_env(std::map<std::string, std::string> values) {
  return [values](const char* name) {
    auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
  };
}

bool parse(std::vector<const char*> args, command_line& out, std::string& error,
           const environment_reader& env = fake_env({{"HOME", "/home/ann"}})) {
  args.insert(args.begin(), "quorvane-service");
  return parse_command_line(static_cast<int>(args.size()), args.data(), env, out, error);
}

TEST(CommandLine, ServeDefaultsAndOptions) {
  command_line c;
  std::string error;
  ASSERT_TRUE(parse({}, c, error)) << error;
  EXPECT_EQ(c.kind, command_kind::serve);
  EXPECT_EQ(c.serve.port, 6631);
  EXPECT_EQ(c.serve.data_folder, "/home/ann/.local/state/quorvane-service");
  EXPECT_EQ(c.serve.log_level, 3);
  EXPECT_EQ(c.serve.keep_jobs, 1000);
  EXPECT_EQ(c.serve.keep_days, 7);

  ASSERT_TRUE(parse({"serve", "--port", "7000", "--data", "/tmp/x", "--log-level", "10", "--keep-jobs", "0",
                     "--keep-days", "30"},
                    c, error))
      << error;
  EXPECT_EQ(c.serve.port, 7000);
  EXPECT_EQ(c.serve.data_folder, "/tmp/x");
  EXPECT_EQ(c.serve.log_level, 10);
  EXPECT_EQ(c.serve.keep_jobs, 0);
  EXPECT_EQ(c.serve.keep_days, 30);

  ASSERT_TRUE(parse({"--port", "1"}, c, error));
  EXPECT_EQ(c.serve.port, 1);
  ASSERT_TRUE(parse({"--help"}, c, error));
  EXPECT_EQ(c.kind, command_kind::help);
}

TEST(CommandLine, StateFolderFollowsXdgStateHome) {
  struct {
    const char* name;
    std::map<std::string, std::string> env;
    const char* want;
  } cases[] = {
      {"absolute XDG_STATE_HOME", {{"XDG_STATE_HOME", "/s"}, {"HOME", "/h"}}, "/s/quorvane-service"},
      {"relative XDG_STATE_HOME is ignored",
       {{"XDG_STATE_HOME", "s"}, {"HOME", "/h"}},
       "/h/.local/state/quorvane-service"},
      {"HOME only", {{"HOME", "/h"}}, "/h/.local/state/quorvane-service"},
  };
  for (const auto& c : cases) {
    const std::string got = default_data_folder(fake_env(c.env));
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
  }
}

// --system keeps the computer's state in the folder systemd made for the unit, never in a home folder: the
// service account has none, and root's would hold every account's jobs.
TEST(CommandLine, SystemModeKeepsItsStateOutsideEveryHome) {
  struct {
    const char* name;
    std::vector<const char*> args;
    std::map<std::string, std::string> env;
    const char* want;
  } cases[] = {
      {"no STATE_DIRECTORY", {"--system"}, {{"HOME", "/root"}}, "/var/lib/quorvane-service"},
      {"XDG_STATE_HOME is not the computer's",
       {"--system"},
       {{"XDG_STATE_HOME", "/root/.local/state"}, {"HOME", "/root"}},
       "/var/lib/quorvane-service"},
      {"systemd's folder", {"--system"}, {{"STATE_DIRECTORY", "/var/lib/qs"}}, "/var/lib/qs"},
      {"the first of systemd's folders",
       {"--system"},
       {{"STATE_DIRECTORY", "/var/lib/a:/var/lib/b"}},
       "/var/lib/a"},
      {"relative STATE_DIRECTORY is ignored",
       {"--system"},
       {{"STATE_DIRECTORY", "qs"}},
       "/var/lib/quorvane-service"},
      {"--data wins", {"--system", "--data", "/srv/q"}, {{"STATE_DIRECTORY", "/var/lib/qs"}}, "/srv/q"},
      {"after serve", {"serve", "--system"}, {}, "/var/lib/quorvane-service"},
  };
  for (const auto& c : cases) {
    command_line out;
    std::string error;
    ASSERT_TRUE(parse(c.args, out, error, fake_env(c.env))) << c.name << ": " << error;
    EXPECT_TRUE(out.serve.machine) << c.name;
    EXPECT_EQ(out.serve.data_folder, c.want)
        << c.name << ": got " << out.serve.data_folder << ", want " << c.want;
  }
  command_line per_user;
  std::string error;
  ASSERT_TRUE(parse({}, per_user, error));
  EXPECT_FALSE(per_user.serve.machine);
}

TEST(CommandLine, SubmitTakesEveryOption) {
  command_line c;
  std::string error;
  ASSERT_TRUE(parse(
      {"submit", "--printer", "office", "--port", "7001", "--user", "bob", "--device-address", "10.0.0.2",
       "--format", "application/pdf", "--copies", "3", "--name", "Report", "--wait", "/tmp/a.pdf"},
      c, error))
      << error;
  EXPECT_EQ(c.kind, command_kind::submit);
  EXPECT_EQ(c.submit.printer, "office");
  EXPECT_EQ(c.submit.port, 7001);
  EXPECT_EQ(c.submit.user, "bob");
  EXPECT_EQ(c.submit.device_address, "10.0.0.2");
  EXPECT_EQ(c.submit.format, "application/pdf");
  EXPECT_EQ(c.submit.copies, 3);
  EXPECT_EQ(c.submit.name, "Report");
  EXPECT_TRUE(c.submit.wait);
  EXPECT_EQ(c.submit.file, "/tmp/a.pdf");
}

TEST(CommandLine, BadInputIsRejectedWithAReason) {
  struct {
    const char* name;
    std::vector<const char*> args;
  } cases[] = {
      {"port not a number", {"--port", "x"}},
      {"submit to port zero", {"submit", "--printer", "p", "--port", "0", "a.pdf"}},
      {"port too large", {"--port", "65536"}},
      {"port with trailing text", {"--port", "80a"}},
      {"option without value", {"--data"}},
      {"unknown option", {"--colour"}},
      {"submit option while serving", {"--printer", "p"}},
      {"stray argument while serving", {"file.pdf"}},
      {"log level out of range", {"--log-level", "11"}},
      {"negative history", {"--keep-jobs", "-1"}},
      {"history beyond its limit", {"--keep-jobs", "1000001"}},
      {"days beyond ten years", {"--keep-days", "3651"}},
      {"history is no submit option", {"submit", "--printer", "p", "--keep-jobs", "5", "/x.pdf"}},
      {"submit without printer", {"submit", "a.pdf"}},
      {"submit without file", {"submit", "--printer", "p"}},
      {"submit with two files", {"submit", "--printer", "p", "a.pdf", "b.pdf"}},
      {"copies zero", {"submit", "--printer", "p", "--copies", "0", "a.pdf"}},
      {"format without slash", {"submit", "--printer", "p", "--format", "pdf", "a.pdf"}},
      {"data option while submitting", {"submit", "--printer", "p", "--data", "/x", "a.pdf"}},
      {"system is no submit option", {"submit", "--printer", "p", "--system", "a.pdf"}},
  };
  for (const auto& c : cases) {
    command_line out;
    std::string error;
    EXPECT_FALSE(parse(c.args, out, error)) << c.name << ": got success, want an error";
    EXPECT_EQ(error.rfind("Unable to ", 0), 0u) << c.name << ": got error text '" << error << "'";
  }
}

}  // namespace
}  // namespace quorvane::print_service
