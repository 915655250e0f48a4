#include "backup/backup_thread.hpp"

namespace sejfko {

void TBackupThread::RunBackup() {}

void TBackupThread::PruneLocalBackups() {}

}  // namespace sejfko
