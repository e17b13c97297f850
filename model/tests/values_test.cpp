#include "model/values.h"

#include <cups/ipp.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorvane::model {
namespace {

// One row per value: the number peers and stored files hold, and its name.
struct wire_value {
  int32_t number;
  std::string name;
};

// Every entry of `table` as (number, name), in table order.
template <class Entry, size_t N>
std::vector<wire_value> rows_of(const Entry (&table)[N]) {
  std::vector<wire_value> rows;
  for (const Entry& entry : table) rows.push_back({static_cast<int32_t>(entry.value), entry.name});
  return rows;
}

// Checks `table` against `want` row by row, then both lookups of every row and of a number and a name that
// the table does not hold.
template <class Entry, size_t N>
void expect_table(const char* table_name, const Entry (&table)[N], const std::vector<wire_value>& want,
                  int32_t unknown_number) {
  const std::vector<wire_value> got = rows_of(table);
  ASSERT_EQ(got.size(), want.size()) << table_name;
  std::set<std::string> names;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].number, want[i].number)
        << table_name << " row " << i << ": got " << got[i].number << ", want " << want[i].number;
    EXPECT_EQ(got[i].name, want[i].name)
        << table_name << " row " << i << ": got '" << got[i].name << "', want '" << want[i].name << "'";
    EXPECT_TRUE(names.insert(got[i].name).second) << table_name << ": name '" << got[i].name << "' twice";

    const Entry* by_number = find_value(table, want[i].number);
    EXPECT_EQ(by_number, &table[i]) << table_name << ": find_value(" << want[i].number << ")";
    const Entry* by_name = find_name(table, want[i].name);
    EXPECT_EQ(by_name, &table[i]) << table_name << ": find_name('" << want[i].name << "')";
  }
  EXPECT_EQ(find_value(table, unknown_number), nullptr) << table_name << ": " << unknown_number;
  EXPECT_EQ(find_name(table, "no such name"), nullptr) << table_name;
  EXPECT_EQ(find_name(table, ""), nullptr) << table_name;
}

// The numbers below are the wire: the "print" answers, the records' JSON and SQL, and CUPS's own numbers.
TEST(WireValues, EachTableHoldsTheNumbersPeersAndStoredFilesUse) {
  expect_table("job_states", job_states,
               {{3, "pending"}, {5, "processing"}, {7, "canceled"}, {8, "aborted"}, {9, "completed"}},
               /*unknown_number=*/4);
  // The features' names are their JSON keys; their numbers never leave the process.
  expect_table("printer_features", printer_features,
               {{0, "color"}, {1, "landscape"}, {2, "duplex"}, {3, "copy"}}, /*unknown_number=*/4);
  expect_table("feature_bits", feature_bits, {{1, "on"}, {8, "offered"}}, /*unknown_number=*/2);
  expect_table("printer_actions", printer_actions, {{0, "none"}, {1, "open"}, {2, "print"}},
               /*unknown_number=*/3);
  expect_table("job_orientations", job_orientations,
               {{3, "portrait"}, {4, "landscape"}, {5, "reverse-landscape"}, {6, "reverse-portrait"}},
               /*unknown_number=*/0);
  expect_table("job_duplex_modes", job_duplex_modes,
               {{0, "one-sided"}, {1, "two-sided-long-edge"}, {2, "two-sided-short-edge"}},
               /*unknown_number=*/-1);
}

// Job states and orientations go to CUPS and come from PAPPL as IPP's own enums.
TEST(WireValues, JobStatesAndOrientationsAreIppsNumbers) {
  EXPECT_EQ(static_cast<int>(job_state_pending), static_cast<int>(IPP_JSTATE_PENDING));
  EXPECT_EQ(static_cast<int>(job_state_processing), static_cast<int>(IPP_JSTATE_PROCESSING));
  EXPECT_EQ(static_cast<int>(job_state_canceled), static_cast<int>(IPP_JSTATE_CANCELED));
  EXPECT_EQ(static_cast<int>(job_state_aborted), static_cast<int>(IPP_JSTATE_ABORTED));
  EXPECT_EQ(static_cast<int>(job_state_completed), static_cast<int>(IPP_JSTATE_COMPLETED));
  EXPECT_EQ(static_cast<int>(orientation_portrait), static_cast<int>(IPP_ORIENT_PORTRAIT));
  EXPECT_EQ(static_cast<int>(orientation_landscape), static_cast<int>(IPP_ORIENT_LANDSCAPE));
  EXPECT_EQ(static_cast<int>(orientation_reverse_landscape), static_cast<int>(IPP_ORIENT_REVERSE_LANDSCAPE));
  EXPECT_EQ(static_cast<int>(orientation_reverse_portrait), static_cast<int>(IPP_ORIENT_REVERSE_PORTRAIT));
  for (const job_orientation_entry& entry : job_orientations) {
    const int number = entry.value;
    const bool turned = number == IPP_ORIENT_LANDSCAPE || number == IPP_ORIENT_REVERSE_LANDSCAPE;
    EXPECT_EQ(entry.landscape, turned) << entry.name;
  }
}

}  // namespace
}  // namespace quorvane::model
