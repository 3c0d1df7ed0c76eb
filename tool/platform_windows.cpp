#include "platform.h"

#include <io.h>
#include <windows.h>

namespace {

HANDLE handle_of(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

} // namespace

void prepare_process() {}

bool is_directory(std::FILE* stream)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(handle_of(stream), &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_same_file(std::FILE* stream, const char* path)
{
    BY_HANDLE_FILE_INFORMATION open_file{};
    if (GetFileInformationByHandle(handle_of(stream), &open_file) == 0) {
        return false;
    }
    const HANDLE named = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool same = GetFileInformationByHandle(named, &info) != 0 &&
                      info.dwVolumeSerialNumber == open_file.dwVolumeSerialNumber &&
                      info.nFileIndexHigh == open_file.nFileIndexHigh &&
                      info.nFileIndexLow == open_file.nFileIndexLow;
    CloseHandle(named);
    return same;
}
