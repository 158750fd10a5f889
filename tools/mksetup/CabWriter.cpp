#include "CabWriter.h"
