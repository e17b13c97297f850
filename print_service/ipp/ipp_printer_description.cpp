// What devices read about a printer beyond PAPPL's own attributes, and the corrections of PAPPL's answers.
#include "print_service/ipp/ipp_printer_description.h"

#include <cstring>
#include <vector>

namespace quorvane::print_service {

ipp_t* virtual_printer_attributes() {
  ipp_t* attributes = ippNew();
  ippAddBoolean(attributes, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  static const char* const overrides[] = {"document-number", "pages"};
  ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "overrides-supported",
                /*num_values=*/2, nullptr, overrides);
  ippAddString(attributes, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-rendering-intent-default",
               nullptr, "auto");
  ippAddString(attributes, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
               "print-rendering-intent-supported", nullptr, "auto");
  // The Printer MIB's -1 for a capacity and a level: the supply "places no restrictions", it never runs
  // out. Phones show the description beside it.
  static const char supply[] =
      "index=1;class=supplyThatIsConsumed;type=other;unit=percent;maxcapacity=-1;level=-1;colorantname="
      "unknown;";
  ippAddOctetString(attributes, IPP_TAG_PRINTER, "printer-supply", supply, /*datalen=*/sizeof supply - 1);
  ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-supply-description", nullptr,
               "None needed (the documents go to a computer)");
  return attributes;
}

namespace {

// The printer's web page for PAPPL's printer-more-info, "http://HOST:PORT/<path>/" (a page of PAPPL's own
// web interface, which is off): "http://HOST:PORT/printers/<path>"; empty for another form.
std::string page_uri(const char* uri) {
  const std::string_view text = uri ? uri : "";
  const size_t host = text.find("://");
  const size_t path = host == std::string_view::npos ? host : text.find('/', host + 3);
  if (path == std::string_view::npos || text.size() < path + 3 || text.back() != '/' ||
      text.find('/', path + 1) != text.size() - 1) {
    return {};
  }
  return std::string(text.substr(0, path)) + "/printers" +
         std::string(text.substr(path, text.size() - 1 - path));
}

// The ipps URI of the ipp URI `uri`; empty for another scheme.
std::string secure_uri(const char* uri) {
  if (!uri || std::strncmp(uri, "ipp://", 6) != 0) return {};
  return std::string("ipps://") + (uri + 6);
}

// Adds the ipps value beside PAPPL's only ipp value of printer-xri-supported.
void add_secure_xri(ipp_t* message, ipp_attribute_t* attribute, const char* ipps_authentication) {
  ipp_t* ipp_member = ippGetCollection(attribute, 0);
  const std::string uri =
      secure_uri(ippGetString(ippFindAttribute(ipp_member, "xri-uri", IPP_TAG_URI), 0, nullptr));
  if (uri.empty()) return;
  ipp_t* col = ippNew();
  ippAddString(col, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "xri-authentication", nullptr,
               ipps_authentication);
  ippAddString(col, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "xri-security", nullptr, "tls");
  ippAddString(col, IPP_TAG_PRINTER, IPP_TAG_URI, "xri-uri", nullptr, uri.c_str());
  ippSetCollection(message, &attribute, /*element=*/1, col);
  ippDelete(col);
}

// Keeps the last `kept` values of `attribute` (one or more). libcups 2.4 deletes no value range that ends
// with the last value (its range check is off by one), so the values to keep are put last.
void keep_last_values(ipp_t* message, ipp_attribute_t* attribute, int kept) {
  const int count = ippGetCount(attribute);
  if (kept < count) ippDeleteValues(message, &attribute, 0, count - kept);
}

struct completion {
  const std::function<std::optional<printer_names>(std::string_view)>& names_of;
  bool secure_loopback;
  const char* ipps_authentication;
  const std::function<bool(int)>& device_operation;

  void complete(ipp_t* message) const {
    // The attributes are collected first: setting values may move an attribute's storage, never the list.
    std::vector<ipp_attribute_t*> attributes;
    for (ipp_attribute_t* a = ippFirstAttribute(message); a; a = ippNextAttribute(message)) {
      attributes.push_back(a);
    }
    for (ipp_attribute_t* attribute : attributes) complete(message, attribute);
  }

  void complete(ipp_t* message, ipp_attribute_t* attribute) const {
    const char* name = ippGetName(attribute);
    if (!name) return;
    const ipp_tag_t tag = ippGetValueTag(attribute);
    const int count = ippGetCount(attribute);
    if (tag == IPP_TAG_BEGIN_COLLECTION) {
      if (secure_loopback && count == 1 && std::strcmp(name, "printer-xri-supported") == 0) {
        add_secure_xri(message, attribute, ipps_authentication);
        return;
      }
      for (int i = 0; i < count; ++i) complete(ippGetCollection(attribute, i));
      return;
    }
    const bool is_name = std::strcmp(name, "printer-name") == 0;
    if ((is_name || std::strcmp(name, "printer-info") == 0) && count == 1 &&
        (tag == IPP_TAG_NAME || tag == IPP_TAG_TEXT)) {
      const char* value = ippGetString(attribute, 0, nullptr);
      if (const std::optional<printer_names> names = value ? names_of(value) : std::nullopt) {
        // libcups copies the new value: PAPPL keeps these two as copies of its own (not libcups's "const"
        // values, whose new values would be kept as the pointer given).
        ippSetString(message, &attribute, 0, (is_name ? names->name : names->info).c_str());
      }
    } else if (std::strcmp(name, "operations-supported") == 0 && tag == IPP_TAG_ENUM) {
      std::vector<int> kept;
      for (int i = 0; i < count; ++i) {
        if (device_operation(ippGetInteger(attribute, i))) kept.push_back(ippGetInteger(attribute, i));
      }
      if (kept.empty()) return;
      const int first = count - static_cast<int>(kept.size());
      for (size_t i = 0; i < kept.size(); ++i) {
        ippSetInteger(message, &attribute, first + static_cast<int>(i), kept[i]);
      }
      keep_last_values(message, attribute, static_cast<int>(kept.size()));
    } else if (std::strcmp(name, "job-hold-until-supported") == 0 && count >= 1) {
      ippSetString(message, &attribute, count - 1, "no-hold");
      keep_last_values(message, attribute, 1);
    } else if (std::strcmp(name, "printer-more-info") == 0 && count == 1) {
      const std::string page = page_uri(ippGetString(attribute, 0, nullptr));
      if (!page.empty()) ippSetString(message, &attribute, 0, page.c_str());
    } else if (std::strcmp(name, "printer-up-time") == 0 && tag == IPP_TAG_INTEGER && count == 1 &&
               ippGetInteger(attribute, 0) < 1) {
      ippSetInteger(message, &attribute, 0, 1);
    } else if (secure_loopback && count == 1 && std::strcmp(name, "printer-uri-supported") == 0) {
      // PAPPL makes this value for the request (not "const"): libcups copies the new one.
      const std::string uri = secure_uri(ippGetString(attribute, 0, nullptr));
      if (!uri.empty()) ippSetString(message, &attribute, 1, uri.c_str());
    } else if (secure_loopback && count == 1 && std::strcmp(name, "uri-authentication-supported") == 0) {
      ippSetString(message, &attribute, 1, ipps_authentication);
    }
  }
};

}  // namespace

void complete_printer_response(ipp_t* response,
                               const std::function<std::optional<printer_names>(std::string_view)>& names_of,
                               bool loopback_client, bool tls, const char* ipps_authentication,
                               const std::function<bool(int)>& device_operation) {
  if (!response) return;
  completion{names_of, loopback_client && tls, ipps_authentication ? ipps_authentication : "none",
             device_operation}
      .complete(response);
}

}  // namespace quorvane::print_service
