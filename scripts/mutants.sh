#!/usr/bin/env bash
# Applies each mutant of the smb and host code to a copy of the checkout,
# builds it and runs the tests that should catch it: a mutant that every test
# survives is a fault the tests would let through. As root with Samba
# installed (the tests run beside Samba servers). Prints one line a mutant
# and the number killed; exits 1 when one survives.
#
#   scripts/mutants.sh [NAME...]     (all when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
copy=$(mktemp -d /tmp/veskcfg-mutants-XXXXXX)
trap 'rm -rf "$copy"' EXIT
git ls-files -z | xargs -0 cp --parents -t "$copy"
cd "$copy"
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null

# name | file | text | replacement | ctest regular expression of the tests that catch it
mutants=(
  "close-key-not-sent|platform/linux/hosts/smb/winreg_client.c|uint32_t code = call(key->session, WINREG_CLOSE_KEY, &r, &r.out.result);|uint32_t code = kSuccess; (void)r;|SmbHost"
  "session-not-freed|platform/linux/hosts/smb/winreg_client.c|    closeOnLanes(session, false);\n    talloc_free(session->memory);|    closeOnLanes(session, false);|SmbHost"
  "log-off-keeps-session|platform/linux/hosts/smb/smb_host.cc|        session_.reset();\n        return NO_ERROR;|        return NO_ERROR;|SmbHost"
  "name-length-off-by-one|platform/linux/registry.cc|if (name.size() + 1 > *valueNameSize) {|if (name.size() > *valueNameSize) {|SmbHost"
  "enum-buffer-too-small|platform/linux/hosts/smb/winreg_client.c|.size = 0x8000|.size = 0x100|SmbHost"
  "reach-given-a-minute|platform/linux/hosts/smb/smb_host.cc|constexpr unsigned kReachSeconds = 5;|constexpr unsigned kReachSeconds = 60;|SmbHost|BothBackends.LinuxOverSamba"
  "call-given-five-seconds|platform/linux/hosts/smb/smb_host.cc|constexpr unsigned kCallSeconds = 60;|constexpr unsigned kCallSeconds = 5;|SmbHost"
  "walk-step-not-failed|platform/linux/hosts/fault_host.cc|        if (LONG code = cached(Call::RegEnumValueA)) return code;\n||WholeOrAbsent.OverSamba"
  "close-fault-lost|platform/linux/hosts/fault_host.cc|        return fault ? fault : code;|        return code;|SmbHost|WholeOrAbsent.OverSamba"
  "connect-fault-skipped|platform/linux/hosts/fault_host.cc|        if (LONG code = fresh(Call::WNetAddConnection2A)) return static_cast<DWORD>(code);\n||WholeOrAbsent.OverSamba"
  "cancel-fault-skipped|platform/linux/hosts/fault_host.cc|        if (LONG code = fresh(Call::WNetCancelConnection2A)) return static_cast<DWORD>(code);\n||WholeOrAbsent.OverSamba"
  "remote-calls-uncounted|platform/linux/hosts/hosts.cc|isComputerName(name) ? worldRoot() + \"/\" + name : std::string()|std::string()|WholeOrAbsent.OverSamba"
  "set-value-name-dropped|platform/linux/hosts/smb/smb_host.cc|smbClient()->setValue(static_cast<SmbHostKey&>(key).key, utf8.c_str(), type,|smbClient()->setValue(static_cast<SmbHostKey&>(key).key, \"\", type,|BothBackends.LinuxOverSamba"
  "walk-reads-wrong-slot|platform/linux/hosts/smb/winreg_client.c|awaitAhead(&walk->ahead[index % kLargestWindow], name, capacity, type)|awaitAhead(&walk->ahead[(index + 1) % kLargestWindow], name, capacity, type)|BothBackends.LinuxOverSamba"
  "nesting-not-allowed|platform/linux/hosts/smb/winreg_client.c|    tevent_loop_allow_nesting(events);\n||BothBackends.LinuxOverDomain"
  "realm-case-kept|platform/linux/hosts/smb/winreg_client.c|*c = (char)toupper((unsigned char)*c);|;|BothBackends.LinuxOverDomain"
  "default-realm-unread|platform/linux/hosts/smb/winreg_client.c|char *defaultRealm = at ? NULL : kerberosDefaultRealm();|char *defaultRealm = NULL;|BothBackends.LinuxOverDomain"
  "address-gets-kerberos|platform/linux/hosts/smb/winreg_client.c| && !namedByAddress(host)||BothBackends.LinuxOverDomain"
  "refusal-before-reach|platform/linux/hosts/smb/winreg_client.c|reachable(host, reachSeconds) ? refused : kBadNetPath|true ? refused : kBadNetPath|BothBackends.LinuxOverDomain"
  "ntlm-blocked-unmapped|platform/linux/hosts/smb/status_codes.c|    {0xC0000418, kNtlmBlocked},\n||StatusCodes|BothBackends.LinuxOverDomain"
  "samba-guess-trusted|platform/linux/hosts/smb/status_codes.c|guessed ? kCallFailed : sambaMapped;|guessed ? sambaMapped : sambaMapped;|StatusCodes|OddServer"
  "lost-session-not-reported|platform/linux/hosts/smb/status_codes.c|    if (among(status, kLost, sizeof kLost / sizeof kLost[0])) return kNetNameDeleted;\n||StatusCodes|OddServer|Vesknet.OverSamba"
  "walk-goes-on-after-a-failure|operations/common.cc|        if (code != ERROR_SUCCESS) walk.endCode = code;\n||ListRoles|BothBackends.LinuxOverSamba"
  "any-domain-gets-kerberos|platform/linux/hosts/smb/winreg_client.c|namesRealm(domain, realm))|true)|BothBackends.LinuxOverDomain"
  "netbios-name-unread|platform/linux/hosts/smb/winreg_client.c|    if (strcasecmp(domain, realm) == 0) return true;\n|    return strcasecmp(domain, realm) == 0;\n|BothBackends.LinuxOverDomain"
  "edata-ignored|platform/linux/hosts/smb/kdc_refusal.c|uint32_t exact = edataCode(edata, size);|uint32_t exact = 0 * edataCode(edata, size);|KdcRefusal|BothBackends.LinuxOverDomain"
  "edata-length-unchecked|platform/linux/hosts/smb/kdc_refusal.c|    if ((size_t)(end - p) < size) return false;\n||KdcRefusal"
  "unknown-in-default-realm-refused|platform/linux/hosts/smb/kerberos_logon.c|    if (!realmNamed && error->error == KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN - ERROR_TABLE_BASE_krb5) code = KERBEROS_UNUSABLE;\n||BothBackends.LinuxOverDomain"
  "silent-kdc-waited-for|platform/linux/hosts/smb/kerberos_logon.c|deadline.tv_sec += seconds;|deadline.tv_sec += 60;|BothBackends.LinuxOverDomain"
  "request-misdeclared|platform/linux/hosts/smb/winreg_calls.h|        uint32_t options;\n        uint32_t access_mask;\n    } in;\n    struct {\n        struct policy_handle *handle;|        uint32_t options;\n        uint32_t access_mask;\n        uint32_t extra;\n    } in;\n    struct {\n        struct policy_handle *handle;|WinregCalls|BothBackends.LinuxOverSamba"
)

killed=0 total=0 survivors=()
for row in "${mutants[@]}"; do
  IFS='|' read -r name file text replacement tests more <<<"$row"
  [ -n "${more:-}" ] && tests="$tests|$more"
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  total=$((total + 1))
  cp "$source/$file" "$file"
  if ! python3 - "$file" "$text" "$replacement" <<'EOF'
import sys
path, text, replacement = sys.argv[1], sys.argv[2].replace('\\n', '\n'), sys.argv[3].replace('\\n', '\n')
source = open(path).read()
if source.count(text) != 1:
    sys.exit(1)
open(path, 'w').write(source.replace(text, replacement))
EOF
  then
    echo "$name: the text to mutate is not in $file once; the script is out of date" >&2
    exit 2
  fi
  if ! cmake --build --preset linux >/dev/null 2>&1; then
    verdict="killed (does not build)"
  elif (cd build/linux && ctest -R "$tests" >/dev/null 2>&1); then
    verdict="SURVIVED"
  else
    verdict="killed"
  fi
  cp "$source/$file" "$file"
  echo "$name ($file): $verdict by $tests"
  if [ "$verdict" = SURVIVED ]; then survivors+=("$name"); else killed=$((killed + 1)); fi
done
cmake --build --preset linux >/dev/null
echo "$killed of $total mutants killed"
[ ${#survivors[@]} -eq 0 ]
