// The numbered values that cross JSON, SQL and CUPS: job states, the printers' feature words and bits,
// printer actions, and a job's orientation and duplex mode. One table each, with one lookup pair for all of
// them. The numbers are what the service, the console, the stored records and CUPS exchange: never renumber.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvane::model {

/// One value of a table below with its name (an IPP keyword or JSON key where the value has one).
template <class Value>
struct named_value {
  Value value;
  const char* name;
};

/// Job states, numbered as IPP's job-state attribute numbers them; the state of a "print" answer, of a
/// stored job and of a job in CUPS.
enum job_state : int32_t {
  job_state_pending = 3,
  job_state_processing = 5,
  job_state_canceled = 7,
  job_state_aborted = 8,
  job_state_completed = 9,
};

/// One job state with its IPP keyword.
using job_state_entry = named_value<job_state>;

/// Every job state the system uses, in IPP order.
inline constexpr job_state_entry job_states[] = {
    {job_state_pending, "pending"}, {job_state_processing, "processing"}, {job_state_canceled, "canceled"},
    {job_state_aborted, "aborted"}, {job_state_completed, "completed"},
};

/// The most copies one job may ask for: the print service advertises copies-supported 1 to 999 and refuses
/// more, and the console refuses more where it prints. A count that large is a slip or an attack.
inline constexpr int32_t max_copies = 999;

/// The four feature words of a printer.
enum class printer_feature { color, landscape, duplex, copy };

/// One feature word with its JSON key.
using printer_feature_entry = named_value<printer_feature>;

/// The feature words in the order a printer's JSON lists them.
inline constexpr printer_feature_entry printer_features[] = {
    {printer_feature::color, "color"},
    {printer_feature::landscape, "landscape"},
    {printer_feature::duplex, "duplex"},
    {printer_feature::copy, "copy"},
};

/// Bits of the feature words; other bits are carried unchanged.
enum feature_bit : int32_t {
  feature_on = 1,       ///< the feature is on for this printer
  feature_offered = 8,  ///< the settings page offers the feature to the user
};

/// One feature bit with its name.
using feature_bit_entry = named_value<feature_bit>;

/// The feature bits the system gives a meaning.
inline constexpr feature_bit_entry feature_bits[] = {
    {feature_on, "on"},
    {feature_offered, "offered"},
};

/// What the console does with a job after copying it into the printer's directory.
enum printer_action : int32_t {
  action_none = 0,   ///< nothing further (the job stays in the folder)
  action_open = 1,   ///< open the file with `actionParam` (empty: the associated application)
  action_print = 2,  ///< print the file on the system printer named `name` (a CUPS queue)
};

/// One printer action with its name.
using printer_action_entry = named_value<printer_action>;

/// Every printer action.
inline constexpr printer_action_entry printer_actions[] = {
    {action_none, "none"},
    {action_open, "open"},
    {action_print, "print"},
};

/// A job's orientation, numbered as IPP's orientation-requested attribute numbers it.
enum job_orientation : int32_t {
  orientation_portrait = 3,
  orientation_landscape = 4,
  orientation_reverse_landscape = 5,
  orientation_reverse_portrait = 6,
};

/// One orientation with its IPP keyword and whether the paper is turned.
struct job_orientation_entry {
  job_orientation value;
  const char* name;
  bool landscape;  ///< the long edge of the paper runs across
};

/// Every orientation.
inline constexpr job_orientation_entry job_orientations[] = {
    {orientation_portrait, "portrait", false},
    {orientation_landscape, "landscape", true},
    {orientation_reverse_landscape, "reverse-landscape", true},
    {orientation_reverse_portrait, "reverse-portrait", false},
};

/// A job's duplex mode.
enum job_duplex : int32_t {
  duplex_none = 0,
  duplex_long_edge = 1,
  duplex_short_edge = 2,
};

/// One duplex mode with the IPP "sides" keyword that prints it.
using job_duplex_entry = named_value<job_duplex>;

/// Every duplex mode.
inline constexpr job_duplex_entry job_duplex_modes[] = {
    {duplex_none, "one-sided"},
    {duplex_long_edge, "two-sided-long-edge"},
    {duplex_short_edge, "two-sided-short-edge"},
};

/// The entry of `table` whose value is the number `value`; null when there is none (a number from JSON, SQL
/// or a peer that the table does not know).
template <class Entry, size_t N>
constexpr const Entry* find_value(const Entry (&table)[N], int32_t value) {
  for (const Entry& entry : table) {
    if (static_cast<int32_t>(entry.value) == value) return &entry;
  }
  return nullptr;
}

/// The entry of `table` named `name` (exactly); null when there is none.
template <class Entry, size_t N>
constexpr const Entry* find_name(const Entry (&table)[N], std::string_view name) {
  for (const Entry& entry : table) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

}  // namespace quorvane::model
