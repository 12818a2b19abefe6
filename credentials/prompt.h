// The credential prompt: an account name and a password read key by key
// from the console, whatever standard input is.
#pragma once

constexpr int PROMPT_ESCAPED = 2;
constexpr int kMaxTypedLength = 20;  // key values a field accepts

// Asks for an account name and a password for serverName: the name echoed,
// the password as stars, Backspace erasing, Enter or Tab ending a field, Esc
// leaving. 0 when both fields were entered, PROMPT_ESCAPED otherwise; the
// buffers (at least 21 bytes each) must then not be used.
int CredentialPrompt(char* userNameBuffer, char* passwordBuffer, const char* serverName);
