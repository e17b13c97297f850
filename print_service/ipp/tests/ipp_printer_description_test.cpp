// The corrections made to PAPPL's answers before a device reads them, on responses built as PAPPL builds
// them: printer attributes copied from the printer's own message, then the values PAPPL makes for the
// request.
#include "print_service/ipp/ipp_printer_description.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quorvane::print_service::testing {
namespace {

constexpr const char* uuid = "5e1f0a52-8c44-4f7e-9b1c-2d3e4f506172";
constexpr const char* other_uuid = "0b7d3c1e-1111-4a2b-8c3d-4e5f60718293";

// Every value of the attribute `name` of `message` (strings, or integers as text), "" apart.
std::vector<std::string> values_of(ipp_t* message, const char* name) {
  std::vector<std::string> values;
  ipp_attribute_t* attribute = ippFindAttribute(message, name, IPP_TAG_ZERO);
  for (int i = 0; i < ippGetCount(attribute); ++i) {
    if (ippGetValueTag(attribute) == IPP_TAG_INTEGER || ippGetValueTag(attribute) == IPP_TAG_ENUM) {
      values.push_back(std::to_string(ippGetInteger(attribute, i)));
    } else if (ippGetValueTag(attribute) == IPP_TAG_BEGIN_COLLECTION) {
      ipp_t* col = ippGetCollection(attribute, i);
      values.push_back(
          std::string(ippGetString(ippFindAttribute(col, "xri-uri", IPP_TAG_URI), 0, nullptr)) + " " +
          ippGetString(ippFindAttribute(col, "xri-security", IPP_TAG_KEYWORD), 0, nullptr) + " " +
          ippGetString(ippFindAttribute(col, "xri-authentication", IPP_TAG_KEYWORD), 0, nullptr));
    } else {
      values.push_back(ippGetString(attribute, i, nullptr));
    }
  }
  return values;
}

// The printer's own attributes, as PAPPL keeps them for a printer named by its uuid.
ipp_t* printer_message(const char* name) {
  ipp_t* printer = ippNew();
  ippAddString(printer, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr, name);
  ippAddString(printer, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, name);
  return printer;
}

// A Get-Printer-Attributes response as PAPPL 1.3.1 builds it for a device on the loopback interface.
ipp_t* loopback_response(ipp_t* printer, int up_time) {
  ipp_t* response = ippNew();
  ippCopyAttributes(response, printer, /*quickcopy=*/1, nullptr, nullptr);
  ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_URI, "printer-uri-supported", nullptr,
               "ipp://localhost:8631/ipp/print/_5e1f0a52");
  ippAddString(response, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "uri-authentication-supported",
               nullptr, "none");
  ipp_t* xri = ippNew();
  ippAddString(xri, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "xri-authentication", nullptr, "none");
  ippAddString(xri, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "xri-security", nullptr, "none");
  ippAddString(xri, IPP_TAG_PRINTER, IPP_TAG_URI, "xri-uri", nullptr,
               "ipp://localhost:8631/ipp/print/_5e1f0a52");
  ippAddCollection(response, IPP_TAG_PRINTER, "printer-xri-supported", xri);
  ippDelete(xri);
  ippAddInteger(response, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-up-time", up_time);
  ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_URI, "printer-more-info", nullptr,
               "http://localhost:8631/_5e1f0a52/");
  const int operations[] = {IPP_OP_PRINT_JOB, IPP_OP_HOLD_JOB, IPP_OP_GET_PRINTER_ATTRIBUTES,
                            IPP_OP_PAUSE_PRINTER};
  ippAddIntegers(response, IPP_TAG_PRINTER, IPP_TAG_ENUM, "operations-supported", 4, operations);
  static const char* const holds[] = {"no-hold", "indefinite", "night"};
  ippAddStrings(response, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "job-hold-until-supported", 3,
                nullptr, holds);
  return response;
}

std::optional<printer_names> names_of(std::string_view name) {
  // The names are made anew for each call, as the server makes them from its records: the response must
  // not keep pointers to them.
  if (name == uuid)
    return printer_names{std::string("Open On My PC @ host"), std::string("Open On My PC @ host, study")};
  return std::nullopt;
}

// Devices may print and read; they may not hold jobs or pause printers.
bool device_operation(int op) {
  return op == IPP_OP_PRINT_JOB || op == IPP_OP_GET_PRINTER_ATTRIBUTES;
}

TEST(PrinterResponse, NamesAndUrisAsADeviceOnTheLoopbackInterfaceReadsThem) {
  struct name_case {
    const char* label;
    const char* pappl_name;
    const char* name;  // printer-name read
    const char* info;  // printer-info read
  };
  const name_case cases[] = {
      // A printer the server offers: its readable names.
      {"offered printer", uuid, "Open On My PC @ host", "Open On My PC @ host, study"},
      // A name the server gives nothing for stays.
      {"unknown printer", other_uuid, other_uuid, other_uuid},
  };
  for (const name_case& c : cases) {
    SCOPED_TRACE(c.label);
    ipp_t* printer = printer_message(c.pappl_name);
    ipp_t* response = loopback_response(printer, /*up_time=*/0);
    complete_printer_response(response, names_of, /*loopback_client=*/true, /*tls=*/true, "none",
                              device_operation);
    EXPECT_EQ(values_of(response, "printer-name"), std::vector<std::string>{c.name});
    EXPECT_EQ(values_of(response, "printer-info"), std::vector<std::string>{c.info});
    // The printer's own message is not changed.
    EXPECT_EQ(values_of(printer, "printer-name"), std::vector<std::string>{c.pappl_name});
    EXPECT_EQ(values_of(response, "printer-up-time"), std::vector<std::string>{"1"});
    // Only what devices may do is offered: no holding, no pausing.
    EXPECT_EQ(values_of(response, "operations-supported"),
              (std::vector<std::string>{std::to_string(IPP_OP_PRINT_JOB),
                                        std::to_string(IPP_OP_GET_PRINTER_ATTRIBUTES)}));
    EXPECT_EQ(values_of(response, "job-hold-until-supported"), std::vector<std::string>{"no-hold"});
    EXPECT_EQ(values_of(response, "printer-more-info"),
              std::vector<std::string>{"http://localhost:8631/printers/_5e1f0a52"});
    EXPECT_EQ(values_of(response, "printer-uri-supported"),
              (std::vector<std::string>{"ipp://localhost:8631/ipp/print/_5e1f0a52",
                                        "ipps://localhost:8631/ipp/print/_5e1f0a52"}));
    EXPECT_EQ(values_of(response, "uri-authentication-supported"),
              (std::vector<std::string>{"none", "none"}));
    EXPECT_EQ(values_of(response, "printer-xri-supported"),
              (std::vector<std::string>{"ipp://localhost:8631/ipp/print/_5e1f0a52 none none",
                                        "ipps://localhost:8631/ipp/print/_5e1f0a52 tls none"}));
    ippDelete(response);
    ippDelete(printer);
  }
}

TEST(PrinterResponse, WhatPapplGetsRightStaysAsItIs) {
  struct flag_case {
    const char* label;
    bool loopback;
    bool tls;
  };
  // A device on the network already reads both URIs; a server without TLS has one.
  for (const flag_case& c : {flag_case{"network device", false, true}, flag_case{"no TLS", true, false}}) {
    SCOPED_TRACE(c.label);
    ipp_t* printer = printer_message(uuid);
    ipp_t* response = loopback_response(printer, /*up_time=*/42);
    complete_printer_response(response, names_of, c.loopback, c.tls, "basic", device_operation);
    EXPECT_EQ(values_of(response, "printer-uri-supported").size(), 1u);
    EXPECT_EQ(values_of(response, "uri-authentication-supported"), std::vector<std::string>{"none"});
    EXPECT_EQ(values_of(response, "printer-xri-supported").size(), 1u);
    EXPECT_EQ(values_of(response, "printer-up-time"), std::vector<std::string>{"42"});
    EXPECT_EQ(values_of(response, "printer-name"), std::vector<std::string>{"Open On My PC @ host"});
    ippDelete(response);
    ippDelete(printer);
  }
}

TEST(PrinterResponse, SignInOverTlsIsNamedForTheIppsUri) {
  ipp_t* printer = printer_message(uuid);
  ipp_t* response = loopback_response(printer, /*up_time=*/3);
  complete_printer_response(response, names_of, /*loopback_client=*/true, /*tls=*/true, "basic",
                            device_operation);
  EXPECT_EQ(values_of(response, "uri-authentication-supported"), (std::vector<std::string>{"none", "basic"}));
  EXPECT_EQ(values_of(response, "printer-xri-supported").at(1),
            "ipps://localhost:8631/ipp/print/_5e1f0a52 tls basic");
  ippDelete(response);
  ippDelete(printer);
}

TEST(PrinterResponse, PrintersInsideCollectionsAreNamedToo) {
  // Get-System-Attributes lists the printers in system-configured-printers, named as PAPPL names them.
  ipp_t* response = ippNew();
  ipp_attribute_t* printers =
      ippAddCollections(response, IPP_TAG_SYSTEM, "system-configured-printers", 2, nullptr);
  for (int i = 0; i < 2; ++i) {
    ipp_t* col = ippNew();
    ippAddString(col, IPP_TAG_SYSTEM, IPP_TAG_TEXT, "printer-info", nullptr, i == 0 ? uuid : other_uuid);
    ippAddString(col, IPP_TAG_SYSTEM, IPP_TAG_NAME, "printer-name", nullptr, i == 0 ? uuid : other_uuid);
    ippSetCollection(response, &printers, i, col);
    ippDelete(col);
  }
  complete_printer_response(response, names_of, /*loopback_client=*/false, /*tls=*/true, "none",
                            device_operation);
  printers = ippFindAttribute(response, "system-configured-printers", IPP_TAG_BEGIN_COLLECTION);
  EXPECT_EQ(values_of(ippGetCollection(printers, 0), "printer-name"),
            std::vector<std::string>{"Open On My PC @ host"});
  EXPECT_EQ(values_of(ippGetCollection(printers, 0), "printer-info"),
            std::vector<std::string>{"Open On My PC @ host, study"});
  EXPECT_EQ(values_of(ippGetCollection(printers, 1), "printer-name"), std::vector<std::string>{other_uuid});
  ippDelete(response);
}

}  // namespace
}  // namespace quorvane::print_service::testing
