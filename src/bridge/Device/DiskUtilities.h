// Small routines over disk property dictionaries, device names and shell commands, and the disk
// dictionaries themselves: the keys a disk lister reads ("AllDisksAndPartitions", "WholeDisks",
// "AllDisks"; per device "DeviceIdentifier", "MediaName", "BusProtocol", "Content", "MountPoint",
// "TotalSize", "FreeSpace", "VolumeName", ...) built from the kernel's view of block devices.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/disks/KernelDisks.h"
#include "platform/foundation/PropertyList.h"

// True when the key's value is a text that fits the buffer as UTF-8 with its NUL (then copied);
// false for a null buffer or a size below 1.
bool GetDictionaryStringVal(const brelvox::foundation::PropertyList& dictionary, const char* key, char* buffer,
                            std::size_t size);
// GetDictionaryStringVal with the key "BSD Name".
bool GetBSDName(const brelvox::foundation::PropertyList& dictionary, char* buffer, std::size_t size);
// Writes "/dev/" and the kernel name into out, never more than size bytes (NUL included). Linux has
// no separate raw nodes, so raw gives the same path. False when the path was cut or out is unusable.
bool BSDName2DevPath(char* out, std::size_t size, const char* bsdName, bool raw);

// Runs a shell command line with its standard output sent to a new file of mode 0600 in a private
// folder of mode 0700, and answers that file's path whatever the command's exit status. The file of
// the routine's previous call is deleted first. Nothing for a null or empty command, for a command of
// more than 2047 bytes, or when no file can be made.
std::optional<std::string> ZZExecCommand(const char* command);
// The same for the disk lister, with its own output file.
std::optional<std::string> KXExecCommand(const char* command);

// The list dictionary: "AllDisksAndPartitions" (per whole disk its "DeviceIdentifier" and its
// "Partitions", each with a "DeviceIdentifier"), "WholeDisks" and "AllDisks" (disks, each followed by
// its partitions).
brelvox::foundation::PropertyList DiskListDictionary(const brelvox::disks::KernelDisks& disks);
// The information dictionary of one disk or partition by kernel name; nothing for an unknown name.
std::optional<brelvox::foundation::PropertyList> DiskInfoDictionary(const brelvox::disks::KernelDisks& disks,
                                                                   const std::string& name);
// DiskInfoDictionary of the machine's disks; nothing for a null or unknown name.
std::optional<brelvox::foundation::PropertyList> ZZGetDiskInfo(const char* bsdName);

// The "Content" text of a partition's type (a GPT type GUID or an MBR type number as udev gives
// them): "EFI", "Microsoft Basic Data", "Apple_Boot", ...; the type itself when it is not known.
std::string PartitionContentName(const std::string& partitionType);
