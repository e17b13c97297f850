#include "print_service/ipp/ipp_request_hooks.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cups/raster.h>
#include <pappl/pappl.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "core/files.h"
#include "print_service/documents/raster_format.h"

namespace quorvane::print_service {
namespace {

std::atomic<ipp_request_policy*> active_policy{nullptr};

std::mutex listen_mutex;
std::vector<int> listen_sockets;  // listening sockets for PAPPL's next listeners

std::mutex credentials_mutex;
std::string credentials_folder;  // "" for libcups's default

// How long a connection closed after an early answer may still deliver what the device sends (dropped),
// and how long it may be quiet before it is closed.
constexpr std::chrono::milliseconds close_linger{5000};
constexpr std::chrono::milliseconds close_quiet{1000};

// How much document data may be read between two looks at the spool's free space.
constexpr uint64_t document_check_interval = uint64_t{1} << 20;

// How deep collections of a device's request may nest while libcups reads it (the request hook refuses
// more than 8 levels once it is read; this bound keeps the reading itself within a thread's stack).
constexpr int max_read_nesting = 32;

// Follows the bytes of an IPP request as they are read, for how deep its collections nest: the 8-byte
// header, then tags, each value with a 2-byte name length and name and a 2-byte value length and value
// (begCollection opens a level, endCollection, or end-of-attributes inside a collection, closes one), up to
// end-of-attributes, after which the document follows.
class ipp_nesting_watch {
 public:
  // Takes the next `size` bytes; false once collections nest deeper than max_read_nesting.
  bool follow(const unsigned char* bytes, size_t size) {
    for (size_t i = 0; i < size && step_ != step::done;) {
      if (step_ == step::name || step_ == step::value) {
        const size_t skipped = std::min(left_, size - i);
        i += skipped;
        left_ -= skipped;
        if (left_ == 0 && step_ == step::name) start_number(step::value_length);
        if (left_ == 0 && step_ == step::value && !value_read()) return false;
        continue;
      }
      const unsigned char byte = bytes[i++];
      if (step_ == step::tag) {
        if (byte == IPP_TAG_EXTENSION) {
          start_number(step::extension, 4);
        } else {
          tag_read(byte);
        }
        continue;
      }
      number_ = (number_ << 8) | byte;
      if (--left_ > 0) continue;
      switch (step_) {
        case step::header:
          step_ = step::tag;
          break;
        case step::extension:
          tag_read(number_);
          break;
        case step::name_length:
          left_ = number_;
          if (left_ > 0) {
            step_ = step::name;
          } else {
            start_number(step::value_length);
          }
          break;
        case step::value_length:
          left_ = number_;
          step_ = step::value;
          if (left_ == 0 && !value_read()) return false;
          break;
        default:
          break;
      }
    }
    return true;
  }

 private:
  enum class step { header, tag, extension, name_length, name, value_length, value, done };

  void start_number(step next, size_t bytes = 2) {
    step_ = next;
    left_ = bytes;
    number_ = 0;
  }
  void tag_read(uint32_t tag) {
    tag_ = tag;
    if (tag == IPP_TAG_END) {
      // Inside a collection libcups takes it as the collection's end.
      if (depth_ > 0) {
        --depth_;
      } else {
        step_ = step::done;
      }
    } else if (tag >= IPP_TAG_UNSUPPORTED_VALUE) {
      start_number(step::name_length);
    }  // a group tag: the next tag follows
  }
  bool value_read() {
    step_ = step::tag;
    if (tag_ == IPP_TAG_BEGIN_COLLECTION && ++depth_ > max_read_nesting) return false;
    if (tag_ == IPP_TAG_END_COLLECTION && depth_ > 0) --depth_;
    return true;
  }

  step step_ = step::header;
  size_t left_ = 8;
  uint32_t number_ = 0;
  uint32_t tag_ = 0;
  int depth_ = 0;
};

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
  std::string raster_problem;  // why the raster reader stopped before the document's end
  ipp_nesting_watch nesting;   // the request being read
  // A request answered before its body was read: the body is not read, and the connection is closed once
  // the answer is out.
  bool drop_body = false;
  bool close_after_answer = false;
  // The HTTP status the answer goes out with instead of 200 OK, and the realm of a 401's challenge.
  http_status_t http_status = HTTP_STATUS_OK;
  std::string realm;
};

thread_local served_request served;

// The bytes of the request libcups reads from a device, as libcups reads it from httpRead2 (the service's
// own, below: no document is being read yet), followed for the nesting of its collections.
ssize_t read_device_request(void* context, ipp_uchar_t* buffer, size_t length) {
  auto* http = static_cast<http_t*>(context);
  if (httpGetState(http) == HTTP_STATE_WAITING) return 0;
  size_t total = 0;
  while (total < length) {
    const ssize_t bytes = httpRead2(http, reinterpret_cast<char*>(buffer) + total, length - total);
    if (bytes <= 0) {
      if (total == 0 && bytes < 0) return -1;
      break;
    }
    total += static_cast<size_t>(bytes);
  }
  if (!served.nesting.follow(buffer, total)) return -1;
  return static_cast<ssize_t>(total);
}

// The connections PAPPL accepted and has not closed, and how many of its client threads (one per accepted
// connection) have not ended. PAPPL 1.3.1 neither ends nor waits for them when it stops; its system must
// outlive them.
std::mutex connections_mutex;
std::condition_variable clients_ended;
std::set<http_t*> connections;
size_t live_clients = 0;

// Lives as long as the client thread that serves an accepted connection; its end counts the thread out.
struct client_thread {
  ~client_thread() {
    {
      std::lock_guard<std::mutex> lock(connections_mutex);
      --live_clients;
    }
    clients_ended.notify_all();
  }
};
thread_local std::optional<client_thread> this_client_thread;

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

// Adds bytes PAPPL read of the document to its copy; the policy decides on a copy once 4 bytes are known.
void keep_copy(ipp_request_policy& policy, const char* data, size_t size) {
  using copying = served_request::copying;
  if (served.copy_state == copying::no) return;
  if (served.copy_state == copying::undecided) {
    served.head.append(data, size);
    if (served.head.size() < 4) return;
    served.copy = policy.document_copy(served.head);
    served.copy_state = served.copy >= 0 ? copying::yes : copying::no;
    if (served.copy >= 0 && write_all(served.copy, served.head) != 0) {
      served.copy_failed = true;
    }
    served.head.clear();
    return;
  }
  if (served.copy >= 0 && !served.copy_failed && write_all(served.copy, std::string_view(data, size)) != 0)
    served.copy_failed = true;
}

bool carries_document(ipp_t* request) {
  // The operation as an integer: a device may send any 16-bit number, which ipp_op_t cannot hold.
  const int op = ippGetOperation(request);
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

std::string raster_problem() {
  return served.raster_problem;
}

void end_ipp_connections() {
  std::lock_guard<std::mutex> lock(connections_mutex);
  for (http_t* http : connections) shutdown(httpGetFd(http), SHUT_RDWR);
}

bool wait_for_ipp_clients(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(connections_mutex);
  return clients_ended.wait_for(lock, limit, [] { return live_clients == 0; });
}

void set_ipp_listen_sockets(std::vector<int> sockets) {
  std::lock_guard<std::mutex> lock(listen_mutex);
  for (int fd : listen_sockets) close(fd);
  listen_sockets = std::move(sockets);
}

void set_ipp_credentials_folder(const std::string& folder) {
  if (!folder.empty()) {
    make_folders(folder);
    chmod(folder.c_str(), 0700);
  }
  std::lock_guard<std::mutex> lock(credentials_mutex);
  credentials_folder = folder;
}

void set_ipp_http_status(http_status_t status, const std::string& realm) {
  served.http_status = status;
  served.realm = realm;
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
// libcups reads each collection of a request with a recursive call of its reader (about a kilobyte of stack
// each): a request of 110 KB nesting 10,000 collections overran a client thread's stack. A request of a
// device is read through this callback, which follows the bytes it passes and fails the read once
// collections nest deeper than max_read_nesting; PAPPL answers 400 Bad Request and closes the connection.
extern "C" ipp_state_t ippRead(http_t* http, ipp_t* ipp) {
  static const auto next = next_definition<ipp_state_t (*)(http_t*, ipp_t*)>("ippRead");
  bool accepted = false;
  {
    std::lock_guard<std::mutex> lock(connections_mutex);
    accepted = http && connections.count(http);
  }
  ipp_state_t state;
  if (accepted) {
    if (ippGetState(ipp) == IPP_STATE_IDLE) served.nesting = ipp_nesting_watch{};
    state = ippReadIO(http, &read_device_request, httpGetBlocking(http), nullptr, ipp);
  } else {
    state = next(http, ipp);
  }
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
  served.raster_problem.clear();
  served.drop_body = false;
  served.close_after_answer = false;
  served.http_status = HTTP_STATUS_OK;
  reset_copy();
  std::string message;
  ipp_attribute_t* unsupported = nullptr;
  const ipp_status_t status = policy->admit(request, served.http, message, unsupported);
  if (status != IPP_STATUS_OK) {
    served.document = false;
    // PAPPL would read the whole body (of any declared size) before it answers.
    served.drop_body = httpGetState(served.http) == HTTP_STATE_POST_RECV;
    set_ipp_response_status(response, status, message);
    if (unsupported && ippGetValueTag(unsupported) == IPP_TAG_BEGIN_COLLECTION) {
      // A collection goes back by its name only: a refused one may be malformed, and libcups would write
      // a member without a value as bytes the device cannot read either.
      ippAddOutOfBand(response, IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_UNSUPPORTED_VALUE,
                      ippGetName(unsupported));
    } else if (unsupported) {
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
  if (served.drop_body && http == served.http) return 0;
  if (!policy || !served.document || http != served.http || !served.response)
    return next(http, buffer, length);
  // Past the end of a chunked document, libcups would wait for the next chunk, which the device never
  // sends while it waits for the answer; PAPPL reads on after the end of a raster page cut short.
  if (served.ended) return 0;
  if (served.allowance < length) {
    ipp_status_t status = IPP_STATUS_OK;
    std::string message;
    if (!policy->document_room(http, document_check_interval + length, status, message)) {
      // Refused once: PAPPL then removes its file and answers; the rest of the document is not read.
      served.refused = true;
      served.drop_body = true;
      served.refusal_status = status;
      served.refusal_message = message;
      return -1;
    }
    served.allowance = document_check_interval + length;
  }
  const ssize_t bytes = next(http, buffer, length);
  if (bytes <= 0) served.ended = true;
  if (bytes == 0 && httpError(http) != 0) {
    // libcups ends the document with 0 also when the connection ends (or times out) before the declared
    // length or the last chunk; only a read that never had to wait on a closed connection found the end.
    // A document cut short is a failed read, for PAPPL (which aborts the job and removes its file) and for
    // the raster reader.
    if (served.raster_problem.empty()) {
      served.raster_problem = "the device's connection ended before the end of the document";
    }
    return -1;
  }
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
    if (served.drop_body) {
      // The device hears that the connection ends with this answer; httpWait closes it.
      httpSetKeepAlive(served.http, HTTP_KEEPALIVE_OFF);
      served.close_after_answer = true;
    }
    policy->before_response(served.request, ipp, served.http);
    served.request = nullptr;
    served.response = nullptr;
    served.document = false;
    served.refused = false;
    served.ended = false;
    served.raster_problem.clear();
    reset_copy();
  }
  return next(ipp);
}

// PAPPL sends every IPP answer with HTTP 200 OK. An answer the policy gave another HTTP status goes out with
// that one: a device asks for a name and password only on a 401, and turns to TLS on a 426.
extern "C" int httpWriteResponse(http_t* http, http_status_t status) {
  static const auto next = next_definition<int (*)(http_t*, http_status_t)>("httpWriteResponse");
  if (http && http == served.http && status == HTTP_STATUS_OK && served.http_status != HTTP_STATUS_OK) {
    status = std::exchange(served.http_status, HTTP_STATUS_OK);
    if (status == HTTP_STATUS_UNAUTHORIZED) {
      const std::string challenge = "Basic realm=\"" + served.realm + "\"";
      httpSetField(http, HTTP_FIELD_WWW_AUTHENTICATE, challenge.c_str());
    }
  }
  return next(http, status);
}

void quorvane::print_service::close_gently(http_t* http) {
  httpFlushWrite(http);
  const int fd = httpGetFd(http);
  shutdown(fd, SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + close_linger;
  char dropped[16384];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min(left, close_quiet).count())) <= 0) break;
    if (recv(fd, dropped, sizeof(dropped), 0) <= 0) break;
  }
}

// PAPPL waits for a connection's next request with httpWait. After an answer given before its request's
// body was read, the connection ends instead, gently.
extern "C" int httpWait(http_t* http, int msec) {
  static const auto next = next_definition<int (*)(http_t*, int)>("httpWait");
  // A client thread waits for its connection's first request with httpWait: from here on its end is
  // counted (libcups's own reads call httpWait too, on any thread, for connections PAPPL did not accept).
  if (!this_client_thread && http) {
    std::lock_guard<std::mutex> lock(connections_mutex);
    if (connections.count(http)) this_client_thread.emplace();
  }
  if (!served.close_after_answer || !http || http != served.http) return next(http, msec);
  served.close_after_answer = false;
  served.drop_body = false;
  close_gently(http);
  return 0;
}

// PAPPL accepts each connection with httpAcceptConnection, then starts its client thread.
extern "C" http_t* httpAcceptConnection(int fd, int blocking) {
  static const auto next = next_definition<http_t* (*)(int, int)>("httpAcceptConnection");
  http_t* http = next(fd, blocking);
  if (http) {
    std::lock_guard<std::mutex> lock(connections_mutex);
    connections.insert(http);
    ++live_clients;
  }
  return http;
}

// PAPPL closes a connection with httpClose when its client thread ends (or could not be started). One it
// closes with bytes of the device unread (a request it could not read, answered 400) is closed gently.
// libcups frees the decoder of a body sent with Content-Encoding gzip or deflate (some 72 KB) when the
// body ends or when httpFlush gives the connection up, never in httpClose: a connection that ends in the
// middle of such a body is given up here first, once no more bytes can come, or each one would be lost.
extern "C" void httpClose(http_t* http) {
  static const auto next = next_definition<void (*)(http_t*)>("httpClose");
  bool accepted = false;
  {
    std::lock_guard<std::mutex> lock(connections_mutex);
    accepted = connections.erase(http) > 0;
    // A connection whose client thread never started is counted out here.
    if (accepted && !this_client_thread && http) --live_clients;
  }
  int unread = 0;
  if (accepted && ioctl(httpGetFd(http), FIONREAD, &unread) == 0 && unread > 0) close_gently(http);
  if (accepted && httpGetState(http) != HTTP_STATE_WAITING && httpGetFd(http) >= 0) {
    shutdown(httpGetFd(http), SHUT_RDWR);
    httpFlush(http);
  }
  next(http);
}

// PAPPL 1.3.1 starts a job's thread (_papplJobProcess) from _papplPrinterCheckJobs, which the device's
// thread calls after it stored a document and a job's thread calls when it ends; the job is marked as
// processing only once its new thread runs, so the two calls can start two threads for one job, which then
// both process it and both end it (a use after free of its file name, fuzz finding F3). Every job thread
// starts here instead: it runs the job only while the job is pending and no other thread runs it.
namespace {

struct job_thread_start {
  void* (*routine)(void*);
  void* job;
};

std::mutex job_threads_mutex;
std::set<void*> running_jobs;  // jobs a job thread processes

void* run_job_once(void* argument) {
  const job_thread_start start = *static_cast<job_thread_start*>(argument);
  delete static_cast<job_thread_start*>(argument);
  auto* job = static_cast<pappl_job_t*>(start.job);
  {
    std::lock_guard<std::mutex> lock(job_threads_mutex);
    // Only a job's own thread moves it on from pending, and that thread is in the set while it runs.
    if (running_jobs.count(job) || papplJobGetState(job) != IPP_JSTATE_PENDING) return nullptr;
    running_jobs.insert(job);
  }
  void* result = start.routine(job);
  std::lock_guard<std::mutex> lock(job_threads_mutex);
  running_jobs.erase(job);
  return result;
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument) {
  using create_function = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  // A sanitizer linked into the program defines pthread_create too, to register every thread it must know
  // (whose stacks its leak check scans): this definition replaces that one, so the threads go through the
  // sanitizer's own entry where there is one, and to the C library's otherwise.
  static const auto next = [] {
    void* sanitizer = dlsym(RTLD_DEFAULT, "__interceptor_pthread_create");
    return sanitizer ? reinterpret_cast<create_function>(sanitizer)
                     : next_definition<create_function>("pthread_create");
  }();
  static void* const job_process = dlsym(RTLD_DEFAULT, "_papplJobProcess");
  if (!job_process || reinterpret_cast<void*>(routine) != job_process) {
    return next(thread, attributes, routine, argument);
  }
  auto* start = new job_thread_start{routine, argument};
  const int error = next(thread, attributes, &run_job_once, start);
  if (error != 0) delete start;
  return error;
}

// PAPPL makes each listener with httpAddrListen: a socket the service made for that family and port is
// given instead.
extern "C" int httpAddrListen(http_addr_t* address, int port) {
  static const auto next = next_definition<int (*)(http_addr_t*, int)>("httpAddrListen");
  if (address && port > 0) {
    std::lock_guard<std::mutex> lock(listen_mutex);
    for (auto it = listen_sockets.begin(); it != listen_sockets.end(); ++it) {
      sockaddr_storage bound{};
      socklen_t length = sizeof(bound);
      if (getsockname(*it, reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
          bound.ss_family != address->addr.sa_family) {
        continue;
      }
      const int bound_port = bound.ss_family == AF_INET6
                                 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                                 : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
      if (bound_port != port) continue;
      const int fd = *it;
      listen_sockets.erase(it);
      return fd;
    }
  }
  return next(address, port);
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

// PAPPL reads a raster document from the device's connection with libcups's raster reader, which decodes
// every line into pixels (8.7 MB a page for A4 grey at 300 dpi). The service converts the document from
// the copy the hooks keep and ignores those pixels, so on the connection's thread of a request with a
// document this reader takes libcups's place: it gives PAPPL the same page headers and reads each line's
// codes without writing a pixel. PAPPL reads whole lines, as the reader assumes. Any other raster stream
// (the service's own, say) is libcups's.
namespace {

// The device's connection as a source of raster_format, read ahead in blocks.
class pull_source {
 public:
  pull_source(cups_raster_iocb_t iocb, void* context) : iocb_(iocb), context_(context), buffer_(65536) {}

  bool need(size_t n) {
    if (end_ - start_ >= n) return true;
    if (start_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    }
    if (buffer_.size() < n) buffer_.resize(n);
    while (end_ < n && !ended_) {
      const ssize_t got = read(buffer_.data() + end_, buffer_.size() - end_);
      if (got <= 0) {
        ended_ = true;
        break;
      }
      end_ += static_cast<size_t>(got);
    }
    return end_ - start_ >= n;
  }
  const unsigned char* data() const { return buffer_.data() + start_; }
  void skip(size_t n) { start_ += n; }
  size_t available() const { return end_ - start_; }

 private:
  // PAPPL hands libcups's httpRead2 over as the raster callback, cast to the callback's type; a call
  // through that type would reach a function of another type (the service's own httpRead2), so it is
  // called as what it is.
  ssize_t read(unsigned char* buffer, size_t size) {
    if (iocb_ == reinterpret_cast<cups_raster_iocb_t>(&::httpRead2)) {
      return ::httpRead2(static_cast<http_t*>(context_), reinterpret_cast<char*>(buffer), size);
    }
    return iocb_(context_, buffer, size);
  }

  cups_raster_iocb_t iocb_;
  void* context_;
  std::vector<unsigned char> buffer_;
  size_t start_ = 0;
  size_t end_ = 0;
  bool ended_ = false;
};

// Lines read for their codes only.
struct unread_line {
  void fill(unsigned char, size_t) {}
  void literal(const unsigned char*, size_t) {}
  void repeat_pixel(const unsigned char*, size_t, size_t) {}
};

struct raster_stream {
  raster_stream(cups_raster_iocb_t iocb, void* context) : source(iocb, context) {}
  pull_source source;
  raster_format::document_kind kind;
  uint32_t urf_pages = 0;       // the page count of Apple raster's file header
  uint32_t declared_pages = 0;  // the page count the document declares (0: not known)
  uint32_t pages = 0;           // page headers read
  raster_page_layout layout;
  bool convertible = false;   // the page's lines can be read (a layout the service converts)
  uint32_t lines_left = 0;    // lines of the page not yet read
  uint32_t repeats_left = 0;  // further copies of the last line read
};

std::mutex streams_mutex;
std::set<const void*> streams;  // the raster streams of this reader

raster_stream* our_stream(cups_raster_t* raster) {
  std::lock_guard<std::mutex> lock(streams_mutex);
  return streams.count(raster) ? reinterpret_cast<raster_stream*>(raster) : nullptr;
}

// Fills `header` as libcups does from a PWG raster page header whose enumerated fields were checked
// (raster_format::pwg_header_problem) and whose colours are known.
void pwg_page_header(const unsigned char* raw, const raster_format::document_kind& kind,
                     cups_page_header2_t& header) {
  static_assert(sizeof(cups_page_header2_t) == raster_format::pwg_header_size);
  static_assert(offsetof(cups_page_header2_t, cupsColorOrder) == raster_format::pwg_color_order);
  static_assert(offsetof(cups_page_header2_t, cupsColorSpace) == raster_format::pwg_color_space);
  constexpr size_t enumerated[] = {
      offsetof(cups_page_header2_t, AdvanceMedia), offsetof(cups_page_header2_t, Collate),
      offsetof(cups_page_header2_t, CutMedia),     offsetof(cups_page_header2_t, Duplex),
      offsetof(cups_page_header2_t, InsertSheet),  offsetof(cups_page_header2_t, Jog),
      offsetof(cups_page_header2_t, LeadingEdge),  offsetof(cups_page_header2_t, ManualFeed),
      offsetof(cups_page_header2_t, MirrorPrint),  offsetof(cups_page_header2_t, NegativePrint),
      offsetof(cups_page_header2_t, Orientation),  offsetof(cups_page_header2_t, OutputFaceUp),
      offsetof(cups_page_header2_t, Separations),  offsetof(cups_page_header2_t, TraySwitch),
      offsetof(cups_page_header2_t, Tumble),       offsetof(cups_page_header2_t, cupsColorOrder)};
  static_assert(std::size(enumerated) == std::size(raster_format::pwg_enumerated_fields));
  static_assert([&] {
    for (size_t i = 0; i < std::size(enumerated); ++i) {
      if (enumerated[i] != raster_format::pwg_enumerated_fields[i].offset) return false;
    }
    return true;
  }());
  static_assert(offsetof(cups_page_header2_t, cupsInteger) == raster_format::pwg_total_page_count);
  std::memcpy(&header, raw, sizeof(header));
  const bool host_big_endian = htonl(1) == 1;
  if (kind.big_endian != host_big_endian) {
    auto* words = reinterpret_cast<unsigned char*>(&header) + raster_format::pwg_first_number;
    for (size_t i = 0; i < raster_format::pwg_numbers; ++i, words += 4) {
      std::swap(words[0], words[3]);
      std::swap(words[1], words[2]);
    }
  }
  if (header.cupsNumColors == 0) header.cupsNumColors = raster_format::colors_of(header.cupsColorSpace);
}

// Why libcups's reader (or PAPPL after it) would not read a page of `layout`, or "".
std::string unreadable_page(const raster_page_layout& layout) {
  if (layout.colors == 0) {
    return "its colour space " + std::to_string(layout.color_space) + " has no known number of colours";
  }
  if (layout.bits_per_pixel == 0 || layout.bits_per_pixel > 240 || layout.bits_per_color == 0 ||
      layout.bits_per_color > 16) {
    return "its " + std::to_string(layout.bits_per_pixel) + " bits per pixel and " +
           std::to_string(layout.bits_per_color) + " bits per colour are not a raster layout";
  }
  if (layout.width == 0 || layout.height == 0) return "the page has no size";
  const uint32_t unit =
      layout.color_order == 0 ? (layout.bits_per_pixel + 7) / 8 : (layout.bits_per_color + 7) / 8;
  if (layout.bytes_per_line == 0 || layout.bytes_per_line > 0x7fffffff || layout.bytes_per_line % unit != 0 ||
      uint64_t{layout.bytes_per_line} != (uint64_t{layout.width} * layout.bits_per_pixel + 7) / 8) {
    return "its lines of " + std::to_string(layout.bytes_per_line) + " bytes do not hold " +
           std::to_string(layout.width) + " pixels of " + std::to_string(layout.bits_per_pixel) + " bits";
  }
  return {};
}

// Notes why the raster reader stops before the document's end; the first reason stays.
void note_raster_problem(const std::string& problem) {
  if (served.raster_problem.empty()) served.raster_problem = problem;
}

// Fills `header` as libcups does from an Apple raster page header.
void urf_page_header(const unsigned char* raw, const raster_format::document_kind& kind, uint32_t pages,
                     cups_page_header2_t& header) {
  const raster_page_layout layout = raster_format::layout_of(raw, kind);
  std::strncpy(header.MediaClass, "PwgRaster", sizeof(header.MediaClass) - 1);
  header.cupsBitsPerPixel = layout.bits_per_pixel;
  header.cupsColorSpace = static_cast<cups_cspace_t>(layout.color_space);
  header.cupsNumColors = layout.colors;
  header.cupsBitsPerColor = layout.bits_per_color;
  header.cupsWidth = layout.width;
  header.cupsHeight = layout.height;
  header.cupsBytesPerLine = layout.bytes_per_line;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.HWResolution[0] = header.HWResolution[1] = layout.x_dpi;
  if (layout.x_dpi > 0) {
    header.PageSize[0] = static_cast<unsigned>(uint64_t{layout.width} * 72 / layout.x_dpi);
    header.PageSize[1] = static_cast<unsigned>(uint64_t{layout.height} * 72 / layout.y_dpi);
    header.cupsPageSize[0] = static_cast<float>(layout.width * 72.0 / layout.x_dpi);
    header.cupsPageSize[1] = static_cast<float>(layout.height * 72.0 / layout.y_dpi);
  }
  header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = pages;
  header.cupsInteger[CUPS_RASTER_PWG_AlternatePrimary] = 0xffffff;
  header.cupsInteger[CUPS_RASTER_PWG_PrintQuality] = raw[3];
  header.Duplex = raw[2] >= 2 ? CUPS_TRUE : CUPS_FALSE;
  header.Tumble = raw[2] == 2 ? CUPS_TRUE : CUPS_FALSE;
  header.MediaPosition = raw[5];
}

}  // namespace

extern "C" cups_raster_t* cupsRasterOpenIO(cups_raster_iocb_t iocb, void* context, cups_mode_t mode) {
  static const auto next =
      next_definition<cups_raster_t* (*)(cups_raster_iocb_t, void*, cups_mode_t)>("cupsRasterOpenIO");
  if (mode != CUPS_RASTER_READ || !active_policy.load() || !served.document || !served.response ||
      context != served.http) {
    return next(iocb, context, mode);
  }
  auto stream = std::make_unique<raster_stream>(iocb, context);
  std::string error;
  if (!stream->source.need(4) || !raster_format::identify(stream->source.data(), stream->kind, error) ||
      !stream->source.need(stream->kind.file_header_size)) {
    return nullptr;  // as libcups, for a stream it cannot read; PAPPL aborts the job
  }
  if (stream->kind.urf) stream->urf_pages = raster_format::big_endian(stream->source.data() + 8);
  stream->source.skip(stream->kind.file_header_size);
  std::lock_guard<std::mutex> lock(streams_mutex);
  streams.insert(stream.get());
  return reinterpret_cast<cups_raster_t*>(stream.release());
}

extern "C" unsigned cupsRasterReadHeader2(cups_raster_t* raster, cups_page_header2_t* header) {
  static const auto next =
      next_definition<unsigned (*)(cups_raster_t*, cups_page_header2_t*)>("cupsRasterReadHeader2");
  raster_stream* stream = our_stream(raster);
  if (!stream) return next(raster, header);
  std::memset(header, 0, sizeof(*header));
  stream->lines_left = 0;
  stream->repeats_left = 0;
  const std::string page = std::to_string(stream->pages + 1);
  if (!stream->source.need(stream->kind.page_header_size)) {
    // The end of the document: inside a page header, or before the pages it declared, it was cut short.
    if (stream->source.available() > 0) {
      note_raster_problem("the raster document is cut short in the header of page " + page);
    } else if (stream->pages < stream->declared_pages) {
      note_raster_problem("the raster document declares " + std::to_string(stream->declared_pages) +
                          " pages and ends after " + std::to_string(stream->pages));
    }
    return 0;
  }
  // Every field is checked as an integer before the header gives it to PAPPL as an enumeration.
  const unsigned char* raw = stream->source.data();
  std::string problem =
      stream->kind.urf ? std::string() : raster_format::pwg_header_problem(raw, stream->kind);
  stream->layout = raster_format::layout_of(raw, stream->kind);
  if (problem.empty()) problem = unreadable_page(stream->layout);
  if (!problem.empty()) {
    note_raster_problem("page " + page + ": " + problem);
    return 0;
  }
  if (stream->kind.urf) {
    urf_page_header(raw, stream->kind, stream->urf_pages, *header);
    stream->declared_pages = stream->urf_pages;
  } else {
    pwg_page_header(raw, stream->kind, *header);
    if (stream->pages == 0) stream->declared_pages = header->cupsInteger[CUPS_RASTER_PWG_TotalPageCount];
  }
  stream->source.skip(stream->kind.page_header_size);
  // A page the service does not convert is refused by the raster callbacks with this reason.
  const std::string layout_problem = raster_layout_problem(stream->layout);
  stream->convertible = layout_problem.empty();
  if (!stream->convertible) note_raster_problem("page " + page + ": " + layout_problem);
  ++stream->pages;
  stream->lines_left = header->cupsHeight;
  return 1;
}

extern "C" unsigned cupsRasterReadPixels(cups_raster_t* raster, unsigned char* pixels, unsigned length) {
  static const auto next =
      next_definition<unsigned (*)(cups_raster_t*, unsigned char*, unsigned)>("cupsRasterReadPixels");
  raster_stream* stream = our_stream(raster);
  if (!stream) return next(raster, pixels, length);
  // Pages the service does not convert end here; the job is aborted with the reason when it ends.
  if (stream->lines_left == 0 || !stream->convertible) return 0;
  if (stream->repeats_left > 0) {
    --stream->repeats_left;
    --stream->lines_left;
    return length;
  }
  uint32_t copies = 0;
  unread_line line;
  if (!raster_format::read_line(stream->source, stream->layout, copies, line)) {
    note_raster_problem("the raster document is cut short on page " + std::to_string(stream->pages));
    stream->lines_left = 0;
    return 0;
  }
  --stream->lines_left;
  stream->repeats_left = std::min(copies - 1, stream->lines_left);
  return length;
}

extern "C" void cupsRasterClose(cups_raster_t* raster) {
  static const auto next = next_definition<void (*)(cups_raster_t*)>("cupsRasterClose");
  raster_stream* stream = our_stream(raster);
  if (!stream) {
    next(raster);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(streams_mutex);
    streams.erase(raster);
  }
  delete stream;
}
