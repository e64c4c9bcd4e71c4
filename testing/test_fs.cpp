// A small FUSE file system in memory, for tests that need a file system
// with faults a disk does not have on demand:
//   --fail-flush   every flush (each close of a file) fails with EIO, the
//                  way network file systems and quotas report a lost write
//   --short-writes every write takes at most 7 bytes, as a write that a
//                  signal interrupts may, so that callers must write the rest
//   files whose name ends in .eio fail every read with EIO
// It has no unnamed temporary files (O_TMPFILE), so programs fall back to
// named ones here.
//
//   test_fs [--fail-flush | --short-writes] MOUNTPOINT   (stays in the foreground until unmounted)
#define FUSE_USE_VERSION 31

#include <fuse.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

namespace {

struct node {
  mode_t mode;
  uid_t uid;
  gid_t gid;
  std::string data;
};

std::map<std::string, node> nodes;
bool fail_flush = false;
bool short_writes = false;

bool ends_with(const std::string &s, const char *suffix) {
  const std::size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

node *find(const char *path) {
  const auto it = nodes.find(path);
  return it == nodes.end() ? nullptr : &it->second;
}

std::string parent_of(const std::string &path) {
  const auto slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

int make_node(const char *path, mode_t mode) {
  if (find(path) != nullptr) return -EEXIST;
  node *parent = find(parent_of(path).c_str());
  if (parent == nullptr || !S_ISDIR(parent->mode)) return -ENOENT;
  const fuse_context *context = fuse_get_context();
  mode &= ~context->umask;
  nodes[path] = node{mode, context->uid, context->gid, {}};
  return 0;
}

int fs_getattr(const char *path, struct stat *st, fuse_file_info *) {
  const node *n = find(path);
  if (n == nullptr) return -ENOENT;
  std::memset(st, 0, sizeof *st);
  st->st_mode = n->mode;
  st->st_nlink = S_ISDIR(n->mode) ? 2 : 1;
  st->st_uid = n->uid;
  st->st_gid = n->gid;
  st->st_size = static_cast<off_t>(n->data.size());
  return 0;
}

int fs_readdir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *,
               fuse_readdir_flags) {
  const std::string folder = std::strcmp(path, "/") == 0 ? "" : path;
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
  for (const auto &[name, n] : nodes) {
    if (name != "/" && parent_of(name) == (folder.empty() ? "/" : folder)) {
      fill(buffer, name.substr(name.rfind('/') + 1).c_str(), nullptr, 0, fuse_fill_dir_flags{});
    }
  }
  return 0;
}

int fs_mkdir(const char *path, mode_t mode) { return make_node(path, S_IFDIR | mode); }

int fs_create(const char *path, mode_t mode, fuse_file_info *) {
  return make_node(path, S_IFREG | (mode & 07777));
}

int fs_open(const char *path, fuse_file_info *) { return find(path) != nullptr ? 0 : -ENOENT; }

int fs_read(const char *path, char *out, std::size_t size, off_t offset, fuse_file_info *) {
  const node *n = find(path);
  if (n == nullptr) return -ENOENT;
  if (ends_with(path, ".eio")) return -EIO;
  if (offset >= static_cast<off_t>(n->data.size())) return 0;
  const std::size_t count = std::min(size, n->data.size() - static_cast<std::size_t>(offset));
  std::memcpy(out, n->data.data() + offset, count);
  return static_cast<int>(count);
}

int fs_write(const char *path, const char *in, std::size_t size, off_t offset, fuse_file_info *) {
  node *n = find(path);
  if (n == nullptr) return -ENOENT;
  if (short_writes && size > 7) size = 7;
  const std::size_t end = static_cast<std::size_t>(offset) + size;
  if (end > n->data.size()) n->data.resize(end);
  std::memcpy(n->data.data() + offset, in, size);
  return static_cast<int>(size);
}

int fs_truncate(const char *path, off_t size, fuse_file_info *) {
  node *n = find(path);
  if (n == nullptr) return -ENOENT;
  n->data.resize(static_cast<std::size_t>(size));
  return 0;
}

int fs_flush(const char *, fuse_file_info *) { return fail_flush ? -EIO : 0; }

int fs_unlink(const char *path) { return nodes.erase(path) == 1 ? 0 : -ENOENT; }

int fs_rmdir(const char *path) { return nodes.erase(path) == 1 ? 0 : -ENOENT; }

int fs_rename(const char *from, const char *to, unsigned int) {
  const auto it = nodes.find(from);
  if (it == nodes.end()) return -ENOENT;
  node moved = it->second;
  nodes.erase(it);
  nodes[to] = moved;
  return 0;
}

int fs_chmod(const char *path, mode_t mode, fuse_file_info *) {
  node *n = find(path);
  if (n == nullptr) return -ENOENT;
  n->mode = (n->mode & S_IFMT) | (mode & 07777);
  return 0;
}

int fs_chown(const char *path, uid_t uid, gid_t gid, fuse_file_info *) {
  node *n = find(path);
  if (n == nullptr) return -ENOENT;
  if (uid != static_cast<uid_t>(-1)) n->uid = uid;
  if (gid != static_cast<gid_t>(-1)) n->gid = gid;
  return 0;
}

int fs_utimens(const char *path, const timespec[2], fuse_file_info *) {
  return find(path) != nullptr ? 0 : -ENOENT;
}

}  // namespace

int main(int argc, char *argv[]) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--fail-flush") == 0) {
    fail_flush = true;
    first = 2;
  } else if (argc > 1 && std::strcmp(argv[1], "--short-writes") == 0) {
    short_writes = true;
    first = 2;
  }
  if (argc != first + 1) return 2;
  nodes["/"] = node{S_IFDIR | 0777, 0, 0, {}};
  fuse_operations operations{};
  operations.getattr = fs_getattr;
  operations.readdir = fs_readdir;
  operations.mkdir = fs_mkdir;
  operations.create = fs_create;
  operations.open = fs_open;
  operations.read = fs_read;
  operations.write = fs_write;
  operations.truncate = fs_truncate;
  operations.flush = fs_flush;
  operations.unlink = fs_unlink;
  operations.rmdir = fs_rmdir;
  operations.rename = fs_rename;
  operations.chmod = fs_chmod;
  operations.chown = fs_chown;
  operations.utimens = fs_utimens;
  char self[] = "test_fs", foreground[] = "-f", single[] = "-s", others[] = "-o", allow[] = "default_permissions";
  char *fuse_argv[] = {self, foreground, single, others, allow, argv[first], nullptr};
  return fuse_main(6, fuse_argv, &operations, nullptr);
}
