// quorvane-service: the local print service, and `submit` to queue a document with it.
#include <cstdio>

#include "core/os.h"
#include "print_service/local_service.h"
#include "print_service/service_options.h"
#include "print_service/submit_tool.h"

int main(int argc, char** argv) {
  using namespace quorvane::print_service;
  command_line parsed;
  std::string error;
  if (!parse_command_line(
          argc, argv, [](const char* name) { return quorvane::environment(name); }, parsed, error)) {
    std::fprintf(stderr, "%s\nTry 'quorvane-service --help'.\n", error.c_str());
    return 2;
  }
  switch (parsed.kind) {
    case command_kind::help:
      std::fputs(usage_text().c_str(), stdout);
      return 0;
    case command_kind::submit:
      return run_submit(parsed.submit, stdout, stderr);
    case command_kind::serve:
      break;
  }
  return run_service(parsed.serve);
}
