// IPP intake against CUPS's own ippeveprinter (`-c /bin/true -k`: it stores each document, runs the
// command on it and ends the job), measured in the same run:
//   1. 100 one-page PDF jobs, each Print-Job until the job is completed; for the service that includes the
//      "print" request to a console (the console's own server_stub, answering at once) and its answer.
//   2. 10 jobs of 10 pages of PWG raster at 300 dpi, each Print-Job until completed; the service makes a
//      PDF of each. One job a round measured mostly the machine's noise (a few milliseconds each).
// Rounds alternate which server goes first; the figures are medians over the rounds, with their ratio and
// the spread of the ratios. At the end the reference's spool is checked: every document it was sent is
// there, whole, so that it really received and stored what it is compared with.
//
//   bench_ipp_intake [rounds]     (default 5)
#include <cups/cups.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console_peer.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using clock_type = std::chrono::steady_clock;

// `pages` A4 pages of 8-bit grey at 300 dpi with text-like stripes.
bool write_raster(const std::string& path, int pages) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
  bool ok = raster != nullptr;
  for (int page = 0; ok && page < pages; ++page) {
    cups_page_header2_t header;
    ok = cupsRasterInitPWGHeader(&header, pwgMediaForPWG("iso_a4_210x297mm"), "sgray_8", 300, 300,
                                 "one-sided", nullptr) != 0;
    header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = static_cast<unsigned>(pages);
    ok = ok && cupsRasterWriteHeader2(raster, &header);
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    for (unsigned y = 0; ok && y < header.cupsHeight; ++y) {
      for (unsigned x = 0; x < header.cupsBytesPerLine; ++x) {
        line[x] = ((y / 40) % 3 == 0 && (x / 25 + page) % 4 != 0) ? 20 : 255;
      }
      ok = cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine) == header.cupsBytesPerLine;
    }
  }
  if (raster) cupsRasterClose(raster);
  close(fd);
  return ok;
}

// Sends `file` with Print-Job to `uri` and waits until the job is completed. False on any failure.
bool print_and_wait(http_t* http, const std::string& uri, const std::string& file, const char* format) {
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "bench");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  ipp_t* response = cupsDoFileRequest(http, request, "/", file.c_str());
  const int job_id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  const bool accepted = ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING && job_id > 0;
  ippDelete(response);
  if (!accepted) {
    std::fprintf(stderr, "Print-Job to %s failed: %s\n", uri.c_str(), cupsLastErrorString());
    return false;
  }
  int reconnects = 0;
  for (;;) {
    ipp_t* query = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(query, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddInteger(query, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
    ippAddString(query, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-state");
    ipp_t* answer = cupsDoRequest(http, query, "/");
    const int state = ippGetInteger(ippFindAttribute(answer, "job-state", IPP_TAG_ENUM), 0);
    const bool lost = answer == nullptr;
    ippDelete(answer);
    // A connection the server closed between requests is opened again, as every client does.
    if (lost && ++reconnects <= 3 && httpReconnect2(http, 30000, nullptr) == 0) continue;
    if (state == IPP_JSTATE_COMPLETED) return true;
    if (state >= IPP_JSTATE_CANCELED || state == 0) {
      std::fprintf(stderr, "job %d on %s ended in state %d (%s)\n", job_id, uri.c_str(), state,
                   cupsLastErrorString());
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Seconds that `jobs` jobs of `file` take on `uri`, sent one after the other on one connection; -1 on
// failure. `pump` runs on this thread meanwhile (the console's loop).
// When each job of a run was sent, reached the console (ours only) and was seen completed.
struct job_times {
  std::mutex mutex;
  std::vector<clock_type::time_point> sent, printed, completed;
};

double time_jobs(const std::string& uri, int port, const std::string& file, const char* format, int jobs,
                 const std::function<void()>& pump, job_times* times = nullptr) {
  std::atomic<bool> done{false};
  std::atomic<bool> ok{true};
  double seconds = 0;
  std::thread sender([&] {
    http_t* http =
        httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
    if (!http) {
      std::fprintf(stderr, "cannot connect to %s: %s\n", uri.c_str(), cupsLastErrorString());
      ok = false;
      done = true;
      return;
    }
    const auto start = clock_type::now();
    for (int i = 0; i < jobs && ok; ++i) {
      if (times) {
        std::lock_guard<std::mutex> lock(times->mutex);
        times->sent.push_back(clock_type::now());
      }
      ok = print_and_wait(http, uri, file, format);
      if (times) {
        std::lock_guard<std::mutex> lock(times->mutex);
        times->completed.push_back(clock_type::now());
      }
    }
    seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    httpClose(http);
    done = true;
  });
  while (!done) pump();
  sender.join();
  return ok ? seconds : -1;
}

// Raster jobs a round, each of `raster_pages` pages.
constexpr int raster_jobs = 10;
constexpr int raster_pages = 10;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

int run(int rounds) {
  signal(SIGPIPE, SIG_IGN);
  temporary_folder root;
  poll_runloop loop;
  set_main_runloop(&loop);

  // The service, with a console that answers every "print" at once, as delivered.
  service_process service(root.path() + "/data",
                          {"CUPS_SERVER=/nonexistent/quorvane-bench/cups.sock", "HOME=" + root.path()});
  service.set_log_level(2);
  if (!service.start()) {
    std::fprintf(stderr, "the service did not start:\n%s", read_file(service.log_file()).c_str());
    return 1;
  }
  console_peer console;
  console.connect(service.port());
  console.authenticate();
  console.observe(true);
  Json::Value printer(Json::objectValue);
  printer["uuid"] = "b3c4d5e6-0000-4000-8000-000000000001";
  printer["name"] = "bench";
  printer["displayName"] = "Bench";
  printer["enabled"] = true;
  printer["exists"] = true;
  printer["color"] = 9;
  smart_ptr<model::printer> p(new model::printer());
  p->readJSON(printer);
  bool stored = false;
  console.stub().updatePrinter(p, [&](int32_t) { stored = true; });
  loop.run_until([&] { return stored; }, std::chrono::seconds(10));
  size_t answered = 0;
  job_times* timing = nullptr;  // the run whose prints are being timed
  const auto pump = [&] {
    loop.run_once(1);
    auto& prints = console.record().prints;
    for (; answered < prints.size(); ++answered) {
      if (timing) {
        std::lock_guard<std::mutex> lock(timing->mutex);
        timing->printed.push_back(clock_type::now());
      }
      prints[answered].completion(0, 9, static_cast<int32_t>(answered));
    }
  };
  // PAPPL's resource path of a printer is its name, here the uuid (which begins with a letter).
  const std::string our_printer_uri = "ipp://127.0.0.1:" + std::to_string(service.ipp_port()) +
                                      "/ipp/print/b3c4d5e6-0000-4000-8000-000000000001";

  // The reference: ippeveprinter accepting PDF and PWG raster, keeping each document (-k) in its spool and
  // running /bin/true on it. Its start (DNS-SD registration included) may take seconds on a busy machine.
  const int reference_port = free_port();
  child_process reference;
  const std::string reference_spool = root.path() + "/ippeve";
  mkdir(reference_spool.c_str(), 0700);
  const std::string reference_log = root.path() + "/ippeve.log";
  if (!reference.spawn({"/usr/sbin/ippeveprinter", "-c", "/bin/true", "-d", reference_spool, "-f",
                        "application/pdf,image/pwg-raster", "-p", std::to_string(reference_port), "-r", "off",
                        "-k", "bench-reference"},
                       {"HOME=" + root.path()}, reference_log)) {
    std::fprintf(stderr, "ippeveprinter cannot be started\n");
    return 1;
  }
  const std::string reference_uri = "ipp://127.0.0.1:" + std::to_string(reference_port) + "/ipp/print";
  bool reference_up = false;
  for (int i = 0; i < 1500 && !reference_up && !reference.finished(); ++i) {
    http_t* probe =
        httpConnect2("127.0.0.1", reference_port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 100, nullptr);
    if (probe) {
      httpClose(probe);
      reference_up = true;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (!reference_up) {
    std::fprintf(stderr, "ippeveprinter does not answer on port %d:\n%s", reference_port,
                 read_file(reference_log).c_str());
    return 1;
  }

  const std::string pdf = root.path() + "/page.pdf";
  write_file(pdf, one_page_pdf());
  const std::string raster = root.path() + "/pages.pwg";
  if (!write_raster(raster, raster_pages)) return 1;

  std::vector<double> ours_pdf, theirs_pdf, ours_raster, theirs_raster, pdf_ratios, raster_ratios;
  std::vector<double> to_print_ms, to_completed_ms;  // per PDF job of ours, from its Print-Job
  for (int round = 0; round < rounds; ++round) {
    // Alternate which server goes first, so that drift on a loaded machine falls on both.
    const bool ours_first = round % 2 == 0;
    double a = 0, b = 0, c = 0, d = 0;
    job_times ours;
    const auto ours_pdf_run = [&] {
      timing = &ours;
      a = time_jobs(our_printer_uri, service.ipp_port(), pdf, "application/pdf", 100, pump, &ours);
      timing = nullptr;
    };
    if (ours_first) {
      ours_pdf_run();
      b = time_jobs(reference_uri, reference_port, pdf, "application/pdf", 100, pump);
      c = time_jobs(our_printer_uri, service.ipp_port(), raster, "image/pwg-raster", raster_jobs, pump);
      d = time_jobs(reference_uri, reference_port, raster, "image/pwg-raster", raster_jobs, pump);
    } else {
      b = time_jobs(reference_uri, reference_port, pdf, "application/pdf", 100, pump);
      ours_pdf_run();
      d = time_jobs(reference_uri, reference_port, raster, "image/pwg-raster", raster_jobs, pump);
      c = time_jobs(our_printer_uri, service.ipp_port(), raster, "image/pwg-raster", raster_jobs, pump);
    }
    for (size_t i = 0; i < ours.sent.size() && i < ours.printed.size() && i < ours.completed.size(); ++i) {
      to_print_ms.push_back(
          std::chrono::duration<double, std::milli>(ours.printed[i] - ours.sent[i]).count());
      to_completed_ms.push_back(
          std::chrono::duration<double, std::milli>(ours.completed[i] - ours.sent[i]).count());
    }
    if (a < 0 || b < 0 || c < 0 || d < 0) {
      const std::string log = read_file(service.log_file());
      std::fprintf(stderr, "a run failed; the service %s\n--- service log (end)\n%s",
                   service.process().finished() ? "has ended" : "runs",
                   log.substr(log.size() > 4000 ? log.size() - 4000 : 0).c_str());
      return 1;
    }
    ours_pdf.push_back(a);
    theirs_pdf.push_back(b);
    ours_raster.push_back(c);
    theirs_raster.push_back(d);
    pdf_ratios.push_back(a / b);
    raster_ratios.push_back(c / d);
    std::printf("round %d: 100 PDF jobs %.3f s vs %.3f s (%.2f); 10 raster jobs %.3f s vs %.3f s (%.2f)\n",
                round + 1, a, b, a / b, c, d, c / d);
  }
  std::printf(
      "100 one-page PDF jobs: service %.3f s, ippeveprinter %.3f s, ratio %.2f (goal <= 1.2), "
      "ratios %.2f..%.2f\n",
      median(ours_pdf), median(theirs_pdf), median(pdf_ratios),
      *std::min_element(pdf_ratios.begin(), pdf_ratios.end()),
      *std::max_element(pdf_ratios.begin(), pdf_ratios.end()));
  std::printf(
      "10 jobs of 10 pages PWG raster 300 dpi: service %.3f s (%.1f pages/s), ippeveprinter %.3f s, ratio "
      "%.2f "
      "(goal <= 1.5), ratios %.2f..%.2f\n",
      median(ours_raster), raster_jobs * raster_pages / median(ours_raster), median(theirs_raster),
      median(raster_ratios), *std::min_element(raster_ratios.begin(), raster_ratios.end()),
      *std::max_element(raster_ratios.begin(), raster_ratios.end()));
  std::printf(
      "per PDF job of the service, from its Print-Job: the console's \"print\" after %.2f ms, the job "
      "seen completed after %.2f ms (medians)\n",
      median(to_print_ms), median(to_completed_ms));
  // The reference must have received and kept every document whole.
  size_t pdfs = 0, rasters = 0, others = 0;
  const uintmax_t pdf_size = std::filesystem::file_size(pdf),
                  raster_size = std::filesystem::file_size(raster);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(reference_spool)) {
    if (!entry.is_regular_file()) continue;
    const uintmax_t size = entry.file_size();
    if (entry.path().extension() == ".pdf" && size == pdf_size) {
      ++pdfs;
    } else if (entry.path().extension() == ".pwg" && size == raster_size) {
      ++rasters;
    } else {
      ++others;
    }
  }
  const size_t sent_pdfs = static_cast<size_t>(rounds) * 100,
               sent_rasters = static_cast<size_t>(rounds) * raster_jobs;
  std::printf(
      "ippeveprinter kept %zu of %zu PDF documents and %zu of %zu raster documents whole (%zu bytes "
      "each), %zu other files\n",
      pdfs, sent_pdfs, rasters, sent_rasters, static_cast<size_t>(raster_size), others);
  reference.signal(SIGTERM);
  reference.wait(5000);
  service.stop();
  set_main_runloop(nullptr);
  return pdfs == sent_pdfs && rasters == sent_rasters ? 0 : 1;
}

}  // namespace
}  // namespace quorvane::print_service::testing

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  return quorvane::print_service::testing::run(rounds);
}
