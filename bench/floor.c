/* The floor of a bulk move: the system calls no mover of a *.MSG netmail
 * area can do without, and nothing else.
 *
 *   floor NETMAIL-FOLDER NAME=DEST... [NAME=KILL...]
 *
 * Lists NETMAIL-FOLDER once and reads each *.msg message file (any case) in
 * one open, read and close.  A message whose recipient (the To field of the
 * 190-byte header) equals a NAME, ignoring case, is picked: for a DEST path
 * its bytes are appended to DEST.dat and a 16-byte index record (offset,
 * length, message number, recipient hash) to DEST.idx, both opened once; a
 * KILL message is only deleted.  Then everything written is made durable
 * (an fsync of each DEST.dat and DEST.idx and of each folder holding them,
 * since they may be new: syncfs would also wait for every other program's
 * unwritten data on a shared disk), every moved or killed source is
 * unlinked, and the netmail folder is synced once so that the deletions
 * last.  Messages picked by no NAME stay.  Prints the counts: picked,
 * killed, kept.
 *
 * Built by bench/bulk_move.sh (cc -O2); not part of the product.  Exits 1
 * with a message on any failed call.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

enum { kHeaderSize = 190, kToOffset = 36, kNameSize = 36, kMaxDests = 16 };

struct Dest {
  const char* name; /* the recipient that picks it */
  int kill;         /* delete without a copy */
  int data_fd, index_fd;
  uint32_t data_size, count;
};

static void Fail(const char* what, const char* path) {
  fprintf(stderr, "floor: %s %s: %s\n", what, path, strerror(errno));
  exit(1);
}

static void WriteAll(int fd, const void* buf, size_t count, const char* path) {
  const char* p = buf;
  while (count > 0) {
    ssize_t done = write(fd, p, count);
    if (done <= 0) Fail("write", path);
    p += done;
    count -= (size_t)done;
  }
}

static int OpenAppend(const char* dest, const char* ext) {
  char path[4096];
  snprintf(path, sizeof path, "%s%s", dest, ext);
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) Fail("open", path);
  return fd;
}

/* Makes the files of every destination and their folders durable. */
static void SyncDestinations(struct Dest* dests, int count, char** paths) {
  for (int i = 0; i < count; ++i) {
    if (dests[i].kill) continue;
    if (fsync(dests[i].data_fd) != 0 || fsync(dests[i].index_fd) != 0) Fail("fsync", paths[i]);
    int seen = 0; /* a folder already synced for an earlier destination */
    for (int j = 0; j < i; ++j)
      seen |= !dests[j].kill && strcmp(dirname(strdup(paths[j])), dirname(strdup(paths[i]))) == 0;
    if (seen) continue;
    char* folder = dirname(strdup(paths[i]));
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0 || close(fd) != 0) Fail("fsync", folder);
  }
}

static int IsMessageName(const char* name) {
  size_t len = strlen(name);
  return len > 4 && strcasecmp(name + len - 4, ".msg") == 0;
}

/* Reads a whole message file into *buf (grown as needed); its length. */
static size_t ReadMessage(int dir_fd, const char* name, char** buf, size_t* capacity) {
  int fd = openat(dir_fd, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("open", name);
  size_t len = 0;
  for (;;) {
    if (len == *capacity) {
      *capacity *= 2;
      *buf = realloc(*buf, *capacity);
      if (!*buf) Fail("realloc", name);
    }
    ssize_t got = read(fd, *buf + len, *capacity - len);
    if (got < 0) Fail("read", name);
    len += (size_t)got;
    /* A regular file's short read is its end: no read just to see 0. */
    if (got == 0 || len < *capacity) break;
  }
  if (close(fd) != 0) Fail("close", name);
  return len;
}

static struct Dest* Pick(struct Dest* dests, int count, const char* message, size_t len) {
  if (len < kHeaderSize) return NULL;
  char to[kNameSize + 1];
  memcpy(to, message + kToOffset, kNameSize);
  to[kNameSize] = 0;
  for (int i = 0; i < count; ++i)
    if (strcasecmp(to, dests[i].name) == 0) return &dests[i];
  return NULL;
}

static void Append(struct Dest* dest, const char* message, size_t len, const char* name) {
  unsigned char record[16];
  uint32_t fields[4] = {dest->data_size, (uint32_t)len, dest->count + 1, 0};
  for (const char* p = dest->name; *p; ++p) fields[3] = fields[3] * 31 + (unsigned char)*p;
  for (int f = 0; f < 4; ++f)
    for (int b = 0; b < 4; ++b) record[4 * f + b] = (unsigned char)(fields[f] >> (8 * b));
  WriteAll(dest->data_fd, message, len, name);
  WriteAll(dest->index_fd, record, sizeof record, name);
  dest->data_size += (uint32_t)len;
  dest->count++;
}

int main(int argc, char** argv) {
  if (argc < 3 || argc - 2 > kMaxDests) {
    fprintf(stderr, "usage: floor NETMAIL-FOLDER NAME=DEST|NAME=KILL...\n");
    return 2;
  }
  struct Dest dests[kMaxDests];
  char* paths[kMaxDests];
  int dest_count = argc - 2;
  for (int i = 0; i < dest_count; ++i) {
    char* eq = strchr(argv[i + 2], '=');
    if (!eq) Fail("bad destination", argv[i + 2]);
    *eq = 0;
    dests[i] = (struct Dest){argv[i + 2], strcmp(eq + 1, "KILL") == 0, -1, -1, 0, 0};
    paths[i] = eq + 1;
    if (!dests[i].kill) {
      dests[i].data_fd = OpenAppend(eq + 1, ".dat");
      dests[i].index_fd = OpenAppend(eq + 1, ".idx");
    }
  }
  DIR* dir = opendir(argv[1]);
  if (!dir) Fail("opendir", argv[1]);
  int dir_fd = dirfd(dir);
  size_t name_count = 0, name_capacity = 1024;
  char** doomed = malloc(name_capacity * sizeof *doomed); /* moved or killed */
  size_t capacity = 1 << 16;
  char* buf = malloc(capacity);
  unsigned picked = 0, killed = 0, kept = 0;
  for (struct dirent* entry; (errno = 0, entry = readdir(dir)) != NULL;) {
    if (!IsMessageName(entry->d_name)) continue;
    size_t len = ReadMessage(dir_fd, entry->d_name, &buf, &capacity);
    struct Dest* dest = Pick(dests, dest_count, buf, len);
    if (!dest) {
      kept++;
      continue;
    }
    if (dest->kill)
      killed++;
    else
      Append(dest, buf, len, entry->d_name), picked++;
    if (name_count == name_capacity) doomed = realloc(doomed, (name_capacity *= 2) * sizeof *doomed);
    doomed[name_count++] = strdup(entry->d_name);
  }
  if (errno != 0) Fail("readdir", argv[1]);
  /* Every copy durable before any source goes. */
  SyncDestinations(dests, dest_count, paths);
  for (size_t i = 0; i < name_count; ++i)
    if (unlinkat(dir_fd, doomed[i], 0) != 0) Fail("unlink", doomed[i]);
  if (fsync(dir_fd) != 0) Fail("fsync", argv[1]);
  for (int i = 0; i < dest_count; ++i)
    if (!dests[i].kill && (close(dests[i].data_fd) != 0 || close(dests[i].index_fd) != 0)) Fail("close", dests[i].name);
  closedir(dir);
  printf("picked %u, killed %u, kept %u\n", picked, killed, kept);
  return 0;
}
