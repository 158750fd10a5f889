#include "run/CommandLine.h"

#include "platform/FileUtil.h"
#include "run/RunContext.h"

#include <cstdlib>

std::vector<std::string> CommandLineArgs() {
    // The C runtime splits the command line with the same rules the system uses for
    // every program's arguments.
    std::vector<std::string> args;
    for (int i = 1; i < __argc; ++i)
        args.emplace_back(__argv[i]);
    return args;
}

int FindSwitch(const RunContext& ctx, const std::string& text) {
    for (size_t i = 0; i < ctx.Args.size(); ++i)
        if (SameText(ctx.Args[i], text)) return static_cast<int>(i) + 1;
    return 0;
}

std::string ArgumentAfter(const RunContext& ctx, int pos) {
    return pos >= 1 && static_cast<size_t>(pos) < ctx.Args.size() ? ctx.Args[pos] : std::string();
}

bool SwitchValue(const RunContext& ctx, const std::string& prefix, std::string& value) {
    for (const std::string& arg : ctx.Args)
        if (arg.size() >= prefix.size() && SameText(arg.substr(0, prefix.size()), prefix)) {
            value = arg.substr(prefix.size());
            return true;
        }
    return false;
}
