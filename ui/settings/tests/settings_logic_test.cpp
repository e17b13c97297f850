// The plain classes behind the settings pages: display names, the general page's edits, the access list,
// the local accounts and the icon of a chosen application.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <json/value.h>

#include "test_support/scoped_environment.h"
#include "test_support/temporary_folder.h"
#include "ui/settings/application_icon.h"
#include "ui/settings/general.h"
#include "ui/settings/security.h"
#include "ui/settings/user_accounts.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

const std::string pc_prefix = "\xEE\x80\x8C";  // U+E00C

/// A printer read from JSON, so that it starts clean.
smart_ptr<model::printer> clean_printer(Json::Value json) {
  auto p = make_counted<model::printer>();
  p->readJSON(json);
  return p;
}

/// A temporary folder removed at the end of the test, with files written into it.
class temp_folder : public testing_support::temporary_folder {
 public:
  /// Writes `content` to `relative` (folders made as needed) and returns the full path.
  std::string write(const std::string& relative, const std::string& content) const {
    const fs::path file = fs::path(path()) / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file) << content;
    return file.string();
  }

 private:
  std::string path_;
};

// ---- what the general page shows

TEST(GeneralView, TextsAndIconFollowTheActionTable) {
  struct view_case {
    const char* name;
    int32_t action;
    std::string param;
    std::string label;
    std::string value;
    action_icon icon;
    std::string folder;
  };
  // A printer that neither opens nor prints keeps its documents in the default folder, and says which.
  const temp_folder home;
  const testing_support::scoped_environment home_env("HOME", home.path());
  const testing_support::scoped_environment config_env("XDG_CONFIG_HOME", home.path() + "/config");
  const std::string kept = "Default (" + home.path() + "/Downloads/Quorvane)";
  const view_case cases[] = {
      {"Nothing", 0, "", "Action:", "-", {action_icon::quorvane, ""}, kept},
      {"NothingIgnoresParam", 0, "/usr/bin/gimp", "Action:", "-", {action_icon::quorvane, ""}, kept},
      {"DefaultApplication", 1, "", "Open With:", "Default", {action_icon::pc, ""}, "Default"},
      {"ChosenApplication",
       1,
       "/usr/bin/gimp",
       "Open With:",
       "/usr/bin/gimp",
       {action_icon::application, "/usr/bin/gimp"},
       "Default"},
      {"Print", 2, "Office Laser", "Print:", "Office Laser", {action_icon::quorvane, ""}, "Default"},
      {"PrintWithoutParam", 2, "", "Print:", "", {action_icon::quorvane, ""}, "Default"},
  };
  for (const view_case& c : cases) {
    model::printer p;
    p.setDisplayName(pc_prefix + "Office");
    p.setAction(c.action);
    p.setActionParam(wide_string::from_narrow(c.param));
    const general_view view = view_of(p);
    EXPECT_EQ(view.action_label, c.label) << c.name;
    EXPECT_EQ(view.action_value, c.value) << c.name;
    EXPECT_EQ(view.icon, c.icon) << c.name;
    EXPECT_EQ(view.name, "Office") << c.name;
    EXPECT_EQ(view.prefix, pc_prefix) << c.name;
    EXPECT_EQ(view.folder, c.folder) << c.name;
  }
}

// ---- the general page's edits

TEST(GeneralEdit, RenameKeepsThePrefixAndEmptyEditsKeepTheOldValues) {
  Json::Value json;
  json["displayName"] = pc_prefix + "Open On My PC @ host";
  json["location"] = "Quorvane @ host";
  json["action"] = 1;
  auto p = clean_printer(json);
  general_edit edit;
  edit.begin(*p);
  edit.apply(*p, pc_prefix, "", "", {});
  EXPECT_FALSE(p->dirty()) << "nothing changed";
  EXPECT_EQ(p->displayName(), pc_prefix + "Open On My PC @ host");

  edit.apply(*p, pc_prefix, "Office", "Hall", {});
  EXPECT_EQ(p->displayName(), pc_prefix + "Office");
  EXPECT_EQ(p->location().narrow(), "Hall");
  EXPECT_TRUE(p->dirty());
}

TEST(GeneralEdit, ActionTwoKeepsFolderAndAction) {
  Json::Value json;
  json["action"] = 2;
  json["actionParam"] = "Office Laser";
  json["directory"] = "/srv/in";
  auto p = clean_printer(json);
  general_edit edit;
  edit.begin(*p);
  EXPECT_TRUE(edit.folder_and_action_locked());
  edit.choose_action(model::action_none);
  edit.choose_default_folder();
  edit.choose_folder("/tmp");
  edit.choose_application("/usr/bin/gimp");
  EXPECT_EQ(edit.action(), 2);
  EXPECT_EQ(edit.folder(), "/srv/in");
  EXPECT_EQ(edit.application(), "Office Laser");
  EXPECT_EQ(edit.action_caption(), "Print");
  edit.apply(*p, "", "Renamed", "", {});
  EXPECT_EQ(p->action(), 2);
  EXPECT_EQ(p->directory().narrow(), "/srv/in");
  EXPECT_EQ(p->actionParam().narrow(), "Office Laser");
  EXPECT_EQ(p->displayName(), "Renamed");
}

TEST(GeneralEdit, ChoicesAndTheirCaptions) {
  Json::Value json;
  json["action"] = 1;
  json["actionParam"] = "/usr/bin/gimp";
  auto p = clean_printer(json);
  general_edit edit;
  edit.begin(*p);
  EXPECT_EQ(edit.folder_caption(), "Default");
  EXPECT_EQ(edit.action_caption(), "Open With");
  EXPECT_TRUE(edit.application_shown());
  EXPECT_EQ(edit.application_caption(), "gimp");
  EXPECT_EQ(edit.icon(), (action_icon{action_icon::application, "/usr/bin/gimp"}));

  const temp_folder chosen;
  const std::string in = chosen.path() + "/In";
  fs::create_directories(in);
  EXPECT_EQ(edit.choose_folder(in), "");
  EXPECT_EQ(edit.folder_caption(), in);
  EXPECT_EQ(edit.choose_folder(""), "");  // a cancelled chooser
  EXPECT_EQ(edit.folder(), in);

  // "Nothing" after an application clears it; "Open With" then starts from the default application. With
  // "Nothing" the folder "Default" names the default folder the documents will go to.
  const temp_folder home;
  const testing_support::scoped_environment home_env("HOME", home.path());
  const testing_support::scoped_environment config_env("XDG_CONFIG_HOME", home.path() + "/config");
  edit.choose_default_folder();
  EXPECT_EQ(edit.folder_caption(), "Default");
  edit.choose_action(model::action_none);
  EXPECT_EQ(edit.folder_caption(), "Default (" + home.path() + "/Downloads/Quorvane)");
  EXPECT_EQ(edit.folder(), "") << "the printer's folder stays \"Default\"";
  edit.choose_folder(in);
  EXPECT_EQ(edit.application(), "");
  EXPECT_FALSE(edit.application_shown());
  EXPECT_EQ(edit.action_caption(), "Nothing");
  EXPECT_EQ(edit.icon().kind, action_icon::quorvane);
  edit.choose_application("/usr/bin/gimp");  // no application chooser while the action is 0
  EXPECT_EQ(edit.application(), "");
  edit.choose_action(model::action_open);
  EXPECT_EQ(edit.application_caption(), "Default");
  EXPECT_EQ(edit.icon().kind, action_icon::pc);
  edit.choose_action(model::action_print);  // not offered by the chooser
  EXPECT_EQ(edit.action(), 1);

  edit.apply(*p, "", "", "", {});
  EXPECT_EQ(p->action(), 1);
  EXPECT_EQ(p->actionParam().narrow(), "");
  EXPECT_EQ(p->directory().narrow(), in);
}

TEST(GeneralEdit, AFolderThatCannotTakeDocumentsIsRefusedWithItsReason) {
  const temp_folder chosen;
  const std::string file = chosen.write("file", "not a folder");
  struct refusal_case {
    const char* name;
    std::string path;
    std::string cause;
  };
  const refusal_case cases[] = {
      {"missing", chosen.path() + "/gone", "it does not exist or is not a folder"},
      {"a file", file, "it does not exist or is not a folder"},
      // Refused even to root.
      {"a system folder", "/sys", "you may not create files in it"},
  };
  for (const refusal_case& c : cases) {
    general_edit edit;
    edit.choose_action(model::action_none);
    EXPECT_EQ(edit.choose_folder(c.path),
              "Unable to use folder '" + c.path + "': " + c.cause + ". Choose another folder.")
        << c.name;
    EXPECT_EQ(edit.folder(), "") << c.name << ": the working folder stays";
  }
  // A folder that takes documents is taken, and the trial leaves nothing behind.
  general_edit edit;
  EXPECT_EQ(edit.choose_folder(chosen.path()), "");
  EXPECT_EQ(edit.folder(), chosen.path());
  EXPECT_EQ(std::distance(fs::directory_iterator(chosen.path()), {}), 1) << "only the file written above";
}

TEST(GeneralEdit, AReadOnlyFolderIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into any folder";
  const temp_folder chosen;
  const std::string locked = chosen.path() + "/locked";
  fs::create_directories(locked);
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
  general_edit edit;
  EXPECT_EQ(edit.choose_folder(locked),
            "Unable to use folder '" + locked + "': you may not create files in it. Choose another folder.");
  EXPECT_EQ(edit.folder(), "");
  chmod(locked.c_str(), 0755);
}

// ---- access list

TEST(AccessList, EveryoneForAnEmptyListAndDuplicatesAllowed) {
  model::printer p;
  access_view view = access_view_of(p);
  EXPECT_EQ(view.rows, std::vector<std::string>{"Everyone"});
  EXPECT_FALSE(view.remove_enabled);

  EXPECT_TRUE(add_access_user(p, "alice"));
  EXPECT_TRUE(add_access_user(p, "alice"));
  EXPECT_EQ(p.acl(), (std::vector<std::string>{"alice", "alice"}));
  view = access_view_of(p);
  EXPECT_EQ(view.rows, (std::vector<std::string>{"alice", "alice"}));
  EXPECT_TRUE(view.remove_enabled);
}

TEST(AccessList, RemovingRows) {
  model::printer p;
  p.setAcl({"alice", "bob"});
  EXPECT_FALSE(remove_access_row(p, {"alice", "bob"}, -1)) << "no selection";
  EXPECT_FALSE(remove_access_row(p, {"alice", "bob"}, 2)) << "out of range";
  EXPECT_TRUE(remove_access_row(p, {"alice", "bob"}, 0));
  EXPECT_EQ(p.acl(), std::vector<std::string>{"bob"});
  EXPECT_TRUE(remove_access_row(p, {"bob"}, 0)) << "the last user";
  EXPECT_TRUE(p.acl().empty());
  EXPECT_FALSE(remove_access_row(p, {"Everyone"}, 0)) << "\"Everyone\" is not a user";
  EXPECT_TRUE(p.acl().empty());
}

// ---- local accounts

TEST(UserAccounts, UidRangeFromLoginDefs) {
  temp_folder folder;
  struct defs_case {
    const char* name;
    std::string content;
    uid_t min;
    uid_t max;
  };
  const defs_case cases[] = {
      {"Both", "# comment\nUID_MIN\t\t 500\nUID_MAX 600\n", 500, 600},
      {"Neither", "GID_MIN 100\n", 1000, 60000},
      {"CommentedOut", "#UID_MIN 5\n", 1000, 60000},
      {"NotANumber", "UID_MIN abc\nUID_MAX 12x\n", 1000, 60000},
      {"Negative", "UID_MIN -5\n", 1000, 60000},
  };
  for (const defs_case& c : cases) {
    const uid_range range = read_uid_range(folder.write(c.name, c.content));
    EXPECT_EQ(range.min, c.min) << c.name;
    EXPECT_EQ(range.max, c.max) << c.name;
  }
  const uid_range missing = read_uid_range(folder.path() + "/none");
  EXPECT_EQ(missing.min, 1000u);
  EXPECT_EQ(missing.max, 60000u);
}

TEST(UserAccounts, AccountsInTheRangeInTheSystemsOrder) {
  EXPECT_EQ(local_user_accounts(uid_range{0, 0}), std::vector<std::string>{"root"});
  EXPECT_TRUE(local_user_accounts(uid_range{5, 4}).empty());
  // The whole range holds root first, as /etc/passwd lists it.
  const std::vector<std::string> all = local_user_accounts(uid_range{0, 4294967294u});
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front(), "root");
}

// ---- the icon of a chosen application

TEST(ApplicationIcon, ExecProgramOfDesktopEntries) {
  EXPECT_EQ(exec_program("gimp-2.10 %U"), "gimp-2.10");
  EXPECT_EQ(exec_program("  /opt/app/run --new"), "/opt/app/run");
  EXPECT_EQ(exec_program("\"/opt/My App/run\" %f"), "/opt/My App/run");
  EXPECT_EQ(exec_program("\"/opt/a\\\"b\" %f"), "/opt/a\"b");
  EXPECT_EQ(exec_program(""), "");
}

TEST(ApplicationIcon, IconOfTheEntryThatStartsTheProgram) {
  temp_folder folder;
  const std::string program = folder.write("bin/viewer", "#!/bin/sh\n");
  chmod(program.c_str(), 0755);
  const std::string other = folder.write("bin/other", "#!/bin/sh\n");
  chmod(other.c_str(), 0755);
  const std::string first = folder.path() + "/first";
  const std::string second = folder.path() + "/second";
  folder.write("first/applications/other.desktop", "[Desktop Entry]\nExec=" + other + "\nIcon=other-icon\n");
  folder.write("first/applications/hidden.desktop",
               "[Desktop Entry]\nExec=" + program + "\nIcon=hidden-icon\nHidden=true\n");
  folder.write("second/applications/sub/viewer.desktop",
               "[Desktop Action new]\nIcon=action-icon\n[Desktop Entry]\nName=Viewer\nExec=viewer %f\nIcon = "
               "viewer-icon\n");

  const testing_support::scoped_environment path("PATH", folder.path() + "/bin");
  EXPECT_EQ(desktop_icon_for_program(program, {first, second}), "viewer-icon") << "found on PATH";
  EXPECT_EQ(desktop_icon_for_program("viewer", {first, second}), "viewer-icon") << "by name";
  EXPECT_EQ(desktop_icon_for_program(other, {first, second}), "other-icon");
  EXPECT_EQ(desktop_icon_for_program(folder.path() + "/bin/none", {first, second}), "");
  EXPECT_EQ(desktop_icon_for_program(program, {first}), "") << "only the hidden entry";
}

TEST(ApplicationIcon, DataFoldersFromTheEnvironment) {
  const testing_support::scoped_environment home("XDG_DATA_HOME", "/tmp/qv-home");
  {
    const testing_support::scoped_environment dirs("XDG_DATA_DIRS", "/a::/b");
    EXPECT_EQ(xdg_data_folders(), (std::vector<std::string>{"/tmp/qv-home", "/a", "/b"}));
  }
  const testing_support::scoped_environment no_dirs("XDG_DATA_DIRS", std::nullopt);
  EXPECT_EQ(xdg_data_folders(), (std::vector<std::string>{"/tmp/qv-home", "/usr/local/share", "/usr/share"}));
}

}  // namespace
}  // namespace quorvane
