#pragma once

#include "platform/RegistryHive.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tintavo::platform {

// The two registry roots the program uses.
//  - CurrentUser: the per-user hive $XDG_CONFIG_HOME/Orvane/registry.reg (default ~/.config),
//    read and written; shared by every program of the maker.
//  - LocalMachine: the first Orvane/registry.reg found in the $XDG_CONFIG_DIRS folders
//    (default /etc/xdg), read only.
enum class RegRoot { CurrentUser, LocalMachine };

// The root's name in the hive file ("HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE").
const char* RegRootName(RegRoot root);

// Path of the per-user hive file; empty when neither XDG_CONFIG_HOME nor HOME is usable.
std::string UserHivePath();
// Path of the machine hive file in use; empty when there is none.
std::string MachineHivePath();

// A snapshot of a hive as it stands on disk. A missing hive, or one that does not parse, is
// an empty hive. Reading takes no lock: writers replace the file in one step.
RegHive ReadHive(RegRoot root);

bool RegKeyExists(RegRoot root, const std::string& path);
// The key's values in order, or nothing when the key does not exist.
[[nodiscard]] std::optional<std::vector<RegValue>> RegReadValues(RegRoot root,
                                                                 const std::string& path);
// One value, or nothing when the key or the value does not exist.
[[nodiscard]] std::optional<RegValue> RegReadValue(RegRoot root, const std::string& path,
                                                   const std::string& name);
// The names of the key's direct subkeys (empty when it does not exist).
std::vector<std::string> RegSubkeyNames(RegRoot root, const std::string& path);

// Changes the per-user hive as one step that no other process can interleave with: takes
// the lock file, reads the hive anew, applies the change, and when the change answers true
// writes the hive to a temporary file that replaces the old one. A hive that does not parse
// is first moved aside to registry.reg.bad and a fresh one started. A hive left empty is
// removed, and so is the Orvane folder when nothing else is in it.
// Another process holding the lock is waited for up to 5 seconds; then the change fails and
// the hive is left as it stands.
// Returns false when the hive could not be locked, read or written (the change is then lost).
[[nodiscard]] bool RegUpdateUserHive(const std::function<bool(RegHive&)>& change);

// Tests only: how long a change waits for another process's lock (and forgetting that an
// earlier wait ran out, after which changes fail at once until the lock is had again).
void SetHiveLockWaitForTests(std::chrono::milliseconds wait);

// The single changes the services need, each one RegUpdateUserHive step.
// Creates the key (and its parents) when missing; false when the hive cannot be written.
bool RegCreateKey(const std::string& path);
// Sets a value of an existing key; false when the key is gone or the hive cannot be written.
bool RegSetValue(const std::string& path, const RegValue& value);
// Deletes a value; false when it did not exist or the hive cannot be written.
bool RegDeleteValue(const std::string& path, const std::string& name);
// Deletes a key with everything below it; false when it did not exist or on failure.
bool RegDeleteKeyTree(const std::string& path);
// Deletes a key that holds neither subkeys nor values; false otherwise.
bool RegDeleteKeyIfEmpty(const std::string& path);

} // namespace tintavo::platform
