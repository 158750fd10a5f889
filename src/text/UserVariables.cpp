#include "text/UserVariables.h"

void EvaluateVariables(RunContext&) {
    // User variables are not built yet: none is defined, so texts keep their names.
}
