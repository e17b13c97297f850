#include "print_service/ipp_request_hooks.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "core/files.h"

namespace quorvane::print_service {
namespace {

std::atomic<ipp_request_policy*> active_policy{nullptr};

std::mutex credentials_mutex;
std::string credentials_folder;  // "" for libcups's default

// How much document data may be read between two looks at the spool's free space.
constexpr uint64_t document_check_interval = uint64_t{1} << 20;

// What the calling thread serves: the request PAPPL read last and the response it builds for it.
struct served_request {
  http_t* http = nullptr;     // the connection the request came from
  ipp_t* read = nullptr;      // the request ippRead filled last on this thread
  ipp_t* request = nullptr;   // the request being answered (between ippNewResponse and ippLength)
  ipp_t* response = nullptr;  // its response
  bool document = false;      // the request carries a document that PAPPL stores
  uint64_t allowance = 0;     // document bytes that may be read before the next look at the free space
  bool refused = false;       // a read of the document was refused
  bool ended = false;         // a read of the document found its end (or failed)
  ipp_status_t refusal_status = IPP_STATUS_OK;
  std::string refusal_message;
  // The copy of the document: undecided until its first bytes are read, then kept in `copy` or not.
  enum class copying { undecided, yes, no } copy_state = copying::undecided;
  std::string head;  // the first bytes while undecided
  int copy = -1;
  bool copy_failed = false;
};

thread_local served_request served;

template <typename function_type>
function_type next_definition(const char* name) {
  return reinterpret_cast<function_type>(dlsym(RTLD_NEXT, name));
}

// Drops the document copy that the thread's request still holds and makes the next document undecided.
void reset_copy() {
  if (served.copy >= 0) close(served.copy);
  served.copy = -1;
  served.copy_failed = false;
  served.copy_state = served_request::copying::undecided;
  served.head.clear();
}

bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Adds bytes PAPPL read of the document to its copy; the policy decides on a copy once 4 bytes are known.
void keep_copy(ipp_request_policy& policy, const char* data, size_t size) {
  using copying = served_request::copying;
  if (served.copy_state == copying::no) return;
  if (served.copy_state == copying::undecided) {
    served.head.append(data, size);
    if (served.head.size() < 4) return;
    served.copy = policy.document_copy(served.head);
    served.copy_state = served.copy >= 0 ? copying::yes : copying::no;
    if (served.copy >= 0 && !write_all(served.copy, served.head.data(), served.head.size())) {
      served.copy_failed = true;
    }
    served.head.clear();
    return;
  }
  if (served.copy >= 0 && !served.copy_failed && !write_all(served.copy, data, size))
    served.copy_failed = true;
}

bool carries_document(ipp_t* request) {
  const ipp_op_t op = ippGetOperation(request);
  return op == IPP_OP_PRINT_JOB || op == IPP_OP_SEND_DOCUMENT;
}

}  // namespace

void set_ipp_request_policy(ipp_request_policy* policy) {
  active_policy.store(policy);
}

int take_document_copy() {
  const int copy = served.copy_failed ? -1 : served.copy;
  if (served.copy_failed && served.copy >= 0) close(served.copy);
  served.copy = -1;
  served.copy_failed = false;
  served.copy_state = served_request::copying::no;
  return copy;
}

void set_ipp_credentials_folder(const std::string& folder) {
  if (!folder.empty()) {
    make_folders(folder);
    chmod(folder.c_str(), 0700);
  }
  std::lock_guard<std::mutex> lock(credentials_mutex);
  credentials_folder = folder;
}

void set_ipp_response_status(ipp_t* response, ipp_status_t status, const std::string& message) {
  ippSetStatusCode(response, status);
  if (ipp_attribute_t* attr = ippFindAttribute(response, "status-message", IPP_TAG_TEXT)) {
    ippSetString(response, &attr, 0, message.c_str());
  } else {
    ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_TEXT, "status-message", nullptr, message.c_str());
  }
}

}  // namespace quorvane::print_service

using namespace quorvane::print_service;

// PAPPL reads each request with ippRead on the connection's thread: the thread notes the connection.
extern "C" ipp_state_t ippRead(http_t* http, ipp_t* ipp) {
  static const auto next = next_definition<ipp_state_t (*)(http_t*, ipp_t*)>("ippRead");
  const ipp_state_t state = next(http, ipp);
  served.http = http;
  served.read = ipp;
  return state;
}

// PAPPL begins every request with its response: the policy may answer it at once. PAPPL runs the
// operation only while the response's status is successful-ok.
extern "C" ipp_t* ippNewResponse(ipp_t* request) {
  static const auto next = next_definition<ipp_t* (*)(ipp_t*)>("ippNewResponse");
  ipp_t* response = next(request);
  ipp_request_policy* policy = active_policy.load();
  if (!policy || !response || request != served.read) return response;
  served.request = request;
  served.response = response;
  served.document = carries_document(request);
  served.allowance = 0;
  served.refused = false;
  served.ended = false;
  reset_copy();
  std::string message;
  ipp_attribute_t* unsupported = nullptr;
  const ipp_status_t status = policy->admit(request, served.http, message, unsupported);
  if (status != IPP_STATUS_OK) {
    served.document = false;  // PAPPL drops the document unread into any file
    set_ipp_response_status(response, status, message);
    if (unsupported) {
      ipp_attribute_t* copy = ippCopyAttribute(response, unsupported, 0);
      ippSetGroupTag(response, &copy, IPP_TAG_UNSUPPORTED_GROUP);
    }
  }
  return response;
}

// PAPPL reads a document in blocks, into its spool file or, for raster, line by line: every megabyte the
// policy looks whether the spool's file system can take more, and the bytes go to the document's copy
// when the policy asked for one.
extern "C" ssize_t httpRead2(http_t* http, char* buffer, size_t length) {
  static const auto next = next_definition<ssize_t (*)(http_t*, char*, size_t)>("httpRead2");
  ipp_request_policy* policy = active_policy.load();
  if (!policy || !served.document || served.refused || http != served.http || !served.response) {
    return next(http, buffer, length);
  }
  // Past the end of a chunked document, libcups would wait for the next chunk, which the device never
  // sends while it waits for the answer; PAPPL reads on after the end of a raster page cut short.
  if (served.ended) return 0;
  if (served.allowance < length) {
    ipp_status_t status = IPP_STATUS_OK;
    std::string message;
    if (!policy->document_room(document_check_interval + length, status, message)) {
      // Refused once: PAPPL then removes its file and reads the rest of the document to drop it.
      served.refused = true;
      served.refusal_status = status;
      served.refusal_message = message;
      return -1;
    }
    served.allowance = document_check_interval + length;
  }
  const ssize_t bytes = next(http, buffer, length);
  if (bytes <= 0) served.ended = true;
  if (bytes > 0) {
    served.allowance -= std::min<uint64_t>(served.allowance, static_cast<uint64_t>(bytes));
    keep_copy(*policy, buffer, static_cast<size_t>(bytes));
  }
  return bytes;
}

// PAPPL measures the finished response just before it sends it.
extern "C" size_t ippLength(ipp_t* ipp) {
  static const auto next = next_definition<size_t (*)(ipp_t*)>("ippLength");
  ipp_request_policy* policy = active_policy.load();
  if (policy && ipp && ipp == served.response) {
    if (served.refused) set_ipp_response_status(ipp, served.refusal_status, served.refusal_message);
    policy->before_response(served.request, ipp);
    served.request = nullptr;
    served.response = nullptr;
    served.document = false;
    served.refused = false;
    served.ended = false;
    reset_copy();
  }
  return next(ipp);
}

// PAPPL names libcups's default folder (~/.cups/ssl, /etc/cups/ssl for root) whenever it sets the host
// name; the service's own folder replaces it.
extern "C" int cupsSetServerCredentials(const char* path, const char* common_name, int auto_create) {
  static const auto next =
      next_definition<int (*)(const char*, const char*, int)>("cupsSetServerCredentials");
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(credentials_mutex);
    folder = credentials_folder;
  }
  return next(folder.empty() ? path : folder.c_str(), common_name, auto_create);
}
