#include "folder_lock.h"

#include <atomic>

namespace {

// Set from the moment a lock is tried until it is dropped; a flag any thread may test.
std::atomic<bool> lockedByThisProcess{false};

}  // namespace

FolderLock::FolderLock(const char *name, int waitMs)
{
    if (lockedByThisProcess.exchange(true)) {
        std::snprintf(refusal_, sizeof refusal_, "This window holds the lock against other windows already");
        return;
    }
    claimed_ = true;
    Take(name, waitMs);
    if (held_ == -1) {
        claimed_ = false;
        lockedByThisProcess = false;
    }
}

FolderLock::~FolderLock()
{
    if (held_ != -1)
        Release();
    if (claimed_)
        lockedByThisProcess = false;
}

void FolderLock::CannotLock(const char *folder, const char *why)
{
    char shown[PATH_MAX];
    FullPathOf(folder, shown);
    std::snprintf(refusal_, sizeof refusal_, "The folder %s could not be locked against other windows: %s", shown, why);
}
