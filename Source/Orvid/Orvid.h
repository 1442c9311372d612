#pragma once

#include "DevID.h"

// Reader drive identification: four questions about a drive letter ('A' to 'Z', either case).
// Every export queries the drive afresh and keeps nothing between calls; none raises, prints or
// shows anything. A letter outside A..Z is a drive without a volume.

#define ORVID_EXPORT extern "C" __attribute__((visibility("default")))

// True when the drive is removable and its storage vendor field starts with "XAL ", "TAVO" or
// "Q48" (case-sensitive).
ORVID_EXPORT bool IsReaderDrive(char Drive);

// Fills a zeroed identity record from the reader's product signature. Returns the identifier
// length (positive) on success and for a size query (Identity null, the drive is not touched);
// 0 when the storage descriptor cannot be read; -1 when the drive is no reader (by vendor, the
// drive type is not asked) or lacks the signature. The record is untouched on every failure.
ORVID_EXPORT int GetDeviceID(char Drive, TDeviceIdentity* Identity);

// Unmounts the drive's file system and powers the drive off through UDisks2, up to five
// attempts 500 ms apart; a busy file system or a refusal is a veto. True when ejected.
ORVID_EXPORT bool UnmountDrive(char Drive);

// True when a uniquely named file could be created in the drive's root folder; the file is
// removed again, so nothing is left behind either way.
ORVID_EXPORT bool IsDriveValid(char Drive);

// Types to bind the exports by name.
using TIsReaderDrive = bool (*)(char);
using TGetDeviceID = int (*)(char, TDeviceIdentity*);
using TUnmountDrive = bool (*)(char);
using TIsDriveValid = bool (*)(char);
