// Printers with an access list, with real PAM: throwaway accounts made with useradd (removed after), the
// service checking their passwords through /etc/pam.d/quorvane, and devices printing over ipps and ipp with
// and without credentials. Needs root (to make accounts and to let PAM read every password).
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "ipp_fixture.h"

namespace quorvane::print_service::testing {
namespace {

// An account of this computer for one test, with a password, removed at the end.
class throwaway_account {
 public:
  throwaway_account(const std::string& name, const std::string& password) : name_(name) {
    made_ = run("useradd -M -N -s /usr/sbin/nologin " + name + " 2>/dev/null") == 0;
    if (!made_) return;
    const std::string line = name + ":" + password;
    FILE* chpasswd = popen("chpasswd", "w");
    made_ = chpasswd && std::fputs(line.c_str(), chpasswd) >= 0 && pclose(chpasswd) == 0;
  }
  ~throwaway_account() {
    if (!name_.empty()) run("userdel " + name_ + " 2>/dev/null");
  }
  throwaway_account(const throwaway_account&) = delete;
  throwaway_account& operator=(const throwaway_account&) = delete;

  bool made() const { return made_; }
  const std::string& name() const { return name_; }

 private:
  static int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string name_;
  bool made_ = false;
};

// What a device heard for one request.
struct heard {
  int http = 0;           // the HTTP status
  int ipp = -1;           // the IPP status, -1 when no IPP answer came
  std::string challenge;  // WWW-Authenticate
};

// "Basic" credentials for libcups's Authorization header.
std::string basic_value(const std::string& user, const std::string& password) {
  const std::string pair = user + ":" + password;
  std::string encoded(pair.size() * 2 + 8, '\0');
  httpEncode64_2(encoded.data(), static_cast<int>(encoded.size()), pair.data(),
                 static_cast<int>(pair.size()));
  return encoded.c_str();
}

// Sends one Print-Job of `document` to `printer_uri` on 127.0.0.1:`port` as a phone does, over TLS or not,
// with Basic credentials when `user` is not empty; the requesting-user-name claims "phone-user". Written
// with libcups's HTTP calls, which do not answer a 401 or a 426 by themselves.
heard print_job(int port, bool tls, const std::string& printer_uri, const std::string& document,
                const std::string& user = {}, const std::string& password = {}) {
  heard outcome;
  http_t* http = httpConnect2("127.0.0.1", port, nullptr, AF_INET,
                              tls ? HTTP_ENCRYPTION_ALWAYS : HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (!http) return outcome;
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printer_uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "phone-user");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "signed");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
  const std::string resource = printer_uri.substr(printer_uri.find('/', printer_uri.find("//") + 2));
  const std::string body = read_file(document);
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
  const std::string authorization = user.empty() ? "" : "Basic " + basic_value(user, password);
  httpSetAuthString(http, user.empty() ? nullptr : "Basic",
                    user.empty() ? nullptr : basic_value(user, password).c_str());
  if (!user.empty()) httpSetField(http, HTTP_FIELD_AUTHORIZATION, authorization.c_str());
  httpSetLength(http, ippLength(request) + body.size());
  if (httpPost(http, resource.c_str()) == 0) {
    ipp_state_t state;
    while ((state = ippWrite(http, request)) != IPP_STATE_DATA && state != IPP_STATE_ERROR) {
    }
    httpWrite2(http, body.data(), body.size());
    http_status_t status;
    while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
    }
    outcome.http = status;
    if (const char* challenge = httpGetField(http, HTTP_FIELD_WWW_AUTHENTICATE))
      outcome.challenge = challenge;
    ipp_t* response = ippNew();
    if (ippRead(http, response) == IPP_STATE_DATA) outcome.ipp = ippGetStatusCode(response);
    ippDelete(response);
  }
  ippDelete(request);
  httpClose(http);
  return outcome;
}

class SignIn : public ipp_console_test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "making accounts and checking their passwords needs root";
    if (access("/usr/sbin/useradd", X_OK) != 0) GTEST_SKIP() << "no useradd on this system";
    // The PAM service file as the package installs it, unless the system has one already.
    if (!std::filesystem::exists(pam_file)) {
      std::error_code error;
      std::filesystem::copy_file(QUORVANE_PAM_FILE, pam_file, error);
      ASSERT_FALSE(error) << "cannot install " << pam_file << ": " << error.message();
      installed_pam_file_ = true;
    }
    const std::string tag = std::to_string(getpid() % 100000);
    alice_ = std::make_unique<throwaway_account>("qvalice" + tag, alice_password);
    bob_ = std::make_unique<throwaway_account>("qvbob" + tag, bob_password);
    ASSERT_TRUE(alice_->made() && bob_->made()) << "useradd or chpasswd failed";
    ipp_console_test::SetUp();
    if (HasFatalFailure()) return;
    answer_for = [](const model::job&) { return answer{0, 9, 0}; };
    observe();
  }
  void TearDown() override {
    ipp_console_test::TearDown();
    alice_.reset();
    bob_.reset();
    if (installed_pam_file_) std::filesystem::remove(pam_file);
  }

  // Gives the stored printer the access list `names` (empty: everyone).
  void lock_printer(const std::vector<std::string>& names) {
    Json::Value locked = printer_;
    locked["acl"] = Json::Value(Json::arrayValue);
    for (const std::string& name : names) locked["acl"].append(name);
    update_printer(locked);
  }

  std::string ipps_uri() const {
    std::string uri = printer_uri();
    return uri.replace(0, 3, "ipps");
  }

  // The users of the jobs the console received so far.
  std::vector<std::string> delivered_users() const {
    std::vector<std::string> users;
    for (const auto& p : console_->record().prints) users.push_back(p.job->user().narrow());
    return users;
  }

  static constexpr const char* pam_file = "/etc/pam.d/quorvane";
  static constexpr const char* alice_password = "Correct-Horse-7";
  static constexpr const char* bob_password = "Battery-Staple-9";
  bool installed_pam_file_ = false;
  std::unique_ptr<throwaway_account> alice_, bob_;
};

TEST_F(SignIn, ALockedPrinterTakesOnlyAListedUserWithHerPasswordOverTls) {
  lock_printer({alice_->name()});
  const std::string pdf = document("report.pdf", one_page_pdf());
  const int port = service_->ipp_port();

  struct case_t {
    const char* name;
    bool tls;
    std::string user, password;
    int http, ipp;
  };
  // Refused, nothing queued: each would otherwise reach the console before the accepted job below.
  const std::vector<case_t> refused = {
      {"bob, right password, not on the list", true, bob_->name(), bob_password, HTTP_STATUS_FORBIDDEN,
       IPP_STATUS_ERROR_NOT_AUTHORIZED},
      {"alice, wrong password", true, alice_->name(), "wrong", HTTP_STATUS_UNAUTHORIZED,
       IPP_STATUS_ERROR_NOT_AUTHENTICATED},
      {"no credentials", true, "", "", HTTP_STATUS_UNAUTHORIZED, IPP_STATUS_ERROR_NOT_AUTHENTICATED},
      {"alice's right password over plain ipp", false, alice_->name(), alice_password,
       HTTP_STATUS_UPGRADE_REQUIRED, IPP_STATUS_ERROR_NOT_AUTHENTICATED},
      {"nothing over plain ipp", false, "", "", HTTP_STATUS_UPGRADE_REQUIRED,
       IPP_STATUS_ERROR_NOT_AUTHENTICATED},
  };
  for (const case_t& c : refused) {
    const heard got = print_job(port, c.tls, c.tls ? ipps_uri() : printer_uri(), pdf, c.user, c.password);
    EXPECT_EQ(got.http, c.http) << c.name;
    EXPECT_EQ(got.ipp, c.ipp) << c.name;
    if (c.http == HTTP_STATUS_UNAUTHORIZED) {
      EXPECT_EQ(got.challenge.rfind("Basic realm=", 0), 0u) << c.name;
    }
  }

  // Alice over ipps: taken, and the job is hers whatever the device claimed.
  const heard accepted = print_job(port, true, ipps_uri(), pdf, alice_->name(), alice_password);
  EXPECT_EQ(accepted.http, HTTP_STATUS_OK);
  EXPECT_EQ(accepted.ipp, IPP_STATUS_OK);
  ASSERT_TRUE(run_until([&] { return !console_->record().prints.empty(); })) << "alice's job did not arrive";
  EXPECT_EQ(delivered_users(), std::vector<std::string>{alice_->name()});

  // The log names address and user of each refusal, never a password.
  const std::string log = read_file(service_->log_file());
  EXPECT_NE(log.find("IPP sign-in of '" + bob_->name() + "' from 127.0.0.1"), std::string::npos);
  EXPECT_NE(log.find("IPP sign-in of '" + alice_->name() + "' from 127.0.0.1"), std::string::npos);
  for (const char* password : {alice_password, bob_password}) {
    EXPECT_EQ(log.find(password), std::string::npos) << "the log holds a password";
  }
}

TEST_F(SignIn, AnUnlockedPrinterTakesJobsWithoutCredentialsOverPlainIpp) {
  lock_printer({});
  const std::string pdf = document("open.pdf", one_page_pdf());
  const heard got = print_job(service_->ipp_port(), false, printer_uri(), pdf);
  EXPECT_EQ(got.http, HTTP_STATUS_OK);
  EXPECT_EQ(got.ipp, IPP_STATUS_OK);
  ASSERT_TRUE(run_until([&] { return !console_->record().prints.empty(); }));
  EXPECT_EQ(delivered_users(), std::vector<std::string>{"phone-user"});
}

TEST_F(SignIn, WrongPasswordsFromOneAddressWaitLongerEachTime) {
  lock_printer({alice_->name()});
  const std::string pdf = document("guess.pdf", one_page_pdf());
  for (int i = 0; i < 10; ++i) {
    const heard got =
        print_job(service_->ipp_port(), true, ipps_uri(), pdf, alice_->name(), "guess" + std::to_string(i));
    ASSERT_EQ(got.http, HTTP_STATUS_UNAUTHORIZED) << "attempt " << i;
  }
  // The wait each failure earns the next attempt, as the service logged it.
  const std::string log = read_file(service_->log_file());
  const std::regex wait_line(R"(failure (\d+) from this address; its next attempt waits ([0-9.]+) s)");
  std::vector<double> waits;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), wait_line); it != std::sregex_iterator();
       ++it) {
    waits.push_back(std::stod((*it)[2]));
  }
  ASSERT_EQ(waits.size(), 10u) << log;
  for (size_t i = 1; i < waits.size(); ++i) EXPECT_GT(waits[i], waits[i - 1]) << "failure " << i + 1;
  EXPECT_EQ(console_->record().prints.size(), 0u);
}

}  // namespace
}  // namespace quorvane::print_service::testing
