#include "ui/controls/file_choice.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "test_support/temporary_folder.h"
#include "ui/controls/application_dlg.h"
#include "ui/controls/folder_dlg.h"

namespace quorvane {
namespace {

using testing_support::temporary_folder;

class FileChoice : public testing::Test {
 protected:
  void SetUp() override {
    root = QString::fromStdString(folder.path());
    write(root + "/tool", 0755);
    write(root + "/notes.txt", 0644);
    std::filesystem::create_directory(folder.path() + "/sub");
    std::filesystem::create_symlink(folder.path() + "/tool", folder.path() + "/tool-link");
    std::filesystem::create_symlink(folder.path() + "/sub", folder.path() + "/sub-link");
  }
  static void write(const QString& path, mode_t mode) {
    std::ofstream(path.toStdString()) << "#!/bin/sh\n";
    chmod(path.toLocal8Bit().constData(), mode);
  }
  temporary_folder folder;
  QString root;
};

TEST_F(FileChoice, AnApplicationIsAnExistingExecutableFile) {
  const struct {
    const char* name;
    bool want;
  } cases[] = {
      {"/tool", true}, {"/tool-link", true}, {"/notes.txt", false},
      {"/sub", false}, {"/missing", false},  {"", false},
  };
  for (const auto& c : cases) {
    const QString path = *c.name ? root + QString::fromLatin1(c.name) : QString();
    EXPECT_EQ(is_choosable_application(path), c.want) << c.name;
  }
}

TEST_F(FileChoice, AFolderIsAnExistingFolder) {
  EXPECT_TRUE(is_choosable_folder(root + "/sub"));
  EXPECT_TRUE(is_choosable_folder(root + "/sub-link"));
  EXPECT_FALSE(is_choosable_folder(root + "/tool"));
  EXPECT_FALSE(is_choosable_folder(root + "/missing"));
  EXPECT_FALSE(is_choosable_folder(QString()));
}

// Chooses `path` in the open chooser and presses its accept button, once the chooser runs; a chooser
// still open after 5 s is closed so that a failing test cannot hang.
template <class Chooser>
void choose_in_chooser(Chooser* dialog, const QString& path) {
  QTimer::singleShot(0, dialog, [dialog, path] {
    dialog->selectFile(path);
    dialog->accept();
  });
  QTimer::singleShot(5000, dialog, [dialog] {
    ADD_FAILURE() << "the chooser was still open after 5 s";
    dialog->reject();
  });
}

TEST_F(FileChoice, TheApplicationChooserRefusesAFileThatIsNotExecutable) {
  MyFileDialog dialog(nullptr, QString(), root);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Choose Executable"));
  EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
  EXPECT_TRUE(dialog.filter() & QDir::Executable);
  // The refused choice leaves the chooser open; the next one closes it.
  QTimer::singleShot(0, &dialog, [&] {
    dialog.selectFile(root + "/notes.txt");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible()) << "a file that is not executable is refused";
    dialog.selectFile(root + "/missing");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible()) << "a missing file is refused";
  });
  choose_in_chooser(&dialog, root + "/tool");
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_EQ(dialog.path(), root + "/tool");
}

TEST_F(FileChoice, TheFolderChooserGivesTheChosenFolder) {
  CFolderDialog dialog(nullptr, root);
  EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
  EXPECT_TRUE(dialog.testOption(QFileDialog::ShowDirsOnly));
  choose_in_chooser(&dialog, root + "/sub");
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_EQ(dialog.path(), root + "/sub");
}

TEST_F(FileChoice, TheFolderChooserStaysOpenOnAFileAndCancelLeavesNoPath) {
  CFolderDialog dialog(nullptr, root);
  QTimer::singleShot(0, &dialog, [&] {
    dialog.selectFile(root + "/tool");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible()) << "a file is not a folder";
    dialog.reject();
  });
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  EXPECT_TRUE(dialog.path().isEmpty());
}

}  // namespace
}  // namespace quorvane
