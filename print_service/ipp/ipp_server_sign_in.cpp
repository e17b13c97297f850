// The IPP server's sign-in: which operations of which printers need a signed-in device, the wait that an
// address's failures earn, the log of every refusal (address and name, never the password), and what the
// printers' DNS-SD records say of it.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "model/phone_names.h"
#include "print_service/ipp/ipp_client_address.h"
#include "print_service/ipp/ipp_dnssd_txt.h"
#include "print_service/ipp/ipp_server.h"
#include "print_service/ipp/ipp_server_p.h"

namespace quorvane::print_service {

using namespace ipp_detail;

namespace {

// The operations that make, add to or end a job: a printer with an access list takes them only from a
// signed-in device. Reading the printer's and the jobs' attributes stays open, as a device must learn what
// the printer takes and that it asks for a sign-in before it has credentials.
bool needs_sign_in(int op) {
  switch (op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_PRINT_URI:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_SEND_URI:
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CANCEL_MY_JOBS:
    case IPP_OP_CLOSE_JOB:
      return true;
    default:
      return false;
  }
}

// The names on a printer record's access list.
std::vector<std::string> access_list(const Json::Value& record) {
  std::vector<std::string> names;
  const Json::Value& acl = record["acl"];
  if (!acl.isArray()) return names;
  for (const Json::Value& name : acl) {
    if (name.isString() && !name.asString().empty()) names.push_back(name.asString());
  }
  return names;
}

// Makes `user` the request's requesting-user-name, which PAPPL takes as the job's owner. A request without
// one gets it in its operation group: the attributes of the later groups move behind it, so the groups stay
// in the order PAPPL checks.
void set_requesting_user(ipp_t* request, const std::string& user) {
  if (ipp_attribute_t* named = ippFindAttribute(request, "requesting-user-name", IPP_TAG_ZERO)) {
    ippDeleteAttribute(request, named);
  }
  std::vector<ipp_attribute_t*> later;
  for (ipp_attribute_t* a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
    if (ippGetGroupTag(a) != IPP_TAG_OPERATION) later.push_back(a);
  }
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user.c_str());
  for (ipp_attribute_t* a : later) {
    ippCopyAttribute(request, a, 0);
    ippDeleteAttribute(request, a);
  }
}

// The text of the printer's resource in `request` (printer-uri, else job-uri), or "".
std::string request_resource(ipp_t* request) {
  const char* uri = ippGetString(ippFindAttribute(request, "printer-uri", IPP_TAG_URI), 0, nullptr);
  if (!uri) uri = ippGetString(ippFindAttribute(request, "job-uri", IPP_TAG_URI), 0, nullptr);
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (!uri || httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), user, sizeof(user), host,
                              sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK) {
    return {};
  }
  return resource;
}

}  // namespace

bool ipp_server::can_check_password(const std::string& user) const {
  return every_password_checkable_ || user == own_account_;
}

sign_in_result ipp_server::sign_in(int op, ipp_t* request, http_t* http, std::string& message) {
  if (!needs_sign_in(op) || !system_) return sign_in_result::accepted;
  const std::string resource = request_resource(request);
  pappl_printer_t* printer =
      resource.empty() ? nullptr : papplSystemFindPrinter(system_, resource.c_str(), 0, nullptr);
  if (!printer) return sign_in_result::accepted;  // PAPPL answers not-found
  const std::string uuid = papplPrinterGetName(printer);
  std::vector<std::string> acl;
  std::string shown;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    auto it = shared_->records.find(uuid);
    if (it == shared_->records.end()) return sign_in_result::accepted;
    acl = access_list(it->second);
    shown = service_name(it->second);
  }
  // An empty list is everyone's printer.
  if (acl.empty()) return sign_in_result::accepted;

  const std::string address = client_address(http);
  basic_credentials credentials;
  uint32_t failures = 0;
  const auto check = [&](const basic_credentials& c) {
    // An address that failed before waits its turn; a stop ends the wait.
    const auto turn = sign_in_delays_.take_turn(address, sign_in_delays::clock::now());
    {
      std::unique_lock<std::mutex> lock(shared_->mutex);
      shared_->changed.wait_until(lock, turn, [&] { return shared_->stopping; });
    }
    if (pam_check_password(pam_service_name, c.user, c.password)) return true;
    failures = sign_in_delays_.record_failure(address, sign_in_delays::clock::now());
    return false;
  };
  const sign_in_result result = decide_sign_in(
      httpIsEncrypted(http) != 0, httpGetField(http, HTTP_FIELD_AUTHORIZATION), acl,
      [this](const std::string& user) { return can_check_password(user); }, check, credentials);
  const char* operation = ippOpString(static_cast<ipp_op_t>(op));
  switch (result) {
    case sign_in_result::accepted:
      QV_LOG(log_information, "IPP %s from %s to printer '%s': signed in as '%s'", operation, address.c_str(),
             shown.c_str(), credentials.user.c_str());
      set_requesting_user(request, credentials.user);
      return result;
    case sign_in_result::needs_encryption:
      QV_LOG(log_warning, "IPP %s from %s to printer '%s' refused: it takes jobs only over ipps (TLS)",
             operation, address.c_str(), shown.c_str());
      message = "The printer '" + shown + "' takes jobs only from signed-in users, over ipps (TLS).";
      return result;
    case sign_in_result::no_credentials:
      QV_LOG(log_information, "IPP %s from %s to printer '%s' refused: no user name and password", operation,
             address.c_str(), shown.c_str());
      message =
          "The printer '" + shown + "' takes jobs only from signed-in users: give your name and password.";
      return result;
    case sign_in_result::unverifiable:
      QV_LOG(log_warning,
             "IPP sign-in of '%s' from %s to printer '%s' refused: this service can check only the password "
             "of '%s'",
             credentials.user.c_str(), address.c_str(), shown.c_str(), own_account_.c_str());
      message = "The print service cannot check the password of '" + credentials.user + "'.";
      return result;
    case sign_in_result::wrong_credentials: {
      const auto next_wait = std::chrono::duration<double>(sign_in_delays_.delay_after(failures)).count();
      QV_LOG(log_warning,
             "IPP sign-in of '%s' from %s to printer '%s' refused: wrong user name or password (failure %u "
             "from this address; its next attempt waits %.1f s)",
             credentials.user.c_str(), address.c_str(), shown.c_str(), failures, next_wait);
      message = "Wrong user name or password.";
      return result;
    }
    case sign_in_result::not_listed:
      QV_LOG(log_warning,
             "IPP sign-in of '%s' from %s to printer '%s' refused: not on the printer's access list",
             credentials.user.c_str(), address.c_str(), shown.c_str());
      message = "'" + credentials.user + "' may not print on the printer '" + shown + "'.";
      return result;
  }
  return result;
}

std::string ipp_server::dnssd_air(const std::string& resource) const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  for (const auto& [uuid, record] : shared_->records) {
    if (resource == "ipp/print/" + model::printer_path(uuid))
      return access_list(record).empty() ? "none" : "username,password";
  }
  return {};
}

void ipp_server::note_uncheckable_passwords(const std::vector<Json::Value>& printers) {
  if (every_password_checkable_ || uncheckable_noted_) return;
  const bool locked = std::any_of(printers.begin(), printers.end(), [](const Json::Value& p) {
    return is_offered(p) && !access_list(p).empty();
  });
  if (!locked) return;
  uncheckable_noted_ = true;
  QV_LOG(log_warning,
         "IPP sign-in: this service runs as '%s' without access to the system's passwords, so PAM can check "
         "only the password of '%s'; a printer with an access list admits no one else",
         own_account_.c_str(), own_account_.c_str());
}

void ipp_server::prepare_sign_in() {
  const uid_t uid = geteuid();
  if (const passwd* account = getpwuid(uid)) own_account_ = account->pw_name;
  // pam_unix checks another account's password only where it can read the shadow passwords itself; a
  // process without that asks its helper, which checks the caller's own account alone.
  every_password_checkable_ = uid == 0 || access("/etc/shadow", R_OK) == 0;
  set_dnssd_air([this](const std::string& resource) { return dnssd_air(resource); });
}

}  // namespace quorvane::print_service
