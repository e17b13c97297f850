// The spooler component: the spool folder, file names, the copy into a printer's folder, the actions and the
// failures of the print paths that happen before any printer is opened.
#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "delivery.h"
#include "fixtures.h"
#include "spooler/delivery_failure.h"
#include "spooler/document_folder.h"
#include "spooler/spooler_impl.h"
#include "spooler/spooler_p.h"
#include "test_support/log_capture.h"
#include "test_support/scoped_environment.h"

namespace quorvane {
namespace {

using test::make_job;
using test::make_printer;
using test::outcome;
using test::recorder;
using test::temp_folder;

constexpr const char* spool_name = "{501201E7-E925-4623-9F70-3F944DA46F7B}";

using scoped_env = testing_support::scoped_environment;

std::string acl_text(const std::string& path, acl_type_t type) {
  acl_t acl = acl_get_file(path.c_str(), type);
  if (!acl) return "(none: " + std::string(strerror(errno)) + ")";
  char* text = acl_to_text(acl, nullptr);
  std::string result = text ? text : "";
  acl_free(text);
  acl_free(acl);
  return result;
}

TEST(spooler_impl, makes_the_spool_folder_under_tmpdir_with_an_inheritable_entry_for_users) {
  temp_folder tmp;
  scoped_env tmpdir("TMPDIR", tmp.path());
  spooler_impl spooler;
  EXPECT_TRUE(spooler.spoolFolder().empty());
  ASSERT_EQ(spooler.applicationWillInitialize(), 0);
  const std::string want = tmp.path() + "/" + spool_name;
  EXPECT_EQ(spooler.spoolFolder().narrow(), want);
  struct stat info {};
  ASSERT_EQ(stat(want.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_TRUE(info.st_mode & S_ISVTX) << "others could remove or replace our copies";
  const std::string access = acl_text(want, ACL_TYPE_ACCESS);
  const std::string inherited = acl_text(want, ACL_TYPE_DEFAULT);
  if (access.find("group:users:") == std::string::npos && inherited.find("(none") != std::string::npos) {
    GTEST_SKIP() << "the temporary file system has no ACLs: " << inherited;
  }
  EXPECT_NE(access.find("group:users:rwx"), std::string::npos) << access;
  EXPECT_NE(inherited.find("group:users:rwx"), std::string::npos) << inherited;

  // A second first phase changes nothing; a new spooler accepts the folder as it is.
  EXPECT_EQ(spooler.applicationWillInitialize(), 0);
  EXPECT_EQ(spooler.spoolFolder().narrow(), want);
  spooler_impl again;
  EXPECT_EQ(again.applicationWillInitialize(), 0);
  EXPECT_EQ(acl_text(want, ACL_TYPE_ACCESS), access);
}

TEST(spooler_impl, finds_the_group_users_when_its_member_list_is_long) {
  if (geteuid() != 0) GTEST_SKIP() << "standing a group file in for /etc/group needs root";
  // A "users" group whose entry is longer than a first lookup buffer holds.
  temp_folder tmp;
  std::istringstream system_groups(test::read_file("/etc/group"));
  std::string groups;
  for (std::string line; std::getline(system_groups, line);) {
    if (line.rfind("users:", 0) != 0) groups += line + "\n";
  }
  // The system's gid for "users" when it has one, so that the ACL reads back under that name.
  const group* system_users = getgrnam("users");
  const std::string gid = std::to_string(system_users ? system_users->gr_gid : 100);
  groups += "users:x:" + gid + ":root";
  for (int n = 0; n < 1000; ++n) groups += ",member" + std::to_string(n);
  ASSERT_TRUE(test::write_file(tmp.file("group"), groups + "\n"));
  const std::string folder = tmp.file("spool");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);

  // In a child with a mount namespace of its own, so that the system's file stays as it is.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(tmp.file("group").c_str(), "/etc/group", nullptr, MS_BIND, nullptr) != 0) {
      _exit(77);
    }
    _exit(spooler_impl::applyPermissions(folder) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the spool folder's permissions were refused";
  const std::string inherited = acl_text(folder, ACL_TYPE_DEFAULT);
  if (inherited.find("(none") == std::string::npos) {
    EXPECT_TRUE(inherited.find("group:users:rwx") != std::string::npos ||
                inherited.find("group:" + gid + ":rwx") != std::string::npos)
        << "got\n"
        << inherited << "want an rwx entry for the group users (" << gid << ")";
  }
}

TEST(spooler_impl, fails_its_first_phase_when_the_spool_folder_cannot_be_made) {
  temp_folder tmp;
  // A file where the folder should be.
  ASSERT_TRUE(test::write_file(tmp.file(spool_name), "in the way"));
  scoped_env tmpdir("TMPDIR", tmp.path());
  spooler_impl spooler;
  EXPECT_NE(spooler.applicationWillInitialize(), 0);
  EXPECT_NE(spooler.status(), 0);
  EXPECT_TRUE(spooler.spoolFolder().empty());
}

TEST(spooler_impl, makes_file_names_from_the_seconds_since_boot) {
  spooler_impl spooler;
  const uint32_t before = seconds_since_boot();
  const std::string name = spooler.makeFileName(wide_string::from_narrow("job")).narrow();
  const uint32_t after = seconds_since_boot();
  ASSERT_EQ(name.rfind("job-", 0), 0u) << name;
  const unsigned long seconds = std::stoul(name.substr(4));
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);
  const std::string longest = spooler.makeFileName(wide_string::from_narrow(std::string(300, 'x'))).narrow();
  EXPECT_EQ(longest.size(), 259u);
}

// ---- the copy into the printer's folder (action 0)

TEST(spooler_copy, delivers_the_same_name_three_times_without_overwriting) {
  temp_folder received, folder;
  spooler_impl spooler;
  const char* want[] = {"name.pdf", "name (0).pdf", "name (1).pdf"};
  for (int n = 0; n < 3; ++n) {
    const std::string file = received.file("name.pdf");
    ASSERT_TRUE(test::write_file(file, "delivery " + std::to_string(n)));
    outcome o;
    model::job_ptr job = make_job(file, "application/pdf");
    spooler.print(make_printer(model::action_none, folder.path()), job, recorder(o));
    ASSERT_EQ(o.calls, 1);
    EXPECT_EQ(o.text(), "(0, 9, 0)");
    EXPECT_FALSE(test::exists(file)) << "the received file is deleted after the copy";
    EXPECT_EQ(test::read_file(folder.file(want[n])), "delivery " + std::to_string(n)) << want[n];
    EXPECT_EQ(job->filename().narrow(), folder.file(want[n]));
  }
}

// ---- the default folder (a printer whose folder is "Default")

// A private home folder with its own configuration folder, for the default folder's lookup.
class default_folder_home {
  temp_folder root_;  // first: the members below are made from its path

 public:
  const std::string home = root_.path() + "/home";
  const std::string config = root_.path() + "/config";
  default_folder_home() {
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(config);
  }
  // Writes the user's folder list.
  void user_dirs(const std::string& text) const {
    ASSERT_TRUE(test::write_file(config + "/user-dirs.dirs", text));
  }
  scoped_env home_env{"HOME", home};
  scoped_env config_env{"XDG_CONFIG_HOME", config};
};

TEST(default_folder, is_quorvane_in_the_users_download_folder) {
  struct folder_case {
    const char* name;
    const char* user_dirs;  // nullptr: no file
    std::string want;       // under the home folder
  };
  const folder_case cases[] = {
      // No folder list, or none for downloads: ~/Downloads.
      {"no_file", nullptr, "/Downloads/Quorvane"},
      {"no_download_entry", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n", "/Downloads/Quorvane"},
      {"commented_out", "# XDG_DOWNLOAD_DIR=\"$HOME/Other\"\n", "/Downloads/Quorvane"},
      {"unquoted_is_not_read", "XDG_DOWNLOAD_DIR=$HOME/Other\n", "/Downloads/Quorvane"},
      // The user's own download folder.
      {"relative_to_home", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n",
       "/Téléchargements/Quorvane"},
      {"indented_with_trailing_slash", "  XDG_DOWNLOAD_DIR=\"$HOME/In/\"\n", "/In/Quorvane"},
      {"escaped_quote", "XDG_DOWNLOAD_DIR=\"$HOME/a \\\"b\\\"\"\n", "/a \"b\"/Quorvane"},
      {"last_one_wins", "XDG_DOWNLOAD_DIR=\"$HOME/first\"\nXDG_DOWNLOAD_DIR=\"$HOME/second\"\n",
       "/second/Quorvane"},
      {"the_home_folder_itself", "XDG_DOWNLOAD_DIR=\"$HOME\"\n", "/Quorvane"},
  };
  for (const folder_case& c : cases) {
    default_folder_home h;
    if (c.user_dirs) h.user_dirs(c.user_dirs);
    EXPECT_EQ(default_document_folder(), h.home + c.want) << c.name;
  }
  // An absolute folder stands as it is.
  default_folder_home h;
  h.user_dirs("XDG_DOWNLOAD_DIR=\"/srv/incoming\"\n");
  EXPECT_EQ(default_document_folder(), "/srv/incoming/Quorvane");
}

TEST(default_folder, is_where_a_printer_without_a_folder_keeps_what_it_neither_opens_nor_prints) {
  default_folder_home h;
  struct keep_case {
    int32_t action;
    const char* directory;
    std::string want;
  };
  const keep_case cases[] = {
      {model::action_none, "", h.home + "/Downloads/Quorvane"},
      {3, "", h.home + "/Downloads/Quorvane"},
      {-1, "", h.home + "/Downloads/Quorvane"},
      {model::action_none, "/srv/in", "/srv/in"},
      {model::action_open, "/srv/in", "/srv/in"},
      {model::action_open, "", ""},
      {model::action_print, "", ""},
  };
  for (const keep_case& c : cases) {
    const model::printer_ptr p = make_printer(c.action, c.directory);
    EXPECT_EQ(document_folder_of(*p), c.want) << "action " << c.action << " folder '" << c.directory << "'";
    EXPECT_EQ(keeps_documents(*p), !c.want.empty()) << "action " << c.action;
  }
}

TEST(spooler_copy, keeps_the_document_of_a_printer_without_a_folder_in_the_default_folder) {
  default_folder_home h;
  h.user_dirs("XDG_DOWNLOAD_DIR=\"$HOME/Received\"\n");
  const std::string folder = h.home + "/Received/Quorvane";
  temp_folder received;
  spooler_impl spooler;
  // "Nothing", and actions this console does not know, with the folder "Default": made on first use.
  const std::pair<int32_t, const char*> deliveries[] = {
      {0, "doc.pdf"}, {3, "doc (0).pdf"}, {-1, "doc (1).pdf"}};
  for (const auto& [action, want] : deliveries) {
    const std::string file = received.file("doc.pdf");
    ASSERT_TRUE(test::write_file(file, "%PDF " + std::to_string(action)));
    model::job_ptr job = make_job(file, "application/pdf");
    outcome o;
    spooler.print(make_printer(action), job, recorder(o));
    ASSERT_EQ(o.calls, 1) << "action " << action;
    EXPECT_EQ(o.text(), "(0, 9, 0)") << "action " << action;
    EXPECT_FALSE(test::exists(file)) << "action " << action << ": the received file was moved";
    EXPECT_EQ(test::read_file(folder + "/" + want), "%PDF " + std::to_string(action)) << want;
    EXPECT_EQ(job->filename().narrow(), folder + "/" + want) << "the job names the kept file";
  }
}

TEST(spooler_copy, fails_the_job_and_keeps_the_received_file_when_the_default_folder_cannot_be_made) {
  default_folder_home h;
  ASSERT_TRUE(test::write_file(h.home + "/Downloads", "a file where the folder would be"));
  temp_folder received;
  const std::string file = received.file("doc.pdf");
  ASSERT_TRUE(test::write_file(file, "%PDF"));
  spooler_impl spooler;
  outcome o;
  spooler.print(make_printer(model::action_none), make_job(file, "application/pdf"), recorder(o));
  ASSERT_EQ(o.calls, 1);
  EXPECT_EQ(o.text(), "(" + std::to_string(ENOTDIR) + ", 8, 0)");
  EXPECT_TRUE(test::exists(file)) << "nothing was kept, so the received file stays";
}

TEST(spooler_copy, tells_why_a_document_could_not_be_kept_in_the_words_of_the_reason_table) {
  temp_folder received, full;
  // Every name a document of this name may take is taken.
  ASSERT_TRUE(test::write_file(full.file("doc.pdf"), "old"));
  for (int n = 0; n < 100; ++n)
    ASSERT_TRUE(test::write_file(full.file("doc (" + std::to_string(n) + ").pdf"), "old"));
  const std::string gone = received.path() + "/unplugged/disk";
  struct keep_case {
    const char* name;
    std::string folder;
    std::string file;
    delivery_failure want;
  };
  const keep_case cases[] = {
      {"folder gone", gone, "doc.pdf", delivery_failure::folder_missing},
      {"every name taken", full.path(), "doc.pdf", delivery_failure::folder_names_taken},
      {"received file gone", full.path(), "missing.pdf", delivery_failure::document_unreadable},
  };
  spooler_impl spooler;
  for (const keep_case& c : cases) {
    ASSERT_TRUE(test::write_file(received.file("doc.pdf"), "%PDF"));
    model::job_ptr job = make_job(received.file(c.file), "application/pdf", "Report");
    outcome o;
    testing_support::log_capture log;
    spooler.print(make_printer(model::action_none, c.folder, "", "inbox"), job, recorder(o));
    EXPECT_EQ(o.state, model::job_state_aborted) << c.name;
    EXPECT_EQ(failure_of(*job, o.status), c.want) << c.name << ": status " << o.status;
    EXPECT_EQ(log.messages_starting("Unable to deliver"),
              std::vector<std::string>{std::string("Unable to deliver job 'Report' to printer 'inbox': ") +
                                       reason_sentence(c.want)})
        << c.name;
  }
}

TEST(spooler_copy, tells_that_the_printers_folder_is_not_writable) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into any folder";
  temp_folder received, folder;
  ASSERT_EQ(chmod(folder.path().c_str(), 0555), 0);
  ASSERT_TRUE(test::write_file(received.file("doc.pdf"), "%PDF"));
  model::job_ptr job = make_job(received.file("doc.pdf"), "application/pdf");
  spooler_impl spooler;
  outcome o;
  spooler.print(make_printer(model::action_none, folder.path()), job, recorder(o));
  EXPECT_EQ(o.text(), "(" + std::to_string(EACCES) + ", 8, 0)");
  EXPECT_EQ(failure_of(*job, o.status), delivery_failure::folder_not_writable);
  chmod(folder.path().c_str(), 0755);
}

TEST(spooler_copy, names_the_next_candidate_of_a_name_without_a_dot) {
  temp_folder received, folder;
  ASSERT_TRUE(test::write_file(folder.file("README"), "old"));
  ASSERT_TRUE(test::write_file(received.file("README"), "new"));
  std::string copy;
  ASSERT_EQ(copy_into_folder(received.file("README"), folder.path(), copy), 0);
  EXPECT_EQ(copy, folder.file("README (0)"));
  EXPECT_EQ(test::read_file(folder.file("README")), "old");
  EXPECT_EQ(test::read_file(copy), "new");
}

TEST(spooler_copy, shortens_the_stem_of_a_long_name_that_needs_a_number) {
  temp_folder received, folder;
  // 250 bytes and ".pdf": a legal name, already in the folder, with no room left for " (0)".
  const std::string name = std::string(250, 'n') + ".pdf";
  ASSERT_TRUE(test::write_file(folder.file(name), "old"));
  ASSERT_TRUE(test::write_file(received.file(name), "new"));
  std::string copy;
  ASSERT_EQ(copy_into_folder(received.file(name), folder.path(), copy), 0);
  EXPECT_EQ(copy, folder.file(std::string(247, 'n') + " (0).pdf"));
  EXPECT_EQ(test::read_file(copy), "new");
  EXPECT_EQ(test::read_file(folder.file(name)), "old");
}

TEST(spooler_copy, fails_with_eexist_when_all_101_names_are_taken_and_keeps_the_received_file) {
  temp_folder received, folder;
  ASSERT_TRUE(test::write_file(folder.file("a.png"), "taken"));
  for (int n = 0; n <= 99; ++n)
    ASSERT_TRUE(test::write_file(folder.file("a (" + std::to_string(n) + ").png"), "taken"));
  ASSERT_TRUE(test::write_file(received.file("a.png"), "mine"));
  spooler_impl spooler;
  outcome o;
  spooler.print(make_printer(model::action_none, folder.path()),
                make_job(received.file("a.png"), "image/png"), recorder(o));
  EXPECT_EQ(o.text(), "(" + std::to_string(EEXIST) + ", 8, 0)");
  EXPECT_EQ(test::read_file(received.file("a.png")), "mine");
  EXPECT_FALSE(test::exists(folder.file("a (100).png")));
}

TEST(spooler_copy, reports_the_errno_of_a_failed_copy) {
  temp_folder received, folder;
  ASSERT_TRUE(test::write_file(received.file("kept.pdf"), "data"));
  ASSERT_EQ(mkfifo(received.file("fifo.pdf").c_str(), 0600), 0);
  struct {
    const char* name;
    std::string file, directory;
    int32_t want;
  } cases[] = {
      {"received file missing", received.file("missing.pdf"), folder.path(), ENOENT},
      {"received file is a folder", received.path(), folder.path(), EISDIR},
      // A FIFO would block the run loop's thread until something writes into it.
      {"received file is a FIFO", received.file("fifo.pdf"), folder.path(), EINVAL},
      {"folder missing", received.file("kept.pdf"), folder.file("no/such/folder"), ENOENT},
      {"folder is a file", received.file("kept.pdf"), received.file("kept.pdf"), ENOTDIR},
  };
  spooler_impl spooler;
  for (const auto& c : cases) {
    outcome o;
    spooler.print(make_printer(model::action_print, c.directory), make_job(c.file, "application/pdf"),
                  recorder(o));
    EXPECT_EQ(o.text(), "(" + std::to_string(c.want) + ", 8, 0)") << c.name;
  }
  EXPECT_EQ(test::read_file(received.file("kept.pdf")), "data") << "a failed copy keeps the received file";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 0) << "no partial copy";
}

// ---- action 1: open with an application

// A spooler whose spool folder lies in a temporary folder of the test's own.
class spooler_open : public test::main_loop_test {
 protected:
  void SetUp() override {
    main_loop_test::SetUp();
    ASSERT_EQ(spooler_.applicationWillInitialize(), 0);
    spool_ = spooler_.spoolFolder().narrow();
  }

  // The names in the spool folder, sorted.
  std::vector<std::string> spooled() const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(spool_, ignored))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Runs the loop, looking every 20 ms, until `path` exists; true when it does within a generous bound.
  bool wait_for_file(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!test::exists(path)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      loop_.run_until([] { return false; }, std::chrono::milliseconds(20));
    }
    return true;
  }

  // Receives `name` holding `content` and delivers it to a printer that opens its jobs with a program that
  // does nothing; expects the job answered as opened. Returns the job (its file name is the copy's).
  model::job_ptr open_received(const std::string& name, const std::string& content, spooler_impl& spooler) {
    EXPECT_TRUE(test::write_file(received_.file(name), content));
    model::job_ptr job = make_job(received_.file(name), "application/pdf");
    outcome o;
    spooler.print(make_printer(model::action_open, "", "/bin/true"), job, recorder(o));
    EXPECT_EQ(o.text(), "(0, 9, 0)") << name;
    return job;
  }

  temp_folder tmp_;
  scoped_env tmpdir_{"TMPDIR", tmp_.path()};
  temp_folder received_;
  spooler_impl spooler_;
  std::string spool_;
};

// Sets the last change of `path` (not of what a link points at) to `age` ago.
void age_file(const std::string& path, std::chrono::seconds age) {
  const timespec when[2] = {{time(nullptr) - age.count(), 0}, {time(nullptr) - age.count(), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), when, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST_F(spooler_open, starts_the_chosen_application_with_the_copy_as_its_only_argument) {
  temp_folder received, folder, bin;
  const std::string log = bin.file("arguments");
  const std::string app = bin.file("viewer");
  ASSERT_TRUE(test::write_file(
      app, "#!/bin/sh\nprintf '%s|' \"$@\" > '" + log + ".tmp' && mv '" + log + ".tmp' '" + log + "'\n"));
  ASSERT_EQ(chmod(app.c_str(), 0755), 0);
  ASSERT_TRUE(test::write_file(received.file("my doc.pdf"), "%PDF"));
  outcome o;
  spooler_.print(make_printer(model::action_open, folder.path(), app),
                 make_job(received.file("my doc.pdf"), "application/pdf"), recorder(o));
  ASSERT_EQ(o.calls, 1) << "a chosen application is reported at once";
  EXPECT_EQ(o.text(), "(0, 9, 0)");
  ASSERT_TRUE(wait_for_file(log));
  EXPECT_EQ(test::read_file(log), folder.file("my doc.pdf") + "|");
  EXPECT_TRUE(spooled().empty()) << "the copy in the printer's folder is the one opened";
}

TEST_F(spooler_open, opens_a_copy_of_its_own_that_outlives_the_services_file) {
  // Like a desktop opener that hands the file to a running application and returns at once: the file is
  // read only after the job was answered and the service removed its file.
  temp_folder received, bin;
  const std::string file = received.file("my doc.pdf");
  const std::string log = bin.file("opened");
  const std::string app = bin.file("viewer");
  ASSERT_TRUE(test::write_file(app, "#!/bin/sh\nwhile [ -e '" + file + "' ]; do sleep 0.01; done\n" +
                                        "if [ -e \"$1\" ]; then state=present; else state=gone; fi\n" +
                                        "printf '%s|%s|%s' \"$1\" \"$state\" \"$(cat \"$1\")\" > '" + log +
                                        ".tmp' && mv '" + log + ".tmp' '" + log + "'\n"));
  ASSERT_EQ(chmod(app.c_str(), 0755), 0);
  ASSERT_TRUE(test::write_file(file, "%PDF-1.4 the document"));
  model::job_ptr job = make_job(file, "application/pdf");
  outcome o;
  const uint32_t before = seconds_since_boot();
  spooler_.print(make_printer(model::action_open, "", app), job, recorder(o));
  const uint32_t after = seconds_since_boot();
  ASSERT_EQ(o.calls, 1);
  EXPECT_EQ(o.text(), "(0, 9, 0)");
  ASSERT_EQ(unlink(file.c_str()), 0) << "the service removes its file once answered";
  ASSERT_TRUE(wait_for_file(log)) << "the application never read its file";

  const std::string copy = job->filename().narrow();
  EXPECT_EQ(test::read_file(log), copy + "|present|%PDF-1.4 the document");
  // The document's name and extension, with the seconds since boot after the stem.
  const std::string prefix = spool_ + "/my doc-";
  ASSERT_EQ(copy.rfind(prefix, 0), 0u) << copy;
  ASSERT_GT(copy.size(), prefix.size() + 4);
  EXPECT_EQ(copy.substr(copy.size() - 4), ".pdf") << copy;
  const unsigned long seconds = std::stoul(copy.substr(prefix.size()));
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);
  struct stat info {};
  ASSERT_EQ(stat(copy.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "other accounts may enter the spool folder";
}

TEST_F(spooler_open, never_overwrites_a_file_in_the_spool_folder) {
  // The names the copies would take in the next seconds, each already taken with its "(0)".
  const uint32_t now = seconds_since_boot();
  for (uint32_t s = now; s <= now + 30; ++s) {
    for (const char* suffix : {".pdf", " (0).pdf"})
      ASSERT_TRUE(test::write_file(spool_ + "/doc-" + std::to_string(s) + suffix, "taken"));
  }
  std::set<std::string> copies;
  std::map<std::string, int> per_second;  // copies made so far in each second
  for (int n = 0; n < 3; ++n) {
    const std::string copy =
        open_received("doc.pdf", "delivery " + std::to_string(n), spooler_)->filename().narrow();
    // The copies may fall into two seconds: each takes the next free number of its own.
    const std::string prefix = spool_ + "/doc-";
    const std::string second = copy.rfind(prefix, 0) == 0
                                   ? copy.substr(prefix.size(), copy.find(' ', prefix.size()) - prefix.size())
                                   : "";
    const int number = ++per_second[second];
    EXPECT_EQ(copy, prefix + second + " (" + std::to_string(number) + ").pdf")
        << "want the next free number of its second";
    EXPECT_EQ(test::read_file(copy), "delivery " + std::to_string(n));
    copies.insert(copy);
  }
  EXPECT_EQ(copies.size(), 3u);
  for (uint32_t s = now; s <= now + 30; ++s) {
    for (const char* suffix : {".pdf", " (0).pdf"})
      EXPECT_EQ(test::read_file(spool_ + "/doc-" + std::to_string(s) + suffix), "taken");
  }
}

TEST_F(spooler_open, shortens_a_long_name_but_keeps_its_extension_and_its_characters_whole) {
  // 125 two-byte characters and ".pdf": 254 bytes, a legal name that has no room for the number.
  std::string stem;
  for (int n = 0; n < 125; ++n) stem += "\xc3\xa9";
  model::job_ptr job = open_received(stem + ".pdf", "%PDF", spooler_);
  const std::string name = std::filesystem::path(job->filename().narrow()).filename().string();
  EXPECT_LE(name.size(), 255u) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".pdf") << name;
  EXPECT_EQ(name.rfind("\xc3\xa9\xc3\xa9", 0), 0u) << name;
  EXPECT_FALSE(from_utf8(name).empty()) << "not valid UTF-8: " << name;
  EXPECT_EQ(test::read_file(job->filename().narrow()), "%PDF");
}

TEST_F(spooler_open, removes_its_own_copies_older_than_a_day_when_it_starts_and_with_each_new_copy) {
  const auto day = std::chrono::hours(24), hour = std::chrono::hours(1);
  ASSERT_TRUE(test::write_file(spool_ + "/old.pdf", "old"));
  age_file(spool_ + "/old.pdf", day + hour);
  ASSERT_TRUE(test::write_file(spool_ + "/recent.pdf", "recent"));
  age_file(spool_ + "/recent.pdf", day - hour);
  ASSERT_EQ(mkdir((spool_ + "/old folder").c_str(), 0700), 0);
  age_file(spool_ + "/old folder", day + hour);
  ASSERT_TRUE(test::write_file(tmp_.file("elsewhere.pdf"), "not ours to remove"));
  ASSERT_EQ(symlink(tmp_.file("elsewhere.pdf").c_str(), (spool_ + "/old link").c_str()), 0);
  age_file(spool_ + "/old link", day + hour);
  std::vector<std::string> kept = {"old folder", "old link", "recent.pdf"};
  if (geteuid() == 0) {
    // Another account's file in a spool folder that several accounts share.
    ASSERT_TRUE(test::write_file(spool_ + "/other account.pdf", "theirs"));
    ASSERT_EQ(chown((spool_ + "/other account.pdf").c_str(), 65534, 65534), 0);
    age_file(spool_ + "/other account.pdf", day + hour);
    kept.insert(kept.begin() + 2, "other account.pdf");
  }

  spooler_impl starting;
  ASSERT_EQ(starting.applicationWillInitialize(), 0);
  EXPECT_EQ(spooled(), kept) << "at start";
  EXPECT_EQ(test::read_file(tmp_.file("elsewhere.pdf")), "not ours to remove");

  ASSERT_TRUE(test::write_file(spool_ + "/old again.pdf", "old"));
  age_file(spool_ + "/old again.pdf", day + hour);
  model::job_ptr job = open_received("new.pdf", "new", starting);
  kept.push_back(std::filesystem::path(job->filename().narrow()).filename().string());
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(spooled(), kept) << "with a new copy";
}

TEST_F(spooler_open, fails_the_job_when_the_copy_cannot_be_made_and_starts_nothing) {
  temp_folder received, bin;
  const std::string marker = bin.file("started");
  const std::string app = bin.file("viewer");
  ASSERT_TRUE(test::write_file(app, "#!/bin/sh\ntouch '" + marker + "'\n"));
  ASSERT_EQ(chmod(app.c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(received.file("fifo.pdf").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(received.file("folder.pdf").c_str(), 0700), 0);
  spooler_impl uninitialised;
  ASSERT_TRUE(test::write_file(received.file("doc.pdf"), "%PDF"));
  struct {
    const char* name;
    spooler_impl& spooler;
    std::string file;
    int32_t want;
  } cases[] = {
      {"received file missing", spooler_, received.file("missing.pdf"), ENOENT},
      // A FIFO would block the run loop's thread until something writes into it.
      {"received file is a FIFO", spooler_, received.file("fifo.pdf"), EINVAL},
      {"received file is a folder", spooler_, received.file("folder.pdf"), EISDIR},
      {"no spool folder", uninitialised, received.file("doc.pdf"), ENOENT},
  };
  for (const auto& c : cases) {
    outcome o;
    c.spooler.print(make_printer(model::action_open, "", app), make_job(c.file, "application/pdf"),
                    recorder(o));
    EXPECT_EQ(o.text(), "(" + std::to_string(c.want) + ", 8, 0)") << c.name;
  }
  EXPECT_TRUE(spooled().empty()) << "no partial copy";
  EXPECT_FALSE(test::exists(marker)) << "the application was started without its file";
}

TEST_F(spooler_open, makes_the_spool_folder_again_when_it_went_while_the_console_ran) {
  std::filesystem::remove_all(spool_);
  model::job_ptr job = open_received("doc.pdf", "%PDF", spooler_);
  EXPECT_EQ(job->filename().narrow().rfind(spool_ + "/doc-", 0), 0u) << job->filename().narrow();
  EXPECT_EQ(test::read_file(job->filename().narrow()), "%PDF");
}

TEST_F(spooler_open, reports_minus_one_for_an_application_that_cannot_be_started) {
  temp_folder received, bin;
  ASSERT_TRUE(test::write_file(bin.file("not-executable"), "#!/bin/sh\n"));
  ASSERT_TRUE(test::write_file(received.file("doc.pdf"), "%PDF"));
  const std::pair<std::string, delivery_failure> apps[] = {
      {bin.file("does-not-exist"), delivery_failure::application_missing},
      {"quorvane-no-such-program", delivery_failure::application_missing},
      {bin.file("not-executable"), delivery_failure::application_not_starting},
      {bin.path(), delivery_failure::application_missing}};
  for (const auto& [app, why] : apps) {
    outcome o;
    model::job_ptr job = make_job(received.file("doc.pdf"), "application/pdf", "Holiday");
    testing_support::log_capture log;
    spooler_.print(make_printer(model::action_open, "", app, "viewer"), job, recorder(o));
    EXPECT_EQ(o.text(), "(-1, 9, 0)") << app;
    EXPECT_EQ(failure_of(*job, o.status), why) << app;
    EXPECT_EQ(log.messages_starting("Unable to deliver"),
              std::vector<std::string>{std::string("Unable to deliver job 'Holiday' to printer 'viewer': ") +
                                       reason_sentence(why)})
        << app;
  }
  EXPECT_TRUE(spooled().empty()) << "a copy that nothing opens is removed at once";
}

// xdg-open in its generic mode, with a desktop of the test's own making.
class spooler_desktop_open : public spooler_open {
 protected:
  void SetUp() override {
    spooler_open::SetUp();
    const std::string apps = home_.file("data/applications");
    std::filesystem::create_directories(apps);
    std::filesystem::create_directories(home_.file("config"));
    opened_ = home_.file("opened");
    const std::string viewer = home_.file("viewer");
    ASSERT_TRUE(test::write_file(viewer, "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened_ + "'\n"));
    ASSERT_EQ(chmod(viewer.c_str(), 0755), 0);
    ASSERT_TRUE(test::write_file(apps + "/qvviewer.desktop",
                                 "[Desktop Entry]\nType=Application\nName=Viewer\nExec=" + viewer +
                                     " %f\nMimeType=application/pdf;\n"));
    ASSERT_TRUE(test::write_file(home_.file("config/mimeapps.list"),
                                 "[Default Applications]\napplication/pdf=qvviewer.desktop\n"));
  }
  temp_folder home_;
  std::string opened_;
  scoped_env home_env_{"HOME", home_.path()};
  scoped_env data_{"XDG_DATA_HOME", home_.file("data")};
  scoped_env data_dirs_{"XDG_DATA_DIRS", home_.file("none")};
  scoped_env config_{"XDG_CONFIG_HOME", home_.file("config")};
  scoped_env config_dirs_{"XDG_CONFIG_DIRS", home_.file("none")};
  scoped_env desktop_{"XDG_CURRENT_DESKTOP", "X-Generic"};
  // xdg-open consults the desktop associations only when a display is named; none is opened here.
  scoped_env display_{"DISPLAY", ":97"};
  scoped_env browser_{"BROWSER", "/nonexistent/browser"};
};

TEST_F(spooler_desktop_open, opens_the_file_with_the_associated_application) {
  if (system("command -v xdg-open >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "xdg-open is not installed (xdg-utils)";
  temp_folder received;
  ASSERT_TRUE(test::make_pdf(received.file("report.pdf"), 1));
  model::job_ptr job = make_job(received.file("report.pdf"), "application/pdf");
  outcome o;
  spooler_.print(make_printer(model::action_open), job, recorder(o));
  EXPECT_EQ(o.calls, 0) << "the opener is waited for on a worker, not on this thread";
  ASSERT_TRUE(wait_for(o, 30));
  EXPECT_EQ(o.text(), "(0, 9, 0)");
  const std::string copy = job->filename().narrow();
  EXPECT_EQ(copy.rfind(spool_ + "/report-", 0), 0u) << copy;
  EXPECT_EQ(test::read_file(opened_), copy);
  EXPECT_EQ(test::read_file(copy), test::read_file(received.file("report.pdf")));
}

TEST_F(spooler_desktop_open, reports_minus_one_when_the_desktop_has_no_application_for_the_file) {
  if (system("command -v xdg-open >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "xdg-open is not installed (xdg-utils)";
  temp_folder received;
  ASSERT_TRUE(test::write_file(received.file("data.qvunknown"), std::string("\x01\x02\x03\x04 binary", 11)));
  outcome o;
  model::job_ptr job = make_job(received.file("data.qvunknown"), "application/octet-stream");
  spooler_.print(make_printer(model::action_open), job, recorder(o));
  ASSERT_TRUE(wait_for(o, 30));
  EXPECT_EQ(o.text(), "(-1, 9, 0)");
  EXPECT_EQ(failure_of(*job, o.status), delivery_failure::no_application_for_document);
  EXPECT_FALSE(test::exists(opened_));
  EXPECT_TRUE(spooled().empty()) << "a copy that nothing opens is removed at once";
}

// ---- action 2: failures before any printer is opened

class spooler_print : public test::main_loop_test {};

TEST_F(spooler_print, refuses_formats_other_than_pdf_jpeg_and_png_exactly) {
  temp_folder received;
  ASSERT_TRUE(test::make_pdf(received.file("doc.pdf"), 1));
  spooler_impl spooler;
  for (const char* format :
       {"image/pwg-raster", "application/octet-stream", "application/PDF", "image/JPEG", ""}) {
    outcome o;
    model::job_ptr job = make_job(received.file("doc.pdf"), format);
    spooler.print(make_printer(model::action_print, "", "", "quorvane-no-such-queue"), job, recorder(o));
    EXPECT_EQ(o.calls, 1) << format;
    EXPECT_EQ(o.text(), "(-1, 8, 0)") << format;
    EXPECT_EQ(failure_of(*job, o.status), delivery_failure::format_not_printable) << format;
  }
}

TEST_F(spooler_print, fails_a_document_that_cannot_be_read_before_opening_the_printer) {
  temp_folder received;
  ASSERT_TRUE(test::write_file(received.file("corrupt.pdf"), "%PDF-1.4\ngarbage\n"));
  ASSERT_TRUE(test::write_file(received.file("text.jpg"), "not an image at all"));
  ASSERT_TRUE(test::write_file(received.file("text.png"), "not an image at all"));
  // The queue does not exist: opening it would give a CUPS status, not -1.
  struct {
    const char* file;
    const char* format;
  } cases[] = {{"missing.pdf", "application/pdf"},
               {"corrupt.pdf", "application/pdf"},
               {"text.jpg", "image/jpeg"},
               {"text.png", "image/png"},
               {"missing.png", "image/png"}};
  spooler_impl spooler;
  for (const auto& c : cases) {
    outcome o;
    model::job_ptr job = make_job(received.file(c.file), c.format);
    spooler.print(make_printer(model::action_print, "", "", "quorvane-no-such-queue"), job, recorder(o));
    EXPECT_EQ(o.calls, 0) << c.file << ": a print is reported through the run loop";
    ASSERT_TRUE(wait_for(o)) << c.file;
    EXPECT_EQ(o.calls, 1) << c.file;
    EXPECT_EQ(o.text(), "(-1, 8, 0)") << c.file;
    EXPECT_EQ(failure_of(*job, o.status), delivery_failure::document_unreadable) << c.file;
    EXPECT_EQ(job->reference_count(), 1) << c.file << ": the print path is released with the job's end";
  }
}

TEST_F(spooler_print, changes_an_image_jobs_orientation_only_on_the_run_loops_thread) {
  temp_folder received;
  ASSERT_TRUE(test::make_png(received.file("wide.png"), 40, 30, 0x336699));
  model::job_ptr job = make_job(received.file("wide.png"), "image/png");
  job->setOrientation(3);
  spooler_impl spooler;
  outcome o;
  // The image loads, then the queue cannot be opened: the job fails after its setup chose landscape.
  spooler.print(make_printer(model::action_print, "", "", "quorvane-no-such-queue"), job, recorder(o));
  // The worker has long finished; its completion waits on the loop, and the record is untouched meanwhile.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(job->orientation(), 3) << "the worker wrote the job record";
  ASSERT_TRUE(wait_for(o));
  EXPECT_EQ(o.state, 8) << o.text();
  EXPECT_EQ(job->orientation(), 4) << "wider than tall, set with the completion";
  EXPECT_TRUE(job->dirty());
}

TEST_F(spooler_print, answers_delete_job_at_once_when_there_is_no_cups_job) {
  spooler_impl spooler;
  struct {
    const char* name;
    int32_t action, platform_id;
  } cases[] = {{"open action", model::action_open, 12}, {"no CUPS job id", model::action_print, 0}};
  for (const auto& c : cases) {
    model::job_ptr job = make_job("/nonexistent", "application/pdf");
    job->setPlatformID(c.platform_id);
    int calls = 0, error = -99;
    spooler.deleteJob(make_printer(c.action, "", "", "quorvane-no-such-queue"), job, [&](int32_t e) {
      ++calls;
      error = e;
    });
    EXPECT_EQ(calls, 1) << c.name;
    EXPECT_EQ(error, 0) << c.name;
  }
}

}  // namespace
}  // namespace quorvane
