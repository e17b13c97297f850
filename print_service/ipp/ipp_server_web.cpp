// The printers' web page on the IPP port, for a device that does not speak IPP: "/" lists the printers,
// "/printers/<path>" offers "Print a document", and a document sent there becomes a job of the service's
// queue as a device's IPP job does. Plain HTML forms: no script, one column that fits a phone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/json_text.h"
#include "core/log.h"
#include "model/document_formats.h"
#include "model/phone_names.h"
#include "model/values.h"
#include "print_service/ipp/ipp_client_address.h"
#include "print_service/ipp/ipp_request_hooks.h"
#include "print_service/ipp/ipp_server.h"
#include "print_service/ipp/ipp_server_p.h"
#include "print_service/ipp/web_form.h"
#include "print_service/store/spool.h"

namespace quorvane::print_service {

using namespace ipp_detail;

namespace {

constexpr std::string_view page_prefix = "/printers/";
constexpr const char* file_field = "file";
// How much of a document is written between two looks at the spool's room.
constexpr uint64_t room_check_interval = 1 << 20;
// How long a page waits for the queue to take a document.
constexpr auto queue_wait = std::chrono::seconds(30);

std::string html(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// A whole page: `title` and `body` (HTML).
std::string page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<title>" +
         html(title) +
         "</title><style>"
         "body{font-family:system-ui,sans-serif;margin:0 auto;padding:1em;max-width:32em;line-height:1.4;"
         "color:#222;background:#fff}"
         "h1{font-size:1.4em;margin:.2em 0 .6em}h2{font-size:1.15em}"
         "a{color:#0757b0}ul.printers{list-style:none;padding:0}"
         "ul.printers li{border:1px solid #ccd;border-radius:.5em;margin:.5em 0}"
         "ul.printers a{display:block;padding:.8em;text-decoration:none;font-weight:600}"
         "ul.printers span{display:block;font-weight:400;color:#555;font-size:.9em}"
         "label{display:block;margin:1em 0 .3em;font-weight:600}"
         "input,select,button{font-size:1em;width:100%;box-sizing:border-box;padding:.6em}"
         "button{margin-top:1.5em;background:#0757b0;color:#fff;border:0;border-radius:.4em;font-weight:600}"
         "p.note{color:#555;font-size:.9em}"
         ".result{padding:.8em;border-radius:.4em;margin:1em 0}"
         ".done{background:#e6f4ea;border:1px solid #7bc48e}.refused{background:#fdecea;border:1px solid "
         "#e59a93}"
         "</style></head><body>" +
         body + "</body></html>\n";
}

// Answers with `status` and the page `text`. False when the answer could not be written.
bool respond(pappl_client_t* client, http_status_t status, const std::string& text) {
  if (!papplClientRespond(client, status, nullptr, "text/html; charset=utf-8", 0, text.size())) return false;
  return httpWrite2(papplClientGetHTTP(client), text.data(), text.size()) ==
             static_cast<ssize_t>(text.size()) &&
         httpFlushWrite(papplClientGetHTTP(client)) >= 0;
}

std::string name_of(const Json::Value& printer) {
  return model::phone_name(string_member(printer, "displayName"), string_member(printer, "name"),
                           string_member(printer, "uuid"));
}

// The printer's medium named `name` among its enabled media; null when it has none of that name.
const Json::Value* medium_named(const std::vector<Json::Value>& media, const std::string& name) {
  for (const Json::Value& m : media) {
    if (string_member(m, "name") == name) return &m;
  }
  return nullptr;
}

// Whether only the people of the printer's access list may print on it. They sign in over IPP with TLS,
// which this page does not offer yet: such a printer takes no documents from it.
bool has_access_list(const Json::Value& printer) {
  const Json::Value& acl = printer["acl"];
  return !acl.isNull() && !(acl.isArray() && acl.empty()) && !(acl.isString() && acl.asString().empty()) &&
         !(acl.isObject() && acl.empty());
}

// The printer's page: its name, and the form when it takes jobs; `result` (HTML) above the form.
std::string printer_page(const Json::Value& printer, bool takes_jobs, const std::string& result) {
  const std::string name = name_of(printer);
  std::string body = "<p><a href=\"/\">All printers</a></p><h1>" + html(name) + "</h1>";
  if (const std::string location = string_member(printer, "location"); !location.empty())
    body += "<p>" + html(location) + "</p>";
  body += result;
  if (!takes_jobs) {
    body += "<p class=\"result refused\">This printer takes no jobs at the moment.</p>";
    return page(name, body);
  }
  if (has_access_list(printer)) {
    body +=
        "<p class=\"result refused\">Only the people this printer is shared with may print on it: print "
        "from a phone, tablet or computer that signs in to it.</p>";
    return page(name, body);
  }
  body +=
      "<h2>Print a document</h2><form method=\"post\" enctype=\"multipart/form-data\" action=\"" +
      std::string(page_prefix) + html(model::printer_path(string_member(printer, "uuid"))) +
      "\"><label for=\"file\">Document (PDF, JPEG or PNG)</label><input id=\"file\" type=\"file\" name=\"" +
      file_field +
      "\" accept=\"application/pdf,image/jpeg,image/png,.pdf,.jpg,.jpeg,.png\" required>"
      "<label for=\"copies\">Copies</label><input id=\"copies\" type=\"number\" name=\"copies\" min=\"1\" "
      "max=\"" +
      std::to_string(model::max_copies) + "\" value=\"1\" required>";
  std::vector<Json::Value> media = enabled_media(printer);
  if (!media.empty()) {
    body += "<label for=\"media\">Paper size</label><select id=\"media\" name=\"media\">";
    for (const Json::Value& m : media) {
      const std::string medium = string_member(m, "name");
      std::string label = string_member(m, "displayName");
      if (label.empty()) label = medium;
      body += "<option value=\"" + html(medium) + "\">" + html(label) + "</option>";
    }
    body += "</select>";
  }
  body +=
      "<button type=\"submit\">Print</button></form>"
      "<p class=\"note\">The document goes to the computer that shares this printer.</p>";
  return page(name, body);
}

// `file_name` without its extension when that is the one of `format` (".jpeg" counts as ".jpg"), in any case;
// the whole name when nothing would be left.
std::string without_format_extension(const std::string& file_name, const model::document_format& format) {
  const size_t dot = file_name.rfind('.');
  if (dot == std::string::npos || dot == 0) return file_name;
  std::string extension = file_name.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".jpeg") extension = ".jpg";
  return extension == format.extension ? file_name.substr(0, dot) : file_name;
}

std::string result_box(bool done, const std::string& text) {
  return std::string("<p class=\"result ") + (done ? "done" : "refused") + "\" role=\"status\">" +
         html(text) + "</p>";
}

// A document being received into the IPP spool: a file without a name, checked as it grows.
struct upload {
  std::string folder;  // the spool
  std::string path;    // the file, until it is queued
  int fd = -1;
  std::string file_name;
  std::string head;  // the first bytes, until the format is known
  std::string format;
  uint64_t written = 0;
  uint64_t allowance = 0;
  http_status_t status = HTTP_STATUS_OK;  // a refusal's status, with `refusal`
  std::string refusal;

  ~upload() {
    if (fd >= 0) close(fd);
  }

  bool refuse(http_status_t code, std::string why) {
    status = code;
    refusal = std::move(why);
    return false;
  }

  bool start(const std::string& name) {
    if (name.empty()) return refuse(HTTP_STATUS_BAD_REQUEST, "No document was chosen.");
    file_name = name;
    // A file without a name, so that nothing is left when the service ends mid-document; the queue reads
    // it through the descriptor's name in /proc.
    std::string pattern = folder + "/web-XXXXXX";
    fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
      return refuse(HTTP_STATUS_SERVER_ERROR,
                    "The print service cannot keep the document: " + std::string(std::strerror(errno)) + ".");
    }
    unlink(pattern.c_str());
    path = "/proc/self/fd/" + std::to_string(fd);
    return true;
  }

  // Decides the format from the first bytes (all of them once the file has ended: `final`).
  bool decide(bool final) {
    if (!format.empty() || (!final && head.size() < 8)) return true;
    const model::document_format* known = model::document_format_of(head);
    if (!known || !known->from_devices || !model::is_handed_over(*known)) {
      return refuse(HTTP_STATUS_UNSUPPORTED_MEDIATYPE,
                    "Unable to print '" + file_name +
                        "': it is not a PDF, JPEG or PNG document, and the printer " + "takes only those.");
    }
    format = known->mime_type;
    return write_out(head);
  }

  bool write_out(std::string_view bytes) {
    if (allowance < bytes.size()) {
      std::string cause;
      if (!spool_has_room(folder, written + room_check_interval + bytes.size(), cause)) {
        return refuse(HTTP_STATUS_REQUEST_TOO_LARGE,
                      "The document does not fit into the print service's spool: " + cause + ".");
      }
      allowance = room_check_interval + bytes.size();
    }
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        return refuse(HTTP_STATUS_SERVER_ERROR, "The print service cannot keep the document: " +
                                                    std::string(std::strerror(errno)) + ".");
      }
      done += static_cast<size_t>(n);
    }
    written += bytes.size();
    allowance -= bytes.size();
    return true;
  }

  bool bytes(std::string_view data) {
    if (!format.empty()) return write_out(data);
    head.append(data);
    return decide(/*final=*/false);
  }
};

}  // namespace

void ipp_server::add_pages(const std::vector<Json::Value>& printers) {
  std::map<std::string, Json::Value> pages;
  for (const Json::Value& p : printers) {
    const std::string uuid = string_member(p, "uuid");
    if (uuid.empty() || uuid.find('\0') != std::string::npos) continue;
    const std::string path = std::string(page_prefix) + model::printer_path(uuid);
    pages[path] = p;
    // PAPPL finds a resource by its exact path. A page stays registered for the run (PAPPL frees a removed
    // resource while a connection may be serving it); a printer that is gone gets "not found".
    if (page_paths_.insert(path).second) {
      papplSystemAddResourceCallback(system_, path.c_str(), "text/html", &ipp_server::web_page, this);
    }
  }
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->pages = std::move(pages);
}

bool ipp_server::web_page(pappl_client_t* client, void* context) {
  return static_cast<ipp_server*>(context)->serve_page(client);
}

bool ipp_server::serve_page(pappl_client_t* client) {
  const std::string uri = papplClientGetURI(client) ? papplClientGetURI(client) : "";
  const bool post = papplClientGetMethod(client) == HTTP_STATE_POST;
  if (uri == "/") {
    if (post)
      return respond(client, HTTP_STATUS_METHOD_NOT_ALLOWED,
                     page("Printers", "<p>Nothing to send here.</p>"));
    return respond(client, HTTP_STATUS_OK, printer_list());
  }
  std::string path = uri;
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  Json::Value printer;
  bool takes_jobs = false;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    const auto found = shared_->pages.find(path);
    if (found != shared_->pages.end()) {
      printer = found->second;
      takes_jobs = shared_->records.count(string_member(printer, "uuid")) > 0;
    }
  }
  if (printer.isNull()) {
    // The body of a POST is not read: the connection ends after the answer.
    return respond(client, HTTP_STATUS_NOT_FOUND,
                   page("No such printer",
                        "<p><a href=\"/\">All printers</a></p><h1>No such printer</h1>"
                        "<p>This computer shares no printer at this address.</p>")) &&
           !post;
  }
  if (!post) return respond(client, HTTP_STATUS_OK, printer_page(printer, takes_jobs, ""));
  if (!takes_jobs) {
    QV_LOG(log_warning, "Web document from %s refused: printer '%s' takes no jobs",
           client_address(papplClientGetHTTP(client)).c_str(), name_of(printer).c_str());
    respond(client, HTTP_STATUS_SERVICE_UNAVAILABLE,
            printer_page(printer, false, result_box(false, "The document was not printed.")));
    close_gently(papplClientGetHTTP(client));
    return false;
  }
  if (has_access_list(printer)) {
    QV_LOG(log_warning, "Web document from %s refused: printer '%s' has an access list",
           client_address(papplClientGetHTTP(client)).c_str(), name_of(printer).c_str());
    respond(client, HTTP_STATUS_FORBIDDEN,
            printer_page(printer, true, result_box(false, "The document was not printed.")));
    close_gently(papplClientGetHTTP(client));
    return false;
  }
  return receive_document(client, printer);
}

std::string ipp_server::printer_list() {
  std::vector<Json::Value> printers;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    for (const auto& [uuid, record] : shared_->records) printers.push_back(record);
  }
  std::sort(printers.begin(), printers.end(),
            [](const Json::Value& a, const Json::Value& b) { return name_of(a) < name_of(b); });
  std::string body = "<h1>Printers</h1>";
  if (printers.empty()) {
    body += "<p>This computer shares no printer at the moment.</p>";
  } else {
    body += "<p>Choose a printer to print a document on it.</p><ul class=\"printers\">";
    for (const Json::Value& p : printers) {
      body += "<li><a href=\"" + std::string(page_prefix) +
              html(model::printer_path(string_member(p, "uuid"))) + "\">" + html(name_of(p));
      if (const std::string location = string_member(p, "location"); !location.empty())
        body += "<span>" + html(location) + "</span>";
      body += "</a></li>";
    }
    body += "</ul>";
  }
  return page("Printers", body);
}

bool ipp_server::receive_document(pappl_client_t* client, const Json::Value& printer) {
  http_t* http = papplClientGetHTTP(client);
  const std::string address = client_address(http);
  const auto refused = [&](http_status_t status, const std::string& why) {
    QV_LOG(log_warning, "Web document from %s refused: %s", address.c_str(), why.c_str());
    respond(client, status, printer_page(printer, true, result_box(false, why)));
    // What the browser still sends is not read: the connection ends after the answer, gently, so that the
    // browser reads the answer instead of a reset.
    close_gently(http);
    return false;
  };
  const std::optional<std::string> boundary = form_boundary(httpGetField(http, HTTP_FIELD_CONTENT_TYPE));
  if (!boundary) return refused(HTTP_STATUS_BAD_REQUEST, "The page's form did not arrive as a form.");
  // A declared size that the spool cannot take is refused before a byte is read.
  const off_t declared = httpGetLength2(http);
  std::string cause;
  if (declared > 0 && !spool_has_room(spool_folder_, static_cast<uint64_t>(declared), cause)) {
    return refused(HTTP_STATUS_REQUEST_TOO_LARGE,
                   "The document does not fit into the print service's spool: " + cause + ".");
  }

  upload document;
  document.folder = spool_folder_;
  web_form_reader form(
      *boundary, file_field,
      [&](const std::string& name, const std::string&) { return document.start(name); },
      [&](std::string_view bytes) { return document.bytes(bytes); });
  char buffer[65536];
  ssize_t bytes = 0;
  while (!form.complete() && (bytes = httpRead2(http, buffer, sizeof buffer)) > 0) {
    if (!form.feed(std::string_view(buffer, static_cast<size_t>(bytes)))) break;
  }
  // What follows the closing boundary (a line break) is read too, so that the connection can serve the
  // next request; a body that goes on is not read further.
  bool body_read = form.complete();
  for (size_t epilogue = 0; body_read && (bytes = httpRead2(http, buffer, sizeof buffer)) > 0;) {
    epilogue += static_cast<size_t>(bytes);
    body_read = epilogue <= web_form_reader::max_header_bytes;
  }
  if (!document.refusal.empty()) return refused(document.status, document.refusal);
  if (!form.error().empty())
    return refused(HTTP_STATUS_BAD_REQUEST, "The form cannot be read: " + form.error() + ".");
  if (!form.complete()) return refused(HTTP_STATUS_BAD_REQUEST, "The form ended before all of it arrived.");
  if (!form.has_file() || document.fd < 0) return refused(HTTP_STATUS_BAD_REQUEST, "No document was chosen.");
  if (!document.decide(/*final=*/true)) return refused(document.status, document.refusal);
  if (const std::string problem = document_problem(document.path, document.format); !problem.empty()) {
    return refused(HTTP_STATUS_BAD_REQUEST, "Unable to print '" + document.file_name + "': " + problem + ".");
  }

  // The choices, checked as a device's would be.
  const auto& fields = form.fields();
  int32_t copies = 1;
  if (const auto found = fields.find("copies"); found != fields.end()) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(found->second.c_str(), &end, 10);
    if (found->second.empty() || *end || errno || value < 1 || value > model::max_copies) {
      return refused(HTTP_STATUS_BAD_REQUEST,
                     "The number of copies must be from 1 to " + std::to_string(model::max_copies) + ".");
    }
    copies = static_cast<int32_t>(value);
  }
  const std::vector<Json::Value> media = enabled_media(printer);
  Json::Value medium = media.empty() ? Json::Value(Json::nullValue) : media.front();
  if (const auto found = fields.find("media"); found != fields.end()) {
    const Json::Value* chosen = medium_named(media, found->second);
    if (!chosen) return refused(HTTP_STATUS_BAD_REQUEST, "The printer has no paper of the size chosen.");
    medium = *chosen;
  }

  device_job job;
  job.printer_uuid = string_member(printer, "uuid");
  job.device_address = address;
  // The job is named after the file without the extension of its format, which its spooled copy gets.
  job.name = without_format_extension(document.file_name, *model::find_document_format(document.format));
  job.user = "anonymous";
  job.format = document.format;
  job.copies = copies;
  job.is_color = (int_member(printer, "color") & model::feature_on) != 0;
  job.orientation = IPP_ORIENT_NONE;
  job.fit_to_page = true;
  if (!medium.isNull()) job.media = medium;
  job.time_at_creation = static_cast<int64_t>(time(nullptr));

  // The queue lives on the run loop's thread: the document is copied into the spool there, then it answers.
  std::shared_ptr<shared_state> shared = shared_;
  auto waiter = std::make_shared<waiting_job>();
  ipp_job_queue* queue = &queue_;
  loop_.post([queue, shared, waiter, job, file = document.path] {
    std::string error;
    const int64_t id = queue->queue_ipp_job(
        job, file, [](int32_t, int32_t, int32_t) {}, error);
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      waiter->queued = true;
      waiter->id = id;
      waiter->error = error;
    }
    shared->changed.notify_all();
  });
  {
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->changed.wait_for(lock, queue_wait, [&] { return waiter->queued || shared->stopping; });
    if (!waiter->queued) {
      lock.unlock();
      return refused(HTTP_STATUS_SERVICE_UNAVAILABLE,
                     "The print service is stopping; the document was not kept.");
    }
    if (waiter->id == 0) {
      const std::string error = waiter->error;
      lock.unlock();
      return refused(HTTP_STATUS_SERVER_ERROR,
                     "Unable to print '" + document.file_name + "': " + error + ".");
    }
  }
  QV_LOG(log_information, "Web document '%s' from %s queued for printer '%s' as job %lld",
         document.file_name.c_str(), address.c_str(), name_of(printer).c_str(),
         static_cast<long long>(waiter->id));
  return respond(
             client, HTTP_STATUS_OK,
             printer_page(printer, true,
                          result_box(true, "'" + document.file_name + "' was sent to " + name_of(printer) +
                                               " (job " + std::to_string(waiter->id) + ")."))) &&
         body_read;
}

}  // namespace quorvane::print_service
