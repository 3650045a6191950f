#include "site/commands.h"

int main(int argc, char** argv) { return run_site(argc, argv); }
