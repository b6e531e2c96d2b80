/* floor_listing: the least any listing must do, for the benchmark.
 * Reads the directory ROOT, tests each entry as a listing must (a
 * directory holding conf/svnserve.conf), counts the matches and reads the
 * settings file and db/current (the youngest revision) of those on the
 * page [START, START + LIMIT).  Prints the count. */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static void slurp(const char *path) {
  char buf[8192];
  int fd = open(path, O_RDONLY);
  if (fd < 0) return;
  while (read(fd, buf, sizeof buf) > 0) {
  }
  close(fd);
}

int main(int argc, char **argv) {
  if (argc != 4) return 2;
  const char *root = argv[1];
  long start = atol(argv[2]), limit = atol(argv[3]), count = 0;
  char path[4096], conf[4200], current[4200];
  struct stat st;
  DIR *dir = opendir(root);
  struct dirent *e;
  while (dir != NULL && (e = readdir(dir)) != NULL) {
    if (e->d_name[0] == '.' &&
        (e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0')))
      continue;
    snprintf(path, sizeof path, "%s/%s", root, e->d_name);
    snprintf(conf, sizeof conf, "%s/conf/svnserve.conf", path);
    /* The directory says which entries are directories; others need a look. */
    if (e->d_type != DT_DIR && (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)))
      continue;
    if (stat(conf, &st) != 0) continue;
    if (count >= start && count - start < limit) {
      slurp(conf);
      snprintf(current, sizeof current, "%s/db/current", path);
      slurp(current);
    }
    ++count;
  }
  if (dir != NULL) closedir(dir);
  printf("%ld\n", count);
  return 0;
}
