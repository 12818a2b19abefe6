// The two console services behind the credential prompt. On Windows they sit
// on "CONIN$" and "CONOUT$"; the simulated backend reads and writes the
// controlling terminal.
#pragma once

// A field of the prompt is about to be read, after promptText was shown. On
// Linux a program may answer it in place of the terminal (VESKCFG_ASKPASS);
// the Windows console always reads it from the keyboard.
void ConsoleStartField(const char* promptText);

// The next key value (0-255), without echo. A key with an extended code gives
// two values on two reads: a lead value (0 or 224), then the key's code.
// -1 when the console cannot be opened or read.
int ConsoleReadKey();

// Writes one byte to the console screen; gives the byte back, or -1.
int ConsoleWriteByte(int byte);

// The prompt is over: the console gets back the mode it had before the first
// read. Harmless when nothing was read.
void ConsoleEndKeys();
