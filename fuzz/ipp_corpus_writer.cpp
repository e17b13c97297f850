// Writes the seed corpus of fuzz_ipp_requests: the requests a phone sends to print, each as the fuzz
// target takes it (see ipp_wire.h), with real documents of every format the printers take.
//   ipp_corpus_writer OUTPUT_FOLDER RASTER_FOLDER
// RASTER_FOLDER holds the raster documents pwg-gray, pwg-rgb and urf-gray (fuzz/corpus/fuzz_raster_pdf).
// jpeglib.h uses size_t and FILE without including what declares them.
#include <cstdio>
#include <cstdlib>

#include <cairo-pdf.h>
#include <cairo.h>
#include <jpeglib.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/ipp_wire.h"

namespace {

using namespace quorvane::fuzz;

cairo_status_t append_to_string(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// A grey square on a page of `width` x `height` points.
void draw(cairo_surface_t* surface, double width, double height) {
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0.3, 0.5, 0.7);
  cairo_rectangle(cr, width / 4, height / 4, width / 2, height / 2);
  cairo_fill(cr);
  cairo_show_page(cr);
  cairo_destroy(cr);
}

std::string pdf_document() {
  std::string pdf;
  cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(append_to_string, &pdf, 144, 144);
  draw(surface, 144, 144);
  draw(surface, 144, 144);
  cairo_surface_destroy(surface);
  return pdf;
}

std::string png_document() {
  std::string png;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 16, 16);
  draw(surface, 16, 16);
  cairo_surface_write_to_png_stream(surface, append_to_string, &png);
  cairo_surface_destroy(surface);
  return png;
}

std::string jpeg_document() {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 16;
  info.image_height = 16;
  info.input_components = 1;
  info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  unsigned char line[16];
  for (unsigned y = 0; y < 16; ++y) {
    for (unsigned x = 0; x < 16; ++x) line[x] = static_cast<unsigned char>(x * 16 + y);
    JSAMPROW row = line;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string jpeg(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return jpeg;
}

std::string gzip(const std::string& data) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "Unable to read file '%s'\n", path.c_str());
    std::exit(1);
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A request of `operation` as a phone sends it; `format` adds document-format, `job_id` job-id (the
// placeholder of the input's last answer).
ipp_message request(uint16_t operation, const std::string& format = {}, bool job_id = false) {
  ipp_message m = ipp_request(operation);
  m.entries.push_back({0x42, "requesting-user-name", "phone-user"});
  if (job_id) m.entries.push_back({0x21, "job-id", std::string(job_id_placeholder)});
  if (!format.empty()) m.entries.push_back({0x49, "document-format", format});
  return m;
}

// The job attributes a phone's print dialog sends.
void add_job_attributes(ipp_message& m) {
  m.entries.push_back({0x42, "job-name", "Holiday photos"});
  m.entries.push_back({0x02, "", ""});
  m.entries.push_back({0x21, "copies", ipp_integer(2)});
  m.entries.push_back({0x44, "sides", "two-sided-long-edge"});
  m.entries.push_back({0x44, "media", "iso_a5_148x210mm"});
  m.entries.push_back({0x44, "print-color-mode", "color"});
  m.entries.push_back({0x23, "orientation-requested", ipp_integer(4)});
  m.entries.push_back({0x33, "page-ranges", ipp_integer(1) + ipp_integer(2)});
  m.entries.push_back({0x23, "print-quality", ipp_integer(5)});
  m.entries.push_back({0x44, "print-scaling", "fit"});
  m.entries.push_back({0x32, "printer-resolution", ipp_integer(300) + ipp_integer(300) + "\x03"});
}

// A media-col with a size, margins, a source and a type.
void add_media_col(ipp_message& m) {
  m.entries.push_back({0x02, "", ""});
  m.entries.push_back({0x34, "media-col", ""});
  m.entries.push_back({0x4a, "", "media-size"});
  m.entries.push_back({0x34, "", ""});
  m.entries.push_back({0x4a, "", "x-dimension"});
  m.entries.push_back({0x21, "", ipp_integer(14800)});
  m.entries.push_back({0x4a, "", "y-dimension"});
  m.entries.push_back({0x21, "", ipp_integer(21000)});
  m.entries.push_back({0x37, "", ""});
  for (const char* margin :
       {"media-top-margin", "media-bottom-margin", "media-left-margin", "media-right-margin"}) {
    m.entries.push_back({0x4a, "", margin});
    m.entries.push_back({0x21, "", ipp_integer(0)});
  }
  m.entries.push_back({0x4a, "", "media-source"});
  m.entries.push_back({0x44, "", "main"});
  m.entries.push_back({0x4a, "", "media-type"});
  m.entries.push_back({0x44, "", "stationery"});
  m.entries.push_back({0x37, "", ""});
}

std::string http(const ipp_message& m, const http_framing& framing = {}) {
  http_request r;
  r.head = ipp_post_head("localhost", printer_resource());
  r.body = write_ipp(m);
  return write_http(r, framing);
}

std::string joined(const std::vector<std::string>& requests) {
  std::string out;
  for (size_t i = 0; i < requests.size(); ++i) {
    if (i > 0) out += request_separator;
    out += requests[i];
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER RASTER_FOLDER\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  const std::string raster = argv[2];
  const std::string pdf = pdf_document();
  const std::string png = png_document();
  const std::string jpeg = jpeg_document();
  const std::string pwg_gray = read_file(raster + "/pwg-gray");
  const std::string pwg_rgb = read_file(raster + "/pwg-rgb");
  const std::string urf = read_file(raster + "/urf-gray");

  constexpr uint16_t print_job = 0x0002, validate_job = 0x0004, create_job = 0x0005, send_document = 0x0006,
                     cancel_job = 0x0008, get_job_attributes = 0x0009, get_jobs = 0x000a,
                     get_printer_attributes = 0x000b, create_printer_subscriptions = 0x0016,
                     get_notifications = 0x001c, identify_printer = 0x003c, cancel_my_jobs = 0x003b;

  std::vector<std::pair<std::string, std::string>> inputs;
  {
    ipp_message m = request(get_printer_attributes);
    m.entries.push_back({0x44, "requested-attributes", "all"});
    m.entries.push_back({0x44, "", "media-col-database"});
    inputs.emplace_back("get-printer-attributes", http(m));
  }
  const auto print = [&](const char* name, const std::string& format, const std::string& document,
                         bool media_col, const http_framing& framing = {}) {
    ipp_message m = request(print_job, format);
    add_job_attributes(m);
    if (media_col) add_media_col(m);
    m.document = document;
    ipp_message status = request(get_job_attributes, {}, true);
    inputs.emplace_back(name, joined({http(m, framing), http(status)}));
  };
  print("print-job-pdf", "application/pdf", pdf, false);
  print("print-job-pdf-media-col", "application/pdf", pdf, true);
  print("print-job-jpeg", "image/jpeg", jpeg, false);
  print("print-job-png", "image/png", png, true);
  print("print-job-pwg-gray", "image/pwg-raster", pwg_gray, false);
  print("print-job-pwg-rgb", "image/pwg-raster", pwg_rgb, true);
  print("print-job-urf", "image/urf", urf, false);
  print("print-job-octet-stream", "application/octet-stream", pdf, false);
  print("print-job-pdf-chunked", "application/pdf", pdf, false, http_framing{true, {100, 977}, true, 0});
  print("print-job-pwg-chunked", "image/pwg-raster", pwg_rgb, false, http_framing{true, {7, 1800}, true, 0});
  {
    ipp_message m = request(print_job, "application/pdf");
    m.entries.push_back({0x44, "compression", "gzip"});
    m.document = gzip(pdf);
    inputs.emplace_back("print-job-pdf-gzip", http(m));
  }
  {
    ipp_message m = request(validate_job, "image/pwg-raster");
    add_job_attributes(m);
    add_media_col(m);
    inputs.emplace_back("validate-job", http(m));
  }
  const auto create_and_send = [&](const char* name, const std::string& format, const std::string& document) {
    ipp_message create = request(create_job);
    add_job_attributes(create);
    ipp_message send = request(send_document, format, true);
    send.entries.push_back({0x22, "last-document", "\x01"});
    send.document = document;
    inputs.emplace_back(name, joined({http(create), http(send)}));
  };
  create_and_send("create-job-send-document-pdf", "application/pdf", pdf);
  create_and_send("create-job-send-document-pwg", "image/pwg-raster", pwg_gray);
  create_and_send("create-job-send-document-urf", "image/urf", urf);
  {
    ipp_message create = request(create_job);
    ipp_message cancel = request(cancel_job, {}, true);
    ipp_message jobs = request(get_jobs);
    jobs.entries.push_back({0x44, "which-jobs", "completed"});
    jobs.entries.push_back({0x22, "my-jobs", "\x01"});
    jobs.entries.push_back({0x21, "limit", ipp_integer(10)});
    jobs.entries.push_back({0x44, "requested-attributes", "job-id"});
    jobs.entries.push_back({0x44, "", "job-state-reasons"});
    inputs.emplace_back("create-job-cancel-get-jobs", joined({http(create), http(cancel), http(jobs)}));
  }
  {
    ipp_message subscribe = request(create_printer_subscriptions);
    subscribe.entries.push_back({0x06, "", ""});  // subscription-attributes-tag
    subscribe.entries.push_back({0x44, "notify-events", "job-state-changed"});
    subscribe.entries.push_back({0x44, "", "printer-state-changed"});
    subscribe.entries.push_back({0x44, "notify-pull-method", "ippget"});
    subscribe.entries.push_back({0x21, "notify-lease-duration", ipp_integer(60)});
    ipp_message notifications = request(get_notifications);
    notifications.entries.push_back({0x21, "notify-subscription-ids", ipp_integer(1)});
    notifications.entries.push_back({0x22, "notify-wait", std::string(1, '\0')});
    inputs.emplace_back("subscription", joined({http(subscribe), http(notifications)}));
  }
  inputs.emplace_back("identify-printer", http(request(identify_printer)));
  {
    ipp_message m = request(cancel_my_jobs);
    inputs.emplace_back("cancel-my-jobs", http(m));
  }

  for (const auto& [name, bytes] : inputs) {
    std::ofstream file(out + "/" + name, std::ios::binary);
    file << bytes;
    if (!file) {
      std::fprintf(stderr, "Unable to write file '%s/%s'\n", out.c_str(), name.c_str());
      return 1;
    }
  }
  return 0;
}
