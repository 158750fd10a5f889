#include "uninstall/UninstallElevation.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"

bool RemoveElevated(const std::string& program, const std::vector<std::string>& args, bool isAdmin,
                    const ElevatedStart& startElevated, uint32_t& exitCode) {
    const std::string record = JoinPath(ExtractFilePath(program), "Uninstall.ini");
    if (!FileExists(record)) return false;
    TIniFile ini(record);
    if (!ShouldRequestElevation(ini.ReadBool("General", "Admin", false), isAdmin,
                                ini.ReadBool("General", "RequestElevation", false),
                                TakeElevationRequestMark()))
        return false;
    return startElevated(program, JoinArguments(args), exitCode);
}
