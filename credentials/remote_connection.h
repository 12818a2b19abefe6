// The authenticated connection to a server's ipc$ share that every command
// but cc opens first, with the credentials stored for the server or typed.
#pragma once

#include "platform/win32.h"

// Opens \\serverName\shareName with the credentials stored for the server or,
// when none are stored, typed at the prompt. 0 with the connection open (the
// caller cancels it); RESULT_CANCELLED when the prompt was left; otherwise the
// connection's Windows code. On 0 the optional outputs (at least 25 bytes
// each) receive the account name and password used.
int RemoteConnection(const char* serverName, const char* shareName, char* userNameOut, char* passwordOut);

// Connects remoteName with the given credentials. On 1219 (a connection to the
// server under another account) it cancels that connection by force and tries
// once more. 0, or the Windows code of the last attempt.
DWORD openIpcConnection(char* remoteName, const char* password, const char* userName);
