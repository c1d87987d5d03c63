// sqlsh: the interactive SQL shell.
#include "shell/app/Startup.h"

int main(int argc, char** argv) {
  return shellMain(argc, argv);
}
