// The console: its two services behind the credential prompt, and the edge
// text crosses at. On Windows they sit on "CONIN$" and "CONOUT$"; on Linux
// on the controlling terminal.
#pragma once

// Once, as the run starts: the program's arguments in the ANSI code page,
// and standard output written from it, as Windows hands them to a console
// program. On Linux, where the command line and the terminal speak the
// locale's character set, they are converted; null, after a line on
// standard error, when an argument holds a character the code page cannot
// hold: it is never sent mangled.
char** OpenConsole(int argc, char** argv);

// Whether a byte of a name reaches the console screen as a control
// character, which moves the cursor or reprograms the terminal.
bool ConsoleShowsAsControl(unsigned char byte);

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
