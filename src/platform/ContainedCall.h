// Calls into foreign code (a library's entry point) whose faults must not end the
// run: a processor or system exception that the called code does not handle itself
// abandons the call instead of the process.
#pragma once

// Runs fn(arg). A processor or system exception raised inside it and not handled
// there (an access violation in a library's entry point, say) is contained: the call
// is abandoned and false returned. True when fn returned normally. A C++ exception
// passes through unchanged.
bool CallContained(void (*fn)(void*), void* arg);
