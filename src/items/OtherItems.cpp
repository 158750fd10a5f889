#include "items/ItemHandlers.h"

void ProcessOtherItem(RunContext&, const std::string&) {
    // The system registrations (fonts, libraries, screen savers, wallpaper) kind is not built yet: its records are passed over.
}
