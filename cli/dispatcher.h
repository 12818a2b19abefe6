#pragma once

void printUsage();

// Runs one command line; the result is the run's result code.
int CommandDispatcher(int argc, char** argv);
