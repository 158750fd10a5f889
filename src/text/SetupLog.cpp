#include "text/SetupLog.h"

#include "app/RunContext.h"
#include "platform/FileUtil.h"

void AddLogLine(RunContext& ctx, const std::string& text) {
    ctx.LogList.push_back(text);
}

std::string LogFilePath() {
    return TempDir() + "\\QVSETUPLOG.TXT";
}
