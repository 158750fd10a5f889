#include "run/SetupLog.h"

#include "platform/FileUtil.h"
#include "run/RunContext.h"

void AddLogLine(RunContext& ctx, const std::string& text) {
    ctx.LogList.push_back(text);
}

void AddLogDetail(RunContext& ctx, const std::string& text) {
    ctx.LogDetails.push_back(text);
}

std::string LogFilePath() {
    return TempDir() + "\\QVSETUPLOG.TXT";
}
