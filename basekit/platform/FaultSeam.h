// FaultSeam.h - injected failures of file, folder and memory operations, for tests.
//
// This file defines FaultSeam, the switch through which a test makes the n-th
// copy, rename or move, delete, Trash move, creation, content write, change
// of owner, flush to the disk, folder lock or XML parse allocation fail with
// an errno of its choice. Tests run as root, where permission bits stop
// nothing, owners can always be given and a disk is seldom full, so these
// failures cannot be produced by the system itself. The stand-ins of the file
// and folder layers, and the XML parse's memory manager, ask the seam before
// what they stand for; it is off unless a test arms it, and then costs one
// relaxed atomic load per operation. It can also stop the process at a chosen
// operation, for tests of what a stopped run leaves. Arming and checking may
// happen on any thread.
#pragma once

#include <cstdint>

namespace bkit {

enum class FaultOperation : int32_t {
    kCopy = 0,    // writing the data of one file being copied
    kRename,      // a rename or move of one item
    kDelete,      // the removal of one item
    kTrash,       // the move of one item to the Trash
    kCreate,      // the creation of one file or folder
    kRenameFlag,  // the file system refusing the no-replace flag of a rename (EINVAL)
    kWrite,       // writing the new content of a file that replaces its old one
    kOwner,       // giving a copied item the owner and group of its source (fchownat)
    kFlush,       // asking the disk to keep a file, a folder or a tree (fsync, syncfs)
    kExchangeStep,  // one plain rename of an exchange the file system cannot do in one step
    kLock,        // taking the lock of a folder (flock)
    kAllocate,    // an allocation the XML library asks of a parse's memory manager
    kCount
};

class FaultSeam {
public:
    // From now on, the nth (1 = the next) operation of that kind fails with
    // errnum, and so do the count - 1 operations after it; later ones succeed
    // again. Replaces an earlier arming of the kind.
    static void Arm(FaultOperation op, int nth, int errnum, int count = 1);

    // Every operation of that kind fails with errnum until disarmed.
    static void ArmAlways(FaultOperation op, int errnum);

    // The nth operation of that kind ends the process at once with SIGKILL,
    // before it acts, as a power cut or a kill would stop it there. Only for
    // a child process that a test forks to see what such a stop leaves.
    static void ArmStop(FaultOperation op, int nth);

    static void Disarm(FaultOperation op);

    // True while an arming of that kind waits for its failing operation, so
    // that a test can tell that an operation was asked for.
    static bool IsArmed(FaultOperation op);
    static void DisarmAll();

    // Called by the stand-ins once per operation: the errno to fail with, or 0.
    static int Check(FaultOperation op);
};

// Arms on construction, disarms every kind on destruction.
class StFaultSeam {
public:
    StFaultSeam(FaultOperation op, int nth, int errnum) { FaultSeam::Arm(op, nth, errnum); }
    ~StFaultSeam() { FaultSeam::DisarmAll(); }
    StFaultSeam(const StFaultSeam&) = delete;
    StFaultSeam& operator=(const StFaultSeam&) = delete;
};

}  // namespace bkit
