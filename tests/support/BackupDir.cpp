#include "support/BackupDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

std::filesystem::path FreshBackupDir(const std::string& prefix) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      (prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  setenv("QVX_BACKUP_DIR", dir.c_str(), 1);
  return dir;
}
