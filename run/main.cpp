// The process entry: runs the capture and returns its status.
#include "run/capture_run.h"

int main(int argc, char** argv) { return runCapture(argc, argv); }
