// The ERROR! line every failure of the platform or the record store is
// shown as, and the two context texts it carries.
#pragma once

// Prints "ERROR! <system text for code><contextText>.\n". The system text ends
// in "\r\n", so the context text starts a line of its own.
void reportError(const char* contextText, long code);

constexpr const char* kConnectFailedContext = "Failed During Transaction";
constexpr const char* kTransactionFailedContext = "Fail During Transaction";
