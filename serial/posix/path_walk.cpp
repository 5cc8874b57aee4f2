#include "serial/posix/path_walk.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/limits.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

namespace isp {

namespace {

// Links met on the way, at most: the kernel's own limit.
constexpr int kMaxLinks = 40;
// A part that changes between the look and the open is looked at again, a
// few times: somebody racing us for ever only gets a refusal.
constexpr int kMaxRetries = 8;

bool othersMayWrite(const struct stat& folder) { return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0; }
bool everybodyMayWrite(const struct stat& folder) { return (folder.st_mode & S_IWOTH) != 0; }
bool sticky(const struct stat& folder) { return (folder.st_mode & S_ISVTX) != 0; }
bool oursOrTheFolders(const struct stat& st, const struct stat& folder) {
  return st.st_uid == ::geteuid() || st.st_uid == folder.st_uid;
}
bool isDevice(mode_t mode) { return S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode); }

// Another user's file in a sticky folder everybody may write: the kernel's
// protected_regular.
bool othersIn(const struct stat& file, const struct stat& folder) {
  return everybodyMayWrite(folder) && sticky(folder) && !oursOrTheFolders(file, folder);
}
std::string othersFileWords(const std::string& at) {
  return at + " belongs to another user, in a folder everybody may write; it is not written to";
}

// Root's or the running user's: nobody else may chmod, chown or fill it.
bool trustedOwner(uid_t uid) { return uid == 0 || uid == ::geteuid(); }
std::string ownerWords(const std::string& at, uid_t uid, const char* what) {
  return at + " is owned by user " + std::to_string(uid) + ", not by root or the user running the program; " + what;
}

// Whether an entry of the folder's access ACL lets another user or any
// group write it (named users and groups, the owning group, under the
// mask). The mode's group bits show the mask, so the bits alone refuse such
// a folder too; this says why.
bool aclLetsOthersWrite(int dir) {
  std::vector<char> buf(XATTR_SIZE_MAX);
  const std::string proc = "/proc/self/fd/" + std::to_string(dir);
  ssize_t n = ::getxattr(proc.c_str(), "system.posix_acl_access", buf.data(), buf.size());
  if (n < 0 && errno != ENODATA && errno != ENOTSUP) {
    // No /proc: the folder opened for reading, where we may.
    UniqueFd open(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    n = open ? ::fgetxattr(open.get(), "system.posix_acl_access", buf.data(), buf.size()) : -1;
  }
  if (n < 4) return false;
  const auto le = [&](std::size_t at, std::size_t size) {
    unsigned v = 0;
    for (std::size_t i = size; i-- > 0;) v = v << 8 | static_cast<unsigned char>(buf[at + i]);
    return v;
  };
  constexpr unsigned kUser = 0x02, kGroupObj = 0x04, kGroup = 0x08, kMask = 0x10, kWrite = 0x02;
  bool writers = false, maskWrites = true;
  for (std::size_t at = 4; at + 8 <= static_cast<std::size_t>(n); at += 8) {
    const unsigned tag = le(at, 2), perm = le(at + 2, 2), id = le(at + 4, 4);
    if (tag == kMask) maskWrites = (perm & kWrite) != 0;
    const bool other = (tag == kUser && !trustedOwner(static_cast<uid_t>(id))) || tag == kGroup || tag == kGroupObj;
    if (other && (perm & kWrite)) writers = true;
  }
  return writers && maskWrites;
}

// A file system of the kernel's, whose files only look like files: what is
// written there moves the system, or goes nowhere.
const char* pseudoFileSystem(int fd) {
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return nullptr;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC: return "proc";
    case SYSFS_MAGIC: return "sysfs";
    case DEBUGFS_MAGIC: return "debugfs";
    case TRACEFS_MAGIC: return "tracefs";
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC: return "cgroup";
    case SECURITYFS_MAGIC: return "securityfs";
    case SELINUX_MAGIC: return "selinuxfs";
    case SMACK_MAGIC: return "smackfs";
    case BPF_FS_MAGIC: return "bpf";
    case PSTOREFS_MAGIC: return "pstore";
    case EFIVARFS_MAGIC: return "efivarfs";
    case DEVPTS_SUPER_MAGIC: return "devpts";
    case BINFMTFS_MAGIC: return "binfmt_misc";
    case FUTEXFS_SUPER_MAGIC: return "futexfs";
    case NSFS_MAGIC: return "nsfs";
    case 0x62656570: return "configfs";
    case 0x65735543: return "fusectl";
    default: return nullptr;
  }
}
std::string pseudoWords(const std::string& at, const char* fs) {
  return at + " is on " + fs + ", a file system of the kernel's, not on a disk; it is not written to";
}

std::string joined(const std::string& at, const std::string& name) {
  if (at.empty()) return name;
  return at.ends_with('/') ? at + name : at + "/" + name;
}

// Where a walk has got to: the folder reached, the way there in words for a
// refusal, and the parts still to go.
struct Walk {
  PathUse use;
  UniqueFd dir;
  std::string shown;
  std::deque<std::string> rest;
  int links = 0;
  WalkedPath out;

  bool fail(int err, std::string why = {}) {
    out.err = err;
    out.why = why.empty() ? std::strerror(err) : std::move(why);
    return false;
  }

  // Goes on along path: from the root when it is absolute, else from here.
  bool enter(const std::string& path) {
    std::deque<std::string> parts;
    for (std::size_t from = 0, slash = 0; slash != std::string::npos; from = slash + 1) {
      slash = path.find('/', from);
      const std::string part = path.substr(from, slash - from);
      if (!part.empty() && part != ".") parts.push_back(part);
    }
    rest.insert(rest.begin(), parts.begin(), parts.end());
    if (path.starts_with('/') || !dir) {
      dir.reset(::open(path.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
      shown = path.starts_with('/') ? "/" : "";
      if (!dir) return fail(errno);
    }
    return fitsUse();
  }

  struct stat folder() const {
    struct stat st {};
    ::fstat(dir.get(), &st);
    return st;
  }

  // What is written here must stay ours: every folder on the way is root's
  // or ours, and nobody else may write it, or anyone may swap what is in it
  // for a link under our feet. A sticky folder everybody may write (/tmp)
  // is the one exception: there only our own files and links are used.
  bool fitsUse() {
    if (use != PathUse::Write) return true;
    const struct stat f = folder();
    const std::string at = shown.empty() ? std::string(".") : shown;
    if (everybodyMayWrite(f) && !sticky(f))
      return fail(EACCES,
                  at + " is a folder everybody may write without the sticky bit: anyone may swap what is in it");
    if (!trustedOwner(f.st_uid)) return fail(EACCES, ownerWords(at, f.st_uid, "its owner may swap what is in it"));
    if (everybodyMayWrite(f)) return true;
    if (aclLetsOthersWrite(dir.get()))
      return fail(EACCES, at + ": another user or group may write it (ACL); they may swap what is in it");
    if (f.st_mode & S_IWGRP)
      return fail(EACCES, at + ": another user or group may write it (group " + std::to_string(f.st_gid) +
                              "); they may swap what is in it");
    return true;
  }

  // A link met at name: followed only when it is ours or the folder's owner's
  // (the kernel's protected_symlinks, extended to every folder others may write).
  bool follow(int link, const struct stat& st, const std::string& name) {
    const struct stat f = folder();
    const std::string at = joined(shown, name);
    if (othersMayWrite(f) && !oursOrTheFolders(st, f))
      return fail(ELOOP, at + " is a link that another user put in a folder others may write; it is not followed");
    if (++links > kMaxLinks) return fail(ELOOP);
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(link, "", target, sizeof target);
    if (n < 0) return fail(errno);
    if (n == 0) return fail(ENOENT);
    return enter(std::string(target, static_cast<std::size_t>(n)));
  }

  // One part further, when it is a folder or a link; a missing folder is
  // made first when asked for.
  bool step(bool makeMissing) {
    const std::string name = rest.front();
    rest.pop_front();
    UniqueFd next(::openat(dir.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!next && errno == ENOENT && makeMissing) {
      if (const char* fs = pseudoFileSystem(dir.get())) return fail(EACCES, pseudoWords(joined(shown, name), fs));
      if (::mkdirat(dir.get(), name.c_str(), 0700) != 0 && errno != EEXIST) return fail(errno);
      // Made 0700 whatever the umask: opened as the folder just made, not a
      // link put there since.
      UniqueFd made(::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!made) return fail(errno);
      struct stat st {};
      if (::fstat(made.get(), &st) == 0 && st.st_uid == ::geteuid() && ::fchmod(made.get(), 0700) != 0)
        return fail(errno);
      next.reset(::openat(made.get(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!next) return fail(errno);
    struct stat st {};
    if (::fstat(next.get(), &st) != 0) return fail(errno);
    if (S_ISLNK(st.st_mode)) return follow(next.get(), st, name);
    if (!S_ISDIR(st.st_mode)) return fail(ENOTDIR);
    dir = std::move(next);
    shown = joined(shown, name);
    return fitsUse();
  }

  // Walks until `left` parts are left: 1 for a file, 0 for a folder.
  bool walk(std::size_t left, bool makeMissing = false) {
    while (rest.size() > left)
      if (!step(makeMissing)) return false;
    return true;
  }
};

Walk started(const std::string& path, PathUse use) {
  Walk w{use, {}, {}, {}, 0, {}};
  if (path.empty())
    w.fail(ENOENT);
  else
    w.enter(path);
  return w;
}

// The last part, opened as asked: a link is followed by the rule and the
// walk goes on; a file of somebody else's where we would write is refused.
bool openLast(Walk& w, int flags, mode_t mode) {
  const bool create = (flags & O_CREAT) != 0;
  for (int tries = 0;; ++tries) {
    if (!w.walk(1)) return false;
    const std::string name = w.rest.empty() ? "." : w.rest.front();
    const std::string at = joined(w.shown, name);
    const struct stat f = w.folder();
    struct stat st {};
    const bool exists = ::fstatat(w.dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) return w.fail(errno);
    if (exists && S_ISLNK(st.st_mode)) {
      UniqueFd link(::openat(w.dir.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
      if (!link) return w.fail(errno);
      w.rest.pop_front();
      if (!w.follow(link.get(), st, name)) return false;
      continue;
    }
    // Refused from the look alone: an open of a device moves a serial port's lines.
    if (exists && isDevice(st.st_mode) && w.use != PathUse::Port) return w.fail(ENODEV);
    const auto othersFile = [&](const struct stat& file) { return w.use == PathUse::Write && othersIn(file, f); };
    const std::string othersWords = othersFileWords(at);
    if (exists && othersFile(st)) return w.fail(EACCES, othersWords);
    // Somebody else's file, in a folder of ours: theirs to read and change.
    const auto notOurs = [&](const struct stat& file) { return w.use == PathUse::Write && !trustedOwner(file.st_uid); };
    if (exists && notOurs(st)) return w.fail(EACCES, ownerWords(at, st.st_uid, "it is not written to"));
    const char* pseudo = w.use == PathUse::Write ? pseudoFileSystem(w.dir.get()) : nullptr;
    if (pseudo) return w.fail(EACCES, pseudoWords(at, pseudo));
    if (exists && (flags & O_EXCL) && create) return w.fail(EEXIST);
    // O_EXCL for a file that was not there, so that we know it is ours.
    int how = flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    how = exists ? how & ~(O_CREAT | O_EXCL) : create ? how | O_EXCL : how;
    UniqueFd fd(::openat(w.dir.get(), name.c_str(), how, mode));
    if (!fd) {
      // Changed since the look (a link, a file made, a file gone): look again.
      const bool changed = errno == ELOOP || (errno == EEXIST && !(flags & O_EXCL)) || (errno == ENOENT && create);
      if (changed && tries < kMaxRetries) continue;
      return w.fail(errno);
    }
    if (::fstat(fd.get(), &st) != 0) return w.fail(errno);
    if (isDevice(st.st_mode) && w.use != PathUse::Port) return w.fail(ENODEV);
    if (othersFile(st)) return w.fail(EACCES, othersWords);
    if (notOurs(st)) return w.fail(EACCES, ownerWords(at, st.st_uid, "it is not written to"));
    // A file mounted over one of ours: judged by what was opened.
    if (w.use == PathUse::Write && (pseudo = pseudoFileSystem(fd.get())))
      return w.fail(EACCES, pseudoWords(at, pseudo));
    w.out.created = !exists && create;
    if (w.out.created && ::fchmod(fd.get(), mode) != 0) return w.fail(errno);
    // Never waited on while opening; the blocking as asked for from now on.
    if (!(flags & O_NONBLOCK) && ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0)
      return w.fail(errno);
    w.out.fd = std::move(fd);
    return true;
  }
}

}  // namespace

WalkedPath openWalked(const std::string& path, int flags, mode_t mode, PathUse use) {
  Walk w = started(path, use);
  if (!w.out.err) openLast(w, flags, mode);
  return std::move(w.out);
}

WalkedPath openFolderOf(const std::string& path) {
  Walk w = started(path, PathUse::Write);
  // The last part is the name to be replaced: never followed.
  if (!w.out.err && w.walk(1)) {
    struct stat st {};
    if (w.rest.empty()) {
      w.fail(EISDIR);
    } else if (::fstatat(w.dir.get(), w.rest.front().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               othersIn(st, w.folder())) {
      w.fail(EACCES, othersFileWords(joined(w.shown, w.rest.front())));
    } else {
      w.out.name = w.rest.front();
      w.out.fd = std::move(w.dir);
    }
  }
  return std::move(w.out);
}

WalkedPath makeFoldersWalked(const std::string& path) {
  Walk w = started(path, PathUse::Write);
  if (!w.out.err && w.walk(0, true)) w.out.fd = std::move(w.dir);
  return std::move(w.out);
}

std::string unguessableName(const std::string& prefix) {
  std::random_device rd;
  char bits[20];
  std::snprintf(bits, sizeof bits, "%08x%08x", rd(), rd());
  return prefix + bits;
}

WalkedPath createUnguessable(int folder, const std::string& prefix, mode_t mode) {
  WalkedPath out;
  for (int attempt = 0; attempt < kMaxRetries; ++attempt) {
    out.name = unguessableName(prefix);
    out.fd.reset(::openat(folder, out.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!out.fd && errno == EEXIST) continue;
    out.err = out.fd ? 0 : errno;
    if (out.fd && ::fchmod(out.fd.get(), mode) != 0) out.err = errno;
    break;
  }
  if (!out.fd && !out.err) out.err = EEXIST;
  if (out.err) {
    if (out.fd) ::unlinkat(folder, out.name.c_str(), 0);
    out.fd.reset();
    out.why = std::strerror(out.err);
  }
  out.created = !out.err;
  return out;
}

}  // namespace isp
