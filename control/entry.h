#pragma once
// Start of every invocation: the shared word, the command line, the three roads.

int entry_point(int argc, char** argv);
