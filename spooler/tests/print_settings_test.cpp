// The pure steps of printing on CUPS: the job options from a printer and a job, and the page laid out on
// the destination's paper. No CUPS server is involved.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "spooler/cups_spooler.h"

namespace quorvane {

void PrintTo(const job_option& option, std::ostream* out) {
  *out << option.name << "=" << option.value;
}

namespace {

constexpr const char* origin = "quorvane://Anna%20Lee@10.0.0.7";

// The options a case wants, each with the origin that every job carries.
std::vector<job_option> with_origin(std::vector<job_option> options) {
  options.push_back({"quorvane-origin", origin});
  return options;
}

TEST(print_settings_for, turns_the_printers_features_and_the_jobs_wishes_into_job_options) {
  struct settings_case {
    const char* name;
    int32_t color, landscape, duplex, copy;  // the printer's feature words
    int32_t orientation, sides, copies;      // the job's wishes
    bool is_color;
    std::vector<job_option> want;
    int32_t want_render_copies;
    bool want_landscape;
  } cases[] = {
      // Nothing switched on: colour is refused, the document makes the copies
      {"no feature on", 8, 8, 8, 8, 4, 1, 3, true, with_origin({{"print-color-mode", "monochrome"}}), 3,
       false},
      {"no feature word at all", 0, 0, 0, 0, 3, 0, 1, true, with_origin({{"print-color-mode", "monochrome"}}),
       1, false},

      // Orientation, when the printer's landscape is on
      {"portrait", 0, 9, 0, 0, 3, 0, 1, false,
       with_origin({{"orientation-requested", "3"}, {"print-color-mode", "monochrome"}}), 1, false},
      {"landscape", 0, 9, 0, 0, 4, 0, 1, false,
       with_origin({{"orientation-requested", "4"}, {"print-color-mode", "monochrome"}}), 1, true},
      {"reverse landscape prints landscape", 0, 1, 0, 0, 5, 0, 1, false,
       with_origin({{"orientation-requested", "4"}, {"print-color-mode", "monochrome"}}), 1, true},
      {"reverse portrait prints portrait", 0, 1, 0, 0, 6, 0, 1, false,
       with_origin({{"orientation-requested", "3"}, {"print-color-mode", "monochrome"}}), 1, false},
      {"an unknown orientation prints portrait", 0, 1, 0, 0, 0, 0, 1, false,
       with_origin({{"orientation-requested", "3"}, {"print-color-mode", "monochrome"}}), 1, false},

      // Sides, when the printer's duplex is on
      {"one-sided", 0, 0, 9, 0, 3, 0, 1, false,
       with_origin({{"sides", "one-sided"}, {"print-color-mode", "monochrome"}}), 1, false},
      {"long edge", 0, 0, 9, 0, 3, 1, 1, false,
       with_origin({{"sides", "two-sided-long-edge"}, {"print-color-mode", "monochrome"}}), 1, false},
      {"short edge", 0, 0, 1, 0, 3, 2, 1, false,
       with_origin({{"sides", "two-sided-short-edge"}, {"print-color-mode", "monochrome"}}), 1, false},
      {"an unknown mode prints one-sided", 0, 0, 1, 0, 3, 7, 1, false,
       with_origin({{"sides", "one-sided"}, {"print-color-mode", "monochrome"}}), 1, false},
      {"a negative mode prints one-sided", 0, 0, 1, 0, 3, -1, 1, false,
       with_origin({{"sides", "one-sided"}, {"print-color-mode", "monochrome"}}), 1, false},

      // Copies: CUPS makes them when the printer's copy is on, else the document repeats itself
      {"CUPS makes three copies", 0, 0, 0, 9, 3, 0, 3, false,
       with_origin({{"copies", "3"}, {"print-color-mode", "monochrome"}}), 1, false},
      {"CUPS is asked for at least one copy", 0, 0, 0, 1, 3, 0, 0, false,
       with_origin({{"copies", "1"}, {"print-color-mode", "monochrome"}}), 1, false},
      {"the document repeats zero times for zero copies", 0, 0, 0, 8, 3, 0, 0, false,
       with_origin({{"print-color-mode", "monochrome"}}), 0, false},

      // Colour needs both the printer's colour on and the job's wish
      {"colour", 9, 0, 0, 0, 3, 0, 1, true, with_origin({{"print-color-mode", "color"}}), 1, false},
      {"the job asks for black and white", 9, 0, 0, 0, 3, 0, 1, false,
       with_origin({{"print-color-mode", "monochrome"}}), 1, false},

      // Everything on at once, in the order CUPS is given them
      {"every feature", 9, 9, 9, 9, 4, 2, 2, true,
       with_origin({{"orientation-requested", "4"},
                    {"sides", "two-sided-short-edge"},
                    {"copies", "2"},
                    {"print-color-mode", "color"}}),
       1, true},
  };
  for (const settings_case& c : cases) {
    model::printer printer;
    printer.setFeature(model::printer_feature::color, c.color);
    printer.setFeature(model::printer_feature::landscape, c.landscape);
    printer.setFeature(model::printer_feature::duplex, c.duplex);
    printer.setFeature(model::printer_feature::copy, c.copy);
    model::job job;
    job.setOrientation(c.orientation);
    job.setDuplex(c.sides);
    job.setCopies(c.copies);
    job.setIsColor(c.is_color);
    job.setDeviceAddress("10.0.0.7");

    const print_settings got = print_settings_for(printer, job, job.orientation(), "Anna Lee");
    EXPECT_EQ(got.options, c.want) << c.name;
    EXPECT_EQ(got.render_copies, c.want_render_copies)
        << c.name << ": got " << got.render_copies << " render copies, want " << c.want_render_copies;
    EXPECT_EQ(got.landscape, c.want_landscape)
        << c.name << ": got landscape " << got.landscape << ", want " << c.want_landscape;
  }
}

TEST(page_geometry, lays_the_page_out_on_the_papers_size_and_margins_in_points) {
  struct page_case {
    const char* name;
    model::paper_size paper;  // hundredths of a millimetre
    bool landscape;
    double width, height, left, top, printable_width;  // points
  } cases[] = {
      // Upright
      {"A4 with margins",
       {.width = 21000, .length = 29700, .left = 318, .bottom = 423, .right = 318, .top = 423},
       false,
       595.28,
       841.89,
       9.01,
       11.99,
       577.25},
      {"Letter without margins", {.width = 21590, .length = 27940}, false, 612.0, 792.0, 0, 0, 612.0},
      {"uneven margins",
       {.width = 10160, .length = 15240, .left = 100, .bottom = 200, .right = 300, .top = 400},
       false,
       288.0,
       432.0,
       2.83,
       11.34,
       276.66},

      // Turned: width and height swap, the bottom margin comes to the left and the left one to the top
      {"A4 turned",
       {.width = 21000, .length = 29700, .left = 318, .bottom = 423, .right = 318, .top = 423},
       true,
       841.89,
       595.28,
       11.99,
       9.01,
       817.91},
      {"uneven margins turned",
       {.width = 10160, .length = 15240, .left = 100, .bottom = 200, .right = 300, .top = 400},
       true,
       432.0,
       288.0,
       5.67,
       2.83,
       414.99},

      // Margins that leave nothing printable: the whole width is used
      {"side margins wider than the paper",
       {.width = 10000, .length = 20000, .left = 6000, .right = 6000},
       false,
       283.46,
       566.93,
       170.08,
       0,
       283.46},
      {"top and bottom margins longer than the paper, turned",
       {.width = 10000, .length = 20000, .bottom = 10000, .top = 10000},
       true,
       566.93,
       283.46,
       283.46,
       0,
       566.93},
  };
  for (const page_case& c : cases) {
    const std::optional<device_page> got = page_geometry(c.paper, c.landscape);
    ASSERT_TRUE(got) << c.name;
    EXPECT_NEAR(got->width, c.width, 0.01) << c.name << ": width";
    EXPECT_NEAR(got->height, c.height, 0.01) << c.name << ": height";
    EXPECT_NEAR(got->left, c.left, 0.01) << c.name << ": left";
    EXPECT_NEAR(got->top, c.top, 0.01) << c.name << ": top";
    EXPECT_NEAR(got->printable_width, c.printable_width, 0.01) << c.name << ": printable width";
  }
}

TEST(page_geometry, leaves_a_paper_without_width_or_length_to_the_default_page) {
  struct unusable_case {
    const char* name;
    model::paper_size paper;
  } cases[] = {
      {"nothing known", {}},
      {"no width", {.width = 0, .length = 29700}},
      {"no length", {.width = 21000, .length = 0}},
      {"a negative width", {.width = -21000, .length = 29700}},
  };
  for (const unusable_case& c : cases) {
    for (bool landscape : {false, true}) {
      EXPECT_FALSE(page_geometry(c.paper, landscape)) << c.name << (landscape ? ", turned" : "");
    }
  }
}

}  // namespace
}  // namespace quorvane
