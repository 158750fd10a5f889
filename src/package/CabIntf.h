// CabIntf: binds the system's cabinet library at run time.
#pragma once

#include <windows.h>

#include <fci.h>
#include <fdi.h>
