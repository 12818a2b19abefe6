// The table's backend of the Linux program over a Samba AD DC, and what
// logged on to the DC, from its own logs.
#pragma once

#include "tests/support/backend_samba.h"

#include "tests/support/backends.h"

// The lab's Samba AD DC (smb-servers.sh --dc DC1) serves PRIM, DIST and
// OTHER, each a name of its own in Kerberos, and every account is a domain
// account. The console logs on with NTLM when its krb5.conf names no
// default realm, and with Kerberos when it names the domain's.
inline bool domainLab() { return !sambaLab().empty() && std::filesystem::exists(sambaLab() + "/DC1"); }

inline std::string fileText(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline bool domainAllowsNtlm() { return fileText(sambaConf("DC1")).find("ntlm auth = disabled") == std::string::npos; }

enum class Mechanism { Kerberos, Ntlm };

inline std::vector<std::pair<std::string, std::string>> domainEnvironment(Mechanism mechanism) {
    const std::string config = mechanism == Mechanism::Kerberos ? "/krb5.conf" : "/krb5-norealm.conf";
    return {{"VESKCFG_NETWORK", "smb"}, {"KRB5_CONFIG", sambaLab() + config}};
}

// What logged on to the DC since it was made, from the DC's own logs: its
// KDC's (a Kerberos logon starts there, refused or not) and its sessions'.
class LogonWitness {
public:
    LogonWitness() : kdcFrom_(fileText(kdcLog()).size()), sessionsFrom_(fileText(sessionLog()).size()) {}
    // "Kerberos", "NTLM", "Kerberos and NTLM" or "none".
    std::string seen() const {
        std::string kdc = fileText(kdcLog()).substr(kdcFrom_), sessions = fileText(sessionLog()).substr(sessionsFrom_);
        bool kerberos = kdc.find("Auth: [Kerberos KDC") != std::string::npos ||
                        sessions.find("[SMB2,krb5]") != std::string::npos;
        bool ntlm = sessions.find("[SMB2,NTLMSSP]") != std::string::npos;
        return kerberos && ntlm ? "Kerberos and NTLM" : kerberos ? "Kerberos" : ntlm ? "NTLM" : "none";
    }

private:
    static std::string kdcLog() { return sambaLab() + "/DC1/log/log.samba"; }
    static std::string sessionLog() { return sambaLab() + "/DC1/log/log.smbd"; }
    size_t kdcFrom_, sessionsFrom_;
};

inline const char* nameOf(Mechanism mechanism) { return mechanism == Mechanism::Kerberos ? "Kerberos" : "NTLM"; }

class DomainBackend : public SmbBackend {
public:
    explicit DomainBackend(Mechanism mechanism) : mechanism_(mechanism) {}
    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& keys) override {
        RunOptions options;
        options.keys = keys;
        options.environment = domainEnvironment(mechanism_);
        return runVeskCfg(VESKCFG_BINARY, args, options);
    }

private:
    Mechanism mechanism_;
};
