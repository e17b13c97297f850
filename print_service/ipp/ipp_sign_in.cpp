#include "print_service/ipp/ipp_sign_in.h"

#include <security/pam_appl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace quorvane::print_service {

namespace {

// The longest Authorization value read: a name and a password of 1 KiB each, in base64.
constexpr size_t max_authorization = 4096;

// Answers PAM's prompts: the password for every prompt that hides the echo, the name for one that shows
// it, nothing for messages.
int answer_prompts(int count, const struct pam_message** messages, struct pam_response** responses,
                   void* context) {
  const auto* credentials = static_cast<const basic_credentials*>(context);
  if (count <= 0) return PAM_CONV_ERR;
  auto* answers = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (!answers) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    const char* text = nullptr;
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_OFF:
        text = credentials->password.c_str();
        break;
      case PAM_PROMPT_ECHO_ON:
        text = credentials->user.c_str();
        break;
      default:
        break;
    }
    if (text && !(answers[i].resp = strdup(text))) {
      for (int j = 0; j < i; ++j) std::free(answers[j].resp);
      std::free(answers);
      return PAM_BUF_ERR;
    }
  }
  *responses = answers;
  return PAM_SUCCESS;
}

// PAM's delay after a failed authentication (pam_unix asks for about 2 s) is left to the caller, whose
// delay grows per address instead of slowing every device alike.
void skip_pam_delay(int, unsigned, void*) {}

}  // namespace

bool parse_basic_credentials(const char* authorization, basic_credentials& credentials) {
  credentials = {};
  if (!authorization) return false;
  const size_t length = std::strlen(authorization);
  if (length > max_authorization || strncasecmp(authorization, "Basic ", 6) != 0) return false;
  const char* encoded = authorization + 6;
  while (*encoded == ' ') ++encoded;
  if (!*encoded) return false;
  std::string decoded(length, '\0');
  int decoded_length = static_cast<int>(decoded.size());
  if (!httpDecode64_2(decoded.data(), &decoded_length, encoded) || decoded_length <= 0) return false;
  decoded.resize(std::min(static_cast<size_t>(decoded_length), decoded.size()));
  const size_t colon = decoded.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  if (decoded.find('\0') != std::string::npos) return false;
  credentials.user = decoded.substr(0, colon);
  credentials.password = decoded.substr(colon + 1);
  return true;
}

http_status_t sign_in_http_status(sign_in_result result) {
  switch (result) {
    case sign_in_result::accepted:
      return HTTP_STATUS_OK;
    case sign_in_result::needs_encryption:
      return HTTP_STATUS_UPGRADE_REQUIRED;
    case sign_in_result::not_listed:
      return HTTP_STATUS_FORBIDDEN;
    case sign_in_result::no_credentials:
    case sign_in_result::wrong_credentials:
    case sign_in_result::unverifiable:
      return HTTP_STATUS_UNAUTHORIZED;
  }
  return HTTP_STATUS_UNAUTHORIZED;
}

ipp_status_t sign_in_ipp_status(sign_in_result result) {
  switch (result) {
    case sign_in_result::accepted:
      return IPP_STATUS_OK;
    case sign_in_result::not_listed:
      return IPP_STATUS_ERROR_NOT_AUTHORIZED;
    case sign_in_result::needs_encryption:
    case sign_in_result::no_credentials:
    case sign_in_result::wrong_credentials:
    case sign_in_result::unverifiable:
      return IPP_STATUS_ERROR_NOT_AUTHENTICATED;
  }
  return IPP_STATUS_ERROR_NOT_AUTHENTICATED;
}

bool pam_check_password(const std::string& service, const std::string& user, const std::string& password) {
  basic_credentials credentials{user, password};
  const pam_conv conversation{&answer_prompts, &credentials};
  pam_handle_t* handle = nullptr;
  int status = pam_start(service.c_str(), user.c_str(), &conversation, &handle);
  if (status != PAM_SUCCESS) {
    if (handle) pam_end(handle, status);
    return false;
  }
  pam_set_item(handle, PAM_FAIL_DELAY, reinterpret_cast<const void*>(&skip_pam_delay));
  status = pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  // The account must also be usable now (not expired, not locked), as for any other sign-in.
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  pam_end(handle, status);
  return status == PAM_SUCCESS;
}

sign_in_delays::sign_in_delays(std::chrono::milliseconds step, std::chrono::milliseconds longest,
                               std::chrono::minutes forget_after)
    : step_(step), longest_(longest), forget_after_(forget_after) {}

std::chrono::milliseconds sign_in_delays::delay_after(uint32_t failures) const {
  if (failures == 0) return std::chrono::milliseconds(0);
  // Counted in steps before multiplying, so that a long run of failures cannot overflow.
  const uint64_t most_steps = static_cast<uint64_t>(longest_.count() / std::max<int64_t>(step_.count(), 1));
  return std::min(longest_, step_ * static_cast<int64_t>(std::min<uint64_t>(failures, most_steps + 1)));
}

sign_in_delays::clock::time_point sign_in_delays::take_turn(const std::string& address,
                                                            clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  forget_old_locked(now);
  auto it = addresses_.find(address);
  if (it == addresses_.end() || it->second.failures == 0) return now;
  // Each attempt waits its turn behind the ones before it, then the delay its failures earned.
  address_state& state = it->second;
  const clock::time_point turn = std::max(now, state.next_turn) + delay_after(state.failures);
  state.next_turn = turn;
  return turn;
}

uint32_t sign_in_delays::record_failure(const std::string& address, clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  forget_old_locked(now);
  address_state& state = addresses_[address];
  if (state.failures < UINT32_MAX) ++state.failures;
  state.last_failure = now;
  return state.failures;
}

size_t sign_in_delays::remembered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return addresses_.size();
}

void sign_in_delays::forget_old_locked(clock::time_point now) {
  std::erase_if(addresses_, [&](const auto& entry) {
    return now - entry.second.last_failure > forget_after_ && entry.second.next_turn <= now;
  });
  // Many addresses failing at once (a network of them): the ones that failed longest ago go first.
  while (addresses_.size() > max_remembered) {
    auto oldest = std::min_element(addresses_.begin(), addresses_.end(), [](const auto& a, const auto& b) {
      return a.second.last_failure < b.second.last_failure;
    });
    addresses_.erase(oldest);
  }
}

sign_in_result decide_sign_in(bool encrypted, const char* authorization, const std::vector<std::string>& acl,
                              const std::function<bool(const std::string&)>& can_check,
                              const std::function<bool(const basic_credentials&)>& check,
                              basic_credentials& credentials) {
  credentials = {};
  // A password never travels in the clear: a plain connection is told to upgrade before anything is read.
  if (!encrypted) return sign_in_result::needs_encryption;
  if (!parse_basic_credentials(authorization, credentials)) return sign_in_result::no_credentials;
  if (!can_check(credentials.user)) return sign_in_result::unverifiable;
  // The password first, so that a wrong one says nothing about who is on the list.
  if (!check(credentials)) return sign_in_result::wrong_credentials;
  if (std::find(acl.begin(), acl.end(), credentials.user) == acl.end()) return sign_in_result::not_listed;
  return sign_in_result::accepted;
}

}  // namespace quorvane::print_service
