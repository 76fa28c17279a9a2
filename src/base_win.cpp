#include "base_win.hpp"

#include "const.hpp"

#include <windows.h>

#include <boost/filesystem/path.hpp>

std::string appDir;
std::string exeFileName;
std::string parentDir;

void setModuleFileName() {
    char szPath[MAX_PATH] = "";
    char szDrive[_MAX_DRIVE];
    char szDir[_MAX_DIR];
    char szFName[_MAX_FNAME];
    char szExt[_MAX_EXT];

    GetModuleFileNameA(NULL, szPath, MAX_PATH);
    _splitpath(szPath, szDrive, szDir, szFName, szExt);
    appDir = std::string(szDrive) + szDir;
    exeFileName = std::string(szFName) + szExt;
    parentDir = boost::filesystem::path(appDir).parent_path().string() + fileSep;
}
