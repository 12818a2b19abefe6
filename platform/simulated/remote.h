// The computers other than the local one when they are real servers rather
// than folders of the world (VESKCFG_NETWORK=smb). The world's calls hand a
// call on such a computer to the remote network; the local computer stays in
// the world whatever the network.
#pragma once

#include <string>

#include "platform/win32.h"

namespace sim {

class RemoteKey;  // a key open on a server; only the remote network knows it

class RemoteNetwork {
public:
    virtual ~RemoteNetwork() = default;
    // An authenticated session with server for this run.
    virtual DWORD openSession(const std::string& server, const std::string& user, const std::string& password) = 0;
    // Ends this run's session with server, if it has one.
    virtual void closeSession(const std::string& server) = 0;
    virtual LONG connectRegistry(const std::string& server, RemoteKey*& root) = 0;
    virtual LONG createKey(RemoteKey& parent, const std::string& path, REGSAM access, RemoteKey*& key,
                           DWORD* disposition) = 0;
    virtual LONG openKey(RemoteKey& parent, const std::string& path, REGSAM access, RemoteKey*& key) = 0;
    virtual LONG setValue(RemoteKey& key, const std::string& name, DWORD type, const BYTE* data, DWORD size) = 0;
    virtual LONG deleteValue(RemoteKey& key, const std::string& name) = 0;
    // The index-th value's name, in the code page.
    virtual LONG enumValue(RemoteKey& key, DWORD index, std::string& name, DWORD& type) = 0;
    // Releases the key whatever the server answers.
    virtual LONG closeKey(RemoteKey* key) = 0;
};

// Null when every computer is in the world (VESKCFG_NETWORK unset or
// "world").
RemoteNetwork* remoteNetwork();

}  // namespace sim
