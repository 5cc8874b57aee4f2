#pragma once
#include <sys/types.h>

#include <string>

#include "serial/posix/unique_fd.h"

// Paths a user names, walked one folder at a time with openat, never
// trusting what others may have put on the way. We may be root, and the
// path may pass through folders others may write (/tmp, /run/lock), where
// the kernel protects us only while fs.protected_symlinks and
// fs.protected_regular are on. Whatever those say:
//  - a link in a folder others may write is followed only when it is ours
//    or the folder owner's;
//  - a file is written only where nobody else can swap it: every folder on
//    the way is root's or ours and no group, other or ACL entry lets anyone
//    else write it, but for a sticky folder everybody may write (/tmp),
//    where only our own (or root's) files are used; never in a folder
//    everybody may write without the sticky bit;
//  - a file written is ours or root's, on a disk: never on proc, sysfs and
//    the like.
// Nothing is waited on, and no device is opened unless a port is asked for.
namespace isp {

enum class PathUse {
  Read,   // a file to read: links as above
  Write,  // a file to write or create: links and files as above
  Port,   // a serial device: links as above, and the device opened
};

struct WalkedPath {
  UniqueFd fd;
  int err = 0;           // the errno value, when there is no fd
  std::string why{};     // then the words, naming the part of the path at fault
  bool created = false;  // the file was made by this open
  std::string name{};    // openFolderOf: the last part of the path, in fd
};

// open(2) of path with flags and mode, walked as above. A file it creates
// gets exactly mode, whatever the umask.
WalkedPath openWalked(const std::string& path, int flags, mode_t mode, PathUse use);

// The folder holding path's last part (an O_PATH descriptor), walked as for
// a write, and that part's name: for a file written beside its final name
// and renamed into place.
WalkedPath openFolderOf(const std::string& path);

// Makes the folders of path that are missing, each 0700 whatever the umask,
// walked as for a write; the folder itself, opened O_PATH.
WalkedPath makeFoldersWalked(const std::string& path);

// A name in folder (a descriptor) that nobody can guess: prefix and 64
// random bits, for a file or link made there and renamed into place.
std::string unguessableName(const std::string& prefix);

// A file nobody else can have made: created with O_EXCL|O_NOFOLLOW in
// folder under an unguessable name, with exactly mode; its name in .name.
WalkedPath createUnguessable(int folder, const std::string& prefix, mode_t mode);

}  // namespace isp
