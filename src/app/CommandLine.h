#pragma once

// Parses the command line and runs the chosen mode; returns the process exit status.
int corvinelMain(int argc, char* argv[]);
