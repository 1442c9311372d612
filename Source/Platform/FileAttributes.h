#pragma once

// What a volume formatted on Windows keeps about its entries beyond their names.
namespace FileAttributes {

// True when the open folder `dirFd` lies on a FAT volume, whose entries carry attributes.
bool OnFatVolume(int dirFd);

// True when the entry `name` of the open folder `dirFd`, on a FAT volume, carries the hidden or
// the system attribute. False when it cannot be asked.
bool HiddenOrSystem(int dirFd, const char* name);

} // namespace FileAttributes
