#include "wizard/Appearance.h"

bool ApplyAppearance(RunContext&) {
    // The wizard font comes with the wizard window; until it exists there is
    // nothing to apply and nothing that can fail.
    return true;
}
