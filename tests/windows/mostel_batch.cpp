// Runs mostel once per line of a list file ("input<TAB>output"), all in one process, and prints
// each exit status. Under an emulated Wine a process start costs about a minute, so the whole
// PNG suite goes through one process; the program itself is checked on a few inputs.
#include <cstdio>
#include <cstring>
#include <string>

#include "driver.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mostel_batch <list file>\n");
    return 2;
  }
  std::FILE* list = std::fopen(argv[1], "r");
  if (list == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 2;
  }
  char line[4096];
  while (std::fgets(line, sizeof line, list) != nullptr) {
    line[std::strcspn(line, "\r\n")] = '\0';
    char* tab = std::strchr(line, '\t');
    if (tab == nullptr) continue;
    *tab = '\0';
    const char* args[] = {"mostel", line, tab + 1};
    const int status = mostel::RunMostel(3, args);
    std::fflush(stdout);
    std::fprintf(stderr, "STATUS %d %s\n", status, line);
  }
  std::fclose(list);
  return 0;
}
