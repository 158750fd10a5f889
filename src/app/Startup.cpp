#include "app/Startup.h"

#include "app/RunContext.h"
#include "package/SetupPackage.h"
#include "text/RunEnd.h"

void FormCreate(RunContext& ctx) {
    OpenPackage(ctx);
    // The package is open and unpacked. What follows it (configuration, language,
    // checks, wizard or silent installation) is not built yet: end normally.
    FinishSetup(ctx);
}
