// Signing devices in to printers whose access list is not empty: IPP Basic authentication over TLS only,
// the name and password checked with PAM, only names on the printer's list let in, and a growing delay for
// an address that keeps failing.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace quorvane::print_service {

/// The PAM service the service checks passwords with: /etc/pam.d/quorvane.
inline constexpr const char* pam_service_name = "quorvane";

/// A name and password read from an HTTP Authorization header.
struct basic_credentials {
  std::string user;
  std::string password;
};

/// Reads Basic credentials from the value of an Authorization header ("Basic " and base64 of
/// "user:password"). False for a missing or empty value, another scheme, base64 that does not decode, no
/// ":" in what it decodes to, an empty name, or a NUL byte in the name or password.
bool parse_basic_credentials(const char* authorization, basic_credentials& credentials);

/// What a sign-in came to, and how the device is answered.
enum class sign_in_result {
  accepted,           // the password is right and the name is on the list
  needs_encryption,   // not over TLS: the device is told to upgrade (HTTP 426), credentials or not
  no_credentials,     // no (readable) Basic credentials: HTTP 401 asks for them
  wrong_credentials,  // PAM refused the name and password: HTTP 401 again
  not_listed,         // the password is right but the name is not on the list: HTTP 403
  unverifiable,       // a name whose password this process cannot check (per-user mode): HTTP 401
};

/// The HTTP status a device is answered with for `result` (HTTP_STATUS_OK for `accepted`).
http_status_t sign_in_http_status(sign_in_result result);

/// The IPP status a device is answered with for `result` (IPP_STATUS_OK for `accepted`).
ipp_status_t sign_in_ipp_status(sign_in_result result);

/// Checks `user` and `password` with PAM's authentication and account management under `service`; PAM's
/// own delay after a failure is not slept (the caller keeps its own). True when both succeed; false on any
/// failure, PAM's absence included.
bool pam_check_password(const std::string& service, const std::string& user, const std::string& password);

/// When failed sign-ins from one address may be checked again. Each failure makes the next attempt of that
/// address wait longer (`step` more for every failure, at most `longest`); attempts made at the same time
/// take their turns one after another, so parallel connections do not multiply the rate. An address
/// without a failure for `forget_after` starts afresh. Thread-safe.
class sign_in_delays {
 public:
  using clock = std::chrono::steady_clock;

  /// Delays growing by `step` per failure up to `longest`, forgotten after `forget_after`.
  sign_in_delays(std::chrono::milliseconds step = std::chrono::milliseconds(100),
                 std::chrono::milliseconds longest = std::chrono::seconds(5),
                 std::chrono::minutes forget_after = std::chrono::minutes(15));

  /// Takes the next turn of `address` at `now`: when its check may run (`now` for an address without
  /// failures).
  clock::time_point take_turn(const std::string& address, clock::time_point now);

  /// Records a failure of `address` at `now`. Returns how many failures it has had in a row, this one
  /// included.
  uint32_t record_failure(const std::string& address, clock::time_point now);

  /// The wait the next attempt of an address with `failures` failures has after the turn before it.
  std::chrono::milliseconds delay_after(uint32_t failures) const;

  /// The number of addresses remembered (for the tests of forgetting).
  size_t remembered() const;

 private:
  struct address_state {
    uint32_t failures = 0;
    clock::time_point last_failure{};
    clock::time_point next_turn{};  // the earliest time the next attempt may be checked
  };

  /// Forgets the addresses whose last failure is older than `forget_after_` (and the oldest beyond
  /// `max_remembered`). Needs `mutex_` held.
  void forget_old_locked(clock::time_point now);

  static constexpr size_t max_remembered = 4096;

  const std::chrono::milliseconds step_;
  const std::chrono::milliseconds longest_;
  const std::chrono::minutes forget_after_;
  mutable std::mutex mutex_;
  std::map<std::string, address_state> addresses_;  // guarded by mutex_
};

/// The decision about one request to a locked printer, without PAM or sleeping: `check` verifies a name and
/// password (PAM in the service), `can_check` tells whether a name's password can be checked at all.
/// `credentials` receives what the header held.
sign_in_result decide_sign_in(bool encrypted, const char* authorization, const std::vector<std::string>& acl,
                              const std::function<bool(const std::string&)>& can_check,
                              const std::function<bool(const basic_credentials&)>& check,
                              basic_credentials& credentials);

}  // namespace quorvane::print_service
