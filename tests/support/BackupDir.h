// Parameter backups of a test go to a folder of their own, never into the
// user's data folder or another test's.
#pragma once
#include <filesystem>
#include <string>

// An empty folder named after prefix and the running test; QVX_BACKUP_DIR
// points to it from now on. The caller removes it when done.
std::filesystem::path FreshBackupDir(const std::string& prefix);
