#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "core/files.h"
#include "core/os.h"
#include "print_service/store/spool.h"
#include "test_support/temporary_folder.h"

namespace quorvane::print_service {
namespace {

TEST(Spool, FormatComesFromTheContent) {
  struct {
    const char* name;
    std::string head;
    const char* want;
  } cases[] = {
      {"pdf", "%PDF-1.7\n", "application/pdf"},
      {"jpeg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10), "image/jpeg"},
      {"png", std::string("\x89PNG\r\n\x1A\n\0\0", 10), "image/png"},
      {"png signature cut short", "\x89PNG\r\n", "application/octet-stream"},
      {"text", "hello", "application/octet-stream"},
      {"empty", "", "application/octet-stream"},
      {"pdf marker not at start", " %PDF-1.4", "application/octet-stream"},
  };
  for (const auto& c : cases) {
    const std::string got = detect_format(c.head);
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
  }
}

TEST(Spool, FileNameFollowsTheGenerationFlags) {
  struct {
    const char* name;
    const char* document;
    int32_t flags;
    const char* want;
  } cases[] = {
      {"no flags", "/home/a/Report.final.pdf", 0, "Report.final.pdf"},
      {"user", "/x/Report.pdf", 1, "Report+bob.pdf"},
      {"address", "/x/Report.pdf", 2, "Report+10.0.0.2.pdf"},
      {"hardware address", "/x/Report.pdf", 4, "Report+aa:bb:cc:dd:ee:ff.pdf"},
      {"all three in order", "/x/Report.pdf", 7, "Report+bob+10.0.0.2+aa:bb:cc:dd:ee:ff.pdf"},
      {"no extension", "/x/scan", 1, "scan+bob"},
      {"hidden file keeps its dot", "/x/.profile", 1, ".profile+bob"},
      {"no base name", "/x/", 1, "document+bob"},
  };
  for (const auto& c : cases) {
    const std::string got = spooled_file_name(c.document, c.flags, "bob", "10.0.0.2", "aa:bb:cc:dd:ee:ff");
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
  }
  // Parts that are unknown are left out; parts cannot climb out of the spool folder.
  EXPECT_EQ(spooled_file_name("a.pdf", 7, "", "10.0.0.2", ""), "a+10.0.0.2.pdf");
  EXPECT_EQ(spooled_file_name("a.pdf", 1, "../../etc", "", ""), "a+.._.._etc.pdf");
}

// True when `text` is valid UTF-8 (the console's converter takes it).
bool valid_utf8(const std::string& text) {
  return text.empty() || !wide_string::from_narrow(text).empty();
}

TEST(Spool, ANameTooLongForTheFileSystemIsShortenedKeepingItsExtension) {
  const std::string long_base = "/x/" + std::string(250, 'r') + ".pdf";  // a legal name of 254 bytes
  const std::string long_user(300, 'u');
  // "é" is two bytes: a cut at an odd offset would split one.
  const std::string accented_base = "/x/" + std::string(1, 'a') + [] {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "\xC3\xA9";
    return text;
  }() + ".jpeg";
  struct long_case {
    const char* name;
    std::string document;
    std::string user;
    std::string want_extension;
  } cases[] = {
      {"a 250-character base with every flag", long_base, "bob", ".pdf"},
      {"a 300-character user", "/x/Report.pdf", long_user, ".pdf"},
      {"two-byte characters", accented_base, long_user, ".jpeg"},
      {"no extension", "/x/" + std::string(250, 's'), long_user, ""},
  };
  for (const auto& c : cases) {
    const std::string got = spooled_file_name(c.document, 7, c.user, "10.0.0.2", "aa:bb:cc:dd:ee:ff");
    EXPECT_LE(got.size(), max_spooled_name) << c.name << ": got " << got.size() << " bytes";
    EXPECT_GE(got.size(), max_spooled_name - 1) << c.name << ": shortened more than needed";
    EXPECT_EQ(got.substr(got.size() - c.want_extension.size()), c.want_extension) << c.name;
    EXPECT_TRUE(valid_utf8(got)) << c.name << ": a character was cut in half";
  }
  // A name that fits is left alone.
  const std::string fits = "/x/" + std::string(251, 'f') + ".pdf";
  EXPECT_EQ(spooled_file_name(fits, 0, "", "", ""), fits.substr(3));
}

class SpoolFolder : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(root_.empty()); }
  testing_support::temporary_folder folder_;
  const std::string& root_ = folder_.path();
};

TEST_F(SpoolFolder, CopyKeepsTheBytesAndRefusesWhatCannotBeRead) {
  const std::string source = root_ + "/in.pdf";
  const std::string bytes = std::string("%PDF-1.4\n\0binary\xFF", 17);
  std::ofstream(source, std::ios::binary) << bytes;
  EXPECT_EQ(detect_file_format(source), "application/pdf");

  const std::string copy = copy_into_spool(source, root_ + "/spool/1", "Out+bob.pdf");
  ASSERT_EQ(copy, root_ + "/spool/1/Out+bob.pdf");
  std::ifstream in(copy, std::ios::binary);
  const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(got, bytes);

  // A second copy under the same name would overwrite the first: refused.
  EXPECT_EQ(copy_into_spool(source, root_ + "/spool/1", "Out+bob.pdf"), "");
  EXPECT_EQ(copy_into_spool(root_ + "/missing.pdf", root_ + "/spool/2", "x.pdf"), "");
  EXPECT_EQ(copy_into_spool(root_, root_ + "/spool/3", "x.pdf"), "") << "a folder is not a document";
  EXPECT_EQ(detect_file_format(root_ + "/missing.pdf"), "");
}

TEST_F(SpoolFolder, WhatIsNotARegularFileIsRefusedWithoutWaitingAndLeavesNoFolder) {
  const std::string fifo = root_ + "/pipe.pdf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct {
    const char* name;
    std::string path;
  } cases[] = {
      {"a FIFO nobody writes to", fifo},
      {"a folder", root_},
      {"a character device", "/dev/zero"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string folder = root_ + "/spool/refused-" + std::to_string(++n);
    EXPECT_EQ(detect_file_format(c.path), "") << c.name;
    EXPECT_EQ(copy_into_spool(c.path, folder, "x.pdf"), "") << c.name;
    EXPECT_NE(access(folder.c_str(), F_OK), 0) << c.name << ": a folder was made for a refused document";
  }
}

TEST_F(SpoolFolder, AJobsFolderIsDeletedWithItsDocuments) {
  const std::string uuid = "0b7f1c2e-8d3a-4e5f-9a6b-7c8d9e0f1a2b";
  const std::string source = root_ + "/in.pdf";
  std::ofstream(source) << "%PDF-1.4\n";
  ASSERT_NE(copy_into_spool(source, root_ + "/spool/" + uuid, "a.pdf"), "");
  ASSERT_NE(copy_into_spool(source, root_ + "/spool/" + uuid, "b.pdf"), "");
  EXPECT_TRUE(remove_job_spool(root_ + "/spool", uuid));
  EXPECT_NE(access((root_ + "/spool/" + uuid).c_str(), F_OK), 0);
  EXPECT_TRUE(remove_job_spool(root_ + "/spool", uuid)) << "already gone counts as deleted";
  // Names that are not a job's folder are refused, whatever they point at.
  for (const char* bad : {"", "..", ".", "in.pdf", "../spool", "0b7f1c2e-8d3a-4e5f-9a6b-7c8d9e0f1a2"}) {
    EXPECT_FALSE(remove_job_spool(root_, bad)) << "'" << bad << "'";
  }
  EXPECT_EQ(access(source.c_str(), F_OK), 0);
}

TEST_F(SpoolFolder, CleaningKeepsQueuedJobsAndWhatIsNotAJobFolder) {
  const std::string spool = root_ + "/spool";
  const std::string queued = "11111111-2222-4333-8444-555555555555";
  const std::string ended = "aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee";
  const std::string source = root_ + "/in.pdf";
  std::ofstream(source) << "%PDF-1.4\n";
  ASSERT_NE(copy_into_spool(source, spool + "/" + queued, "q.pdf"), "");
  ASSERT_NE(copy_into_spool(source, spool + "/" + ended, "e.pdf"), "");
  ASSERT_TRUE(make_folders(spool + "/" + "AAAAAAAA-BBBB-4CCC-8DDD-FFFFFFFFFFFF"));  // empty, upper case
  ASSERT_TRUE(make_folders(spool + "/incoming"));
  ASSERT_EQ(chmod(spool.c_str(), 0755), 0);

  EXPECT_EQ(clean_spool(spool, {queued}), 2);
  EXPECT_EQ(access((spool + "/" + queued + "/q.pdf").c_str(), F_OK), 0);
  EXPECT_NE(access((spool + "/" + ended).c_str(), F_OK), 0);
  EXPECT_EQ(access((spool + "/incoming").c_str(), F_OK), 0) << "not a job's folder: not ours to judge";
  struct stat info {};
  ASSERT_EQ(stat(spool.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u) << "the spool is its owner's only";
  EXPECT_EQ(clean_spool(spool, {queued}), 0);
  EXPECT_EQ(clean_spool(root_ + "/new/spool", {}), 0) << "a spool not made yet is made";
  EXPECT_EQ(access((root_ + "/new/spool").c_str(), F_OK), 0);
}

TEST(SpoolReserve, IsOnePercentOfTheFileSystemWithinBounds) {
  constexpr uint64_t mib = 1024 * 1024;
  struct {
    const char* name;
    uint64_t size;
    uint64_t want;
  } cases[] = {
      {"small file system: the floor", 100 * mib, 16 * mib},
      {"empty size: the floor", 0, 16 * mib},
      {"one percent", 20000 * mib, 200 * mib},
      {"large file system: the ceiling", 4000000 * mib, 512 * mib},
  };
  for (const auto& c : cases) {
    const uint64_t got = spool_reserve(c.size);
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
  }
}

TEST_F(SpoolFolder, RoomIsCheckedAgainstTheFreeSpaceLessTheReserve) {
  struct statvfs fs {};
  ASSERT_EQ(statvfs(root_.c_str(), &fs), 0);
  const uint64_t block = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
  const uint64_t available = static_cast<uint64_t>(fs.f_bavail) * block;
  const uint64_t reserve = spool_reserve(static_cast<uint64_t>(fs.f_blocks) * block);
  if (available < reserve + 64 * 1024 * 1024)
    GTEST_SKIP() << "the temporary folder's file system is nearly full";
  // Other programs write meanwhile: a margin of 32 MiB on either side of the limit.
  const uint64_t margin = 32 * 1024 * 1024;
  const uint64_t limit = available - reserve;
  // A folder not made yet is judged by its nearest existing parent.
  for (const std::string& folder : {root_, root_ + "/spool/not-made-yet"}) {
    std::string cause;
    EXPECT_TRUE(spool_has_room(folder, 0, cause)) << folder << ": " << cause;
    EXPECT_TRUE(spool_has_room(folder, limit - margin, cause)) << folder << ": " << cause;
    EXPECT_FALSE(spool_has_room(folder, limit + margin, cause)) << folder;
    EXPECT_NE(cause.find("MiB must stay free"), std::string::npos) << cause;
    cause.clear();
    EXPECT_FALSE(spool_has_room(folder, UINT64_MAX, cause)) << folder << ": more than the disk holds";
    EXPECT_FALSE(cause.empty());
  }
}

}  // namespace
}  // namespace quorvane::print_service
