#include "platform.h"

#include <csignal>
#include <sys/stat.h>

void prepare_process()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

bool is_directory(std::FILE* stream)
{
    struct stat st {};
    return fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_same_file(std::FILE* stream, const char* path)
{
    struct stat open_file {};
    struct stat named {};
    return fstat(fileno(stream), &open_file) == 0 && stat(path, &named) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}
