#include "net/net.h"

int verbose = 0;
