#include "core/component.h"

namespace quorvane {
namespace {
component* list_head = nullptr;
}

void component::register_component() {
  if (registered_) return;
  registered_ = true;
  next_ = list_head;
  list_head = this;
}

component::~component() {
  for (component** link = &list_head; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

component* component::head() {
  return list_head;
}

void component::clear_list() {
  for (component* c = list_head; c;) {
    component* next = c->next_;
    c->next_ = nullptr;
    c->registered_ = false;
    c = next;
  }
  list_head = nullptr;
}

void run_component_lifecycle() {
  for (component* c = component::head(); c; c = c->next()) c->applicationWillInitialize();
  for (component* c = component::head(); c; c = c->next()) c->applicationDidInitialize();
}

}  // namespace quorvane
