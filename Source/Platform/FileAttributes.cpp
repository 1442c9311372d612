#include "FileAttributes.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace FileAttributes {

bool OnFatVolume(int dirFd)
{
    struct statfs fs;
    return fstatfs(dirFd, &fs) == 0 && fs.f_type == MSDOS_SUPER_MAGIC;
}

bool HiddenOrSystem(int dirFd, const char* name)
{
    // O_PATH descriptors cannot take the ioctl; a plain read-only open does not change the entry.
    const int fd = openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    __u32 attributes = 0;
    const bool known = ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) == 0;
    close(fd);
    return known && (attributes & (ATTR_HIDDEN | ATTR_SYS));
}

} // namespace FileAttributes
