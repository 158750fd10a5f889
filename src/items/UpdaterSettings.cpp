// The updater's start at log-on: fixed records handed to the [Registry] and [INI]
// handlers, so they are written and recorded like the product's own items.
#include "items/ItemHandlers.h"

#include "record/UninstallRecord.h"

#include <string>

void WriteUpdaterSettings(RunContext& ctx) {
    UpdaterRecords r = BuildUpdaterRecords(ctx);
    for (const std::string& record : r.Registry)
        WriteRegistryItem(ctx, record);
    for (const std::string& record : r.Ini)
        WriteIniItem(ctx, record);
}
