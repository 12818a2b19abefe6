// The computers behind the registry and network calls. Each computer the
// calls name is a host: the local computer and, on the world network, every
// other one are folders of the world (world/world_host.cc); on the smb
// network the others are real SMB servers (smb/smb_host.cc). Every host is
// wrapped in the fault host (fault_host.cc), which applies the computer's
// faults file and counts its calls; hosts.cc chooses. platform/linux's
// registry.cc and network.cc keep the Win32 rules (handles, arguments, the
// connections table) and leave the rest to the host: none of them asks
// which network it is on, and no host knows of the connections table.
//
// A new registry call touches: its declaration (platform/win32.h), its
// Win32 rules (platform/linux/registry.cc), one method here, its row in the
// table of faults.h and its line in fault_host.cc, and each host's
// implementation: world/world_host.cc (with hive.h and hive_model.cc when it
// changes a hive) and smb/smb_host.cc (with its request in the module:
// smb_client.h, requests.c, winreg_calls.h).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/hosts/value_view.h"
#include "platform/win32.h"

namespace sim {

// A key open on a host; only the host that opened it knows what it holds.
class HostKey {
public:
    virtual ~HostKey() = default;
};

// A subkey path below a key, split at its separators: every name 1 to 255
// characters, none empty.
using KeyPath = std::vector<std::string>;

class Host {
public:
    virtual ~Host() = default;

    // WNetAddConnection2A's first step: 0 when the computer can be reached.
    virtual DWORD reach() = 0;
    // Its last: an authenticated session for this run. The password stays in
    // the caller's buffer: no copy of it outlives the call unwiped.
    virtual DWORD logOn(const std::string& user, const char* password) = 0;
    // WNetCancelConnection2A's part on the computer: the run's session ends.
    virtual DWORD logOff() = 0;

    // HKEY_LOCAL_MACHINE as a parent key; only the local computer has one
    // (null elsewhere), which lives as long as the host.
    virtual HostKey* machineKey() = 0;
    // RegConnectRegistryA: the computer's HKEY_LOCAL_MACHINE, reached over
    // this logon session's connection to its ipc$ unless it is the local one.
    // Whether the session has one is the Win32 layer's to know (connected);
    // a computer that cannot be reached says so first, as Windows does.
    virtual LONG connectRegistry(const std::string& name, bool connected, std::unique_ptr<HostKey>& root) = 0;
    virtual LONG openKey(HostKey& parent, const KeyPath& path, REGSAM access, std::unique_ptr<HostKey>& key) = 0;
    virtual LONG createKey(HostKey& parent, const KeyPath& path, REGSAM access, std::unique_ptr<HostKey>& key,
                           DWORD& disposition) = 0;
    // The views in value last until the next call on the host.
    virtual LONG queryValue(HostKey& key, std::string_view name, ValueView& value) = 0;
    // withData: the caller wants the value's data, not only its name and type.
    virtual LONG enumValue(HostKey& key, DWORD index, bool withData, ValueView& value) = 0;
    virtual LONG setValue(HostKey& key, std::string_view name, DWORD type, std::string_view data) = 0;
    // The subkey, created when missing, and the value in one change.
    virtual LONG setKeyValue(HostKey& parent, const KeyPath& path, std::string_view name, DWORD type,
                             std::string_view data) = 0;
    virtual LONG deleteValue(HostKey& key, std::string_view name) = 0;
    virtual LONG flushKey(HostKey& key) = 0;
    // Releases the key whatever the answer; null for a handle that names no
    // key of the host (a predefined or unknown one), which only the fault
    // host has something to say about.
    virtual LONG closeKey(std::unique_ptr<HostKey> key) = 0;
};

// The hosts there are, each in a folder of its own below this one:
// The computer in folder (world/): the local computer (local), whose folder
// is found at each use since a run may create it; or, with an empty folder
// and not local, a computer the world does not have, which cannot be
// reached (53).
std::unique_ptr<Host> worldHost(const std::string& folder, bool local);
// The real SMB server of that name (smb/).
std::unique_ptr<Host> smbHost(const std::string& name);

// The computer the tool runs on: always a folder of the world.
Host& localHost();
// True when the computers other than the local one are real servers
// (VESKCFG_NETWORK=smb), which only the network can tell about.
bool onRealNetwork();
// The computer of that name: the local one when the name is empty or the
// local computer's name in any letter case. Hosts live as long as the
// process, so that a handle may keep one.
Host& hostNamed(const std::string& name);

}  // namespace sim
