/* A FUSE file system whose files take every write but fail every flush
 * with EIO: the way network file systems and quotas report a lost write
 * only when the file is closed. Tests mount it to check that a program
 * reports such an error instead of exiting 0.
 *
 *   flush_fails_fs MOUNTPOINT     (stays in the foreground until unmounted)
 */
#define FUSE_USE_VERSION 31
#define _XOPEN_SOURCE 700

#include <errno.h>
#include <fuse.h>
#include <stddef.h>
#include <string.h>
#include <sys/stat.h>

enum { max_files = 16, max_name = 64 };

static struct {
  char name[max_name];
  off_t size;
} files[max_files];
static int file_count;

static int find_file(const char *path) {
  for (int i = 0; i < file_count; ++i) {
    if (strcmp(files[i].name, path) == 0) return i;
  }
  return -1;
}

static int fs_getattr(const char *path, struct stat *st, struct fuse_file_info *fi) {
  (void)fi;
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  const int i = find_file(path);
  if (i < 0) return -ENOENT;
  st->st_mode = S_IFREG | 0644;
  st->st_nlink = 1;
  st->st_size = files[i].size;
  return 0;
}

static int fs_create(const char *path, mode_t mode, struct fuse_file_info *fi) {
  (void)mode;
  (void)fi;
  if (find_file(path) >= 0) return 0;
  if (file_count == max_files || strlen(path) >= max_name) return -ENOSPC;
  strcpy(files[file_count].name, path);
  files[file_count].size = 0;
  ++file_count;
  return 0;
}

static int fs_open(const char *path, struct fuse_file_info *fi) {
  (void)fi;
  return find_file(path) >= 0 ? 0 : -ENOENT;
}

static int fs_truncate(const char *path, off_t size, struct fuse_file_info *fi) {
  (void)fi;
  const int i = find_file(path);
  if (i < 0) return -ENOENT;
  files[i].size = size;
  return 0;
}

static int fs_write(const char *path, const char *data, size_t size, off_t offset,
                    struct fuse_file_info *fi) {
  (void)data;
  (void)fi;
  const int i = find_file(path);
  if (i < 0) return -ENOENT;
  if (offset + (off_t)size > files[i].size) files[i].size = offset + (off_t)size;
  return (int)size;
}

static int fs_flush(const char *path, struct fuse_file_info *fi) {
  (void)path;
  (void)fi;
  return -EIO;
}

static const struct fuse_operations operations = {
    .getattr = fs_getattr,
    .truncate = fs_truncate,
    .open = fs_open,
    .write = fs_write,
    .flush = fs_flush,
    .create = fs_create,
};

int main(int argc, char *argv[]) {
  if (argc != 2) return 2;
  char *fuse_argv[] = {argv[0], "-f", "-s", argv[1], NULL};
  return fuse_main(4, fuse_argv, &operations, NULL);
}
