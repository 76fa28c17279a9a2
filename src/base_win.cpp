#include "base_win.hpp"

#include "base.hpp"
#include "const.hpp"

#include <windows.h>

#include <boost/filesystem/path.hpp>
#include <vector>

std::string appDir;
std::string exeFileName;
std::string parentDir;
std::string appDirUtf8;

// The longest path Windows knows is 32767 units; a path that fills the buffer was cut.
static int moduleFileName(std::wstring& path) {
    for (DWORD size = MAX_PATH; size <= 2 * 32768; size *= 2) {
        std::vector<wchar_t> szPath(size);
        DWORD length = GetModuleFileNameW(NULL, szPath.data(), size);
        if (length == 0) {
            return ERR;
        }
        if (length < size) {
            path.assign(szPath.data(), length);
            return OK;
        }
    }
    return ERR;
}

int ansiPath(const std::wstring& widePath, std::string& path, unsigned codePage) {
    if (wstringToAnsi(widePath, path, codePage)) {
        return OK;
    }
    DWORD size = GetShortPathNameW(widePath.c_str(), NULL, 0);
    if (size == 0) {
        return ERR;
    }
    std::vector<wchar_t> szShortPath(size);
    DWORD length = GetShortPathNameW(widePath.c_str(), szShortPath.data(), size);
    if (length == 0 || length >= size) {
        return ERR;
    }
    return wstringToAnsi(std::wstring(szShortPath.data(), length), path, codePage) ? OK : ERR;
}

std::string parentDirOf(const std::string& appDir) {
    return boost::filesystem::path(appDir).parent_path().string() + fileSep;
}

std::string updaterDirOf(const std::string& appDir) {
    return appDir + "updater";
}

static std::string bootFileIn(const std::string& folder) {
    return folder + "config" + fileSep + "boot.xml";
}

std::string mainBootFileOf(const std::string& appDir) {
    return bootFileIn(appDir);
}

std::string updaterBootFileOf(const std::string& appDir) {
    return bootFileIn(updaterDirOf(appDir) + fileSep);
}

// Where the last part of path begins: after its last separator, or 0.
template <typename Text>
static size_t afterLastSeparator(const Text& path) {
    size_t start = path.size();
    while (start > 0 && !isFileSeparator(path[start - 1])) {
        --start;
    }
    return start;
}

int setAppPaths(const std::wstring& modulePath) {
    appDir.clear();
    exeFileName.clear();
    parentDir.clear();
    appDirUtf8.clear();

    // The split is done on the wide text, where a double-byte character cannot
    // hide a separator byte.
    size_t sep = afterLastSeparator(modulePath);
    if (sep-- == 0) {
        return ERR;
    }
    std::wstring wideDir = modulePath.substr(0, sep + 1);
    appDirUtf8 = wstringToUtf8(wideDir);

    std::string dir;
    if (ansiPath(wideDir, dir) != OK) {
        return ERR;
    }
    if (dir.empty() || !isFileSeparator(dir.back())) {
        dir += fileSep;
    }
    // Nothing is read through the file name, so a name without a narrow form stays empty.
    std::string path;
    if (!wstringToAnsi(modulePath.substr(sep + 1), exeFileName) &&
        ansiPath(modulePath, path) == OK) {
        exeFileName = path.substr(afterLastSeparator(path));
    }
    appDir = dir;
    parentDir = parentDirOf(appDir);
    return OK;
}

int setModuleFileName() {
    std::wstring modulePath;
    if (moduleFileName(modulePath) != OK) {
        appDir.clear();
        exeFileName.clear();
        parentDir.clear();
        appDirUtf8.clear();
        return ERR;
    }
    return setAppPaths(modulePath);
}
