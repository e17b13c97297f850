// What a hostile device on the network sends to the real quorvane-service: requests written byte by byte
// (ipp_raw_request.h) that libcups would never write, and bodies that end before what they declare. Each
// test sends the bytes that once stopped or misled the service and checks the answer the device gets, what
// reaches the console, and that the service goes on (and ends cleanly, without a sanitizer's report).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "ipp_fixture.h"
#include "ipp_raw_request.h"
#include "raster_documents.h"

namespace quorvane::print_service::testing {
namespace {

struct malformed_case {
  const char* label;
  std::function<void(request_bytes&)> attributes;  // written after the operation attributes
  const char* refused;                             // the attribute returned as unsupported
  const char* reason;                              // part of the status-message
};

class IppHostile : public ipp_console_test {
 protected:
  // Sends `message` on a new connection and waits for the answer, answering prints meanwhile (a raster
  // job is answered only once the console has). Null when no answer came.
  ipp_response exchange(const std::string& message, int* http_status = nullptr) {
    ipp_response response(nullptr, &ippDelete);
    int status = 0;
    std::atomic<bool> done{false};
    std::thread device([&] {
      raw_connection connection(service_->ipp_port());
      if (connection.connected() && connection.send(message)) response = connection.receive(status);
      done = true;
    });
    EXPECT_TRUE(run_until([&] { return done.load(); }, event_bound)) << "the device got no answer";
    device.join();
    if (http_status) *http_status = status;
    return response;
  }

  // A request for `op` on the printer with the operation attributes of a job of `format`.
  request_bytes job_request(ipp_op_t op, const char* format, const char* job_name = "hostile") {
    request_bytes request(op, printer_uri());
    request.value(IPP_TAG_NAME, "job-name", job_name);
    if (op != IPP_OP_CREATE_JOB) request.value(IPP_TAG_MIMETYPE, "document-format", format);
    return request;
  }
  request_bytes pdf_request(ipp_op_t op, const char* job_name = "hostile") {
    return job_request(op, "application/pdf", job_name);
  }

  // The answer to Get-Job-Attributes of job `id` (null when none came), asked without running the loop.
  ipp_response job_attributes(int id) {
    request_bytes request(IPP_OP_GET_JOB_ATTRIBUTES, printer_uri());
    request.integer("job-id", id);
    raw_connection connection(service_->ipp_port());
    int status = 0;
    if (!connection.connected() || !connection.send(http_post(printer_uri(), request.with_document()))) {
      return {nullptr, &ippDelete};
    }
    return connection.receive(status);
  }

  // The job id of a new Create-Job (0 when it failed).
  int create_job() {
    ipp_response created = exchange(http_post(printer_uri(), pdf_request(IPP_OP_CREATE_JOB).with_document()));
    if (!created || ippGetStatusCode(created.get()) != IPP_STATUS_OK) return 0;
    return ippGetInteger(find_attribute(created.get(), "job-id"), 0);
  }

  // A Send-Document of the last (only) document of job `id`, with the job attributes `job_attributes` adds.
  std::string send_document(int id, const std::function<void(request_bytes&)>& job_attributes) {
    request_bytes request(IPP_OP_SEND_DOCUMENT, printer_uri());
    request.integer("job-id", id).boolean("last-document", true);
    request.value(IPP_TAG_MIMETYPE, "document-format", "application/pdf");
    if (job_attributes) job_attributes(request);
    return http_post(printer_uri(), request.with_document(one_page_pdf()));
  }

  // Sends Print-Job (with a PDF), Validate-Job and Create-Job with the attributes of `c`, and expects each
  // refused with client-error-attributes-or-values-not-supported, the attribute and the reason, no job made.
  void expect_refused_by_job_creation(const malformed_case& c) {
    for (ipp_op_t op : {IPP_OP_PRINT_JOB, IPP_OP_VALIDATE_JOB, IPP_OP_CREATE_JOB}) {
      SCOPED_TRACE(std::string(c.label) + ", " + ippOpString(op));
      request_bytes request = pdf_request(op);
      c.attributes(request);
      ipp_response answer = exchange(
          http_post(printer_uri(), request.with_document(op == IPP_OP_PRINT_JOB ? one_page_pdf() : "")));
      ASSERT_TRUE(answer) << "the service gave no answer";
      EXPECT_EQ(ippGetStatusCode(answer.get()), IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES)
          << ippErrorString(ippGetStatusCode(answer.get())) << ": " << status_message(answer.get());
      EXPECT_NE(find_attribute(answer.get(), c.refused, IPP_TAG_UNSUPPORTED_GROUP), nullptr)
          << "got no " << c.refused << " in the unsupported attributes";
      EXPECT_NE(status_message(answer.get()).find(c.reason), std::string::npos)
          << "got \"" << status_message(answer.get()) << "\", want a message with \"" << c.reason << "\"";
      EXPECT_EQ(find_attribute(answer.get(), "job-id"), nullptr);
    }
  }

  // Cancels job `id`; its status.
  ipp_status_t cancel_job(int id) {
    request_bytes request(IPP_OP_CANCEL_JOB, printer_uri());
    request.integer("job-id", id);
    ipp_response answer = exchange(http_post(printer_uri(), request.with_document()));
    return answer ? ippGetStatusCode(answer.get()) : IPP_STATUS_ERROR_INTERNAL;
  }

  // Whether the printer still answers Get-Printer-Attributes.
  bool printer_answers() {
    request_bytes request(IPP_OP_GET_PRINTER_ATTRIBUTES, printer_uri());
    request.value(IPP_TAG_KEYWORD, "requested-attributes", "printer-state");
    ipp_response answer = exchange(http_post(printer_uri(), request.with_document()));
    return answer && ippGetStatusCode(answer.get()) == IPP_STATUS_OK;
  }
};

// A collection member written without a value: memberAttrName then the next member or endCollection.
request_bytes& media_col_with_bare(request_bytes& r, const char* bare_member) {
  return r.group(IPP_TAG_JOB).begin_collection("media-col").member(bare_member).end_collection();
}

// A media-col with a media-size of `x` by `y` (a dimension below 0 is left out).
request_bytes& media_col_of_size(request_bytes& r, int x, int y) {
  r.group(IPP_TAG_JOB).begin_collection("media-col").member("media-size").begin_collection("");
  if (x >= 0) r.member("x-dimension").integer("", x);
  if (y >= 0) r.member("y-dimension").integer("", y);
  return r.end_collection().end_collection();
}

// Collections that PAPPL 1.3.1 imports into a job (its media import reads a null pointer for several of
// these) are refused in the request hook, before PAPPL runs anything, whichever operation carries them.
TEST_F(IppHostile, MalformedCollectionsAreRefusedBeforePapplSeesThem) {
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  const malformed_case cases[] = {
      // A member without a value, at any depth and in any collection.
      {"media-size without a value", [](request_bytes& r) { media_col_with_bare(r, "media-size"); },
       "media-col", "the member media-size has no value"},
      {"media-source without a value", [](request_bytes& r) { media_col_with_bare(r, "media-source"); },
       "media-col", "the member media-source has no value"},
      {"x-dimension without a value",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB).begin_collection("media-col").member("media-size").begin_collection("");
         r.member("x-dimension").member("y-dimension").integer("", 29700).end_collection().end_collection();
       },
       "media-col", "the member x-dimension has no value"},
      {"client-info member without a value",
       [](request_bytes& r) { r.begin_collection("client-info").member("client-name").end_collection(); },
       "client-info", "the member client-name has no value"},
      {"a member named twice",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB).begin_collection("media-col");
         r.member("media-source").value(IPP_TAG_KEYWORD, "", "main");
         r.member("media-source").value(IPP_TAG_KEYWORD, "", "tray-1").end_collection();
       },
       "media-col", "comes twice"},
      {"collections nested too deep",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB).begin_collection("finishings-col");
         for (int i = 0; i < 9; ++i) r.member("nested").begin_collection("");
         for (int i = 0; i < 10; ++i) r.end_collection();
       },
       "finishings-col", "nest deeper than 8 levels"},
      // Members of media-col of a type or value PAPPL cannot use.
      {"media-size an integer",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB)
             .begin_collection("media-col")
             .member("media-size")
             .integer("", 5)
             .end_collection();
       },
       "media-col", "media-size is of type integer, not a collection"},
      {"media-size of 0 by 0", [](request_bytes& r) { media_col_of_size(r, 0, 0); }, "media-col",
       "the member x-dimension is 0"},
      {"media-size without y-dimension", [](request_bytes& r) { media_col_of_size(r, 21000, -1); },
       "media-col", "has no y-dimension"},
      {"media-size-name of no known size",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB).begin_collection("media-col").member("media-size-name");
         r.value(IPP_TAG_KEYWORD, "", "no_such_size").end_collection();
       },
       "media-col", "names no known size"},
      {"media-source an integer",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB)
             .begin_collection("media-col")
             .member("media-source")
             .integer("", 4)
             .end_collection();
       },
       "media-col", "media-source is of type integer, not a keyword"},
      {"a negative margin",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB).begin_collection("media-col").member("media-top-margin").integer("", -5);
         r.end_collection();
       },
       "media-col", "media-top-margin is -5"},
      {"media-col a keyword",
       [](request_bytes& r) { r.group(IPP_TAG_JOB).value(IPP_TAG_KEYWORD, "media-col", "iso_a4_210x297mm"); },
       "media-col", "not a collection"},
      {"media-col with two values",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB).begin_collection("media-col").end_collection();
         r.begin_collection("").end_collection();
       },
       "media-col", "2 values, not one"},
      // libcups finds attributes whatever their case.
      {"MEDIA-COL in capitals",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB).begin_collection("MEDIA-COL").member("media-size").end_collection();
       },
       "MEDIA-COL", "the member media-size has no value"},
      {"finishing-template an integer",
       [](request_bytes& r) {
         r.group(IPP_TAG_JOB).begin_collection("finishings-col").member("finishing-template").integer("", 4);
         r.end_collection();
       },
       "finishings-col", "finishing-template is of type integer, not a keyword"},
  };
  for (const malformed_case& c : cases) expect_refused_by_job_creation(c);
  const std::string pdf = one_page_pdf();

  // Send-Document adds its own job attributes to the job: the same check applies to them.
  const int id = create_job();
  ASSERT_GT(id, 0);
  ipp_response sent =
      exchange(send_document(id, [](request_bytes& r) { media_col_with_bare(r, "media-size"); }));
  ASSERT_TRUE(sent);
  EXPECT_EQ(ippGetStatusCode(sent.get()), IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES)
      << status_message(sent.get());
  EXPECT_NE(find_attribute(sent.get(), "media-col", IPP_TAG_UNSUPPORTED_GROUP), nullptr);
  EXPECT_EQ(cancel_job(id), IPP_STATUS_OK);

  // Nothing of these reached the console, and the printer goes on: a well-formed media-col (A5 by its
  // size, from the main tray, borderless) prints with that paper.
  EXPECT_TRUE(printer_answers());
  EXPECT_TRUE(console_->record().prints.empty());
  request_bytes good = pdf_request(IPP_OP_PRINT_JOB, "A5 by media-col");
  good.group(IPP_TAG_JOB).begin_collection("media-col");
  good.member("media-size").begin_collection("");
  good.member("x-dimension").integer("", 14800).member("y-dimension").integer("", 21000).end_collection();
  good.member("media-source").value(IPP_TAG_KEYWORD, "", "main");
  for (const char* margin :
       {"media-bottom-margin", "media-left-margin", "media-right-margin", "media-top-margin"})
    good.member(margin).integer("", 0);
  good.end_collection();
  ipp_response printed = exchange(http_post(printer_uri(), good.with_document(pdf)));
  ASSERT_TRUE(printed);
  ASSERT_EQ(ippGetStatusCode(printed.get()), IPP_STATUS_OK) << status_message(printed.get());
  ASSERT_TRUE(run_until([&] { return !console_->record().prints.empty(); }));
  ASSERT_EQ(console_->record().prints.size(), 1u);
  const model::job& job = *console_->record().prints[0].job;
  EXPECT_EQ(job.name().narrow(), "A5 by media-col");
  ASSERT_TRUE(job.media());
  EXPECT_EQ(job.media()->name(), "iso_a5_148x210mm");
}

// The operation-id is 16 bits on the wire; libcups's ipp_op_t holds only the ones up to 0x7fff. Such a
// request is refused like any operation the printers do not take, and the service goes on.
TEST_F(IppHostile, OperationsBeyondWhatIppDefinesAreRefused) {
  for (int op : {0x8000, 0xffff}) {
    SCOPED_TRACE(op);
    request_bytes request(op, printer_uri());
    ipp_response answer = exchange(http_post(printer_uri(), request.with_document()));
    ASSERT_TRUE(answer) << "the service gave no answer";
    EXPECT_EQ(ippGetStatusCode(answer.get()), IPP_STATUS_ERROR_FORBIDDEN) << status_message(answer.get());
    char name[16];
    std::snprintf(name, sizeof(name), "0x%04x", op);
    EXPECT_NE(status_message(answer.get()).find(name), std::string::npos) << status_message(answer.get());
  }
  EXPECT_TRUE(printer_answers());
}

// Sets the 32-bit big-endian word at `offset` of `document`.
void put_word(std::string& document, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) document[offset + i] = static_cast<char>(value >> (24 - 8 * i));
}

// Raster documents for the cases below: `pages` grey pages of 64 x 48 pixels at 300 dpi written by libcups.
std::string grey_raster(cups_mode_t mode, int pages) {
  const page_spec page{
      "sgray_8", 64,  48,
      300,       300, [](unsigned x, unsigned, unsigned) {
                         return static_cast<unsigned char>(x * 4); }};
  return write_with_cups(mode, std::vector<page_spec>(static_cast<size_t>(pages), page));
}

// Offsets in a PWG raster document of the first page header's fields (the sync word comes first).
constexpr size_t first_header = 4;
constexpr size_t pwg_width = first_header + 372;
constexpr size_t pwg_bytes_per_line = first_header + 392;
constexpr size_t pwg_color_order = first_header + 396;
constexpr size_t pwg_color_space = first_header + 400;
constexpr size_t pwg_total_page_count = first_header + 452;
constexpr size_t pwg_duplex = 272;  // from the start of a page header

struct raster_case {
  const char* label;
  const char* format;
  std::function<std::string()> document;
  const char* reason;  // part of the job-state-message
};

// Raster page headers are read as integers and checked before any field becomes one of libcups's
// enumerations (a colour order of 7 was undefined behaviour); a document with a header the service cannot
// read, or with fewer pages than it declares, is aborted with document-format-error and the reason, and
// none of its pages reaches the console.
TEST_F(IppHostile, RasterDocumentsWithBadHeadersOrMissingPagesAreAbortedWithTheReason) {
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  const raster_case cases[] = {
      // Enumerated fields out of their range.
      {"colour order 7", "image/pwg-raster",
       [] {
         std::string d = grey_raster(CUPS_RASTER_WRITE_PWG, 1);
         put_word(d, pwg_color_order, 7);
         return d;
       },
       "page 1: its cupsColorOrder is 7, not 0 to 2"},
      {"colour space 99", "image/pwg-raster",
       [] {
         std::string d = grey_raster(CUPS_RASTER_WRITE_PWG, 1);
         put_word(d, pwg_color_space, 99);
         return d;
       },
       "page 1: its colour space 99 is none that PWG raster defines"},
      {"Duplex 2 on page 2 (page 1 is not delivered either)", "image/pwg-raster",
       [] {
         std::string second = grey_raster(CUPS_RASTER_WRITE_PWG, 1);
         put_word(second, first_header + pwg_duplex, 2);
         return grey_raster(CUPS_RASTER_WRITE_PWG, 1) + second.substr(first_header);
       },
       "page 2: its Duplex is 2, not 0 to 1"},
      // Layouts that cannot be read.
      {"width 0", "image/pwg-raster",
       [] {
         std::string d = grey_raster(CUPS_RASTER_WRITE_PWG, 1);
         put_word(d, pwg_width, 0);
         put_word(d, pwg_bytes_per_line, 0);
         return d;
       },
       "page 1: the page has no size"},
      {"bytes per line beyond the width", "image/pwg-raster",
       [] {
         std::string d = grey_raster(CUPS_RASTER_WRITE_PWG, 1);
         put_word(d, pwg_bytes_per_line, 65);
         return d;
       },
       "page 1: its lines of 65 bytes do not hold 64 pixels of 8 bits"},
      // Pages missing.
      {"Apple raster declaring 4294967295 pages, holding 3", "image/urf",
       [] {
         std::string d = grey_raster(CUPS_RASTER_WRITE_APPLE, 3);
         put_word(d, 8, 0xffffffffu);
         return d;
       },
       "the raster document declares 4294967295 pages and ends after 3"},
      {"PWG raster declaring 5 pages, holding 2", "image/pwg-raster",
       [] {
         std::string d = grey_raster(CUPS_RASTER_WRITE_PWG, 2);
         put_word(d, pwg_total_page_count, 5);
         return d;
       },
       "the raster document declares 5 pages and ends after 2"},
  };
  for (const raster_case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string document = c.document();
    ipp_response printed = exchange(
        http_post(printer_uri(), job_request(IPP_OP_PRINT_JOB, c.format, c.label).with_document(document)));
    ASSERT_TRUE(printed) << "the service gave no answer";
    const int id = ippGetInteger(find_attribute(printed.get(), "job-id"), 0);
    ASSERT_GT(id, 0) << ippErrorString(ippGetStatusCode(printed.get())) << ": "
                     << status_message(printed.get());
    ipp_response job = job_attributes(id);
    ASSERT_TRUE(job);
    EXPECT_EQ(ippGetInteger(find_attribute(job.get(), "job-state"), 0), IPP_JSTATE_ABORTED);
    const char* message = ippGetString(find_attribute(job.get(), "job-state-message"), 0, nullptr);
    EXPECT_NE(std::string(message ? message : "").find(c.reason), std::string::npos)
        << "got \"" << (message ? message : "") << "\", want a message with \"" << c.reason << "\"";
    EXPECT_TRUE(ippContainsString(find_attribute(job.get(), "job-state-reasons"), "document-format-error"));
  }
  // None reached the console; a whole raster document still does.
  ASSERT_TRUE(console_->settle(loop_));
  EXPECT_TRUE(console_->record().prints.empty());
  ipp_response whole =
      exchange(http_post(printer_uri(), job_request(IPP_OP_PRINT_JOB, "image/urf", "whole")
                                            .with_document(grey_raster(CUPS_RASTER_WRITE_APPLE, 3))));
  ASSERT_TRUE(whole);
  EXPECT_EQ(ippGetStatusCode(whole.get()), IPP_STATUS_OK) << status_message(whole.get());
  ASSERT_EQ(console_->record().prints.size(), 1u);
  EXPECT_EQ(console_->record().prints[0].job->name().narrow(), "whole");
}

struct cut_short_case {
  const char* label;
  std::function<std::string(const std::string& uri, const std::string& body)> message;
  const char* format;
  std::string document;
};

// A device that closes its connection before what it declared has arrived (a Content-Length larger than
// what it sends, or chunks without the last, empty one) never heard an answer and sends the job again: the
// document is cut short, its job aborted, and nothing of it is queued or reaches the console, even when
// what arrived is a whole PDF or whole raster pages.
TEST_F(IppHostile, ADocumentCutShortByTheConnectionIsNeverQueued) {
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  const cut_short_case cases[] = {
      {"Content-Length 100,000 bytes beyond a whole PDF",
       [](const std::string& uri, const std::string& body) {
         return http_post(uri, body, static_cast<int64_t>(body.size()) + 100000);
       },
       "application/pdf", one_page_pdf()},
      {"a whole PDF in chunks without the last chunk",
       [](const std::string& uri, const std::string& body) { return http_post_chunked(uri, body, false); },
       "application/pdf", one_page_pdf()},
      {"two whole raster pages in chunks without the last chunk",
       [](const std::string& uri, const std::string& body) { return http_post_chunked(uri, body, false); },
       "image/pwg-raster", grey_raster(CUPS_RASTER_WRITE_PWG, 2)},
  };
  int job_id = 0;
  for (const cut_short_case& c : cases) {
    SCOPED_TRACE(c.label);
    ++job_id;  // the printer numbers its jobs from 1
    {
      raw_connection device(service_->ipp_port());
      ASSERT_TRUE(device.connected());
      ASSERT_TRUE(device.send(c.message(
          printer_uri(), job_request(IPP_OP_PRINT_JOB, c.format, c.label).with_document(c.document))));
    }
    // The job ends aborted once the service has seen the connection end.
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    ASSERT_TRUE(run_until(
        [&] {
          ipp_response job = job_attributes(job_id);
          state = job ? static_cast<ipp_jstate_t>(ippGetInteger(find_attribute(job.get(), "job-state"), 0))
                      : IPP_JSTATE_PENDING;
          return state >= IPP_JSTATE_CANCELED;
        },
        event_bound));
    EXPECT_EQ(state, IPP_JSTATE_ABORTED);
  }
  ASSERT_TRUE(console_->settle(loop_));
  EXPECT_TRUE(console_->record().prints.empty()) << "a document cut short reached the console";
  EXPECT_EQ(files_in(service_->data_folder() + "/spool"), std::vector<std::string>{}) << "nothing is queued";
}

// A document declared larger than the spool can take is refused before a byte of it is read, and the
// device hears it at once while it holds the connection open with the rest of the body unsent: PAPPL does
// not first read (and drop) a body of the declared size. The connection ends after the answer. The log
// names the device and the declared size.
TEST_F(IppHostile, ADocumentDeclaredTooLargeIsRefusedAtOnce) {
  const struct {
    const char* content_length;
    const char* needs;  // in the log
  } cases[] = {
      {"214748364800", "needs 204800 MiB"},                  // 200 GiB
      {"9223372036854775807", "needs 8796093022208 MiB"},    // 2^63 - 1
      {"18446744073709551615", "needs 17592186044416 MiB"},  // 2^64 - 1
  };
  const std::string pdf = one_page_pdf();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content_length);
    std::string message = http_post(printer_uri(), pdf_request(IPP_OP_PRINT_JOB).with_document(pdf));
    const size_t length = message.find("Content-Length: ") + 16;
    message.replace(length, message.find("\r\n", length) - length, c.content_length);
    raw_connection device(service_->ipp_port());
    ASSERT_TRUE(device.connected());
    ASSERT_TRUE(device.send(message));
    int http_status = 0;
    ipp_response answer = device.receive(http_status);
    ASSERT_TRUE(answer) << "the device heard nothing while it held the connection open";
    EXPECT_EQ(ippGetStatusCode(answer.get()), IPP_STATUS_ERROR_REQUEST_ENTITY)
        << ippErrorString(ippGetStatusCode(answer.get())) << ": " << status_message(answer.get());
    EXPECT_NE(status_message(answer.get()).find("does not fit into the print service's spool"),
              std::string::npos)
        << status_message(answer.get());
    EXPECT_TRUE(device.closed_by_peer()) << "the connection stays open after the answer";
    const std::string log = read_file(service_->log_file());
    EXPECT_NE(log.find("IPP document from 127.0.0.1 refused"), std::string::npos) << log;
    EXPECT_NE(log.find(c.needs), std::string::npos) << "got no \"" << c.needs << "\" in the log";
  }
  EXPECT_TRUE(printer_answers());
}

// A stop with devices in the middle of things: a job whose Send-Document never comes, a request sent in
// part, a document being uploaded, a device watching notifications. PAPPL 1.3.1 waited a minute for the
// job without a document and freed its system under client threads still serving connections; the stop
// now ends those jobs and connections and waits for the threads, and the service ends cleanly.
TEST_F(IppHostile, AStopEndsJobsWaitingForADocumentAndTheConnectionsStillOpen) {
  const int waiting = create_job();
  ASSERT_GT(waiting, 0);

  // A device that waits for notifications is answered at once, told when to ask again.
  request_bytes subscribe(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, printer_uri());
  subscribe.group(IPP_TAG_SUBSCRIPTION).value(IPP_TAG_KEYWORD, "notify-pull-method", "ippget");
  subscribe.value(IPP_TAG_KEYWORD, "notify-events", "printer-state-changed");
  raw_connection watcher(service_->ipp_port());
  ASSERT_TRUE(watcher.connected());
  ASSERT_TRUE(watcher.send(http_post(printer_uri(), subscribe.with_document())));
  int http_status = 0;
  ipp_response subscribed = watcher.receive(http_status);
  ASSERT_TRUE(subscribed);
  const int subscription = ippGetInteger(find_attribute(subscribed.get(), "notify-subscription-id"), 0);
  ASSERT_GT(subscription, 0) << status_message(subscribed.get());
  request_bytes notifications(IPP_OP_GET_NOTIFICATIONS, printer_uri());
  notifications.integer("notify-subscription-ids", subscription).boolean("notify-wait", true);
  ASSERT_TRUE(watcher.send(http_post(printer_uri(), notifications.with_document())));
  ipp_response notified = watcher.receive(http_status);
  ASSERT_TRUE(notified) << "Get-Notifications was not answered";
  EXPECT_LT(ippGetStatusCode(notified.get()), IPP_STATUS_ERROR_BAD_REQUEST) << status_message(notified.get());
  EXPECT_GT(ippGetInteger(find_attribute(notified.get(), "notify-get-interval"), 0), 0);
  ASSERT_TRUE(watcher.send(http_post(printer_uri(), notifications.with_document())));  // waits no more either

  // Half a request, and a document of 100 KB of which 10 KB came.
  raw_connection half(service_->ipp_port());
  ASSERT_TRUE(half.connected());
  const std::string request = http_post(printer_uri(), pdf_request(IPP_OP_PRINT_JOB).with_document());
  ASSERT_TRUE(half.send(request.substr(0, request.size() / 2)));
  raw_connection uploading(service_->ipp_port());
  ASSERT_TRUE(uploading.connected());
  std::string pdf = one_page_pdf();
  pdf.resize(10000, ' ');
  ASSERT_TRUE(uploading.send(
      http_post(printer_uri(), pdf_request(IPP_OP_PRINT_JOB, "uploading").with_document(pdf), 100000)));
  ASSERT_TRUE(printer_answers());  // the service has read what was sent

  console_.reset();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(service_->stop(), 0) << "the service did not end cleanly";
  std::cout << "stop took "
            << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                   .count()
            << " ms\n";
  const std::string log = read_file(service_->log_file());
  EXPECT_NE(log.find("IPP job " + std::to_string(waiting) + " ended without its document"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("did not end"), std::string::npos) << log;
  EXPECT_TRUE(half.closed_by_peer());
  EXPECT_TRUE(uploading.closed_by_peer());
}

// What a device leaves half done is freed by the time the service ends, which the sanitizer build's leak
// check at the service's end shows: a printer's device that PAPPL kept open because a job ended while
// another waited for its document, and bodies coded with gzip whose connection ended before the coding did
// (libcups frees a connection's decoder only at the end of its body).
TEST_F(IppHostile, WhatADeviceLeavesHalfDoneIsFreedByTheEnd) {
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  const int waiting = create_job();
  ASSERT_GT(waiting, 0);
  ipp_response printed =
      exchange(http_post(printer_uri(), pdf_request(IPP_OP_PRINT_JOB).with_document(one_page_pdf())));
  ASSERT_TRUE(printed);
  ASSERT_EQ(ippGetStatusCode(printed.get()), IPP_STATUS_OK) << status_message(printed.get());
  ASSERT_TRUE(run_until([&] { return console_->record().prints.size() == 1; }, event_bound));

  const std::string gzip_header("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
  for (int i = 0; i < 3; ++i) {
    std::string coded = http_post(printer_uri(), gzip_header, 5000);
    coded.insert(coded.find("\r\n") + 2, "Content-Encoding: gzip\r\n");
    raw_connection device(service_->ipp_port());
    ASSERT_TRUE(device.connected());
    ASSERT_TRUE(device.send(coded));
  }
  ASSERT_TRUE(printer_answers());

  console_.reset();
  EXPECT_EQ(service_->stop(), 0) << "the service did not end cleanly:\n" << read_file(service_->log_file());
}

// Two subscription groups in one request made PAPPL loop for ever on the separator between them, adding
// to its answer until memory ran out (found by fuzz_ipp_requests). One subscription per request is taken;
// more are refused with the reason, and one alone still works.
TEST_F(IppHostile, OneSubscriptionIsTakenPerRequest) {
  const auto subscription = [](request_bytes& r) -> request_bytes& {
    r.group(IPP_TAG_SUBSCRIPTION).value(IPP_TAG_KEYWORD, "notify-pull-method", "ippget");
    return r.value(IPP_TAG_KEYWORD, "notify-events", "printer-state-changed");
  };
  request_bytes two(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, printer_uri());
  subscription(subscription(two));
  ipp_response refused = exchange(http_post(printer_uri(), two.with_document()));
  ASSERT_TRUE(refused) << "the service gave no answer";
  EXPECT_EQ(ippGetStatusCode(refused.get()), IPP_STATUS_ERROR_BAD_REQUEST) << status_message(refused.get());
  EXPECT_NE(status_message(refused.get()).find("One subscription"), std::string::npos)
      << status_message(refused.get());

  request_bytes one(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, printer_uri());
  subscription(one);
  ipp_response taken = exchange(http_post(printer_uri(), one.with_document()));
  ASSERT_TRUE(taken);
  EXPECT_EQ(ippGetStatusCode(taken.get()), IPP_STATUS_OK) << status_message(taken.get());
  EXPECT_GT(ippGetInteger(find_attribute(taken.get(), "notify-subscription-id"), 0), 0);
  EXPECT_TRUE(printer_answers());
}

// The printers offer 1 to 999 copies, and a request for more (or for a "copies" that is no count) is refused
// wherever it stands: PAPPL checks only the first "copies" of a job-creating request, so a second one in the
// job group, or one in the job attributes of Send-Document, reached the job (2,000,000,000 copies made the
// console print the document that many times).
TEST_F(IppHostile, CopiesBeyond999AndEnumsOutOfRangeAreRefusedWhereverTheyStand) {
  observe();
  answer_for = [](const model::job&) { return answer{0, 9, 1}; };
  request_bytes attributes(IPP_OP_GET_PRINTER_ATTRIBUTES, printer_uri());
  attributes.value(IPP_TAG_KEYWORD, "requested-attributes", "copies-supported");
  ipp_response printer = exchange(http_post(printer_uri(), attributes.with_document()));
  ASSERT_TRUE(printer);
  int upper = 0;
  EXPECT_EQ(ippGetRange(find_attribute(printer.get(), "copies-supported"), 0, &upper), 1);
  EXPECT_EQ(upper, 999);

  const malformed_case cases[] = {
      {"2,000,000,000 copies", [](request_bytes& r) { r.group(IPP_TAG_JOB).integer("copies", 2000000000); },
       "copies", "2000000000 is not from 1 to 999"},
      {"1 copy, then 2,000,000,000 in the job group",
       [](request_bytes& r) { r.integer("copies", 1).group(IPP_TAG_JOB).integer("copies", 2000000000); },
       "copies", "2000000000 is not from 1 to 999"},
      {"1,000 copies", [](request_bytes& r) { r.group(IPP_TAG_JOB).integer("copies", 1000); }, "copies",
       "1000 is not from 1 to 999"},
      {"0 copies", [](request_bytes& r) { r.group(IPP_TAG_JOB).integer("copies", 0); }, "copies",
       "0 is not from 1 to 999"},
      {"copies as a keyword",
       [](request_bytes& r) { r.group(IPP_TAG_JOB).value(IPP_TAG_KEYWORD, "copies", "many"); }, "copies",
       "not one integer"},
      {"Copies in capitals", [](request_bytes& r) { r.group(IPP_TAG_JOB).integer("Copies", 5000); }, "Copies",
       "5000 is not from 1 to 999"},
      // PAPPL copies these two into enumerations unchecked.
      {"print-quality 5963781",
       [](request_bytes& r) { r.group(IPP_TAG_JOB).integer("print-quality", 5963781, IPP_TAG_ENUM); },
       "print-quality", "5963781 is not from 3 to 5"},
      {"print-quality as an integer",
       [](request_bytes& r) { r.group(IPP_TAG_JOB).integer("print-quality", 4); }, "print-quality",
       "not one enum"},
      {"orientation-requested 0",
       [](request_bytes& r) { r.group(IPP_TAG_JOB).integer("orientation-requested", 0, IPP_TAG_ENUM); },
       "orientation-requested", "0 is not from 3 to 7"},
  };
  for (const malformed_case& c : cases) expect_refused_by_job_creation(c);
  const std::string pdf = one_page_pdf();
  const int id = create_job();
  ASSERT_GT(id, 0);
  ipp_response sent = exchange(
      send_document(id, [](request_bytes& r) { r.group(IPP_TAG_JOB).integer("copies", 2000000000); }));
  ASSERT_TRUE(sent);
  EXPECT_EQ(ippGetStatusCode(sent.get()), IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES)
      << status_message(sent.get());
  EXPECT_EQ(cancel_job(id), IPP_STATUS_OK);
  EXPECT_TRUE(console_->record().prints.empty());

  // 999 copies are taken.
  request_bytes most = pdf_request(IPP_OP_PRINT_JOB, "999 copies");
  most.group(IPP_TAG_JOB).integer("copies", 999);
  ipp_response printed = exchange(http_post(printer_uri(), most.with_document(pdf)));
  ASSERT_TRUE(printed);
  EXPECT_EQ(ippGetStatusCode(printed.get()), IPP_STATUS_OK) << status_message(printed.get());
  ASSERT_TRUE(run_until([&] { return !console_->record().prints.empty(); }));
  EXPECT_EQ(console_->record().prints[0].job->copies(), 999);
}

// libcups reads nested collections by recursion, a kilobyte of stack a level: a request of 110 KB nesting
// 10,000 collections stopped the service. Nesting is bounded while the request is read (a request nesting
// too deep is answered 400 Bad Request), and the request hook refuses more than 8 levels once it is read.
TEST_F(IppHostile, DeeplyNestedCollectionsAreRefusedWhileTheRequestIsRead) {
  for (int depth : {20, 10000, 100000}) {
    SCOPED_TRACE(depth);
    request_bytes request = pdf_request(IPP_OP_VALIDATE_JOB);
    request.group(IPP_TAG_JOB).begin_collection("client-info");
    for (int i = 0; i < depth; ++i) request.member("nested").begin_collection("");
    for (int i = 0; i <= depth; ++i) request.end_collection();
    int http_status = 0;
    ipp_response answer = exchange(http_post(printer_uri(), request.with_document()), &http_status);
    if (depth == 20) {
      ASSERT_TRUE(answer);
      EXPECT_EQ(ippGetStatusCode(answer.get()), IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES)
          << status_message(answer.get());
    } else {
      EXPECT_EQ(http_status, HTTP_STATUS_BAD_REQUEST);
    }
    EXPECT_TRUE(printer_answers());
  }
}

}  // namespace
}  // namespace quorvane::print_service::testing
