// The reason table: every way a delivery fails has one sentence saying what happened and what to do, and
// the statuses the spooler reports (errno values, IPP status codes) map to the right row.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

#include "spooler/delivery_failure.h"

namespace quorvane {
namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(delivery_reasons, every_failure_has_one_sentence_saying_what_happened_and_what_to_do) {
  struct reason_case {
    delivery_failure failure;
    const char* happened;  // a part of what the sentence says went wrong
    const char* remedy;    // a part of what it tells the user to do
  };
  const reason_case cases[] = {
      // The printer's folder.
      {delivery_failure::folder_not_writable, "may not write into the printer's folder",
       "choose another folder"},
      {delivery_failure::folder_full, "disk of the printer's folder is full", "free some space"},
      {delivery_failure::folder_missing, "folder does not exist", "connect the disk"},
      {delivery_failure::folder_names_taken, "hundred documents of that name", "move some of them"},
      // The printer's application.
      {delivery_failure::application_missing, "no longer installed", "choose another application"},
      {delivery_failure::application_not_starting, "could not be started", "choose another application"},
      {delivery_failure::no_application_for_document, "no application on this computer opens", "install one"},
      // CUPS.
      {delivery_failure::printer_stopped, "stopped or does not accept jobs", "start it again"},
      {delivery_failure::printer_gone, "no longer exists", "add it again"},
      {delivery_failure::cups_not_running, "(CUPS) is not running", "systemctl start cups"},
      {delivery_failure::printer_refused, "refused it", "look at the printer's queue"},
      // The document.
      {delivery_failure::document_unreadable, "damaged or incomplete", "send it again"},
      {delivery_failure::format_not_printable, "only PDF, JPEG and PNG", "send it in one of those formats"},
      {delivery_failure::too_many_copies, "more than 999 copies", "ask for fewer copies"},
      {delivery_failure::too_many_pages, "more than 100,000 pages", "fewer pages or copies"},
      {delivery_failure::document_too_large, "too large to print", "smaller picture"},
      {delivery_failure::unknown, "error in Quorvane", "the log has the details"},
  };
  ASSERT_EQ(std::size(cases), delivery_reasons().size()) << "a failure without a case here";
  std::set<std::string> sentences;
  for (const reason_case& c : cases) {
    const std::string sentence = reason_sentence(c.failure);
    EXPECT_TRUE(contains(sentence, c.happened)) << "got '" << sentence << "', want '" << c.happened << "'";
    EXPECT_TRUE(contains(sentence, c.remedy)) << "got '" << sentence << "', want '" << c.remedy << "'";
    EXPECT_EQ(sentence.rfind("The document ", 0), 0u) << sentence;
    EXPECT_EQ(sentence.back(), '.') << sentence;
    sentences.insert(sentence);
  }
  EXPECT_EQ(sentences.size(), std::size(cases)) << "two failures share a sentence";
  for (size_t i = 0; i < delivery_reasons().size(); ++i) {
    EXPECT_EQ(static_cast<size_t>(delivery_reasons()[i].failure), i + 1) << delivery_reasons()[i].name;
  }
  EXPECT_STREQ(reason_sentence(delivery_failure::none), "");
  EXPECT_STREQ(reason_sentence(static_cast<delivery_failure>(999)),
               reason_sentence(delivery_failure::unknown));
}

TEST(delivery_reasons, statuses_map_to_their_failure) {
  struct status_case {
    const char* name;
    int32_t status;
    delivery_failure want;
  };
  const status_case cases[] = {
      // errno values of a write into a folder.
      {"EACCES", EACCES, delivery_failure::folder_not_writable},
      {"EPERM", EPERM, delivery_failure::folder_not_writable},
      {"EROFS", EROFS, delivery_failure::folder_not_writable},
      {"ENOSPC", ENOSPC, delivery_failure::folder_full},
      {"EDQUOT", EDQUOT, delivery_failure::folder_full},
      {"ENOENT", ENOENT, delivery_failure::folder_missing},
      {"ENOTDIR", ENOTDIR, delivery_failure::folder_missing},
      {"EEXIST", EEXIST, delivery_failure::folder_names_taken},
      {"EIO", EIO, delivery_failure::unknown},
      // IPP status codes of CUPS.
      {"client-error-not-found", 0x0406, delivery_failure::printer_gone},
      {"client-error-gone", 0x0407, delivery_failure::printer_gone},
      {"server-error-not-accepting-jobs", 0x0506, delivery_failure::printer_stopped},
      {"server-error-service-unavailable", 0x0502, delivery_failure::cups_not_running},
      {"client-error-document-format-not-supported", 0x040A, delivery_failure::format_not_printable},
      {"client-error-forbidden", 0x0401, delivery_failure::printer_refused},
      {"server-error-internal-error", 0x0500, delivery_failure::printer_refused},
      // The console's own failures say no more than -1.
      {"minus one", -1, delivery_failure::unknown},
      {"success", 0, delivery_failure::none},
  };
  model::job plain;
  for (const status_case& c : cases) {
    EXPECT_EQ(failure_of(plain, c.status), c.want) << c.name;
  }
  // What the spooler recorded wins over the status, but never turns a success into a failure.
  model::job recorded;
  recorded.setDeliveryFailure(static_cast<int32_t>(delivery_failure::application_missing));
  EXPECT_EQ(failure_of(recorded, -1), delivery_failure::application_missing);
  EXPECT_EQ(failure_of(recorded, 0), delivery_failure::none);
}

}  // namespace
}  // namespace quorvane
