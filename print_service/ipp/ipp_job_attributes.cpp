#include "print_service/ipp/ipp_job_attributes.h"

#include <strings.h>

#include <cctype>
#include <iterator>
#include <set>

namespace quorvane::print_service {
namespace {

// IPP's own collections nest three deep (media-col-database, media-col, media-size); nothing a job needs
// nests deeper than this.
constexpr int max_collection_depth = 8;

// What PAPPL reads from a member of a collection it imports.
enum class member_kind {
  integer,             // one integer
  non_negative,        // one integer of 0 or more
  positive,            // one integer above 0
  keyword,             // one keyword or name
  media_size_name,     // one keyword or name that libcups knows as a size
  media_size,          // one collection with x-dimension and y-dimension
  finishing_template,  // one keyword or name
};

struct member_rule {
  const char* name;
  member_kind kind;
};

// The members of "media-col" that PAPPL's media import reads (_papplMediaColImport in 1.3.1): a string it
// copies without a null check, a size name or size whose paper it uses without a null check, integers.
constexpr member_rule media_col_members[] = {
    {"media-size", member_kind::media_size},          {"media-size-name", member_kind::media_size_name},
    {"media-source", member_kind::keyword},           {"media-type", member_kind::keyword},
    {"media-tracking", member_kind::keyword},         {"media-bottom-margin", member_kind::non_negative},
    {"media-left-margin", member_kind::non_negative}, {"media-right-margin", member_kind::non_negative},
    {"media-top-margin", member_kind::non_negative},  {"media-left-offset", member_kind::integer},
    {"media-top-offset", member_kind::integer},
};

constexpr member_rule media_size_members[] = {
    {"x-dimension", member_kind::positive},
    {"y-dimension", member_kind::positive},
};

constexpr member_rule finishings_col_members[] = {
    {"finishing-template", member_kind::finishing_template},
};

// The collections PAPPL imports into a job's options, with the members it reads.
struct collection_rule {
  const char* name;
  const member_rule* members;
  size_t count;
  bool single;  // one value only (PAPPL reads the first)
};

constexpr collection_rule imported_collections[] = {
    {"media-col", media_col_members, std::size(media_col_members), true},
    {"finishings-col", finishings_col_members, std::size(finishings_col_members), false},
};

bool same_name(const char* a, const char* b) {
  return a && b && strcasecmp(a, b) == 0;
}

bool is_keyword_or_name(ipp_tag_t tag) {
  return tag == IPP_TAG_KEYWORD || tag == IPP_TAG_NAME || tag == IPP_TAG_NAMELANG;
}

// Every member of `collection` (and of the collections inside it) has a name and a value, and no name
// comes twice; false with `reason` otherwise. `depth` counts `collection` itself.
bool well_formed(ipp_t* collection, int depth, std::string& reason) {
  if (depth > max_collection_depth) {
    reason = "collections nest deeper than " + std::to_string(max_collection_depth) + " levels";
    return false;
  }
  std::set<std::string> names;
  for (ipp_attribute_t* member = ippFirstAttribute(collection); member;
       member = ippNextAttribute(collection)) {
    const char* name = ippGetName(member);
    if (!name || !*name) {
      reason = "a member has no name";
      return false;
    }
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!names.insert(lower).second) {
      reason = "the member " + std::string(name) + " comes twice";
      return false;
    }
    if (ippGetCount(member) < 1 || ippGetValueTag(member) == IPP_TAG_ZERO) {
      reason = "the member " + std::string(name) + " has no value";
      return false;
    }
    if (ippGetValueTag(member) != IPP_TAG_BEGIN_COLLECTION) continue;
    for (int i = 0; i < ippGetCount(member); ++i) {
      ipp_t* inner = ippGetCollection(member, i);
      if (!inner || !well_formed(inner, depth + 1, reason)) {
        if (!inner) reason = "the member " + std::string(name) + " has no value";
        return false;
      }
    }
  }
  return true;
}

// Whether `collection` holds what PAPPL reads from it, by `rules`; false with `reason` otherwise.
bool members_fit(ipp_t* collection, const member_rule* rules, size_t count, std::string& reason);

// Whether `member` is what `rule` says; false with `reason` otherwise.
bool member_fits(ipp_attribute_t* member, const member_rule& rule, std::string& reason) {
  const std::string name = rule.name;
  const ipp_tag_t tag = ippGetValueTag(member);
  if (ippGetCount(member) != 1) {
    reason = "the member " + name + " has " + std::to_string(ippGetCount(member)) + " values, not one";
    return false;
  }
  switch (rule.kind) {
    case member_kind::integer:
    case member_kind::non_negative:
    case member_kind::positive: {
      if (tag != IPP_TAG_INTEGER) {
        reason = "the member " + name + " is of type " + std::string(ippTagString(tag)) + ", not an integer";
        return false;
      }
      const int value = ippGetInteger(member, 0);
      if ((rule.kind == member_kind::non_negative && value < 0) ||
          (rule.kind == member_kind::positive && value <= 0)) {
        reason = "the member " + name + " is " + std::to_string(value);
        return false;
      }
      return true;
    }
    case member_kind::keyword:
    case member_kind::finishing_template:
    case member_kind::media_size_name: {
      if (!is_keyword_or_name(tag)) {
        reason = "the member " + name + " is of type " + std::string(ippTagString(tag)) + ", not a keyword";
        return false;
      }
      const char* value = ippGetString(member, 0, nullptr);
      if (!value) {
        reason = "the member " + name + " has no text";
        return false;
      }
      if (rule.kind == member_kind::media_size_name && !pwgMediaForPWG(value)) {
        reason = "the member " + name + " names no known size";
        return false;
      }
      return true;
    }
    case member_kind::media_size: {
      ipp_t* size = tag == IPP_TAG_BEGIN_COLLECTION ? ippGetCollection(member, 0) : nullptr;
      if (!size) {
        reason =
            "the member " + name + " is of type " + std::string(ippTagString(tag)) + ", not a collection";
        return false;
      }
      for (const member_rule& dimension : media_size_members) {
        if (!ippFindAttribute(size, dimension.name, IPP_TAG_ZERO)) {
          reason = "the member " + name + " has no " + dimension.name;
          return false;
        }
      }
      return members_fit(size, media_size_members, std::size(media_size_members), reason);
    }
  }
  return false;
}

bool members_fit(ipp_t* collection, const member_rule* rules, size_t count, std::string& reason) {
  for (ipp_attribute_t* member = ippFirstAttribute(collection); member;
       member = ippNextAttribute(collection)) {
    for (size_t i = 0; i < count; ++i) {
      if (same_name(ippGetName(member), rules[i].name) && !member_fits(member, rules[i], reason))
        return false;
    }
  }
  return true;
}

// Whether the attribute `attr`, which PAPPL imports by `rule`, holds what PAPPL reads; false with `reason`.
bool imported_collection_fits(ipp_attribute_t* attr, const collection_rule& rule, std::string& reason) {
  if (ippGetValueTag(attr) != IPP_TAG_BEGIN_COLLECTION) {
    reason = std::string("it is of type ") + ippTagString(ippGetValueTag(attr)) + ", not a collection";
    return false;
  }
  if (rule.single && ippGetCount(attr) != 1) {
    reason = "it has " + std::to_string(ippGetCount(attr)) + " values, not one";
    return false;
  }
  for (int i = 0; i < ippGetCount(attr); ++i) {
    if (!members_fit(ippGetCollection(attr, i), rule.members, rule.count, reason)) return false;
  }
  return true;
}

// The integer and enum attributes of a job that PAPPL uses as they come, with the values they may take. PAPPL
// copies print-quality and orientation-requested into enumerations unchecked, so a value outside them would
// reach the job's print options.
struct integer_rule {
  const char* name;
  ipp_tag_t tag;
  int first;
  int last;
};
constexpr integer_rule job_integers[] = {
    {"copies", IPP_TAG_INTEGER, 1, model::max_copies},
    {"print-quality", IPP_TAG_ENUM, IPP_QUALITY_DRAFT, IPP_QUALITY_HIGH},
    {"orientation-requested", IPP_TAG_ENUM, IPP_ORIENT_PORTRAIT, IPP_ORIENT_NONE},
};

// Whether `attr`, which `rule` names, is one value of the rule's tag in its range; false with `reason`
// otherwise.
bool integer_fits(ipp_attribute_t* attr, const integer_rule& rule, std::string& reason) {
  if (ippGetValueTag(attr) != rule.tag || ippGetCount(attr) != 1) {
    reason = rule.tag == IPP_TAG_ENUM ? "it is not one enum" : "it is not one integer";
    return false;
  }
  const int value = ippGetInteger(attr, 0);
  if (value < rule.first || value > rule.last) {
    reason = std::to_string(value) + " is not from " + std::to_string(rule.first) + " to " +
             std::to_string(rule.last);
    return false;
  }
  return true;
}

}  // namespace

ipp_attribute_t* find_unsafe_job_attribute(ipp_t* request, std::string& reason) {
  for (ipp_attribute_t* attr = ippFirstAttribute(request); attr; attr = ippNextAttribute(request)) {
    const char* name = ippGetName(attr);
    if (!name) continue;  // a separator between groups
    if (ippGetValueTag(attr) == IPP_TAG_BEGIN_COLLECTION) {
      for (int i = 0; i < ippGetCount(attr); ++i) {
        ipp_t* collection = ippGetCollection(attr, i);
        if (!collection) {
          reason = "it has no value";
          return attr;
        }
        if (!well_formed(collection, 1, reason)) return attr;
      }
    }
    for (const collection_rule& rule : imported_collections) {
      if (same_name(name, rule.name) && !imported_collection_fits(attr, rule, reason)) return attr;
    }
    for (const integer_rule& rule : job_integers) {
      if (same_name(name, rule.name) && !integer_fits(attr, rule, reason)) return attr;
    }
  }
  return nullptr;
}

}  // namespace quorvane::print_service
