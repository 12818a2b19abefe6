// The command dispatcher: the usage text, then one command of the table
// (dispatcher.cc's kCommands) with its progress line, after the record store
// is loaded and the names are upper-cased; "Transaction OK!" when it ends well.
#pragma once

void printUsage();

// Runs one command line; the result is the run's result code.
int CommandDispatcher(int argc, char** argv);
