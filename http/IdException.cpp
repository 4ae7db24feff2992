// The network exceptions are defined inline in the header; this unit gives the library its
// first object and checks that the header stands on its own.
#include "http/IdException.h"
