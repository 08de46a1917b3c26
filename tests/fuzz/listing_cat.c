/* The fuzz build's "plutil": `listing-cat -p FILE` prints FILE unchanged, so the settings reader
   gets the fuzzer's input as its listing. Kept tiny: the reader starts it for every input. */
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  char block[65536];
  ssize_t got;
  int fd;
  if (argc != 3)
    return 2;
  fd = open(argv[2], O_RDONLY);
  if (fd < 0)
    return 1;
  while ((got = read(fd, block, sizeof block)) > 0) {
    if (write(1, block, (size_t)got) != got)
      return 1;
  }
  return got < 0;
}
