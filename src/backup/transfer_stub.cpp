#include "backup/backup_thread.hpp"

namespace sejfko {

// Local storage only in this build: nothing is ever sent.
bool TBackupThread::TransferBackup() {
    return false;
}

}  // namespace sejfko
